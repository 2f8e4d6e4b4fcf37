#pragma once
// The decompositions the backward operations recompute on every evaluation.
#include <expected>
#include <vector>

#include "ketra_autograd/error.hpp"
#include "ketra_autograd/tensor_ops/detail/dense.hpp"

namespace ketra_autograd::tensor_ops::decomposition_ops::backward_ops {

using dense::Matrix;
using dense::MatrixRef;

// a = u·diag(s)·vt with u m×k, s k values, vt k×n, k = min(m, n).
struct SvdFactors {
  Matrix u;
  std::vector<double> s;
  Matrix vt;
};

// The thin SVD by one-sided Jacobi rotations of a's columns, in cyclic pair order, a pair
// counting as orthogonal when |γ| ≤ 1e-15·√(α·β); it stops after the first sweep without a
// rotation or after 60 sweeps (an input holding NaN runs all 60). s is descending in IEEE
// totalOrder, stable (equal values keep column order; a NaN with a clear sign bit comes
// first); only the k largest column norms are kept. A column of u whose singular value is
// at or below 1e-300 stays zero. Never fails, for any shape including empty ones.
SvdFactors svd_jacobi_f64(MatrixRef a);

// The lower factor L of a = L·Lᵀ, row by row, reading only a's lower triangle; a must be
// square. OpError::Other "CholeskyBackward: matrix not positive definite" for a pivot ≤ 0;
// a NaN pivot gives a NaN diagonal entry.
std::expected<Matrix, error::OpError> cholesky_lower(MatrixRef a);

// a = l·u, l unit lower triangular, by elimination without row exchanges; a column whose
// pivot magnitude is at or below machine epsilon is left uneliminated. a must be square.
struct LuFactors {
  Matrix l;
  Matrix u;
};
LuFactors lu_without_pivoting(MatrixRef a);

// a = q·r by modified Gram–Schmidt on a's columns; a column whose residual norm is at or
// below machine epsilon stays unnormalised. r = qᵀ·a in full, below its diagonal included.
// a must be square.
struct QrFactors {
  Matrix q;
  Matrix r;
};
QrFactors qr_gram_schmidt(MatrixRef a);

}  // namespace ketra_autograd::tensor_ops::decomposition_ops::backward_ops
