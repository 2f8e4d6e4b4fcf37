#pragma once
// Gradients of matrix functions of a symmetric matrix: the logarithm, a real power and the
// square root. Each takes (A n×n, G n×n), G the gradient of the function's value, and
// gives the gradient with respect to A. The spectral routines behind them are in
// detail/matrix_functions.hpp.
#include <optional>
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::matrix_functions {

// Checks shared by the three, in this order, each failing compute with nothing appended:
// A of rank 2, G of rank 2 (IncompatibleShape "{name}: A must be 2D" / "{name}: dB must be
// 2D", "dS" for the square root), G of A's shape (IncompatibleShape), then the numeric
// checks of each operation (OpError::Other).

// Daleckii–Krein form of the logarithm's gradient; "logm backward: spectral VJP requires a
// symmetric input; non-symmetric matrix-log gradient is not implemented" for a non-
// symmetric A. Eigenvalues are clamped to the smallest positive normal double (NaN too).
class MatrixLogBackwardOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "MatrixLogBackward";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;  // no gradient for either input
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }
};

// Daleckii–Krein form of the gradient of A^p; "powm backward: spectral VJP requires a
// symmetric input; non-symmetric matrix-power gradient is not implemented" for a non-
// symmetric A. Powers follow the C library's pow: a negative eigenvalue with a non-integer
// p gives NaN entries.
class MatrixPowBackwardOp final : public op::Op {
 public:
  explicit MatrixPowBackwardOp(double p) noexcept : p_(p) {}
  double p() const noexcept { return p_; }

  static constexpr std::string_view op_name = "MatrixPowBackward";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;  // no gradient for either input
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }

 private:
  double p_;
};

// X with S·X + X·S = G for S = √A: "sqrtm backward: input matrix is not symmetric" (also
// for a non-square A), "sqrtm backward: non-positive eigenvalue {:.6e}; input must be SPD"
// (a NaN eigenvalue passes), "Sylvester: singular coefficient matrix". Small A go through
// the dense Sylvester system; larger ones through A's eigenpairs, with the same result to
// rounding and without the n²×n² system.
class MatrixSqrtBackwardOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "MatrixSqrtBackward";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;  // no gradient for either input
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }
};

}  // namespace ketra_autograd::tensor_ops::matrix_functions
