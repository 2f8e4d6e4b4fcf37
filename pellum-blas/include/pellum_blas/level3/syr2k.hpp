#pragma once
// Rank-2k update of one triangle of a symmetric matrix:
// C <- alpha·op(A)·op(B)ᵀ + alpha·op(B)·op(A)ᵀ + beta·C, op(X) = X (n × k) or, with trans,
// Xᵀ (X of k × n).
#include "pellum_blas/blas_error.hpp"
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::level3::syr2k {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

// As syrk, with B shaped like A: C square (else NotSquare); A and B with n rows (columns
// with trans) and equal depths (else DimensionMismatch); only C's named triangle is read
// and written; direct loops when n < 32 or k < 8, else two GEMM products into one
// temporary, merged as beta·C + T (beta = 0: T, C not read).
template <typename T>
BlasStatus syr2k(bool upper, bool trans, MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta);

extern template BlasStatus syr2k<float>(bool, bool, MatRef<float>, MatRef<float>, MatMut<float>, float, float);
extern template BlasStatus syr2k<double>(bool, bool, MatRef<double>, MatRef<double>, MatMut<double>, double, double);

}  // namespace pellum_blas::level3::syr2k
