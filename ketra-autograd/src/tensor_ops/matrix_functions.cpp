#include "ketra_autograd/tensor_ops/matrix_functions.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "ketra_autograd/tensor_ops/detail/matrix_functions.hpp"
#include "support/number_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::matrix_functions {
namespace {

using error::OpError;

constexpr int max_eigh_sweeps = 200;
constexpr double eigh_tolerance = 1e-28;    // relative to the squared Frobenius norm
constexpr double negligible_pair = 1e-300;  // |a_pq| below it: the pair is not rotated
constexpr double symmetry_tolerance = 1e-8;
constexpr double tiny_norm = 1e-300;         // below it asymmetry stays absolute
constexpr double close_eigenvalues = 1e-12;  // relative gap of a confluent divided difference
constexpr double negligible_power = 1e-300;  // powers of magnitudes at or below it are 0
constexpr double singular_pivot = 1e-300;

// The largest magnitude of a, NaN when a holds a NaN.
double largest_magnitude(MatrixRef a) {
  double largest = 0.0;
  for (Index i = 0; i < a.rows(); ++i) {
    for (Index j = 0; j < a.cols(); ++j) {
      const double m = std::abs(a(i, j));
      if (std::isnan(m)) return m;
      largest = std::max(largest, m);
    }
  }
  return largest;
}

// Σ (a_ij / scale)² over every entry, or over the upper off-diagonal ones only.
double scaled_squares(MatrixRef a, double scale, bool upper_off_diagonal_only) {
  double sum = 0.0;
  for (Index i = 0; i < a.rows(); ++i) {
    for (Index j = upper_off_diagonal_only ? i + 1 : 0; j < a.cols(); ++j) {
      const double x = a(i, j) / scale;
      sum += x * x;
    }
  }
  return sum;
}

// One Jacobi rotation annihilating w(p, q), applied to w and accumulated into v.
void rotate_pair(Matrix& w, Matrix& v, Index p, Index q) {
  const double apq = w(p, q);
  if (std::abs(apq) < negligible_pair) return;
  const double theta = (w(q, q) - w(p, p)) / (2.0 * apq);
  const double root = std::sqrt(theta * theta + 1.0);
  const double t = theta >= 0.0 ? 1.0 / (theta + root) : 1.0 / (theta - root);
  w(p, p) = w(p, p) - t * apq;
  w(q, q) = w(q, q) + t * apq;
  w(p, q) = 0.0;
  w(q, p) = 0.0;
  const double c = 1.0 / std::sqrt(t * t + 1.0);
  const double s = t * c;
  for (Index r = 0; r < w.rows(); ++r) {
    if (r == p || r == q) continue;
    const double wrp = w(r, p);
    const double wrq = w(r, q);
    w(r, p) = w(p, r) = c * wrp - s * wrq;
    w(r, q) = w(q, r) = s * wrp + c * wrq;
  }
  for (Index k = 0; k < v.rows(); ++k) {
    const double vkp = v(k, p);
    const double vkq = v(k, q);
    v(k, p) = c * vkp - s * vkq;
    v(k, q) = s * vkp + c * vkq;
  }
}

// V·(L ∘ (Vᵀ·g·V))·Vᵀ with L[i][j] = difference(λi, λj): the gradient of a spectral
// function whose first divided differences are `difference`.
template <typename Difference>
Matrix daleckii_krein(const Eigenpairs& e, MatrixRef g, Difference&& difference) {
  const Matrix& v = e.vectors;
  Matrix h = matmul_f64(matmul_f64(transpose_f64(v), g), v);
  for (Index i = 0; i < h.rows(); ++i) {
    for (Index j = 0; j < h.cols(); ++j) {
      h(i, j) = difference(e.values[static_cast<std::size_t>(i)], e.values[static_cast<std::size_t>(j)]) * h(i, j);
    }
  }
  return matmul_f64(matmul_f64(v, h), transpose_f64(v));
}

double pow_or_zero(double x, double p) { return std::abs(x) > negligible_power ? std::pow(x, p) : 0.0; }

// The checks every matrix-function gradient makes before its own: both inputs of rank 2,
// G of A's shape.
std::optional<OpError> check_inputs(op::ComputeContext& ctx, std::string_view op, std::string_view g_name) {
  if (auto error = dense::require_2d(op, "A", ctx.input(0))) return error;
  if (auto error = dense::require_2d(op, g_name, ctx.input(1))) return error;
  return dense::require_shape_of_a(op, g_name, ctx.input(1), ctx.input(0));
}

// The logarithm's and the power's compute: the shared checks, the symmetry check with its
// message, then the spectral routine on (A, G).
template <typename Routine>
op::ComputeResult symmetric_spectral_gradient(op::ComputeContext& ctx, std::string_view op, const char* not_symmetric,
                                              Routine&& routine) {
  if (auto error = check_inputs(ctx, op, "dB")) return std::unexpected(std::move(*error));
  const dense::MatrixView a = dense::as_matrix(ctx.input(0));
  if (!is_symmetric_f64(a)) return std::unexpected(OpError::other(not_symmetric));
  ctx.append_output(dense::to_array(routine(a, dense::as_matrix(ctx.input(1)))));
  return {};
}

}  // namespace

