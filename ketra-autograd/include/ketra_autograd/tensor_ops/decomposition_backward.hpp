#pragma once
// Gradients through matrix decompositions: from the gradient of a factor (or of several)
// to the gradient of the decomposed matrix, and the triangular solves they share. Shapes
// are the callers' to check: a mismatch panics naming the routine.
#include <span>

#include "ketra_autograd/tensor_ops/detail/dense.hpp"

namespace ketra_autograd::tensor_ops::decomposition_backward {

using dense::Index;
using dense::Matrix;
using dense::MatrixRef;

// dA (m×n) of the thin SVD a = u·diag(s)·vt (u m×k, vt k×n, k = s.size()) from du (m×k),
// ds (k) and dvt (k×n): u·(J·S + S·K + diag(ds))·vt with J = F ∘ (X − Xᵀ), K = F ∘ (Y − Yᵀ),
// X = uᵀ·du, Y = vt·dvtᵀ and F[i][j] = 1/(s_j² − s_i²) off the diagonal where
// that gap exceeds 1e-12·s_max² (0 elsewhere, NaN gaps included); plus (du − u·X)·S⁺·vt
// when m > k and u·S⁺·(dvtᵀ − vtᵀ·Y)ᵀ when n > k, S⁺ inverting only the s_j with
// |s_j| > 1e-12·s_max. s_max is the largest |s_j|, NaN ignored; no scale of s overflows.
Matrix svd_backward(MatrixRef u, std::span<const double> s, MatrixRef vt, MatrixRef du, std::span<const double> ds,
                    MatrixRef dvt);

// dA = ½·L⁻ᵀ·(Φ + Φᵀ)·L⁻¹ for A = L·Lᵀ, with Φ the lower triangle of Lᵀ·dL and its
// diagonal halved. l and dl are n×n.
Matrix cholesky_backward(MatrixRef l, MatrixRef dl);

// X (n×p) with t·X = b for t n×n upper triangular (entries below its diagonal are not
// read), by back substitution column by column. A zero diagonal entry t[i][i] gives
// x_i = 0 instead of a division; a NaN one still divides.
Matrix solve_upper_matrix(MatrixRef t, MatrixRef b);
// X (p×n) with X·lo = b for lo n×n lower triangular: (solve_upper_matrix(loᵀ, bᵀ))ᵀ, so a
// zero diagonal entry lo[i][i] gives a zero column i.
Matrix right_solve_lower(MatrixRef b, MatrixRef lo);

// dA = pᵀ·L⁻ᵀ·(strictly-lower(Lᵀ·strictly-lower(dl)) + upper(upper(du)·Uᵀ))·U⁻ᵀ for
// p·A = L·U with L unit lower triangular; every argument n×n, "upper" keeping the diagonal.
Matrix lu_backward(MatrixRef p, MatrixRef l, MatrixRef u, MatrixRef dl, MatrixRef du);

// dA of A = q·r from dq (q's shape) and dr (r's shape), with k = min(rows of r, columns
// of q): (dQk + Qk·C)·Rk⁻ᵀ on the leading k×k blocks, C the lower triangle of
// Rk·upper(dRk)ᵀ − dQkᵀ·Qk mirrored upward; columns of r beyond k get zeros. Panics when
// r has fewer than k columns.
Matrix qr_backward(MatrixRef q, MatrixRef r, MatrixRef dq, MatrixRef dr);

// Copies of the first c columns / the first r rows; panic when a has fewer.
Matrix take_cols(MatrixRef a, Index c);
Matrix take_rows(MatrixRef a, Index r);

}  // namespace ketra_autograd::tensor_ops::decomposition_backward
