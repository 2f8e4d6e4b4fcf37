#pragma once
// The Adam update of one variable: inputs (p, g, m, v, t), outputs (p', the gradient as
// adjusted to p, m', v', t').
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

#include "ketra_autograd/error.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::gradient_descent_ops::adam {

enum class AdamInput : std::uint8_t { Param, Gradient, FirstMoment, SecondMoment, Step, Count };
enum class AdamOutput : std::uint8_t { Param, Gradient, FirstMoment, SecondMoment, Step, Count };
inline constexpr std::size_t adam_input_count = static_cast<std::size_t>(AdamInput::Count);

// Gradient adjustment: to p's shape by summing when p has one element, or by summing
// consecutive p-sized blocks when g holds a whole number of them; otherwise g as it is.
// With t' = t + 1 (so the first step corrects with t = 2), all element by element:
//   m' = b1·m + (1 − b1)·g,  v' = b2·v + ((1 − b2)·g)·g,
//   p' = p − alpha·(m'·c1 / (√(v'·c2) + eps)),  c1 = 1/(1 − b1^t'), c2 = 1/(1 − b2^t').
// Single-element m, v and p take g's shape when g has rank 1 or more. Each second operand
// pairs with the array being updated as a 0-d value, by index, or broadcast to its shape;
// one that cannot be broadcast panics. NaN propagates; nothing is clamped.
class AdamOp final : public op::Op {
 public:
  AdamOp(double alpha, double eps, double b1, double b2) noexcept : alpha_(alpha), eps_(eps), b1_(b1), b2_(b2) {}

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::gradient_descent_ops::adam::AdamOp<f64>";
  std::string_view name() const override { return op_name; }
  // IncompatibleShape: fewer than five inputs ("AdamOp requires 5 inputs, but got 4"),
  // or a step count of more than one element.
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  // No gradient for any input.
  void grad(op::GradientContext& ctx) const override;

 private:
  double alpha_, eps_, b1_, b2_;
};

// The single value of a 0-d or one-element array; IncompatibleShape "Expected scalar or
// 1-element array, got shape [2, 3]" otherwise.
std::expected<double, error::OpError> extract_scalar(const ArrayD& array);

}  // namespace ketra_autograd::tensor_ops::gradient_descent_ops::adam
