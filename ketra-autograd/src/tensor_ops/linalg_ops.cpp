#include "ketra_autograd/tensor_ops/linalg_ops.hpp"

#include <array>

#include "ketra_autograd/tensor_ops.hpp"

namespace ketra_autograd::tensor_ops::linalg_ops {
namespace {

using error::OpError;

ArrayD square_zeros(std::size_t n) { return ArrayD::zeros(std::array<std::size_t, 2>{n, n}); }

std::optional<tensor::Tensor> diagonal_of_gradient(op::GradientContext& ctx) {
  const auto gy = ctx.output_grad().eval(ctx.context());
  if (!gy || gy->ndim() != 2 || gy->shape()[0] != gy->shape()[1]) return std::nullopt;
  const std::size_t n = gy->shape()[0];
  ArrayD diagonal = ArrayD::for_overwrite(std::array<std::size_t, 1>{n});
  for (std::size_t i = 0; i < n; ++i) diagonal[i] = (*gy)[i * n + i];
  return convert_to_tensor(std::move(diagonal), ctx.graph());
}

}  // namespace

op::ComputeResult DiagOp::compute(op::ComputeContext& ctx) const {
  const ArrayD& v = ctx.input(0);
  if (v.ndim() != 1) return std::unexpected(OpError::incompatible_shape("Diag op requires a 1D vector input"));
  const std::size_t n = v.len();
  ArrayD out = square_zeros(n);
  for (std::size_t i = 0; i < n; ++i) out[i * n + i] = v[i];
  ctx.append_output(std::move(out));
  return {};
}

void DiagOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, diagonal_of_gradient(ctx)); }

op::ComputeResult TraceBackwardOp::compute(op::ComputeContext& ctx) const {
  const ArrayD& a = ctx.input(0);
  const ArrayD& g = ctx.input(1);
  if (a.ndim() != 2 || a.shape()[0] != a.shape()[1]) {
    return std::unexpected(OpError::incompatible_shape("TraceBackward: input must be a square matrix"));
  }
  if (g.len() != 1) {  // rank 0 holds one element too
    return std::unexpected(OpError::incompatible_shape("TraceBackward: cotangent of trace must be a scalar"));
  }
  const std::size_t n = a.shape()[0];
  ArrayD out = square_zeros(n);
  for (std::size_t i = 0; i < n; ++i) out[i * n + i] = g[0];
  ctx.append_output(std::move(out));
  return {};
}

void TraceBackwardOp::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(1, std::nullopt);  // fills slot 0 with none as well
}

}  // namespace ketra_autograd::tensor_ops::linalg_ops
