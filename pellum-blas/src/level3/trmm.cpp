#include "pellum_blas/level3/trmm.hpp"

#include <cstddef>

#include "level3/detail/beta_scale.hpp"
#include "level3/detail/scratch.hpp"
#include "level3/detail/triangle.hpp"
#include "pellum_blas/level3/gemm.hpp"

namespace pellum_blas::level3::trmm {
namespace {

using detail::Triangle;

// op(A) as a full matrix: its triangle from A's stored one, the unit diagonal as 1, zeros
// elsewhere.
template <typename T>
detail::ScratchMatrix<T> expanded(const Triangle<T>& op) {
  const std::size_t n = op.order();
  detail::ScratchMatrix<T> full(n, n);
  for (std::size_t k = 0; k < n; ++k) {
    const detail::TriangleRows rows = detail::triangle_rows(op.upper, k, n);
    for (std::size_t i = rows.first; i < rows.end; ++i) full(i, k) = op.at(i, k);
  }
  return full;
}

template <typename T>
void product_path(bool right, const Triangle<T>& op, MatMut<T> b, T alpha) {
  const detail::ScratchMatrix<T> full = expanded(op);
  detail::ScratchMatrix<T> copy(b.nrows(), b.ncols());
  for (std::size_t j = 0; j < b.ncols(); ++j)
    for (std::size_t i = 0; i < b.nrows(); ++i) copy(i, j) = *b.ptr_at(i, j);
  // beta = 0 writes the product without reading B.
  const auto blocking = detail::triangular_blocking<T>();
  if (right)
    gemm::gemm_with_blocking(copy.view(), full.view(), b, alpha, T{0}, blocking);
  else
    gemm::gemm_with_blocking(full.view(), copy.view(), b, alpha, T{0}, blocking);
}

}  // namespace

template <typename T>
void trmm_left_naive(bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t m, std::size_t p,
                     T alpha) {
  detail::check_inside(m <= a.nrows() && m <= a.ncols() && m <= b.nrows() && p <= b.ncols());
  const Triangle<T> op(a, upper, trans, unit);
  for (std::size_t j = 0; j < p; ++j) {
    // Row i needs rows k >= i (op upper) or k <= i (op lower): finish it before those.
    for (std::size_t step = 0; step < m; ++step) {
      const std::size_t i = op.upper ? step : m - 1 - step;
      T s = 0;
      for (std::size_t k = op.upper ? i : 0; k < (op.upper ? m : i + 1); ++k) s += op.at(i, k) * *b.ptr_at(k, j);
      *b.ptr_at(i, j) = s * alpha;
    }
  }
}

template <typename T>
void trmm_right_naive(bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, std::size_t m, std::size_t p,
                      T alpha) {
  detail::check_inside(p <= a.nrows() && p <= a.ncols() && m <= b.nrows() && p <= b.ncols());
  const Triangle<T> op(a, upper, trans, unit);
  for (std::size_t i = 0; i < m; ++i) {
    // Column j needs columns k <= j (op upper) or k >= j (op lower): finish it before those.
    for (std::size_t step = 0; step < p; ++step) {
      const std::size_t j = op.upper ? p - 1 - step : step;
      T s = 0;
      for (std::size_t k = op.upper ? 0 : j; k < (op.upper ? j + 1 : p); ++k) s += *b.ptr_at(i, k) * op.at(k, j);
      *b.ptr_at(i, j) = s * alpha;
    }
  }
}

template <typename T>
BlasStatus trmm_in_place(bool right, bool upper, bool trans, bool unit, MatRef<T> a, MatMut<T> b, T alpha) {
  if (a.nrows() != a.ncols()) return std::unexpected(BlasError::NotSquare);
  const std::size_t n = a.nrows();
  if (n != (right ? b.ncols() : b.nrows())) return std::unexpected(BlasError::DimensionMismatch);
  if (b.nrows() == 0 || b.ncols() == 0) return {};
  if (alpha == 0) {
    detail::scale_by_beta(b, T{0});  // clears, whatever B held
    return {};
  }
  if (n <= direct_max_order) {
    if (right)
      trmm_right_naive(upper, trans, unit, a, b, b.nrows(), b.ncols(), alpha);
    else
      trmm_left_naive(upper, trans, unit, a, b, b.nrows(), b.ncols(), alpha);
    return {};
  }
  product_path(right, Triangle<T>(a, upper, trans, unit), b, alpha);
  return {};
}

template BlasStatus trmm_in_place<float>(bool, bool, bool, bool, MatRef<float>, MatMut<float>, float);
template BlasStatus trmm_in_place<double>(bool, bool, bool, bool, MatRef<double>, MatMut<double>, double);
template void trmm_left_naive<float>(bool, bool, bool, MatRef<float>, MatMut<float>, std::size_t, std::size_t, float);
template void trmm_left_naive<double>(bool, bool, bool, MatRef<double>, MatMut<double>, std::size_t, std::size_t,
                                      double);
template void trmm_right_naive<float>(bool, bool, bool, MatRef<float>, MatMut<float>, std::size_t, std::size_t, float);
template void trmm_right_naive<double>(bool, bool, bool, MatRef<double>, MatMut<double>, std::size_t, std::size_t,
                                       double);

}  // namespace pellum_blas::level3::trmm