Matrix matmul_f64(MatrixRef a, MatrixRef b) {
  if (b.rows() < a.cols()) {
    support::panic("matmul_f64: {}x{} times {}x{}: too few rows on the right", a.rows(), a.cols(), b.rows(), b.cols());
  }
  Matrix c(a.rows(), b.cols());
  for (Index i = 0; i < a.rows(); ++i) {
    for (Index j = 0; j < b.cols(); ++j) {
      double sum = 0.0;
      for (Index l = 0; l < a.cols(); ++l) sum += a(i, l) * b(l, j);
      c(i, j) = sum;
    }
  }
  return c;
}

Matrix transpose_f64(MatrixRef a) { return a.transpose(); }

bool is_symmetric_f64(MatrixRef a) {
  if (a.rows() != a.cols()) return false;
  if (a.rows() == 0) return true;
  double squares = 0.0;
  double asymmetry = 0.0;
  for (Index i = 0; i < a.rows(); ++i) {
    for (Index j = 0; j < a.cols(); ++j) {
      squares += a(i, j) * a(i, j);
      if (i < j) asymmetry += (a(i, j) - a(j, i)) * (a(i, j) - a(j, i));
    }
  }
  // A NaN only on the diagonal leaves the asymmetry finite; the norm carries it.
  if (std::isnan(squares)) return false;
  const double norm = std::sqrt(squares);
  double d = std::sqrt(2.0 * asymmetry);
  if (norm > tiny_norm) d /= norm;
  return d < symmetry_tolerance;
}

Eigenpairs jacobi_eigh(MatrixRef a) {
  dense::expect_shape("jacobi_eigh", "a", a, a.rows(), a.rows());
  const Index n = a.rows();
  Matrix w = a;
  Matrix v = Matrix::Identity(n, n);
  // Squares are measured in units of the largest magnitude, so neither overflow nor
  // underflow decides when to stop; the Frobenius norm does not change under rotations.
  const double scale = largest_magnitude(a);
  if (scale != 0.0) {  // the zero matrix is diagonal already
    const double limit = eigh_tolerance * scaled_squares(a, scale, false);
    for (int sweep = 0; sweep < max_eigh_sweeps; ++sweep) {
      if (scaled_squares(w, scale, true) < limit) break;
      for (Index p = 0; p + 1 < n; ++p) {
        for (Index q = p + 1; q < n; ++q) rotate_pair(w, v, p, q);
      }
    }
  }
  Eigenpairs result{std::vector<double>(static_cast<std::size_t>(n)), std::move(v)};
  for (Index i = 0; i < n; ++i) result.values[static_cast<std::size_t>(i)] = w(i, i);
  return result;
}

std::expected<Eigenpairs, OpError> spd_eigenpairs(MatrixRef a) {
  if (!is_symmetric_f64(a)) return std::unexpected(OpError::other("sqrtm backward: input matrix is not symmetric"));
  Eigenpairs e = jacobi_eigh(a);
  for (double lambda : e.values) {
    if (lambda <= 0.0) {
      return std::unexpected(OpError::other("sqrtm backward: non-positive eigenvalue " + support::exponent6(lambda) +
                                            "; input must be SPD"));
    }
  }
  return e;
}

std::expected<Matrix, OpError> sqrtm_spd_f64(MatrixRef a) {
  const auto e = spd_eigenpairs(a);
  if (!e) return std::unexpected(e.error());
  Matrix scaled = e->vectors;
  for (Index j = 0; j < scaled.cols(); ++j) scaled.col(j) *= std::sqrt(e->values[static_cast<std::size_t>(j)]);
  return matmul_f64(scaled, transpose_f64(e->vectors));
}

Matrix logm_daleckii_krein(MatrixRef a, MatrixRef g) {
  constexpr double smallest_normal = std::numeric_limits<double>::min();
  return daleckii_krein(jacobi_eigh(a), g, [](double lambda_i, double lambda_j) {
    const double li = std::fmax(lambda_i, smallest_normal);  // NaN becomes the bound too
    const double lj = std::fmax(lambda_j, smallest_normal);
    if (std::abs(li - lj) < close_eigenvalues * (li + lj + 1.0)) return 1.0 / li;
    return (std::log(li) - std::log(lj)) / (li - lj);
  });
}

