#pragma once
// GEMM for small products (the driver sends m·n·k <= 32768 here): operands read in place
// through their strides, no packing, no heap, no fused multiply-add.
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::level3::gemm_small {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

// C ← alpha·A·B + beta·C with m = a.nrows(), k = a.ncols(), n = b.ncols().
// First a beta pass over all of C: beta = 0 (either sign) writes +0.0 without reading C
// (NaN and infinities gone), beta = 1 leaves C alone, any other beta (NaN included)
// multiplies. Then alpha = 0 (either sign) returns without reading A or B; otherwise
// every element gets acc = Σ_p A(i,p)·B(p,j) (p ascending, each product rounded, from
// +0) and C(i,j) ← alpha·acc + C(i,j): bit for bit the plain triple loop.
// Panics "Index out of bounds", before writing anything, when b has fewer than k rows
// or c is smaller than m × n.
template <typename T>
void gemm_small(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta);

extern template void gemm_small<double>(MatRef<double>, MatRef<double>, MatMut<double>, double, double);
extern template void gemm_small<float>(MatRef<float>, MatRef<float>, MatMut<float>, float, float);

}  // namespace pellum_blas::level3::gemm_small
