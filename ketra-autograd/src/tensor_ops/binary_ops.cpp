#include "ketra_autograd/tensor_ops/binary_ops.hpp"

#include <algorithm>

#include "ketra_autograd/ndarray_ext.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::binary_ops {

namespace {

using error::OpError;
using tensor::Tensor;

[[gnu::cold, gnu::noinline]] op::ComputeResult unbroadcastable(const ArrayD& a, const ArrayD& b,
                                                               std::string_view op_word) {
  return std::unexpected(OpError::incompatible_shape(
      fmt::format("Cannot broadcast shapes {} and {} for operation {}", a.shape_text(), b.shape_text(), op_word)));
}

// a and b combined elementwise by broadcasting them against each other.
template <typename F>
op::ComputeResult broadcast(op::ComputeContext& ctx, const ArrayD& a, const ArrayD& b, std::string_view op_word, F f) {
  auto out = zip_with(a, b, f);
  if (!out) [[unlikely]]
    return unbroadcastable(a, b, op_word);
  ctx.append_output(std::move(*out));
  return {};
}

// f(a, b) where exactly one operand is scalar-like: that one's value against every
// element of the other, in the other's shape. Otherwise by broadcasting.
template <typename F>
op::ComputeResult scalar_or_broadcast(op::ComputeContext& ctx, std::string_view op_word, F f) {
  const ArrayD& a = ctx.input(0);
  const ArrayD& b = ctx.input(1);
  if (a.is_scalar_like() && !b.is_scalar_like()) {
    const double s = a[0];
    ctx.append_output(b.map([s, f](double v) { return f(s, v); }));
    return {};
  }
  if (b.is_scalar_like() && !a.is_scalar_like()) {
    const double s = b[0];
    ctx.append_output(a.map([s, f](double v) { return f(v, s); }));
    return {};
  }
  return broadcast(ctx, a, b, op_word, f);
}

constexpr auto plus = [](double l, double r) { return l + r; };
constexpr auto minus = [](double l, double r) { return l - r; };
constexpr auto times = [](double l, double r) { return l * r; };
constexpr auto over = [](double l, double r) { return l / r; };

struct Operands {
  Tensor a, b, gy;
};

// The node's two inputs and arriving gradient; a node with fewer inputs panics.
Operands operands(const op::GradientContext& ctx) { return {ctx.input(0), ctx.input(1), ctx.output_grad()}; }

// Sets each input's gradient summed down to the shape its shape tensor holds; the
// reduction for a is built first.
void set_reduced(op::GradientContext& ctx, Tensor a_shape, Tensor ga, Tensor b_shape, Tensor gb) {
  const Tensor reduced_a = maybe_reduce(a_shape, ga, ctx.graph());
  const Tensor reduced_b = maybe_reduce(b_shape, gb, ctx.graph());
  ctx.set_input_grad(0, reduced_a);
  ctx.set_input_grad(1, reduced_b);
}

// The list MaybeReduceSum walks: orig aligned at gy's leading axes, with [] and [1]
// meaning "everything to size 1".
Dims reduce_target(const Dims& orig, std::size_t gy_rank) {
  if (orig.empty() || (orig.size() == 1 && orig[0] == 1)) return Dims(gy_rank, 1);
  if (orig.size() >= gy_rank) return orig;
  Dims target(gy_rank - orig.size(), 1);
  for (std::size_t d : orig) target.push_back(d);
  return target;
}

OpError incompatible_reduction(const Dims& target, std::span<const std::size_t> gy_shape, std::size_t dim) {
  return OpError::incompatible_shape(
      fmt::format("MaybeReduceSum: incompatible shapes origshape={} gyshape={} at dim {}",
                  support::debug_list<std::size_t>(target), support::debug_list<std::size_t>(gy_shape), dim));
}

}  // namespace

op::ComputeResult AddOp::compute(op::ComputeContext& ctx) const {
  if (ctx.num_inputs() < 2) {
    const std::size_t shape[] = {1, 1};
    ctx.append_output(ArrayD::zeros(shape));
    return {};
  }
  return scalar_or_broadcast(ctx, "AddOp", plus);
}

void AddOp::grad(op::GradientContext& ctx) const {
  const auto [a, b, gy] = operands(ctx);
  const Tensor a_shape = shape(a);
  const Tensor b_shape = shape(b);
  set_reduced(ctx, a_shape, gy, b_shape, gy);
}

op::ComputeResult SubOp::compute(op::ComputeContext& ctx) const {
  const ArrayD& a = ctx.input(0);
  const ArrayD& b = ctx.input(1);
  if (a.ndim() == 0) {
    const double s = a[0];
    ctx.append_output(b.map([s](double v) { return s - v; }));
    return {};
  }
  return broadcast(ctx, a, b, "SubOp", minus);
}

void SubOp::grad(op::GradientContext& ctx) const {
  const auto [a, b, gy] = operands(ctx);
  const Tensor a_shape = shape(a);
  const Tensor b_shape = shape(b);
  const Tensor reduced_a = maybe_reduce(a_shape, gy, ctx.graph());
  const Tensor reduced_b = maybe_reduce(b_shape, gy, ctx.graph());
  ctx.set_input_grad(0, reduced_a);
  ctx.set_input_grad(1, arithmetic::neg(reduced_b));
}

