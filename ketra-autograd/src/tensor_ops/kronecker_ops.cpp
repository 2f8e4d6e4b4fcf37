#include "ketra_autograd/tensor_ops/kronecker_ops.hpp"

#include <array>

#include <fmt/format.h>

namespace ketra_autograd::tensor_ops::kronecker_ops {
namespace {

using error::OpError;

// The cotangent G of kron(A, B): gy itself, or gy's one value at every position.
class Cotangent {
 public:
  explicit Cotangent(const ArrayD& gy) noexcept
      : gy_(gy), columns_(gy.ndim() == 2 ? gy.shape()[1] : 0), is_scalar_(gy.ndim() == 0) {}

  double at(std::size_t row, std::size_t column) const noexcept {
    return is_scalar_ ? gy_[0] : gy_[row * columns_ + column];
  }

 private:
  const ArrayD& gy_;
  std::size_t columns_;
  bool is_scalar_;
};

// Whether a 2-D gy reaches every entry of kron(A, B): at least (m·p) × (n·q).
bool covers_product(const ArrayD& gy, const ArrayD& a, const ArrayD& b) {
  std::size_t rows = 0;
  std::size_t columns = 0;
  if (__builtin_mul_overflow(a.shape()[0], b.shape()[0], &rows)) return false;
  if (__builtin_mul_overflow(a.shape()[1], b.shape()[1], &columns)) return false;
  return gy.shape()[0] >= rows && gy.shape()[1] >= columns;
}

// The gradient of the `own` factor: each of its entries sums G against the other factor
// over the block that entry scales. For the left factor (own = A), entry (i, j) reads the
// block at rows i·p.., columns j·q..; for the right factor (own = B), entry (k, l) reads
// position (k, l) of every block (i, j).
ArrayD factor_gradient(const Cotangent& g, const ArrayD& own, const ArrayD& other, bool own_is_left) {
  const std::size_t rows = own.shape()[0];
  const std::size_t cols = own.shape()[1];
  const std::size_t other_rows = other.shape()[0];
  const std::size_t other_cols = other.shape()[1];
  const std::size_t p = own_is_left ? other_rows : rows;  // block height
  const std::size_t q = own_is_left ? other_cols : cols;  // block width
  ArrayD out = ArrayD::for_overwrite(own.shape());
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < cols; ++c) {
      double sum = 0.0;
      for (std::size_t s = 0; s < other_rows; ++s) {
        for (std::size_t t = 0; t < other_cols; ++t) {
          const std::size_t row = own_is_left ? r * p + s : s * p + r;
          const std::size_t column = own_is_left ? c * q + t : t * q + c;
          sum += g.at(row, column) * other[s * other_cols + t];
        }
      }
      out[r * cols + c] = sum;
    }
  }
  return out;
}

}  // namespace

op::ComputeResult KroneckerGradOp::compute(op::ComputeContext& ctx) const {
  const ArrayD& gy = ctx.input(0);
  const ArrayD& a = ctx.input(1);
  const ArrayD& b = ctx.input(2);
  if (a.ndim() != 2 || b.ndim() != 2) {
    return std::unexpected(OpError::incompatible_shape("KroneckerGradOp requires 2D matrices"));
  }
  if (gy.ndim() != 0 && gy.ndim() != 2) {
    return std::unexpected(OpError::incompatible_shape("KroneckerGradOp: gy must be 2D or scalar"));
  }
  if (gy.ndim() == 2 && !covers_product(gy, a, b)) {
    return std::unexpected(OpError::incompatible_shape(
        fmt::format("KroneckerGradOp: gy of shape {} does not cover kron(A, B) for A of shape {} and B of shape {}",
                    gy.shape_text(), a.shape_text(), b.shape_text())));
  }
  const Cotangent g(gy);
  ctx.append_output(side_ == 0 ? factor_gradient(g, a, b, true) : factor_gradient(g, b, a, false));
  return {};
}

void KroneckerGradOp::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(2, std::nullopt);  // fills slots 0 and 1 with none as well
}

}  // namespace ketra_autograd::tensor_ops::kronecker_ops
