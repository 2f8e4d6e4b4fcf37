#include "ketra_autograd/tensor_ops/decomposition_ops/backward_ops.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <span>

#include <fmt/format.h>

#include "ketra_autograd/tensor_ops/decomposition_backward.hpp"
#include "ketra_autograd/tensor_ops/decomposition_ops/detail/backward_ops.hpp"

namespace ketra_autograd::tensor_ops::decomposition_ops::backward_ops {
namespace {

using dense::Index;
using error::OpError;
using ColumnMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::ColMajor>;

constexpr int max_svd_sweeps = 60;
constexpr double orthogonal_pair = 1e-15;  // relative |γ| of a pair counted as orthogonal
constexpr double zero_singular_value = 1e-300;
constexpr double degenerate_gap = 1e-7;  // relative to max(largest |s|, 1)
constexpr double epsilon = std::numeric_limits<double>::epsilon();

// Rotates columns i and j of x by (c, s) in place.
void rotate_columns(ColumnMatrix& x, Index i, Index j, double c, double s) {
  double* xi = x.col(i).data();
  double* xj = x.col(j).data();
  for (Index r = 0; r < x.rows(); ++r) {
    const double wi = xi[r];
    const double wj = xj[r];
    xi[r] = c * wi - s * wj;
    xj[r] = s * wi + c * wj;
  }
}

// One Hestenes step on the column pair (i, j) of w, mirrored into v; false when the pair
// is orthogonal already. NaN sums rotate.
bool orthogonalize_pair(ColumnMatrix& w, ColumnMatrix& v, Index i, Index j) {
  const double* wi = w.col(i).data();
  const double* wj = w.col(j).data();
  double alpha = 0.0;
  double beta = 0.0;
  double gamma = 0.0;
  for (Index r = 0; r < w.rows(); ++r) {
    alpha += wi[r] * wi[r];
    beta += wj[r] * wj[r];
    gamma += wi[r] * wj[r];
  }
  if (std::abs(gamma) <= orthogonal_pair * std::sqrt(alpha * beta)) return false;
  const double zeta = (beta - alpha) / (2.0 * gamma);
  const double sign = std::isnan(zeta) ? zeta : std::copysign(1.0, zeta);
  const double t = zeta == 0.0 ? 1.0 : sign / (std::abs(zeta) + std::sqrt(zeta * zeta + 1.0));
  const double c = 1.0 / std::sqrt(t * t + 1.0);
  const double s = t * c;
  rotate_columns(w, i, j, c, s);
  rotate_columns(v, i, j, c, s);
  return true;
}

// The scale exponent of a's largest magnitude, NaN ignored.
int scale_exponent(MatrixRef a) {
  double largest = 0.0;
  for (Index i = 0; i < a.rows(); ++i) {
    for (Index j = 0; j < a.cols(); ++j) largest = std::fmax(largest, std::abs(a(i, j)));
  }
  return dense::scale_exponent(largest);
}

double column_norm(const ColumnMatrix& w, Index i) {
  double sum = 0.0;
  for (Index r = 0; r < w.rows(); ++r) sum += w(r, i) * w(r, i);
  return std::sqrt(sum);
}

// A key whose signed order is IEEE 754 totalOrder: -NaN < -inf < … < -0 < +0 < … < +inf < +NaN.
std::int64_t total_order_key(double x) {
  const auto bits = std::bit_cast<std::int64_t>(x);
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

bool has_degenerate_singular_values(const std::vector<double>& s) {
  const double tolerance = std::fmax(dense::largest_magnitude_ignoring_nan(s), 1.0) * degenerate_gap;
  for (std::size_t i = 0; i < s.size(); ++i) {
    for (std::size_t j = i + 1; j < s.size(); ++j) {
      if (std::abs(s[i] - s[j]) < tolerance) return true;  // a NaN gap passes
    }
  }
  return false;
}

// Σ_{p<count} l(i, p)·l(j, p) in ascending p.
double row_prefix_dot(const Matrix& l, Index i, Index j, Index count) {
  double sum = 0.0;
  for (Index p = 0; p < count; ++p) sum += l(i, p) * l(j, p);
  return sum;
}

// g copied into the top-left corner of dst; what lies outside either is dropped.
void copy_clipped(const ArrayD& g, Matrix& dst) {
  const dense::MatrixView view = dense::as_matrix(g);
  const Index rows = std::min(view.rows(), dst.rows());
  const Index cols = std::min(view.cols(), dst.cols());
  dst.topLeftCorner(rows, cols) = view.topLeftCorner(rows, cols);
}

enum class GradientShape : std::uint8_t { Any, LikeA };

// The input checks of the Cholesky, LU and QR gradients: both inputs 2-D, A square, and
// G of A's shape where the factor has it.
std::optional<OpError> check_square_inputs(op::ComputeContext& ctx, std::string_view op, std::string_view g_name,
                                           GradientShape shape) {
  if (auto error = dense::require_2d(op, "A", ctx.input(0))) return error;
  if (auto error = dense::require_2d(op, g_name, ctx.input(1))) return error;
  if (auto error = dense::require_square(op, ctx.input(0))) return error;
  if (shape == GradientShape::Any) return std::nullopt;
  return dense::require_shape_of_a(op, g_name, ctx.input(1), ctx.input(0));
}

OpError qr_columns_error(const ArrayD& g, const char* comparison, const char* factor, Index n) {
  return OpError::incompatible_shape(fmt::format("QRExtractBackward: dG of shape {} has {} columns than {}'s {}",
                                                 g.shape_text(), comparison, factor, n));
}

}  // namespace

SvdFactors svd_jacobi_f64(MatrixRef a) {
  const Index m = a.rows();
  const Index n = a.cols();
  const Index k = std::min(m, n);
  // The columns are rotated at a power-of-two scale that puts the largest magnitude near
  // 1, so that no sum of squares overflows or underflows. Scaling by a power of two is
  // exact (for entries that stay normal numbers): rotations, U and V are those of the
  // unscaled matrix, and S is scaled back.
  const int exponent = scale_exponent(a);
  ColumnMatrix w = a.unaryExpr([exponent](double x) { return std::ldexp(x, -exponent); });
  ColumnMatrix v = ColumnMatrix::Identity(n, n);
  for (int sweep = 0; sweep < max_svd_sweeps; ++sweep) {
    bool rotated = false;
    for (Index i = 0; i < n; ++i) {
      for (Index j = i + 1; j < n; ++j) rotated = orthogonalize_pair(w, v, i, j) || rotated;
    }
    if (!rotated) break;
  }
  std::vector<double> sigma(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) sigma[static_cast<std::size_t>(i)] = column_norm(w, i);
  std::vector<Index> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), Index{0});
  std::stable_sort(order.begin(), order.end(), [&](Index x, Index y) {
    return total_order_key(sigma[static_cast<std::size_t>(x)]) > total_order_key(sigma[static_cast<std::size_t>(y)]);
  });

