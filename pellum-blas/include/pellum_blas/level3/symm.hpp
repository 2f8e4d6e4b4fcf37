#pragma once
// Symmetric matrix product: C <- alpha·A·B + beta·C (A on the left) or
// C <- alpha·B·A + beta·C (A on the right), A symmetric and read from one triangle.
#include "pellum_blas/blas_error.hpp"
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::level3::symm {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

// Orders up to this one are summed directly from the stored triangle; larger ones expand A
// into a full copy and run the GEMM driver.
inline constexpr std::size_t direct_max_order = 31;

// A square of order n (else NotSquare); n equal to C's columns (right) or rows (left), and
// B shaped like C (else DimensionMismatch; C untouched). Only the triangle named by upper
// is read. Direct path: each sum over k ascending, then C <- C·beta + s·alpha, where
// beta = 0 (either sign) writes s·alpha without reading C. Product path: the GEMM
// driver's treatment of alpha, beta, NaN and infinity. No alpha = 0 shortcut.
template <typename T>
BlasStatus symm(bool right, bool upper, MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta);

extern template BlasStatus symm<float>(bool, bool, MatRef<float>, MatRef<float>, MatMut<float>, float, float);
extern template BlasStatus symm<double>(bool, bool, MatRef<double>, MatRef<double>, MatMut<double>, double, double);

}  // namespace pellum_blas::level3::symm
