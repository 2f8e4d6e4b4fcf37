#pragma once
// The matrix inverse.
#include <optional>
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::matrix_ops {

// A -> A⁻¹ by Gauss–Jordan elimination with partial pivoting (the first of equal
// magnitudes wins). IncompatibleShape "Matrix inverse requires square matrix" for any
// input that is not a square rank-2 array; "Matrix is singular" when the largest
// remaining pivot magnitude is below 2.220446049250313e-16, an absolute threshold. NaN
// entries propagate. 0×0 inverts to 0×0.
class MatrixInverseOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::matrix_ops::MatrixInverseOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  // Eager: evaluates y and gy now (no feeds) and sets the constant −Yᵀ·gy·Yᵀ; no gradient
  // when either evaluation fails or gy is not an n×n matrix like y.
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }
};

}  // namespace ketra_autograd::tensor_ops::matrix_ops
