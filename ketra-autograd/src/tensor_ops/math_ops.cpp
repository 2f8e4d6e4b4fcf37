#include "ketra_autograd/tensor_ops/math_ops.hpp"

#include <cmath>

#include "ketra_autograd/ndarray_ext.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::math_ops {

namespace {

using tensor::Tensor;

template <typename F>
op::ComputeResult elementwise(op::ComputeContext& ctx, F f) {
  ctx.append_output(ctx.input(0).map(f));
  return {};
}

// f(a element, b element): a scalar-like operand is mapped over the other; otherwise
// one operand is broadcast onto the other's shape of equal rank, a onto b first.
template <typename F>
op::ComputeResult compare(op::ComputeContext& ctx, std::string_view op_word, F f) {
  const ArrayD& a = ctx.input(0);
  const ArrayD& b = ctx.input(1);
  if (b.is_scalar_like()) {
    const double s = b[0];
    ctx.append_output(a.map([s, f](double v) { return f(v, s); }));
    return {};
  }
  if (a.is_scalar_like()) {
    const double s = a[0];
    ctx.append_output(b.map([s, f](double v) { return f(s, v); }));
    return {};
  }
  if (a.ndim() != b.ndim()) {
    support::panic("Tensor ranks mismatch: {}({}'s lhs input) vs {}({}'s rhs input)", a.ndim(), op_word, b.ndim(),
                   op_word);
  }
  std::optional<ArrayD> out = zip_in_shape(a, b, b.shape(), f);
  if (!out) out = zip_in_shape(a, b, a.shape(), f);
  if (!out) {
    support::panic("Cannot broadcast shapes {} and {} for operation {}", a.shape_text(), b.shape_text(), op_word);
  }
  ctx.append_output(std::move(*out));
  return {};
}

// Each operand receives gy where it equals the output, that is where it was chosen.
void chosen_operand_grads(op::GradientContext& ctx) {
  const Tensor a = ctx.input(0);
  const Tensor b = ctx.input(1);
  const Tensor y = ctx.output();
  const Tensor gy = ctx.output_grad();
  const Tensor a_chosen = arithmetic::equal(a, y);
  const Tensor b_chosen = arithmetic::equal(b, y);
  const Tensor ga = arithmetic::mul(a_chosen, gy);
  const Tensor gb = arithmetic::mul(b_chosen, gy);
  ctx.set_input_grad(0, ga);
  ctx.set_input_grad(1, gb);
}

// fmax and fmin semantics (a NaN operand yields the other; equal operands, 0 and -0
// among them, yield the second) written out so that the loops over them vectorize
// instead of calling the C library once per element.
constexpr auto nan_ignoring_max = [](double l, double r) { return l > r || std::isnan(r) ? l : r; };
constexpr auto nan_ignoring_min = [](double l, double r) { return l < r || std::isnan(r) ? l : r; };

void no_grads(op::GradientContext& ctx) {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
}

}  // namespace

op::ComputeResult Exp::compute(op::ComputeContext& ctx) const {
  return elementwise(ctx, [](double v) { return std::exp(v); });
}

void Exp::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, arithmetic::mul(ctx.output(), ctx.output_grad()));
}

op::ComputeResult Ln::compute(op::ComputeContext& ctx) const {
  return elementwise(ctx, [](double v) { return std::log(v); });
}

void Ln::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, arithmetic::div(ctx.output_grad(), ctx.input(0)));
}

op::ComputeResult NegOp::compute(op::ComputeContext& ctx) const {
  return elementwise(ctx, [](double v) { return -v; });
}

void NegOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, arithmetic::neg(ctx.output_grad())); }

op::ComputeResult Pow::compute(op::ComputeContext& ctx) const {
  const double p = exponent_;
  return elementwise(ctx, [p](double v) { return std::pow(v, p); });
}

void Pow::grad(op::GradientContext& ctx) const {
  const Tensor x = ctx.input(0);
  const Tensor p = scalar(exponent_, ctx.graph());
  const Tensor scaled = arithmetic::mul(ctx.output_grad(), p);
  const Tensor derivative = arithmetic::pow(x, exponent_ - 1.0);
  ctx.set_input_grad(0, arithmetic::mul(scaled, derivative));
}

op::ComputeResult Equal::compute(op::ComputeContext& ctx) const {
  return compare(ctx, "Equal", [](double l, double r) { return l == r ? 1.0 : 0.0; });
}

void Equal::grad(op::GradientContext& ctx) const { no_grads(ctx); }

op::ComputeResult Greater::compute(op::ComputeContext& ctx) const {
  return compare(ctx, "Greater", [](double l, double r) { return l > r ? 1.0 : 0.0; });
}

void Greater::grad(op::GradientContext& ctx) const { no_grads(ctx); }

op::ComputeResult Maximum::compute(op::ComputeContext& ctx) const { return compare(ctx, "Maximum", nan_ignoring_max); }

void Maximum::grad(op::GradientContext& ctx) const { chosen_operand_grads(ctx); }

op::ComputeResult Minimum::compute(op::ComputeContext& ctx) const { return compare(ctx, "Minimum", nan_ignoring_min); }

void Minimum::grad(op::GradientContext& ctx) const { chosen_operand_grads(ctx); }

op::ComputeResult Transpose::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  const ArrayD& permutation = ctx.input(1);
  const std::size_t n = permutation.len();
  if (x.ndim() != n) {
    return std::unexpected(error::OpError::incompatible_shape("transpose: inputs's ndim and axes's length must match"));
  }
  // Entries left at n (from a repeated inverse entry) fail the permutation check below.
  Dims axes(n, n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t p = ndarray_ext::unsigned_entry(permutation[i]);
    if (!invert_axes_) {
      axes[i] = p;
    } else if (p < n) {
      axes[p] = i;
    } else {
      support::panic("transpose: permutation entry {} is out of range for {} axes", p, n);
    }
  }
  ctx.append_output(x.permuted(axes));
  return {};
}

void Transpose::grad(op::GradientContext& ctx) const {
  const tensor::Tensor x = ctx.input(0);
  const tensor::Tensor x_shape = shape(x);
  const tensor::Tensor gx = tensor::TensorBuilder(ctx.graph())
                                .append_input_with_selector(ctx.output_grad())
                                .append_input_with_selector(ctx.input(1))
                                .set_shape(x_shape)
                                .build(Transpose(!invert_axes_));
  ctx.set_input_grad(0, gx);
  ctx.set_input_grad(1, std::nullopt);
}

}  // namespace ketra_autograd::tensor_ops::math_ops
