#pragma once
// Multiplication by a fixed factor.
#include <optional>
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::scalar_ops {

// x -> x * factor, elementwise. The gradient pass reads the factor through as_any.
class ScalarMulOp final : public op::Op {
 public:
  explicit ScalarMulOp(double factor) noexcept : factor_(factor) {}
  double factor() const noexcept { return factor_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::scalar_ops::ScalarMulOp<f64>";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }

 private:
  double factor_;
};

}  // namespace ketra_autograd::tensor_ops::scalar_ops
