#include "ketra_autograd/tensor_ops/const_gen_ops.hpp"

namespace ketra_autograd::tensor_ops::const_gen_ops {

op::ComputeResult Scalar::compute(op::ComputeContext& ctx) const {
  ctx.append_output(ArrayD::scalar(value_));
  return {};
}

void Scalar::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, std::nullopt); }

op::ComputeResult ConvertToTensor::compute(op::ComputeContext& ctx) const {
  ctx.append_output(array_);
  return {};
}

void ConvertToTensor::grad(op::GradientContext&) const {}  // no inputs, nothing to set

}  // namespace ketra_autograd::tensor_ops::const_gen_ops
