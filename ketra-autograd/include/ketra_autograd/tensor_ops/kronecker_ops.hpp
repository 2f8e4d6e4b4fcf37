#pragma once
// The gradient of one factor of a Kronecker product.
#include <cstdint>
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::kronecker_ops {

// (gy, A m×n, B p×q) -> the gradient of kron(A, B) with respect to A (side 0: m×n,
// dA[i][j] = Σ_k Σ_l G[i·p + k][j·q + l]·B[k][l]) or to B (any other side: p×q,
// dB[k][l] = Σ_i Σ_j G[i·p + k][j·q + l]·A[i][j]), summed from 0.0 in that order. G is
// gy, or gy's value everywhere when gy has rank 0. IncompatibleShape, checked in this
// order: "KroneckerGradOp requires 2D matrices" (A or B), "KroneckerGradOp: gy must be 2D
// or scalar", and a 2-D gy smaller than (m·p)×(n·q) (its entries beyond are ignored).
class KroneckerGradOp final : public op::Op {
 public:
  explicit KroneckerGradOp(std::uint64_t side) noexcept : side_(side) {}
  std::uint64_t side() const noexcept { return side_; }

  // "KroneckerGradA" for side 0, else "KroneckerGradB".
  std::string_view name() const override { return side_ == 0 ? "KroneckerGradA" : "KroneckerGradB"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  // None of the three inputs gets a gradient.
  void grad(op::GradientContext& ctx) const override;

 private:
  std::uint64_t side_;
};

}  // namespace ketra_autograd::tensor_ops::kronecker_ops
