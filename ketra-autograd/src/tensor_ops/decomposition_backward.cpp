#include "ketra_autograd/tensor_ops/decomposition_backward.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::decomposition_backward {
namespace {

// Both relative to the largest singular value s_max.
constexpr double gap_threshold = 1e-12;        // |s_j² − s_i²| at or below it·s_max²: F[i][j] = 0
constexpr double inversion_threshold = 1e-12;  // |s_j| at or below it·s_max: not inverted

Index length(std::span<const double> values) { return static_cast<Index>(values.size()); }

// A copy with the entries on and above the diagonal set to 0.
Matrix strictly_lower(MatrixRef a) {
  Matrix out = a;
  for (Index i = 0; i < out.rows(); ++i) {
    for (Index j = i; j < out.cols(); ++j) out(i, j) = 0.0;
  }
  return out;
}

// A copy with the entries below the diagonal set to 0.
Matrix upper(MatrixRef a) {
  Matrix out = a;
  for (Index i = 0; i < out.rows(); ++i) {
    for (Index j = 0; j < std::min(i, out.cols()); ++j) out(i, j) = 0.0;
  }
  return out;
}

// Column j divided by s_j, or zeroed where |s_j| is at or below `smallest`.
void divide_columns(Matrix& t, std::span<const double> s, double smallest) {
  for (Index j = 0; j < t.cols(); ++j) {
    const double sj = s[static_cast<std::size_t>(j)];
    if (std::abs(sj) > smallest) {
      t.col(j) /= sj;
    } else {
      t.col(j).setZero();
    }
  }
}

// F[i][j] = 1 / (s_j² − s_i²) off the diagonal where that gap exceeds `smallest` in
// magnitude; 0 elsewhere, NaN gaps included.
Matrix inverse_gaps(std::span<const double> s, double smallest) {
  const Index k = length(s);
  Matrix f = Matrix::Zero(k, k);
  for (Index i = 0; i < k; ++i) {
    for (Index j = 0; j < k; ++j) {
      const double si = s[static_cast<std::size_t>(i)];
      const double sj = s[static_cast<std::size_t>(j)];
      const double gap = sj * sj - si * si;
      if (i != j && std::abs(gap) > smallest) f(i, j) = 1.0 / gap;
    }
  }
  return f;
}

// F ∘ (X − Xᵀ).
Matrix antisymmetric_part_scaled(const Matrix& f, const Matrix& x) { return f.cwiseProduct(x - x.transpose()); }

}  // namespace

Matrix svd_backward(MatrixRef u, std::span<const double> s, MatrixRef vt, MatrixRef du, std::span<const double> ds,
                    MatrixRef dvt) {
  const Index k = length(s);
  const Index m = u.rows();
  const Index n = vt.cols();
  dense::expect_shape("svd_backward", "u", u, m, k);
  dense::expect_shape("svd_backward", "vt", vt, k, n);
  dense::expect_shape("svd_backward", "du", du, m, k);
  dense::expect_shape("svd_backward", "dvt", dvt, k, n);
  if (length(ds) != k) support::panic("svd_backward: {} singular values but {} gradients", k, ds.size());

  // The coupling terms are formed from the singular values scaled by a power of two that
  // brings the largest near 1: gaps of squares neither overflow nor underflow at any
  // scale, and the scaling is exact, so at ordinary scales every term keeps the bits of
  // the unscaled formula.
  const double largest = dense::largest_magnitude_ignoring_nan(s);
  const int exponent = dense::scale_exponent(largest);
  std::vector<double> scaled(s.begin(), s.end());
  for (double& v : scaled) v = std::ldexp(v, -exponent);
  const double scaled_largest = std::ldexp(largest, -exponent);
  const Matrix f = inverse_gaps(scaled, gap_threshold * scaled_largest * scaled_largest);
  const Matrix x = u.transpose() * du;
  const Matrix y = vt * dvt.transpose();
  const Matrix j_part = antisymmetric_part_scaled(f, x);
  const Matrix k_part = antisymmetric_part_scaled(f, y);
  Matrix middle(k, k);
  for (Index i = 0; i < k; ++i) {
    const double si = scaled[static_cast<std::size_t>(i)];
    for (Index j = 0; j < k; ++j) {
      middle(i, j) = std::ldexp(j_part(i, j) * scaled[static_cast<std::size_t>(j)] + si * k_part(i, j), -exponent);
    }
    middle(i, i) += ds[static_cast<std::size_t>(i)];
  }
  Matrix da = u * middle * vt;
  const double smallest_inverted = inversion_threshold * largest;
  if (m > k) {
    Matrix t = du - u * x;
    divide_columns(t, s, smallest_inverted);
    da += t * vt;
  }
  if (n > k) {
    Matrix t = dvt.transpose() - vt.transpose() * y;
    divide_columns(t, s, smallest_inverted);
    da += u * t.transpose();
  }
  return da;
}

