#pragma once
// Builders of reductions and of the n-ary sum.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::tensor_ops::reduction {

using tensor::Tensor;

namespace detail {
Tensor reduce_mean_node(Tensor x, Tensor axes, bool keep_dims);
Tensor reduce_prod_node(Tensor x, Tensor axes, bool keep_dims);
}  // namespace detail

// A ReduceMean node over (x, the axes as a constant 1-D tensor), index-list axes.
template <std::size_t N>
Tensor reduce_mean(Tensor x, std::array<std::int32_t, N> axes, bool keep_dims) {
  return detail::reduce_mean_node(x, tensor::as_tensor(axes, x.graph()), keep_dims);
}

// A ReduceProd node over (x, the axes as a constant 1-D tensor), index-list axes.
template <std::size_t N>
Tensor reduce_prod(Tensor x, std::array<std::int32_t, N> axes, bool keep_dims) {
  return detail::reduce_prod_node(x, tensor::as_tensor(axes, x.graph()), keep_dims);
}

// The sum of the tensors: one tensor is returned as it is; more give one AddN node over
// all of them whose recorded shape is shape(first). An empty list fails the assertion that
// its length is not 0 ("assertion `left != right` failed", left 0, right 0).
Tensor add_n(std::span<const Tensor> tensors);

}  // namespace ketra_autograd::tensor_ops::reduction
