#pragma once
// Elementwise functions, comparisons, maximum and minimum, and axis permutation.
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::math_ops {

// x -> exp(x), elementwise (the C library's exp: overflow gives inf, NaN stays NaN).
class Exp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::Exp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// x -> ln(x), elementwise: 0 gives -inf, a negative value NaN.
class Ln final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::Ln";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// x -> -x, elementwise: the sign bit flipped, so 0 becomes -0.
class NegOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::NegOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// x -> pow(x, exponent), elementwise, with the C library's special cases.
class Pow final : public op::Op {
 public:
  explicit Pow(double exponent) noexcept : exponent_(exponent) {}
  double exponent() const noexcept { return exponent_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::Pow<f64>";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  double exponent_;
};

// The four operations below combine a and b elementwise as f(a element, b element):
// a scalar-like operand is mapped over the other (both scalar-like: a's shape); else
// the ranks must agree (panic "Tensor ranks mismatch: 2(Equal's lhs input) vs 1(Equal's
// rhs input)") and one operand is broadcast to the other's shape, a onto b first
// (panic "Cannot broadcast shapes [2, 1] and [1, 3] for operation Equal" when neither
// fits).

// 1.0 where a == b, else 0.0 (NaN gives 0.0).
class Equal final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::Equal";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// 1.0 where a > b, else 0.0 (NaN gives 0.0).
class Greater final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::Greater";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// The larger of a and b; a NaN operand yields the other, two NaNs NaN; of two equal
// operands (0 and -0) the second.
class Maximum final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::Maximum";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// The smaller of a and b; a NaN operand yields the other, two NaNs NaN; of two equal
// operands (0 and -0) the second.
class Minimum final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::Minimum";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, permutation) -> x with output axis j taken from x's axis perm[j], or with the
// inverse permutation applied when invert_axes is set.
class Transpose final : public op::Op {
 public:
  explicit Transpose(bool invert_axes) noexcept : invert_axes_(invert_axes) {}
  bool invert_axes() const noexcept { return invert_axes_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::math_ops::Transpose";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  bool invert_axes_;
};

}  // namespace ketra_autograd::tensor_ops::math_ops