Matrix powm_spectral_backward(MatrixRef a, MatrixRef g, double p) {
  return daleckii_krein(jacobi_eigh(a), g, [p](double li, double lj) {
    if (std::abs(li - lj) < close_eigenvalues * (std::abs(li) + std::abs(lj) + 1.0)) {
      return std::abs(li) > negligible_power ? p * std::pow(li, p - 1.0) : 0.0;
    }
    return (pow_or_zero(li, p) - pow_or_zero(lj, p)) / (li - lj);
  });
}

Matrix sqrtm_spectral_backward(const Eigenpairs& eigenpairs, MatrixRef g) {
  // (√λi − √λj) / (λi − λj) = 1 / (√λi + √λj): the Sylvester operator is diagonal in
  // the eigenbasis.
  return daleckii_krein(eigenpairs, g, [](double li, double lj) { return 1.0 / (std::sqrt(li) + std::sqrt(lj)); });
}

std::expected<Matrix, OpError> solve_sylvester_local(MatrixRef a, MatrixRef b, MatrixRef c) {
  const Index n = a.rows();
  const Index m = b.rows();
  dense::expect_shape("solve_sylvester_local", "a", a, n, n);
  dense::expect_shape("solve_sylvester_local", "b", b, m, m);
  dense::expect_shape("solve_sylvester_local", "c", c, n, m);
  const Index size = n * m;
  // Unknowns column-major: x[k·n + t] = X[t][k]. Row i of `system` is (K[i][·], rhs[i]),
  // K = I_m ⊗ a + bᵀ ⊗ I_n.
  Matrix system = Matrix::Zero(size, size + 1);
  for (Index i = 0; i < m; ++i) {
    for (Index r = 0; r < n; ++r) {
      for (Index col = 0; col < n; ++col) system(i * n + r, i * n + col) += a(r, col);
    }
  }
  for (Index k = 0; k < m; ++k) {
    for (Index j = 0; j < m; ++j) {
      for (Index t = 0; t < n; ++t) system(k * n + t, j * n + t) += b(j, k);
    }
  }
  for (Index k = 0; k < m; ++k) {
    for (Index t = 0; t < n; ++t) system(k * n + t, size) = c(t, k);
  }
  for (Index col = 0; col < size; ++col) {
    Index pivot = col;
    for (Index r = col + 1; r < size; ++r) {
      if (std::abs(system(r, col)) > std::abs(system(pivot, col))) pivot = r;
    }
    if (pivot != col) system.row(col).swap(system.row(pivot));
    const double p = system(col, col);
    if (std::abs(p) < singular_pivot) return std::unexpected(OpError::other("Sylvester: singular coefficient matrix"));
    for (Index j = col; j <= size; ++j) system(col, j) /= p;
    for (Index r = 0; r < size; ++r) {
      if (r == col) continue;
      const double f = system(r, col);
      for (Index j = col; j <= size; ++j) system(r, j) -= system(col, j) * f;
    }
  }
  Matrix x(n, m);
  for (Index k = 0; k < m; ++k) {
    for (Index t = 0; t < n; ++t) x(t, k) = system(k * n + t, size);
  }
  return x;
}

op::ComputeResult MatrixLogBackwardOp::compute(op::ComputeContext& ctx) const {
  return symmetric_spectral_gradient(
      ctx, op_name,
      "logm backward: spectral VJP requires a symmetric input; non-symmetric matrix-log gradient is not implemented",
      [](MatrixRef a, MatrixRef g) { return logm_daleckii_krein(a, g); });
}

void MatrixLogBackwardOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(1, std::nullopt); }

op::ComputeResult MatrixPowBackwardOp::compute(op::ComputeContext& ctx) const {
  return symmetric_spectral_gradient(
      ctx, op_name,
      "powm backward: spectral VJP requires a symmetric input; non-symmetric matrix-power gradient is not implemented",
      [this](MatrixRef a, MatrixRef g) { return powm_spectral_backward(a, g, p_); });
}

void MatrixPowBackwardOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(1, std::nullopt); }

op::ComputeResult MatrixSqrtBackwardOp::compute(op::ComputeContext& ctx) const {
  if (auto error = check_inputs(ctx, op_name, "dS")) return std::unexpected(std::move(*error));
  const dense::MatrixView a = dense::as_matrix(ctx.input(0));
  const dense::MatrixView g = dense::as_matrix(ctx.input(1));
  if (a.rows() > dense_sylvester_max_order) {
    const auto e = spd_eigenpairs(a);
    if (!e) return std::unexpected(e.error());
    ctx.append_output(dense::to_array(sqrtm_spectral_backward(*e, g)));
    return {};
  }
  const auto s = sqrtm_spd_f64(a);
  if (!s) return std::unexpected(s.error());
  const auto x = solve_sylvester_local(*s, *s, g);
  if (!x) return std::unexpected(x.error());
  ctx.append_output(dense::to_array(*x));
  return {};
}

void MatrixSqrtBackwardOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(1, std::nullopt); }

}  // namespace ketra_autograd::tensor_ops::matrix_functions
