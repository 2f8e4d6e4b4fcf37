// The exported vector functions: contiguous calls go to the level-1 kernels, strided ones
// run the plain loops below.
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "interface.hpp"
#include "pellum_blas/level1/asum.hpp"
#include "pellum_blas/level1/axpy.hpp"
#include "pellum_blas/level1/dot.hpp"
#include "pellum_blas/level1/scal.hpp"

namespace pellum_blas::cblas {
namespace {

template <typename T>
std::span<T> contiguous(T* x, std::int32_t n) {
  return {x, static_cast<std::size_t>(n)};
}

template <typename T>
T dot(std::int32_t n, const T* x, std::int32_t incx, const T* y, std::int32_t incy) {
  if (n <= 0) return 0;
  if (incx == 1 && incy == 1) return level1::dot::dot(contiguous(x, n), contiguous(y, n));
  const Strided<const T> xs(x, n, incx), ys(y, n, incy);
  T s = 0;
  for (std::ptrdiff_t i = 0; i < n; ++i) s = xs[i] * ys[i] + s;
  return s;
}

// conjugate: x is conjugated. Increments count complex elements.
template <typename T>
void complex_dot(std::int32_t n, const void* x, std::int32_t incx, const void* y, std::int32_t incy, void* result,
                 bool conjugate) {
  T re = 0, im = 0;
  if (n > 0) {
    const Strided<const T> xs(static_cast<const T*>(x), n, 2 * std::ptrdiff_t{incx});
    const Strided<const T> ys(static_cast<const T*>(y), n, 2 * std::ptrdiff_t{incy});
    for (std::ptrdiff_t i = 0; i < n; ++i) {
      const T xr = xs.at(i)[0], xi = xs.at(i)[1], yr = ys.at(i)[0], yi = ys.at(i)[1];
      if (conjugate) {
        re = re + (xr * yr + xi * yi);
        im = im + (xr * yi - xi * yr);
      } else {
        re = re + (xr * yr - xi * yi);
        im = im + (xr * yi + xi * yr);
      }
    }
  }
  T* out = static_cast<T*>(result);
  out[0] = re;
  out[1] = im;
}

// One scaled sum of squares for every increment: no intermediate overflow or underflow.
// NaN anywhere gives NaN, otherwise an infinity anywhere gives +inf.
template <typename T>
T nrm2(std::int32_t n, const T* x, std::int32_t incx) {
  if (n <= 0) return 0;
  const Strided<const T> xs(x, n, incx);
  T scale = 0, ssq = 1;
  bool infinite = false;
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    const T value = xs[i];
    if (std::isnan(value)) return std::numeric_limits<T>::quiet_NaN();
    if (value == 0) continue;
    const T a = std::fabs(value);
    if (std::isinf(a)) {
      infinite = true;
    } else if (a > scale) {
      const T r = scale / a;
      ssq = (ssq * r) * r + 1;
      scale = a;
    } else {
      const T r = a / scale;
      ssq = ssq + r * r;
    }
  }
  if (infinite) return std::numeric_limits<T>::infinity();
  return std::sqrt(ssq) * scale;
}

template <typename T>
T asum(std::int32_t n, const T* x, std::int32_t incx) {
  if (n <= 0) return 0;
  if (incx == 1) return level1::asum::asum(contiguous(x, n));
  const Strided<const T> xs(x, n, incx);
  T s = 0;
  for (std::ptrdiff_t i = 0; i < n; ++i) s = std::fabs(xs[i]) + s;
  return s;
}

// The first of equal maxima wins and a NaN never does (comparisons with it are false).
template <typename T>
CBLAS_INDEX iamax(std::int32_t n, const T* x, std::int32_t incx) {
  if (n <= 1) return 0;
  const Strided<const T> xs(x, n, incx);
  T best = std::fabs(xs[0]);
  CBLAS_INDEX index = 0;
  for (std::ptrdiff_t i = 1; i < n; ++i) {
    const T a = std::fabs(xs[i]);
    if (a > best) {
      best = a;
      index = static_cast<CBLAS_INDEX>(i);
    }
  }
  return index;
}

template <typename T>
void swap(std::int32_t n, T* x, std::int32_t incx, T* y, std::int32_t incy) {
  if (n <= 0) return;
  const Strided<T> xs(x, n, incx), ys(y, n, incy);
  for (std::ptrdiff_t i = 0; i < n; ++i) std::swap(xs[i], ys[i]);
}

template <typename T>
void copy(std::int32_t n, const T* x, std::int32_t incx, T* y, std::int32_t incy) {
  if (n <= 0) return;
  if (incx == 1 && incy == 1) {
    std::memmove(y, x, static_cast<std::size_t>(n) * sizeof(T));  // overlap is allowed
    return;
  }
  const Strided<const T> xs(x, n, incx);
  const Strided<T> ys(y, n, incy);
  for (std::ptrdiff_t i = 0; i < n; ++i) ys[i] = xs[i];
}

// The contiguous kernel skips alpha = 0; the strided loop does not, so NaN in x reaches y.
template <typename T>
void axpy(std::int32_t n, T alpha, const T* x, std::int32_t incx, T* y, std::int32_t incy) {
  if (n <= 0) return;
  if (incx == 1 && incy == 1) return level1::axpy::axpy(alpha, contiguous(x, n), contiguous(y, n));
  const Strided<const T> xs(x, n, incx);
  const Strided<T> ys(y, n, incy);
  for (std::ptrdiff_t i = 0; i < n; ++i) ys[i] = xs[i] * alpha + ys[i];
}

// The contiguous kernel clears for alpha = 0; the strided loop multiplies.
template <typename T>
void scal(std::int32_t n, T alpha, T* x, std::int32_t incx) {
  if (n <= 0) return;
  if (incx == 1) return level1::scal::scal(alpha, contiguous(x, n));
  const Strided<T> xs(x, n, incx);
  for (std::ptrdiff_t i = 0; i < n; ++i) xs[i] = xs[i] * alpha;
}

}  // namespace
}  // namespace pellum_blas::cblas

