#include "ketra_autograd/tensor_ops/reduction_ops.hpp"

#include <algorithm>
#include <array>

#include "ketra_autograd/ndarray_ext.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/reduction.hpp"
#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::reduction_ops {

namespace {

using error::OpError;
using tensor::Tensor;
using tensor::TensorBuilder;

// x folded over the axes from the largest down, so that the positions of the axes still
// to come stay valid when keep_dims is false.
template <typename F>
ArrayD reduce_axes(const ArrayD& x, Dims axes, bool keep_dims, double init, F f) {
  if (x.is_scalar_like() || axes.empty()) return x;
  std::stable_sort(axes.begin(), axes.end());
  ArrayD current;
  for (std::size_t k = axes.size(); k-- > 0;) {
    const ArrayD& source = k + 1 == axes.size() ? x : current;
    ArrayD folded = source.fold_axis(axes[k], init, f);
    current = keep_dims ? ndarray_ext::expand_dims(std::move(folded), axes[k]) : std::move(folded);
  }
  return current;
}

// The 0-d sum of all of x's elements in index order (0.0 for an empty x).
op::ComputeResult sum_to_scalar(op::ComputeContext& ctx) {
  double sum = 0.0;
  for (double v : ctx.input(0).data()) sum += v;
  ctx.append_output(ArrayD::scalar(sum));
  return {};
}

// The count ReduceMean divides by: the reduced dimensions multiplied in single precision.
float reduced_count(const ArrayD& x, const Dims& axes) {
  float count = 1.0f;
  for (std::size_t axis : axes) {
    if (axis >= x.ndim())
      support::panic("ReduceMean: axis {} is out of range for an array of shape {}", axis, x.shape_text());
    count = count * static_cast<float>(x.shape()[axis]);
  }
  return count;
}

Tensor reduce_sum_to_scalar_grad(op::GradientContext& ctx) {
  const Tensor x_shape = shape(ctx.input(0));
  return TensorBuilder(ctx.graph())
      .append_input_with_selector(ctx.output_grad())
      .append_input_with_selector(x_shape)
      .build(ReduceSumToScalarGrad{});
}

}  // namespace

ArrayD compute_reduce_sum(const ArrayD& x, Dims axes, bool keep_dims) {
  return reduce_axes(x, std::move(axes), keep_dims, 0.0, [](double acc, double v) { return acc + v; });
}

Dims AxisReduction::decode_axes(const ArrayD& axes, std::size_t rank) const {
  return sparse_axes_ ? ndarray_ext::sparse_to_dense(axes) : ndarray_ext::normalize_negative_axes(axes, rank);
}

Tensor AxisReduction::spread_back(op::GradientContext& ctx, Tensor gy) const {
  const Tensor axes = ctx.input(1);
  const Tensor x_shape = shape(ctx.input(0));
  return TensorBuilder(ctx.graph())
      .append_input_with_selector(gy)
      .append_input_with_selector(x_shape)
      .append_input_with_selector(axes)
      .build(ReduceGradCommon(!keep_dims_, sparse_axes_));
}

op::ComputeResult ReduceSum::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  ctx.append_output(compute_reduce_sum(x, decode_axes(ctx.input(1), x.ndim()), keep_dims()));
  return {};
}

void ReduceSum::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, spread_back(ctx, ctx.output_grad()));
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult ReduceMean::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  Dims axes = decode_axes(ctx.input(1), x.ndim());
  if (axes.empty()) {
    ctx.append_output(x);
    return {};
  }
  const double reciprocal = 1.0 / static_cast<double>(reduced_count(x, axes));
  const ArrayD sum = compute_reduce_sum(x, std::move(axes), keep_dims());
  ctx.append_output(sum.map([reciprocal](double v) { return v * reciprocal; }));
  return {};
}

// The spread gradient divided by the number of elements each mean averaged: the reduced
// dimensions gathered out of x's shape and multiplied.
void ReduceMean::grad(op::GradientContext& ctx) const {
  const Tensor spread = spread_back(ctx, ctx.output_grad());
  const Tensor reduced_dims = gather_common(shape(ctx.input(0)), ctx.input(1), 0);
  const Tensor count = reduction::reduce_prod(reduced_dims, std::array<std::int32_t, 1>{0}, false);
  ctx.set_input_grad(0, arithmetic::div(spread, count));
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult ReduceProd::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  Dims axes = decode_axes(ctx.input(1), x.ndim());
  ctx.append_output(reduce_axes(x, std::move(axes), keep_dims(), 1.0, [](double acc, double v) { return acc * v; }));
  return {};
}

