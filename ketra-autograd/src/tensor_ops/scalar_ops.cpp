#include "ketra_autograd/tensor_ops/scalar_ops.hpp"

#include "ketra_autograd/tensor_ops/linear_algebra.hpp"

namespace ketra_autograd::tensor_ops::scalar_ops {

op::ComputeResult ScalarMulOp::compute(op::ComputeContext& ctx) const {
  const double factor = factor_;
  ctx.append_output(ctx.input(0).map([factor](double v) { return v * factor; }));
  return {};
}

void ScalarMulOp::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, linear_algebra::scalar_mul(ctx.output_grad(), factor_));
}

}  // namespace ketra_autograd::tensor_ops::scalar_ops