op::ComputeResult MulOp::compute(op::ComputeContext& ctx) const { return scalar_or_broadcast(ctx, "MulOp", times); }

void MulOp::grad(op::GradientContext& ctx) const {
  const auto [a, b, gy] = operands(ctx);
  const Tensor a_shape = shape(a);
  const Tensor b_shape = shape(b);
  const Tensor ga = arithmetic::mul(gy, b);
  const Tensor gb = arithmetic::mul(gy, a);
  set_reduced(ctx, a_shape, ga, b_shape, gb);
}

op::ComputeResult DivOp::compute(op::ComputeContext& ctx) const {
  const ArrayD& a = ctx.input(0);
  const ArrayD& b = ctx.input(1);
  if (a.is_scalar_like()) {
    const double s = a[0];
    ctx.append_output(b.map([s](double v) { return s / v; }));
    return {};
  }
  if (b.is_scalar_like()) {
    const double reciprocal = 1.0 / b[0];
    ctx.append_output(a.map([reciprocal](double v) { return v * reciprocal; }));
    return {};
  }
  return broadcast(ctx, a, b, "DivOp", over);
}

void DivOp::grad(op::GradientContext& ctx) const {
  const auto [a, b, gy] = operands(ctx);
  const Tensor a_shape = shape(a);
  const Tensor b_shape = shape(b);
  const Tensor ga = arithmetic::div(gy, b);
  const Tensor minus_a = arithmetic::neg(a);
  const Tensor inverse_square = arithmetic::pow(b, -2.0);
  const Tensor gb = arithmetic::mul(arithmetic::mul(minus_a, inverse_square), gy);
  set_reduced(ctx, a_shape, ga, b_shape, gb);
}

op::ComputeResult MaybeReduceSum::compute(op::ComputeContext& ctx) const {
  const ArrayD& gy = ctx.input(0);
  const Dims orig = ndarray_ext::unsigned_reading(ctx.input(1));
  if (same_shape(gy.shape(), orig)) {
    ctx.append_output(gy);
    return {};
  }
  const Dims target = reduce_target(orig, gy.ndim());
  if (same_shape(target, gy.shape())) {
    auto reshaped = ArrayD(gy).into_shape(orig);
    if (!reshaped) support::panic("Failed to get slice");
    ctx.append_output(std::move(*reshaped));
    return {};
  }
  ArrayD current;
  bool summed = false;
  for (std::size_t i = 0; i < std::min(target.size(), gy.ndim()); ++i) {
    const std::size_t t = target[i];
    const std::size_t s = gy.shape()[i];
    if (t == 1 && s >= 2) {
      const ArrayD& source = summed ? current : gy;
      current = ndarray_ext::expand_dims(source.fold_axis(i, 0.0, plus), i);
      summed = true;
    } else if (t != s) {
      return std::unexpected(incompatible_reduction(target, gy.shape(), i));
    }
  }
  if (!summed) {
    ctx.append_output(gy);
    return {};
  }
  // A target longer than gy's rank can leave sums whose count does not fit it.
  auto reshaped = std::move(current).into_shape(orig);
  if (!reshaped) {
    return std::unexpected(
        OpError::incompatible_shape(fmt::format("MaybeReduceSum: shape conversion failed: origshape={} gyshape={}",
                                                support::debug_list<std::size_t>(orig), gy.shape_text())));
  }
  ctx.append_output(std::move(*reshaped));
  return {};
}

void MaybeReduceSum::grad(op::GradientContext& ctx) const {
  tensor::TensorBuilder builder(ctx.graph());
  builder.append_input_with_selector(ctx.output_grad());
  builder.append_input_with_selector(shape(ctx.input(0)));
  ctx.set_input_grad(0, builder.build(MaybeBroadcast{}));
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult MaybeBroadcast::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  const Dims orig = ndarray_ext::unsigned_reading(ctx.input(1));
  if (same_shape(x.shape(), orig)) {
    ctx.append_output(x);
    return {};
  }
  // A scalar-like x, laid out as size-1 axes of orig's rank, stretches to any orig.
  if (x.is_scalar_like()) {
    ctx.append_output(ArrayD::from_elem(orig, x[0]));
    return {};
  }
  auto out = x.broadcast_to(orig);
  if (!out) return std::unexpected(OpError::incompatible_shape("PreprocessBinOpGradGrad: Can't broadcast."));
  ctx.append_output(std::move(*out));
  return {};
}

void MaybeBroadcast::grad(op::GradientContext& ctx) const {
  const Tensor x_shape = shape(ctx.input(0));
  ctx.set_input_grad(0, maybe_reduce(x_shape, ctx.output_grad(), ctx.graph()));
  ctx.set_input_grad(1, std::nullopt);
}

Tensor maybe_reduce(Tensor x_shape, Tensor gy, graph::Graph& graph) {
  return tensor::TensorBuilder(graph)
      .append_input_with_selector(gy)
      .append_input_with_selector(x_shape)
      .set_shape(x_shape)
      .build(MaybeReduceSum{});
}

}  // namespace ketra_autograd::tensor_ops::binary_ops