// d(prod)/dx = prod / x, spread back over x's shape.
void ReduceProd::grad(op::GradientContext& ctx) const {
  const Tensor weighted = arithmetic::mul(ctx.output_grad(), ctx.output());
  const Tensor spread = spread_back(ctx, weighted);
  ctx.set_input_grad(0, arithmetic::div(spread, ctx.input(0)));
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult ReduceSumAll::compute(op::ComputeContext& ctx) const { return sum_to_scalar(ctx); }

void ReduceSumAll::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, reduce_sum_to_scalar_grad(ctx)); }

op::ComputeResult ReduceSumToScalar::compute(op::ComputeContext& ctx) const { return sum_to_scalar(ctx); }

void ReduceSumToScalar::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, reduce_sum_to_scalar_grad(ctx)); }

op::ComputeResult ReduceSumToScalarGrad::compute(op::ComputeContext& ctx) const {
  const ArrayD& gy = ctx.input(0);
  if (gy.len() == 0) {
    return std::unexpected(OpError::incompatible_shape(
        fmt::format("ReduceSumToScalarGrad: the gradient of shape {} has no value to spread", gy.shape_text())));
  }
  ctx.append_output(ArrayD::from_elem(ndarray_ext::unsigned_reading(ctx.input(1)), gy[0]));
  return {};
}

void ReduceSumToScalarGrad::grad(op::GradientContext& ctx) const {
  const Tensor summed =
      TensorBuilder(ctx.graph()).append_input_with_selector(ctx.output_grad()).build(ReduceSumToScalar{});
  ctx.set_input_grad(0, summed);
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult ReduceGradCommon::compute(op::ComputeContext& ctx) const {
  const ArrayD& gy = ctx.input(0);
  const Dims target = ndarray_ext::unsigned_reading(ctx.input(1));
  if (same_shape(gy.shape(), target)) {
    ctx.append_output(gy);
    return {};
  }
  // Without reinsertion gy kept its reduced axes as size 1 and broadcasts as it is; a
  // scalar-like gy then stretches to any target (putting axes back first would only
  // make a [1] gy of a kept-dims vector sum unbroadcastable).
  if (!reinsert_axes_) {
    auto out = gy.broadcast_to(target);
    if (!out) support::panic("Operation failed");
    ctx.append_output(std::move(*out));
    return {};
  }
  Dims axes = sparse_axes_ ? ndarray_ext::sparse_to_dense(ctx.input(2))
                           : ndarray_ext::normalize_negative_axes(ctx.input(2), target.size());
  std::sort(axes.begin(), axes.end());
  Dims reshaped(gy.shape());
  for (std::size_t axis : axes) {
    if (axis > reshaped.size()) {
      support::panic("ReduceGradCommon: cannot insert axis {} into shape {}", axis,
                     support::debug_list<std::size_t>(reshaped));
    }
    reshaped.insert(axis, 1);
  }
  auto laid_out = ArrayD(gy).into_shape(reshaped);
  if (!laid_out) support::panic("Operation failed");
  auto out = laid_out->broadcast_to(target);
  if (!out) support::panic("Operation failed");
  ctx.append_output(std::move(*out));
  return {};
}

// The reduction's own inverse: the incoming gradient summed back over the axes, down to
// gy's shape.
void ReduceGradCommon::grad(op::GradientContext& ctx) const {
  const Tensor axes = ctx.input(2);
  const Tensor summed = TensorBuilder(ctx.graph())
                            .append_input_with_selector(ctx.output_grad())
                            .append_input_with_selector(axes)
                            .build(ReduceSum(!reinsert_axes_, sparse_axes_));
  ctx.set_input_grad(0, summed);
  ctx.set_input_grad(1, std::nullopt);
  ctx.set_input_grad(2, std::nullopt);
}

}  // namespace ketra_autograd::tensor_ops::reduction_ops
