// The exported matrix-vector product y <- alpha·op(A)·x + beta·y.
#include <algorithm>

#include "gemv_rows.hpp"
#include "interface.hpp"

namespace pellum_blas::cblas {
namespace {

// Every step of y_i is ((a_ij·alpha)·x_j) + y_i with j ascending. The loop order only
// follows A's memory: each y_i sees the same operations in the same order either way.
template <typename T>
void gemv(std::int32_t layout, std::int32_t trans_a, std::int32_t m, std::int32_t n, T alpha, const T* a,
          std::int32_t lda, const T* x, std::int32_t incx, T beta, T* y, std::int32_t incy) {
  if (m <= 0 || n <= 0) return;
  const bool row_major = layout == CblasRowMajor;
  if (!leading_dimension_fits(lda, static_cast<std::size_t>(row_major ? n : m))) return;
  const bool transposed = trans_a != CblasNoTrans;
  const std::int32_t ny = transposed ? n : m, nx = transposed ? m : n;
  // a_ij = a[i·step_i + j·step_j]
  const bool rows_contiguous = row_major == transposed;
  const std::ptrdiff_t step_i = rows_contiguous ? 1 : lda, step_j = rows_contiguous ? lda : 1;
  const Strided<const T> xs(x, nx, incx);
  const Strided<T> ys(y, ny, incy);

  for (std::ptrdiff_t i = 0; i < ny; ++i) ys[i] = beta == 0 ? T{0} : ys[i] * beta;

  // With incy = 0 every y_i is one element, so only the row-by-row order is faithful.
  if (incy == 0) {
    for (std::ptrdiff_t i = 0; i < ny; ++i) {
      const T* row = a + i * step_i;
      T yi = ys[i];
      for (std::ptrdiff_t j = 0; j < nx; ++j) yi = (row[j * step_j] * alpha) * xs[j] + yi;
      ys[i] = yi;
    }
    return;
  }
  if (!rows_contiguous) {
    add_row_products(a, static_cast<std::size_t>(lda), static_cast<std::size_t>(ny), static_cast<std::size_t>(nx),
                     alpha, xs.at(0), incx, ys.at(0), incy);
    return;
  }
  for (std::ptrdiff_t j = 0; j < nx; ++j) {
    const T xj = xs[j];
    const T* column = a + j * step_j;
    for (std::ptrdiff_t i = 0; i < ny; ++i) ys[i] = (column[i] * alpha) * xj + ys[i];
  }
}

}  // namespace
}  // namespace pellum_blas::cblas

using namespace pellum_blas::cblas;

extern "C" {

void cblas_sgemv(int32_t Layout, int32_t TransA, int32_t M, int32_t N, float alpha, const float* A, int32_t lda,
                 const float* X, int32_t incX, float beta, float* Y, int32_t incY) noexcept {
  without_unwinding([&] { gemv(Layout, TransA, M, N, alpha, A, lda, X, incX, beta, Y, incY); });
}
void cblas_dgemv(int32_t Layout, int32_t TransA, int32_t M, int32_t N, double alpha, const double* A, int32_t lda,
                 const double* X, int32_t incX, double beta, double* Y, int32_t incY) noexcept {
  without_unwinding([&] { gemv(Layout, TransA, M, N, alpha, A, lda, X, incX, beta, Y, incY); });
}

}  // extern "C"
