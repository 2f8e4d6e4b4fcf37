#include "ketra_autograd/tensor_ops/basic_source_ops.hpp"

namespace ketra_autograd::tensor_ops::basic_source_ops {

op::ComputeResult ExternalSource::compute(op::ComputeContext& ctx) const {
  ctx.append_output(ctx.num_inputs() == 0 ? ArrayD::scalar(0.0) : ctx.input(0));
  return {};
}

void ExternalSource::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, ctx.output_grad()); }

}  // namespace ketra_autograd::tensor_ops::basic_source_ops
