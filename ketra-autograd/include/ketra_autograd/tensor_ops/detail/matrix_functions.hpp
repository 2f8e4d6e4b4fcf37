#pragma once
// The dense routines behind the matrix-function gradients: a plain product and transpose,
// a symmetry test, a cyclic Jacobi eigensolver, the spectral (Daleckii–Krein) gradients and
// a dense Sylvester solver. Results are fresh matrices; arguments are never changed.
#include <expected>
#include <vector>

#include "ketra_autograd/error.hpp"
#include "ketra_autograd/tensor_ops/detail/dense.hpp"

namespace ketra_autograd::tensor_ops::matrix_functions {

using dense::Index;
using dense::Matrix;
using dense::MatrixRef;

// a (m×k) · the first k rows of b; each entry sums its products in ascending order from
// 0.0, rounding every product and every sum (no fused multiply-add). Panics when b has
// fewer than k rows.
Matrix matmul_f64(MatrixRef a, MatrixRef b);
Matrix transpose_f64(MatrixRef a);

// Whether a is square with relative asymmetry √(2·Σ_{i<j} (a_ij − a_ji)²) / ‖a‖_F below
// 1e-8 (absolute when ‖a‖_F ≤ 1e-300). A NaN anywhere gives false; 0×0 gives true.
bool is_symmetric_f64(MatrixRef a);

// Column j of `vectors` is the unit eigenvector of values[j].
struct Eigenpairs {
  std::vector<double> values;
  Matrix vectors;
};

// Cyclic Jacobi rotations of a symmetric a (only its upper off-diagonal part drives the
// rotations), in row-cyclic pair order, at most 200 sweeps. It stops when the squares of
// the upper off-diagonal entries sum below 1e-28 of the squared Frobenius norm of a, so a
// matrix of small scale is rotated like its scaled-up copy; a NaN entry runs all sweeps.
// Eigenvalues come in diagonal order, unsorted. Panics on a non-square a.
Eigenpairs jacobi_eigh(MatrixRef a);

// The eigenpairs of a symmetric positive-definite a, or OpError::Other: "sqrtm backward:
// input matrix is not symmetric" (non-square included), then "sqrtm backward: non-positive
// eigenvalue {:.6e}; input must be SPD" for the first eigenvalue ≤ 0 (NaN passes).
std::expected<Eigenpairs, error::OpError> spd_eigenpairs(MatrixRef a);
// √a = V·diag(√λ)·Vᵀ, with the errors of spd_eigenpairs.
std::expected<Matrix, error::OpError> sqrtm_spd_f64(MatrixRef a);

// The gradient of log at a symmetric a applied to g (n×n): V·(L ∘ (Vᵀ·g·V))·Vᵀ with L the
// divided differences of ln at the eigenvalues, each clamped to at least the smallest
// positive normal double; 1/λ for eigenvalues within 1e-12·(λi + λj + 1).
Matrix logm_daleckii_krein(MatrixRef a, MatrixRef g);
// The same frame for x^p: p·λ^(p−1) for eigenvalues within 1e-12·(|λi| + |λj| + 1), and
// powers of magnitudes at or below 1e-300 taken as 0.
Matrix powm_spectral_backward(MatrixRef a, MatrixRef g, double p);
// The same frame for √x, that is the X with S·X + X·S = g for S = √a, from a's eigenpairs.
Matrix sqrtm_spectral_backward(const Eigenpairs& eigenpairs, MatrixRef g);

// X (n×m) with a·X + X·b = c for a n×n, b m×m, c n×m, by Gauss–Jordan elimination with
// partial pivoting on the dense (n·m)×(n·m) Kronecker system, which costs (n·m)² memory and
// (n·m)³ time. OpError::Other "Sylvester: singular coefficient matrix" on a pivot below
// 1e-300. Panics on shapes that do not fit.
std::expected<Matrix, error::OpError> solve_sylvester_local(MatrixRef a, MatrixRef b, MatrixRef c);

// The largest order whose square-root gradient goes through the dense Sylvester system
// (a 256×257 system); larger ones use sqrtm_spectral_backward.
inline constexpr Index dense_sylvester_max_order = 16;

}  // namespace ketra_autograd::tensor_ops::matrix_functions
