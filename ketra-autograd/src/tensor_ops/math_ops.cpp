#include "ketra_autograd/tensor_ops/math_ops.hpp"

#include "ketra_autograd/ndarray_ext.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::math_ops {

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
