#pragma once
// The node layouts shared by several builders.
#include <utility>

#include "ketra_autograd/tensor.hpp"
#include "ketra_autograd/tensor_ops.hpp"

namespace ketra_autograd::tensor_ops::detail {

// An elementwise unary node: input x, then shape(x) as its recorded shape.
template <typename O>
tensor::Tensor unary(tensor::Tensor x, O op) {
  tensor::TensorBuilder builder(x.graph());
  builder.append_input_with_selector(x);
  builder.set_shape(shape(x));
  return builder.build(std::move(op));
}

// A node over (a, b) with no recorded shape.
template <typename O>
tensor::Tensor binary(tensor::Tensor a, tensor::Tensor b, O op) {
  return tensor::TensorBuilder(a.graph()).append_input_with_selector(a).append_input_with_selector(b).build(
      std::move(op));
}

}  // namespace ketra_autograd::tensor_ops::detail
