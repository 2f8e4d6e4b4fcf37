#include "ketra_autograd/tensor_ops/reduction.hpp"

#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/array_ops.hpp"
#include "ketra_autograd/tensor_ops/reduction_ops.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::reduction {

namespace detail {

Tensor reduce_mean_node(Tensor x, Tensor axes, bool keep_dims) {
  return tensor::TensorBuilder(x.graph()).append_input_with_selector(x).append_input_with_selector(axes).build(
      reduction_ops::ReduceMean(keep_dims, false));
}

Tensor reduce_prod_node(Tensor x, Tensor axes, bool keep_dims) {
  return tensor::TensorBuilder(x.graph()).append_input_with_selector(x).append_input_with_selector(axes).build(
      reduction_ops::ReduceProd(keep_dims, false));
}

}  // namespace detail

Tensor add_n(std::span<const Tensor> tensors) {
  if (tensors.empty()) support::assertion_failed("!=", 0, 0);
  if (tensors.size() == 1) return tensors[0];
  tensor::TensorBuilder builder(tensors[0].graph());
  for (const Tensor& t : tensors) builder.append_input_with_selector(t);
  builder.set_shape(shape(tensors[0]));
  return builder.build(array_ops::AddN{});
}

}  // namespace ketra_autograd::tensor_ops::reduction