  SvdFactors f{Matrix::Zero(m, k), std::vector<double>(static_cast<std::size_t>(k)), Matrix(k, n)};
  for (Index r = 0; r < k; ++r) {
    const Index c = order[static_cast<std::size_t>(r)];
    const double sc = sigma[static_cast<std::size_t>(c)];
    f.s[static_cast<std::size_t>(r)] = std::ldexp(sc, exponent);
    if (f.s[static_cast<std::size_t>(r)] > zero_singular_value) f.u.col(r) = w.col(c) / sc;
    f.vt.row(r) = v.col(c).transpose();
  }
  return f;
}

std::expected<Matrix, OpError> cholesky_lower(MatrixRef a) {
  dense::expect_shape("cholesky_lower", "a", a, a.rows(), a.rows());
  const Index n = a.rows();
  Matrix l = Matrix::Zero(n, n);
  for (Index i = 0; i < n; ++i) {
    for (Index j = 0; j < i; ++j) {
      const double sum = row_prefix_dot(l, i, j, j);
      l(i, j) = l(j, j) == 0.0 ? 0.0 : (a(i, j) - sum) / l(j, j);
    }
    const double d = a(i, i) - row_prefix_dot(l, i, i, i);
    if (0.0 >= d) return std::unexpected(OpError::other("CholeskyBackward: matrix not positive definite"));
    l(i, i) = std::sqrt(d);
  }
  return l;
}

LuFactors lu_without_pivoting(MatrixRef a) {
  dense::expect_shape("lu_without_pivoting", "a", a, a.rows(), a.rows());
  const Index n = a.rows();
  LuFactors f{Matrix::Identity(n, n), a};
  Matrix& u = f.u;
  for (Index k = 0; k + 1 < n; ++k) {
    if (!(std::abs(u(k, k)) > epsilon)) continue;
    for (Index i = k + 1; i < n; ++i) {
      f.l(i, k) = u(i, k) / u(k, k);
      for (Index j = k; j < n; ++j) u(i, j) -= f.l(i, k) * u(k, j);
    }
  }
  for (Index i = 0; i < n; ++i) {
    for (Index j = 0; j < i; ++j) u(i, j) = 0.0;
  }
  return f;
}

QrFactors qr_gram_schmidt(MatrixRef a) {
  dense::expect_shape("qr_gram_schmidt", "a", a, a.rows(), a.rows());
  const Index n = a.rows();
  Matrix q(n, n);
  Eigen::VectorXd column(n);
  for (Index j = 0; j < n; ++j) {
    column = a.col(j);
    for (Index p = 0; p < j; ++p) {
      double d = 0.0;
      for (Index r = 0; r < n; ++r) d += q(r, p) * column(r);
      for (Index r = 0; r < n; ++r) column(r) -= d * q(r, p);
    }
    double squares = 0.0;
    for (Index r = 0; r < n; ++r) squares += column(r) * column(r);
    const double norm = std::sqrt(squares);
    if (norm > epsilon) column /= norm;
    q.col(j) = column;
  }
  Matrix r = q.transpose() * a;
  return QrFactors{std::move(q), std::move(r)};
}

