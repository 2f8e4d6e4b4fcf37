#pragma once
// Axis permutation.
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::math_ops {

// (x, permutation) -> x with output axis j taken from x's axis perm[j], or with the
// inverse permutation applied when invert_axes is set.
class Transpose final : public op::Op {
 public:
  explicit Transpose(bool invert_axes) noexcept : invert_axes_(invert_axes) {}
  bool invert_axes() const noexcept { return invert_axes_; }

  std::string_view name() const override { return "ketra_autograd::tensor_ops::math_ops::Transpose"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  bool invert_axes_;
};

}  // namespace ketra_autograd::tensor_ops::math_ops
