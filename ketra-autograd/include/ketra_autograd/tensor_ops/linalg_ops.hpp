#pragma once
// The diagonal matrix of a vector, and the gradient of a trace.
#include <optional>
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::linalg_ops {

// v (length n) -> the n×n matrix with v on its diagonal, zeros elsewhere. IncompatibleShape
// "Diag op requires a 1D vector input" for any other rank.
class DiagOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::linalg_ops::DiagOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  // Eager: evaluates gy now (no feeds) and sets the constant vector of its diagonal; no
  // gradient when the evaluation fails or gy is not a square matrix.
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }
};

// (A n×n, g holding one value) -> the n×n matrix with g on its diagonal. A is read only
// for its shape. IncompatibleShape "TraceBackward: input must be a square matrix" and
// "TraceBackward: cotangent of trace must be a scalar", checked in this order; g may be
// rank 0 or any shape of one element.
class TraceBackwardOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::linalg_ops::TraceBackwardOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  // Neither input gets a gradient.
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }
};

}  // namespace ketra_autograd::tensor_ops::linalg_ops