op::ComputeResult SVDBackwardOp::compute(op::ComputeContext& ctx) const {
  const ArrayD& a = ctx.input(0);
  const ArrayD& g = ctx.input(1);
  if (auto error = dense::require_2d(op_name, "A", a)) return std::unexpected(std::move(*error));
  const SvdFactors f = svd_jacobi_f64(dense::as_matrix(a));
  const Index k = static_cast<Index>(f.s.size());
  if (component_ != 1 && k >= 2 && has_degenerate_singular_values(f.s)) {
    return std::unexpected(OpError::other(
        "SVD backward: repeated/degenerate singular values make the U/V gradient mathematically undefined; "
        "refusing to fabricate a gradient"));
  }
  Matrix du = Matrix::Zero(f.u.rows(), k);
  std::vector<double> ds(static_cast<std::size_t>(k), 0.0);
  Matrix dvt = Matrix::Zero(k, f.vt.cols());
  switch (component_) {
    case 0:
      if (auto error = dense::require_2d(op_name, "dU", g)) return std::unexpected(std::move(*error));
      copy_clipped(g, du);
      break;
    case 1:
      if (g.ndim() != 1) return std::unexpected(OpError::incompatible_shape(fmt::format("{}: dS must be 1D", op_name)));
      std::copy_n(g.data().begin(), std::min(g.len(), ds.size()), ds.begin());
      break;
    case 2:
      if (auto error = dense::require_2d(op_name, "dVt", g)) return std::unexpected(std::move(*error));
      copy_clipped(g, dvt);
      break;
    default: return std::unexpected(OpError::incompatible_shape(fmt::format("{}: invalid component", op_name)));
  }
  ctx.append_output(dense::to_array(decomposition_backward::svd_backward(f.u, f.s, f.vt, du, ds, dvt)));
  return {};
}

void SVDBackwardOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(1, std::nullopt); }

op::ComputeResult CholeskyBackwardOp::compute(op::ComputeContext& ctx) const {
  if (auto error = check_square_inputs(ctx, "CholeskyBackward", "dL", GradientShape::LikeA)) {
    return std::unexpected(std::move(*error));
  }
  const auto l = cholesky_lower(dense::as_matrix(ctx.input(0)));
  if (!l) return std::unexpected(l.error());
  ctx.append_output(dense::to_array(decomposition_backward::cholesky_backward(*l, dense::as_matrix(ctx.input(1)))));
  return {};
}

void CholeskyBackwardOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(1, std::nullopt); }

op::ComputeResult LUExtractBackwardOp::compute(op::ComputeContext& ctx) const {
  if (auto error = check_square_inputs(ctx, "LUExtractBackward", "dG", GradientShape::LikeA)) {
    return std::unexpected(std::move(*error));
  }
  const LuFactors f = lu_without_pivoting(dense::as_matrix(ctx.input(0)));
  const Index n = f.l.rows();
  Matrix dl = Matrix::Zero(n, n);
  Matrix du = Matrix::Zero(n, n);
  switch (component_) {
    case 1: dl = dense::as_matrix(ctx.input(1)); break;
    case 2: du = dense::as_matrix(ctx.input(1)); break;
    default: return std::unexpected(OpError::incompatible_shape("LUExtractBackward: invalid component"));
  }
  ctx.append_output(dense::to_array(decomposition_backward::lu_backward(Matrix::Identity(n, n), f.l, f.u, dl, du)));
  return {};
}

void LUExtractBackwardOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(1, std::nullopt); }

op::ComputeResult QRExtractBackwardOp::compute(op::ComputeContext& ctx) const {
  // G's rows are cut or padded, its columns checked against the chosen factor below.
  if (auto error = check_square_inputs(ctx, "QRExtractBackward", "dG", GradientShape::Any)) {
    return std::unexpected(std::move(*error));
  }
  const ArrayD& g = ctx.input(1);
  const QrFactors f = qr_gram_schmidt(dense::as_matrix(ctx.input(0)));
  const Index n = f.q.rows();
  const auto g_columns = static_cast<Index>(g.shape()[1]);
  Matrix dq = Matrix::Zero(n, n);
  Matrix dr = Matrix::Zero(n, n);
  switch (component_) {
    case 0:
      if (g_columns > n) return std::unexpected(qr_columns_error(g, "more", "Q", n));
      copy_clipped(g, dq);
      break;
    case 1:
      if (g_columns < n) return std::unexpected(qr_columns_error(g, "fewer", "R", n));
      copy_clipped(g, dr);
      break;
    default: return std::unexpected(OpError::incompatible_shape("QRExtractBackward: invalid component"));
  }
  ctx.append_output(dense::to_array(decomposition_backward::qr_backward(f.q, f.r, dq, dr)));
  return {};
}

void QRExtractBackwardOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(1, std::nullopt); }

}  // namespace ketra_autograd::tensor_ops::decomposition_ops::backward_ops