Matrix cholesky_backward(MatrixRef l, MatrixRef dl) {
  const Index n = l.rows();
  dense::expect_shape("cholesky_backward", "l", l, n, n);
  dense::expect_shape("cholesky_backward", "dl", dl, n, n);
  const Matrix p = l.transpose() * dl;
  Matrix phi = strictly_lower(p);
  phi.diagonal() = 0.5 * p.diagonal();
  const Matrix symmetric = phi + phi.transpose();
  const Matrix x = right_solve_lower(symmetric, l);
  return 0.5 * solve_upper_matrix(l.transpose(), x);
}

Matrix solve_upper_matrix(MatrixRef t, MatrixRef b) {
  const Index n = t.rows();
  dense::expect_shape("solve_upper_matrix", "t", t, n, n);
  dense::expect_shape("solve_upper_matrix", "b", b, n, b.cols());
  Matrix x(n, b.cols());
  for (Index c = 0; c < b.cols(); ++c) {
    for (Index i = n - 1; i >= 0; --i) {
      double sum = 0.0;
      for (Index j = i + 1; j < n; ++j) sum += t(i, j) * x(j, c);
      x(i, c) = t(i, i) == 0.0 ? 0.0 : (b(i, c) - sum) / t(i, i);
    }
  }
  return x;
}

Matrix right_solve_lower(MatrixRef b, MatrixRef lo) {
  return solve_upper_matrix(lo.transpose(), b.transpose()).transpose();
}

Matrix lu_backward(MatrixRef p, MatrixRef l, MatrixRef u, MatrixRef dl, MatrixRef du) {
  const Index n = l.rows();
  dense::expect_shape("lu_backward", "p", p, n, n);
  dense::expect_shape("lu_backward", "u", u, n, n);
  dense::expect_shape("lu_backward", "dl", dl, n, n);
  dense::expect_shape("lu_backward", "du", du, n, n);
  const Matrix below = strictly_lower(l.transpose() * strictly_lower(dl));
  const Matrix above = upper(upper(du) * u.transpose());
  const Matrix w = solve_upper_matrix(l.transpose(), below + above);
  return p.transpose() * right_solve_lower(w, u.transpose());
}

Matrix qr_backward(MatrixRef q, MatrixRef r, MatrixRef dq, MatrixRef dr) {
  dense::expect_shape("qr_backward", "dq", dq, q.rows(), q.cols());
  dense::expect_shape("qr_backward", "dr", dr, r.rows(), r.cols());
  const Index k = std::min(r.rows(), q.cols());
  const Matrix dr_upper = upper(take_rows(dr, k));
  const Matrix rk = take_cols(take_rows(r, k), k);
  const Matrix drk = take_cols(dr_upper, k);
  const Matrix qk = take_cols(q, k);
  const Matrix dqk = take_cols(dq, k);
  const Matrix m = rk * drk.transpose() - dqk.transpose() * qk;
  Matrix c(k, k);
  for (Index i = 0; i < k; ++i) {
    for (Index j = 0; j < k; ++j) c(i, j) = i >= j ? m(i, j) : m(j, i);
  }
  const Matrix xs = right_solve_lower(dqk + qk * c, rk.transpose());
  if (r.cols() <= k) return xs;
  Matrix da = Matrix::Zero(q.rows(), r.cols());
  da.leftCols(k) = xs;
  return da;
}

Matrix take_cols(MatrixRef a, Index c) {
  if (c < 0 || c > a.cols()) support::panic("take_cols: {} columns of a {}x{} matrix", c, a.rows(), a.cols());
  return a.leftCols(c);
}

Matrix take_rows(MatrixRef a, Index r) {
  if (r < 0 || r > a.rows()) support::panic("take_rows: {} rows of a {}x{} matrix", r, a.rows(), a.cols());
  return a.topRows(r);
}

}  // namespace ketra_autograd::tensor_ops::decomposition_backward
