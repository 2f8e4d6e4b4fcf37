#pragma once
// Triangular matrix product in place: B <- alpha·op(A)·B (A on the left) or
// B <- alpha·B·op(A) (A on the right), op(A) = A or Aᵀ, A upper or lower triangular.
#include <cstddef>

#include "pellum_blas/blas_error.hpp"
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::level3::trmm {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

// Orders up to this one use the direct kernels; larger ones one GEMM on full copies.
inline constexpr std::size_t direct_max_order = 31;

// A square of order n (else NotSquare); n equal to B's rows (left) or columns (right)
// (else DimensionMismatch; B untouched). Only A's named triangle is read, its diagonal
// not at all when unit (it counts as 1). alpha = 0 (either sign) clears B to +0.0 without
// reading A or B. Direct kernels: sums from 0 over k ascending, times alpha, so an
// infinity in B meets only the stored triangle; product path: the triangle expanded with
// zeros, so an infinity in B can meet a zero and give NaN. Allocation failures panic
// before B changes.
template <typename T>
BlasStatus trmm_in_place(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, T alpha);

// The direct kernels on B of m × p; A is m × m (left) or p × p (right). Rows (left) or
// columns (right) are finished in an order that never overwrites a value still needed.
// Sizes beyond the views panic "Index out of bounds".
template <typename T>
void trmm_left_naive(bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t m, std::size_t p,
                     T alpha);
template <typename T>
void trmm_right_naive(bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t m, std::size_t p,
                      T alpha);

extern template BlasStatus trmm_in_place<float>(bool, bool, bool, bool, MatRef<float>, MatMut<float>, float);
extern template BlasStatus trmm_in_place<double>(bool, bool, bool, bool, MatRef<double>, MatMut<double>, double);

}  // namespace pellum_blas::level3::trmm
