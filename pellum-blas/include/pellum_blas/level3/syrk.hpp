#pragma once
// Rank-k update of one triangle of a symmetric matrix: C <- alpha·op(A)·op(A)ᵀ + beta·C,
// op(A) = A (n × k) or, with trans, Aᵀ (A of k × n).
#include "pellum_blas/blas_error.hpp"
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::level3::syrk {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

// C square (else NotSquare) of order n; A with n rows, or n columns with trans (else
// DimensionMismatch); C untouched on failure. Only C's triangle named by upper (rows <= the
// column, or >= it) is read and written. Direct loops when n < 32 or k < 8: beta pass over
// the triangle (beta = 0 writes +0.0 without reading), then nothing more for alpha = 0 (A
// not read), else the rank-k sums without fused multiply-add. Otherwise the full product
// alpha·op(A)·op(A)ᵀ by the GEMM driver, merged as beta·C + T (beta = 0: T, C not read).
template <typename T>
BlasStatus syrk(bool upper, bool trans, MatRef<T> a, MatMut<T> c, T alpha, T beta);

extern template BlasStatus syrk<float>(bool, bool, MatRef<float>, MatMut<float>, float, float);
extern template BlasStatus syrk<double>(bool, bool, MatRef<double>, MatMut<double>, double, double);

}  // namespace pellum_blas::level3::syrk
