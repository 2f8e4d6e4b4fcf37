#pragma once
// Triangular solve with many right-hand sides, in place: op(A)·X = B (A on the left) or
// X·op(A) = B (A on the right); X overwrites B. op(A) = A or Aᵀ, A upper or lower
// triangular; op(A) is upper triangular exactly when upper differs from trans.
#include <cstddef>

#include "pellum_blas/blas_error.hpp"
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::level3::trsm::generic {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

// Orders below this one are substituted directly; up to recursive_above they walk diagonal
// blocks of this width; above it the problem is halved recursively.
inline constexpr std::size_t block_order = 64;
inline constexpr std::size_t recursive_above = 255;

// Checks in order: A square (else NotSquare), its order equal to B's rows (left) or
// columns (right) (else DimensionMismatch); B empty: success. Only A's named triangle is
// read, its diagonal not at all when unit. A non-unit diagonal element equal to 0 (−0
// included; NaN is no zero) stops the solve with Singular, B partly solved: everything
// solved before it in solving order holds X, and its updates have been applied. Divisions
// are true divisions. Off-diagonal blocks go through the GEMM driver with fixed block
// sizes, so the three paths may differ in the last bits.
template <typename T>
BlasStatus trsm_in_place(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b);

// Diagonal blocks of block_order, forward from the start or backward from the end (the
// shorter block then comes last), each solved by the naive kernels and folded into the
// unsolved rows (left) or columns (right) by one GEMM. B is m × n. Fails only with Singular.
template <typename T>
BlasStatus trsm_blocked(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t m,
                        std::size_t n);

// Halves of ⌊order/2⌋ and the rest, the earlier half in solving order first, then one GEMM
// update of the other half, then that half; orders up to block_order go to trsm_blocked.
// Fails only with Singular.
template <typename T>
BlasStatus trsm_recursive(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t m,
                          std::size_t n);

// Substitution inside the diagonal block [start, end) only (at most block_order rows, else a
// panic), on all ncols columns of B's rows [start, end): inner products over the block's
// solved rows in increasing index, then a division by the diagonal. Rows run forward when
// op(A) is lower, backward otherwise. A zero on the diagonal: column 0 solved up to it.
// A block or column count beyond the views panics "Index out of bounds".
template <typename T>
BlasStatus trsm_naive_submatrix(bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t start,
                                std::size_t end, std::size_t ncols);

// The same for A on the right, on all nrows rows of B's columns [start, end): each solved
// column is divided by the diagonal, then subtracted, scaled, from the block's unsolved
// columns in increasing index. Columns run forward when op(A) is upper. A zero on the
// diagonal: the columns before it solved and folded into the rest of the block. Extents
// beyond the views panic "Index out of bounds".
template <typename T>
BlasStatus trsm_naive_submatrix_right(bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t nrows,
                                      std::size_t start, std::size_t end);

#define PELLUM_TRSM_DECLARE(T)                                                                                         \
  extern template BlasStatus trsm_in_place<T>(bool, bool, bool, bool, MatRef<T>, MatMut<T>);                           \
  extern template BlasStatus trsm_blocked<T>(bool, bool, bool, bool, MatRef<T>, MatMut<T>, std::size_t, std::size_t);  \
  extern template BlasStatus trsm_recursive<T>(bool, bool, bool, bool, MatRef<T>, MatMut<T>, std::size_t,              \
                                               std::size_t);                                                           \
  extern template BlasStatus trsm_naive_submatrix<T>(bool, bool, bool, MatRef<T>, MatMut<T>, std::size_t, std::size_t, \
                                                     std::size_t);                                                     \
  extern template BlasStatus trsm_naive_submatrix_right<T>(bool, bool, bool, MatRef<T>, MatMut<T>, std::size_t,        \
                                                           std::size_t, std::size_t);
PELLUM_TRSM_DECLARE(float)
PELLUM_TRSM_DECLARE(double)
#undef PELLUM_TRSM_DECLARE

}  // namespace pellum_blas::level3::trsm::generic