using namespace pellum_blas::cblas;

extern "C" {

float cblas_sdot(int32_t N, const float* X, int32_t incX, const float* Y, int32_t incY) noexcept {
  return without_unwinding([&] { return dot(N, X, incX, Y, incY); });
}
double cblas_ddot(int32_t N, const double* X, int32_t incX, const double* Y, int32_t incY) noexcept {
  return without_unwinding([&] { return dot(N, X, incX, Y, incY); });
}
void cblas_cdotu_sub(int32_t N, const void* X, int32_t incX, const void* Y, int32_t incY, void* dotu) noexcept {
  without_unwinding([&] { complex_dot<float>(N, X, incX, Y, incY, dotu, false); });
}
void cblas_zdotu_sub(int32_t N, const void* X, int32_t incX, const void* Y, int32_t incY, void* dotu) noexcept {
  without_unwinding([&] { complex_dot<double>(N, X, incX, Y, incY, dotu, false); });
}
void cblas_cdotc_sub(int32_t N, const void* X, int32_t incX, const void* Y, int32_t incY, void* dotc) noexcept {
  without_unwinding([&] { complex_dot<float>(N, X, incX, Y, incY, dotc, true); });
}
void cblas_zdotc_sub(int32_t N, const void* X, int32_t incX, const void* Y, int32_t incY, void* dotc) noexcept {
  without_unwinding([&] { complex_dot<double>(N, X, incX, Y, incY, dotc, true); });
}
float cblas_snrm2(int32_t N, const float* X, int32_t incX) noexcept {
  return without_unwinding([&] { return nrm2(N, X, incX); });
}
double cblas_dnrm2(int32_t N, const double* X, int32_t incX) noexcept {
  return without_unwinding([&] { return nrm2(N, X, incX); });
}
float cblas_sasum(int32_t N, const float* X, int32_t incX) noexcept {
  return without_unwinding([&] { return asum(N, X, incX); });
}
double cblas_dasum(int32_t N, const double* X, int32_t incX) noexcept {
  return without_unwinding([&] { return asum(N, X, incX); });
}
CBLAS_INDEX cblas_isamax(int32_t N, const float* X, int32_t incX) noexcept {
  return without_unwinding([&] { return iamax(N, X, incX); });
}
CBLAS_INDEX cblas_idamax(int32_t N, const double* X, int32_t incX) noexcept {
  return without_unwinding([&] { return iamax(N, X, incX); });
}
void cblas_sswap(int32_t N, float* X, int32_t incX, float* Y, int32_t incY) noexcept {
  without_unwinding([&] { swap(N, X, incX, Y, incY); });
}
void cblas_dswap(int32_t N, double* X, int32_t incX, double* Y, int32_t incY) noexcept {
  without_unwinding([&] { swap(N, X, incX, Y, incY); });
}
void cblas_scopy(int32_t N, const float* X, int32_t incX, float* Y, int32_t incY) noexcept {
  without_unwinding([&] { copy(N, X, incX, Y, incY); });
}
void cblas_dcopy(int32_t N, const double* X, int32_t incX, double* Y, int32_t incY) noexcept {
  without_unwinding([&] { copy(N, X, incX, Y, incY); });
}
void cblas_saxpy(int32_t N, float alpha, const float* X, int32_t incX, float* Y, int32_t incY) noexcept {
  without_unwinding([&] { axpy(N, alpha, X, incX, Y, incY); });
}
void cblas_daxpy(int32_t N, double alpha, const double* X, int32_t incX, double* Y, int32_t incY) noexcept {
  without_unwinding([&] { axpy(N, alpha, X, incX, Y, incY); });
}
void cblas_sscal(int32_t N, float alpha, float* X, int32_t incX) noexcept {
  without_unwinding([&] { scal(N, alpha, X, incX); });
}
void cblas_dscal(int32_t N, double alpha, double* X, int32_t incX) noexcept {
  without_unwinding([&] { scal(N, alpha, X, incX); });
}

}  // extern "C"
