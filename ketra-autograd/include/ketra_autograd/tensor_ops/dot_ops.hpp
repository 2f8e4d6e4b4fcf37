#pragma once
// The matrix product.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::dot_ops {

// (a, b) -> op(a)·op(b), op transposing where its flag is set; always rank 2. A rank-1
// left operand is a row, a rank-1 right operand a column, a rank-0 operand 1×1. With
// fewer than two inputs the output is [[0.0]]. Rank 3 and above, and inner dimensions
// that differ, are IncompatibleShape; an inner dimension of 0 gives zeros.
class MatMul final : public op::Op {
 public:
  MatMul(bool transpose_a, bool transpose_b) noexcept : transpose_a_(transpose_a), transpose_b_(transpose_b) {}
  bool transpose_a() const noexcept { return transpose_a_; }
  bool transpose_b() const noexcept { return transpose_b_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::dot_ops::MatMul";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  // Two new products, each with the other operand and gy: gy·Bᵀ and Aᵀ·gy for a product
  // without flags, and the matching forms for flagged ones.
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }

 private:
  bool transpose_a_;
  bool transpose_b_;
};

// The message for operands m×k and k2×n that cannot be multiplied: "ndarray: shape {m} ×
// {n} overflows isize" when m·n exceeds the signed 64-bit range, else "ndarray: inputs
// {m} × {k} and {k2} × {n} are not compatible for matrix multiplication".
std::string dotshape_error(std::size_t m, std::size_t k, std::size_t k2, std::size_t n);

}  // namespace ketra_autograd::tensor_ops::dot_ops
