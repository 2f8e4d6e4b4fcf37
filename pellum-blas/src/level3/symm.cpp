#include "pellum_blas/level3/symm.hpp"

#include <algorithm>
#include <cstddef>

#include "level3/detail/scratch.hpp"
#include "level3/detail/triangle.hpp"
#include "pellum_blas/level3/gemm.hpp"

namespace pellum_blas::level3::symm {
namespace {

// Element (i, k) of the symmetric matrix, read from the stored triangle only.
template <typename T>
T symmetric_at(MatRef<T> a, bool upper, std::size_t i, std::size_t k) {
  const std::size_t lo = std::min(i, k), hi = std::max(i, k);
  return upper ? *a.ptr_at(lo, hi) : *a.ptr_at(hi, lo);
}

template <typename T>
void direct(bool right, bool upper, MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta) {
  const std::size_t n = a.nrows();
  for (std::size_t j = 0; j < c.ncols(); ++j)
    for (std::size_t i = 0; i < c.nrows(); ++i) {
      T s = 0;
      for (std::size_t k = 0; k < n; ++k)
        s += right ? *b.ptr_at(i, k) * symmetric_at(a, upper, k, j) : symmetric_at(a, upper, i, k) * *b.ptr_at(k, j);
      T& out = *c.ptr_at(i, j);
      out = beta == 0 ? s * alpha : out * beta + s * alpha;
    }
}

// A expanded into a full square copy from its stored triangle.
template <typename T>
detail::ScratchMatrix<T> full_copy(MatRef<T> a, bool upper) {
  const std::size_t n = a.nrows();
  detail::ScratchMatrix<T> full(n, n);
  for (std::size_t k = 0; k < n; ++k) {
    const detail::TriangleRows rows = detail::triangle_rows(upper, k, n);
    for (std::size_t i = rows.first; i < rows.end; ++i) full(i, k) = full(k, i) = *a.ptr_at(i, k);
  }
  return full;
}

}  // namespace

template <typename T>
BlasStatus symm(bool right, bool upper, MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta) {
  if (a.nrows() != a.ncols()) return std::unexpected(BlasError::NotSquare);
  const std::size_t n = a.nrows();
  if (n != (right ? c.ncols() : c.nrows()) || b.nrows() != c.nrows() || b.ncols() != c.ncols())
    return std::unexpected(BlasError::DimensionMismatch);
  if (c.nrows() == 0 || c.ncols() == 0) return {};
  if (n <= direct_max_order) {
    direct(right, upper, a, b, c, alpha, beta);
    return {};
  }
  const detail::ScratchMatrix<T> full = full_copy(a, upper);
  if (right)
    gemm::gemm_with_par(b, full.view(), c, alpha, beta);
  else
    gemm::gemm_with_par(full.view(), b, c, alpha, beta);
  return {};
}

template BlasStatus symm<float>(bool, bool, MatRef<float>, MatRef<float>, MatMut<float>, float, float);
template BlasStatus symm<double>(bool, bool, MatRef<double>, MatRef<double>, MatMut<double>, double, double);

}  // namespace pellum_blas::level3::symm
