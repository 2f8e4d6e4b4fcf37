#pragma once
// Gradients through the SVD, Cholesky, LU and QR decompositions of a matrix A: each takes
// (A, G), G the gradient of one factor, refactors A on every evaluation and gives the
// gradient with respect to A. None of them passes a gradient to its inputs. Failures are
// IncompatibleShape for ranks, shapes and components and Other for numerical domains,
// with messages "{short name}: {complaint}"; a failed compute appends nothing.
#include <cstdint>
#include <optional>
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::decomposition_ops::backward_ops {

// Component 0: G is dU (m×k), 1: dS (k), 2: dVt (k×n), k = min(m, n) of the one-sided
// Jacobi SVD. Checks in order: "SVDBackward: A must be 2D"; for components other than 1
// and k ≥ 2, two singular values closer than 1e-7·max(largest |s|, 1) (NaN gaps pass) are
// Other "SVD backward: repeated/degenerate singular values make the U/V gradient
// mathematically undefined; refusing to fabricate a gradient"; then "SVDBackward: dU must
// be 2D" / "dS must be 1D" / "dVt must be 2D" / "invalid component". G is cut or
// zero-padded to its factor's shape.
class SVDBackwardOp final : public op::Op {
 public:
  explicit SVDBackwardOp(std::uint64_t component) noexcept : component_(component) {}
  std::uint64_t component() const noexcept { return component_; }

  static constexpr std::string_view op_name = "SVDBackward";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }

 private:
  std::uint64_t component_;
};

// G is dL (n×n) of A = L·Lᵀ, A read from its lower triangle. Checks in order:
// "CholeskyBackward: A must be 2D", "CholeskyBackward: dL must be 2D", A square, dL of A's
// shape, then Other "CholeskyBackward: matrix not positive definite" for a pivot ≤ 0 (a
// NaN pivot passes and gives NaN).
class CholeskyBackwardOp final : public op::Op {
 public:
  static constexpr std::string_view op_name =
      "ketra_autograd::tensor_ops::decomposition_ops::backward_ops::CholeskyBackwardOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }
};

// Component 1: G is dL, 2: dU (n×n) of A = L·U without row exchanges (pivots at or below
// machine epsilon are skipped). Checks in order: "LUExtractBackward: A must be 2D",
// "LUExtractBackward: dG must be 2D", A square, G of A's shape, then "LUExtractBackward:
// invalid component".
class LUExtractBackwardOp final : public op::Op {
 public:
  explicit LUExtractBackwardOp(std::uint64_t component) noexcept : component_(component) {}
  std::uint64_t component() const noexcept { return component_; }

  static constexpr std::string_view op_name =
      "ketra_autograd::tensor_ops::decomposition_ops::backward_ops::LUExtractBackwardOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }

 private:
  std::uint64_t component_;
};

// Component 0: G is dQ, 1: dR of A = Q·R by modified Gram–Schmidt (columns whose residual
// norm is at or below machine epsilon stay unnormalised). G's rows are cut or zero-padded
// to n. Checks in order: "QRExtractBackward: A must be 2D", "QRExtractBackward: dG must be
// 2D", A square, then "QRExtractBackward: invalid component", and G with more than n
// columns for dQ or fewer than n for dR.
class QRExtractBackwardOp final : public op::Op {
 public:
  explicit QRExtractBackwardOp(std::uint64_t component) noexcept : component_(component) {}
  std::uint64_t component() const noexcept { return component_; }

  static constexpr std::string_view op_name =
      "ketra_autograd::tensor_ops::decomposition_ops::backward_ops::QRExtractBackwardOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }

 private:
  std::uint64_t component_;
};

}  // namespace ketra_autograd::tensor_ops::decomposition_ops::backward_ops
