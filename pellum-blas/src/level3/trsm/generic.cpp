#include "pellum_blas/level3/trsm/generic.hpp"

#include <cstddef>

#include "level3/detail/scratch.hpp"
#include "level3/detail/triangle.hpp"
#include "pellum_blas/level3/gemm.hpp"
#include "substitution.hpp"
#include "support/panic.hpp"

namespace pellum_blas::level3::trsm::generic {

static_assert(block_order == substitution::max_left_block, "every diagonal block fits the left solve");

namespace {

using detail::ScratchMatrix;
using detail::Triangle;

// A half-open index range of the triangular order.
struct Range {
  std::size_t begin, end;
  std::size_t size() const { return end - begin; }
};

// Rows (left) or columns (right) are solved first to last in these cases.
template <typename T>
bool solves_forward(bool right, const Triangle<T>& op) {
  return right ? op.upper : !op.upper;
}

BlasStatus singular() { return std::unexpected(BlasError::Singular); }

// op(A) as the substitution loops read it.
template <typename T>
substitution::OpA<T> op_of(const Triangle<T>& op) {
  return {op.a.ptr_at(0, 0), op.trans ? op.a.col_stride() : 1, op.trans ? 1 : op.a.col_stride()};
}

// How many rows or columns of the block [start, end) solve before the first zero on the
// diagonal, in solving order; the whole block when there is none or the diagonal is unit.
template <typename T>
std::size_t solvable(const Triangle<T>& op, bool forward, std::size_t start, std::size_t end) {
  if (op.unit) return end - start;
  for (std::size_t n = 0; n < end - start; ++n) {
    const std::size_t i = forward ? start + n : end - 1 - n;
    if (*op.a.ptr_at(i, i) == 0) return n;
  }
  return end - start;
}

// B(rest) −= op(A)(rest, solved)·X(solved) (left) or B(rest) −= X(solved)·op(A)(solved, rest)
// (right), the product formed by the GEMM driver in a scratch matrix first.
template <typename T>
void fold_solved(bool right, const Triangle<T>& op, MatMut<T> b, Range solved, Range rest) {
  const std::size_t rows = right ? solved.size() : rest.size();
  const std::size_t cols = right ? rest.size() : solved.size();
  const std::size_t row0 = right ? solved.begin : rest.begin;
  const std::size_t col0 = right ? rest.begin : solved.begin;
  ScratchMatrix<T> coupling(rows, cols);
  for (std::size_t c = 0; c < cols; ++c)
    for (std::size_t r = 0; r < rows; ++r) coupling(r, c) = *op.row(row0 + r, col0 + c);

  const auto blocking = detail::triangular_blocking<T>();
  if (right) {
    ScratchMatrix<T> product(b.nrows(), rest.size());
    gemm::gemm_with_blocking(b.as_ref().submatrix(0, solved.begin, b.nrows(), solved.size()), coupling.view(),
                             product.view_mut(), T{1}, T{0}, blocking);
    for (std::size_t c = 0; c < rest.size(); ++c) {
      T* column = b.ptr_at(0, rest.begin + c);
      for (std::size_t i = 0; i < b.nrows(); ++i) column[i] = column[i] - product(i, c);
    }
  } else {
    ScratchMatrix<T> product(rest.size(), b.ncols());
    gemm::gemm_with_blocking(coupling.view(), b.as_ref().submatrix(solved.begin, 0, solved.size(), b.ncols()),
                             product.view_mut(), T{1}, T{0}, blocking);
    for (std::size_t j = 0; j < b.ncols(); ++j) {
      T* column = b.ptr_at(rest.begin, j);
      for (std::size_t r = 0; r < rest.size(); ++r) column[r] = column[r] - product(r, j);
    }
  }
}

// A of at least order × order and B of at least m × n, else "Index out of bounds".
template <typename T>
void check_extents(MatRef<T> a, MatMut<T> b, std::size_t order, std::size_t m, std::size_t n) {
  detail::check_inside(order <= a.nrows() && order <= a.ncols() && m <= b.nrows() && n <= b.ncols());
}

// Solves the diagonal block of range with the naive kernels.
template <typename T>
BlasStatus solve_block(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, Range range) {
  return right ? trsm_naive_submatrix_right(upper, trans, unit, a, b, b.nrows(), range.begin, range.end)
               : trsm_naive_submatrix(upper, trans, unit, a, b, range.begin, range.end, b.ncols());
}

}  // namespace

template <typename T>
BlasStatus trsm_naive_submatrix(bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t start,
                                std::size_t end, std::size_t ncols) {
  if (ncols == 0 || start >= end) return {};
  check_extents(a, b, end, end, ncols);
  if (end - start > substitution::max_left_block)
    support::panic("trsm_naive_submatrix: a block of {} rows exceeds {}", end - start, substitution::max_left_block);
  const Triangle<T> op(a, upper, trans, unit);
  const bool forward = solves_forward(false, op);
  const std::size_t count = solvable(op, forward, start, end);
  // A zero on the diagonal is met in column 0: only its rows before the zero are solved.
  const bool stops = count < end - start;
  substitution::solve_left(op_of(op), forward, unit, b.ptr_at(0, 0), b.col_stride(), start, end, count,
                           stops ? 1 : ncols);
  return stops ? singular() : BlasStatus();
}

template <typename T>
BlasStatus trsm_naive_submatrix_right(bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t nrows,
                                      std::size_t start, std::size_t end) {
  if (start >= end) return {};
  check_extents(a, b, end, nrows, end);
  const Triangle<T> op(a, upper, trans, unit);
  const bool forward = solves_forward(true, op);
  // The columns before a zero on the diagonal are solved and folded into the rest.
  const std::size_t count = solvable(op, forward, start, end);
  substitution::solve_right(op_of(op), forward, unit, b.ptr_at(0, 0), b.col_stride(), nrows, start, end, count);
  return count < end - start ? singular() : BlasStatus();
}

template <typename T>
BlasStatus trsm_blocked(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t m,
                        std::size_t n) {
  const std::size_t order = right ? n : m;
  check_extents(a, b, order, m, n);
  const Triangle<T> op(a, upper, trans, unit);
  const bool forward = solves_forward(right, op);
  for (std::size_t done = 0; done < order; done += block_order) {
    // Forward blocks start at 0; backward ones end at the order, so the short one is last.
    const Range block = forward ? Range{done, std::min(done + block_order, order)}
                                : Range{order - std::min(done + block_order, order), order - done};
    if (!solve_block(right, upper, trans, unit, a, b, block)) return singular();
    const Range rest = forward ? Range{block.end, order} : Range{0, block.begin};
    if (rest.size() == 0) break;
    fold_solved(right, op, b, block, rest);
  }
  return {};
}

template <typename T>
BlasStatus trsm_recursive(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t m,
                          std::size_t n) {
  const std::size_t order = right ? n : m;
  check_extents(a, b, order, m, n);
  if (order <= block_order) return trsm_blocked(right, upper, trans, unit, a, b, m, n);
  const Triangle<T> op(a, upper, trans, unit);
  const Range low{0, order / 2}, high{order / 2, order};
  const bool forward = solves_forward(right, op);
  const Range first = forward ? low : high, second = forward ? high : low;
  auto solve_half = [&](Range half) {
    const MatRef<T> a_half = a.submatrix(half.begin, half.begin, half.size(), half.size());
    if (right)
      return trsm_recursive(right, upper, trans, unit, a_half, b.submatrix(0, half.begin, m, half.size()), m,
                            half.size());
    return trsm_recursive(right, upper, trans, unit, a_half, b.submatrix(half.begin, 0, half.size(), n), half.size(),
                          n);
  };
  if (!solve_half(first)) return singular();
  fold_solved(right, op, b, first, second);
  if (!solve_half(second)) return singular();
  return {};
}

template <typename T>
BlasStatus trsm_in_place(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b) {
  if (a.nrows() != a.ncols()) return std::unexpected(BlasError::NotSquare);
  const std::size_t order = a.nrows(), m = b.nrows(), n = b.ncols();
  if (order != (right ? n : m)) return std::unexpected(BlasError::DimensionMismatch);
  if (m == 0 || n == 0) return {};
  if (order > recursive_above) return trsm_recursive(right, upper, trans, unit, a, b, m, n);
  if (order >= block_order) return trsm_blocked(right, upper, trans, unit, a, b, m, n);
  return solve_block(right, upper, trans, unit, a, b, Range{0, order});
}

#define PELLUM_TRSM_INSTANTIATE(T)                                                                                    \
  template BlasStatus trsm_in_place<T>(bool, bool, bool, bool, MatRef<T>, MatMut<T>);                                 \
  template BlasStatus trsm_blocked<T>(bool, bool, bool, bool, MatRef<T>, MatMut<T>, std::size_t, std::size_t);        \
  template BlasStatus trsm_recursive<T>(bool, bool, bool, bool, MatRef<T>, MatMut<T>, std::size_t, std::size_t);      \
  template BlasStatus trsm_naive_submatrix<T>(bool, bool, bool, MatRef<T>, MatMut<T>, std::size_t, std::size_t,       \
                                              std::size_t);                                                           \
  template BlasStatus trsm_naive_submatrix_right<T>(bool, bool, bool, MatRef<T>, MatMut<T>, std::size_t, std::size_t, \
                                                    std::size_t);
PELLUM_TRSM_INSTANTIATE(float)
PELLUM_TRSM_INSTANTIATE(double)
#undef PELLUM_TRSM_INSTANTIATE

}  // namespace pellum_blas::level3::trsm::generic
