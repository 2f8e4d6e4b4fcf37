#include "ketra_autograd/tensor_ops/dot_ops.hpp"

#include <array>
#include <cstdint>
#include <utility>

#include <fmt/format.h>

#include "ketra_autograd/tensor_ops/detail/dense.hpp"

namespace ketra_autograd::tensor_ops::dot_ops {
namespace {

using dense::Index;
using dense::Matrix;
using dense::MatrixView;
using error::OpError;
using tensor::Tensor;
using Extent = std::array<std::size_t, 2>;  // rows, columns

enum class Side : std::uint8_t { Left, Right };

// An operand's extent as a matrix, nothing for rank 3 and above.
std::optional<Extent> operand_extent(const ArrayD& a, Side side) {
  const auto shape = a.shape();
  switch (a.ndim()) {
    case 0: return Extent{1, 1};
    case 1: return side == Side::Left ? Extent{1, shape[0]} : Extent{shape[0], 1};
    case 2: return Extent{shape[0], shape[1]};
    default: return std::nullopt;
  }
}

Extent transposed_if(Extent extent, bool transpose) { return transpose ? Extent{extent[1], extent[0]} : extent; }

bool product_overflows(std::size_t m, std::size_t n) {
  std::size_t mn = 0;
  return __builtin_mul_overflow(m, n, &mn) || mn > static_cast<std::size_t>(PTRDIFF_MAX);
}

MatrixView stored(const ArrayD& a, Extent extent) {
  return MatrixView(a.data().data(), static_cast<Index>(extent[0]), static_cast<Index>(extent[1]));
}

template <typename Lhs>
void multiply_into(Eigen::Map<Matrix>& out, const Lhs& lhs, const MatrixView& rhs, bool transpose_rhs) {
  if (transpose_rhs) {
    out.noalias() = lhs * rhs.transpose();
  } else {
    out.noalias() = lhs * rhs;
  }
}

Tensor product(op::GradientContext& ctx, Tensor lhs, Tensor rhs, bool transpose_lhs, bool transpose_rhs) {
  return tensor::TensorBuilder(ctx.graph())
      .append_input_with_selector(lhs)
      .append_input_with_selector(rhs)
      .build(MatMul(transpose_lhs, transpose_rhs));
}

}  // namespace

std::string dotshape_error(std::size_t m, std::size_t k, std::size_t k2, std::size_t n) {
  if (product_overflows(m, n)) return fmt::format("ndarray: shape {} × {} overflows isize", m, n);
  return fmt::format("ndarray: inputs {} × {} and {} × {} are not compatible for matrix multiplication", m, k, k2, n);
}

op::ComputeResult MatMul::compute(op::ComputeContext& ctx) const {
  if (ctx.num_inputs() < 2) {
    ctx.append_output(ArrayD::zeros(Extent{1, 1}));
    return {};
  }
  const ArrayD& a = ctx.input(0);
  const ArrayD& b = ctx.input(1);
  const std::optional<Extent> a_extent = operand_extent(a, Side::Left);
  if (!a_extent) {
    return std::unexpected(
        OpError::incompatible_shape("lhs input for MatMul must be 0D, 1D, or 2D, got shape: " + a.shape_text()));
  }
  const std::optional<Extent> b_extent = operand_extent(b, Side::Right);
  if (!b_extent) {
    return std::unexpected(
        OpError::incompatible_shape("rhs input for MatMul must be 0D, 1D, or 2D, got shape: " + b.shape_text()));
  }
  const auto [m, k] = transposed_if(*a_extent, transpose_a_);
  const auto [k2, n] = transposed_if(*b_extent, transpose_b_);
  if (k != k2 || product_overflows(m, n))
    return std::unexpected(OpError::incompatible_shape(dotshape_error(m, k, k2, n)));

  ArrayD out = ArrayD::for_overwrite(Extent{m, n});
  Eigen::Map<Matrix> result(out.data().data(), static_cast<Index>(m), static_cast<Index>(n));
  // With m·n > 0 and k > 0 every dimension is bounded by an operand's element count, so
  // the views are well-formed; an empty result needs nothing.
  if (m * n > 0 && k == 0) {
    result.setZero();
  } else if (m * n > 0 && transpose_a_) {
    multiply_into(result, stored(a, *a_extent).transpose(), stored(b, *b_extent), transpose_b_);
  } else if (m * n > 0) {
    multiply_into(result, stored(a, *a_extent), stored(b, *b_extent), transpose_b_);
  }
  ctx.append_output(std::move(out));
  return {};
}

void MatMul::grad(op::GradientContext& ctx) const {
  const Tensor a = ctx.input(0);
  const Tensor b = ctx.input(1);
  const Tensor gy = ctx.output_grad();
  // With C = op(A)·op(B): d op(A) = gy·op(B)ᵀ and d op(B) = op(A)ᵀ·gy; a flagged operand
  // takes the transpose of its product, which swaps the factors.
  const Tensor ga = transpose_a_ ? product(ctx, b, gy, transpose_b_, true) : product(ctx, gy, b, false, !transpose_b_);
  const Tensor gb = transpose_b_ ? product(ctx, gy, a, true, transpose_a_) : product(ctx, a, gy, !transpose_a_, false);
  ctx.set_input_grad(0, ga);
  ctx.set_input_grad(1, gb);
}

}  // namespace ketra_autograd::tensor_ops::dot_ops
