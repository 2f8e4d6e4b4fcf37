// The rows of the matrix-vector product, vectorised across rows: a pass loads one vector
// of each of its rows at columns j … j+L−1, forms the products (a·alpha)·x there, and
// transposes them in registers, so that one vector add per column j advances every row's
// sum by its own next term. The sums keep their order and their roundings; compiled once
// per instruction set.
#include <algorithm>
#include <cstring>

#include "detail/register_transpose.hpp"
#include "gemv_rows.hpp"
#include "level3/detail/simd_width.hpp"

namespace pellum_blas::cblas {
namespace {

// Rows, and so independent sums, that one pass aims to keep in flight.
constexpr std::size_t rows_in_flight = 16;

// One row by itself: the plain loop.
template <typename T>
void single_row(const T* row, std::size_t nx, T alpha, const T* x, std::ptrdiff_t incx, T* y) {
  T sum = *y;
  for (std::size_t j = 0; j < nx; ++j) sum = (row[j] * alpha) * x[static_cast<std::ptrdiff_t>(j) * incx] + sum;
  *y = sum;
}

// Groups·L rows at once, L the lanes of a Bytes-wide vector; each group of L rows has one
// accumulator vector, lane r holding the sum of row r.
template <typename T, std::size_t Bytes, std::size_t Groups>
[[gnu::always_inline]] inline void rows_pass(const T* a, std::size_t lda, std::size_t nx, T alpha, const T* x,
                                             std::ptrdiff_t incx, T* y, std::ptrdiff_t incy) {
  typedef T V __attribute__((vector_size(Bytes)));
  constexpr std::size_t L = Bytes / sizeof(T);
  T lanes[Groups * L];
  for (std::size_t r = 0; r < Groups * L; ++r) lanes[r] = y[static_cast<std::ptrdiff_t>(r) * incy];
  V acc[Groups];
  std::memcpy(acc, lanes, sizeof acc);
  V alpha_v;  // alpha in every lane (not 0 + alpha, which turns -0 into +0)
  for (std::size_t l = 0; l < L; ++l) alpha_v[l] = alpha;
  std::size_t j = 0;
  for (; j + L <= nx; j += L) {
    V xv;
    if (incx == 1) {
      std::memcpy(&xv, x + j, Bytes);
    } else {
      T xs[L];
      for (std::size_t q = 0; q < L; ++q) xs[q] = x[static_cast<std::ptrdiff_t>(j + q) * incx];
      std::memcpy(&xv, xs, Bytes);
    }
#pragma GCC unroll 4
    for (std::size_t g = 0; g < Groups; ++g) {
      V v[L];
#pragma GCC unroll 16
      for (std::size_t r = 0; r < L; ++r) {
        std::memcpy(&v[r], a + (g * L + r) * lda + j, Bytes);
        v[r] = (v[r] * alpha_v) * xv;
      }
      pellum_blas::detail::transpose_in_registers(v);
#pragma GCC unroll 16
      for (std::size_t q = 0; q < L; ++q) acc[g] = acc[g] + v[q];  // column j + q, in order
    }
  }
  std::memcpy(lanes, acc, sizeof acc);
  for (std::size_t r = 0; r < Groups * L; ++r) {
    T* yr = y + static_cast<std::ptrdiff_t>(r) * incy;
    *yr = lanes[r];
    single_row(a + r * lda + j, nx - j, alpha, x + static_cast<std::ptrdiff_t>(j) * incx, incx, yr);
  }
}

// Passes of Groups·L rows while that many are left, then single-group passes of ever
// narrower vectors (down to 16 bytes) and the last few rows one by one.
template <typename T, std::size_t Bytes, std::size_t Groups>
[[gnu::always_inline]] inline void add_rows(const T* a, std::size_t lda, std::size_t rows, std::size_t nx, T alpha,
                                            const T* x, std::ptrdiff_t incx, T* y, std::ptrdiff_t incy) {
  constexpr std::size_t pass_rows = Groups * (Bytes / sizeof(T));
  std::size_t i = 0;
  for (; i + pass_rows <= rows; i += pass_rows) {
    rows_pass<T, Bytes, Groups>(a + i * lda, lda, nx, alpha, x, incx, y + static_cast<std::ptrdiff_t>(i) * incy, incy);
  }
  const T* rest = a + i * lda;
  T* rest_y = y + static_cast<std::ptrdiff_t>(i) * incy;
  if constexpr (Groups > 1) {
    add_rows<T, Bytes, 1>(rest, lda, rows - i, nx, alpha, x, incx, rest_y, incy);
  } else if constexpr (Bytes > 16) {
    add_rows<T, Bytes / 2, 1>(rest, lda, rows - i, nx, alpha, x, incx, rest_y, incy);
  } else {
    for (; i < rows; ++i) single_row(a + i * lda, nx, alpha, x, incx, y + static_cast<std::ptrdiff_t>(i) * incy);
  }
}

// The widest vectors of the instruction set, with about rows_in_flight rows per pass.
template <typename T, std::size_t Bytes>
[[gnu::always_inline]] inline void add_rows(const T* a, std::size_t lda, std::size_t rows, std::size_t nx, T alpha,
                                            const T* x, std::ptrdiff_t incx, T* y, std::ptrdiff_t incy) {
  constexpr std::size_t L = Bytes / sizeof(T);
  constexpr std::size_t groups = std::max<std::size_t>(1, rows_in_flight / L);
  add_rows<T, Bytes, groups>(a, lda, rows, nx, alpha, x, incx, y, incy);
}

}  // namespace

// The same source under each instruction set, at its widest vectors.
#define PELLUM_GEMV_ROWS_FOR_TARGET(ns, bytes)                                                                        \
  namespace ns {                                                                                                      \
  template <typename T>                                                                                               \
  void add_row_products(const T* a, std::size_t lda, std::size_t rows, std::size_t nx, T alpha, const T* x,           \
                        std::ptrdiff_t incx, T* y, std::ptrdiff_t incy) {                                             \
    add_rows<T, bytes>(a, lda, rows, nx, alpha, x, incx, y, incy);                                                    \
  }                                                                                                                   \
  template void add_row_products<double>(const double*, std::size_t, std::size_t, std::size_t, double, const double*, \
                                         std::ptrdiff_t, double*, std::ptrdiff_t);                                    \
  template void add_row_products<float>(const float*, std::size_t, std::size_t, std::size_t, float, const float*,     \
                                        std::ptrdiff_t, float*, std::ptrdiff_t);                                      \
  }

#pragma GCC push_options
#pragma GCC target("avx512f")
PELLUM_GEMV_ROWS_FOR_TARGET(avx512, 64)
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx2")
PELLUM_GEMV_ROWS_FOR_TARGET(avx2, 32)
#pragma GCC pop_options
PELLUM_GEMV_ROWS_FOR_TARGET(baseline, 16)
#undef PELLUM_GEMV_ROWS_FOR_TARGET

namespace {

template <typename T>
void dispatch(const T* a, std::size_t lda, std::size_t rows, std::size_t nx, T alpha, const T* x, std::ptrdiff_t incx,
              T* y, std::ptrdiff_t incy) {
  switch (level3::detail::simd_width()) {
    case level3::detail::SimdWidth::Avx512: return avx512::add_row_products(a, lda, rows, nx, alpha, x, incx, y, incy);
    case level3::detail::SimdWidth::Avx2: return avx2::add_row_products(a, lda, rows, nx, alpha, x, incx, y, incy);
    case level3::detail::SimdWidth::Baseline:
      return baseline::add_row_products(a, lda, rows, nx, alpha, x, incx, y, incy);
  }
}

}  // namespace

void add_row_products(const double* a, std::size_t lda, std::size_t rows, std::size_t nx, double alpha, const double* x,
                      std::ptrdiff_t incx, double* y, std::ptrdiff_t incy) {
  dispatch(a, lda, rows, nx, alpha, x, incx, y, incy);
}
void add_row_products(const float* a, std::size_t lda, std::size_t rows, std::size_t nx, float alpha, const float* x,
                      std::ptrdiff_t incx, float* y, std::ptrdiff_t incy) {
  dispatch(a, lda, rows, nx, alpha, x, incx, y, incy);
}

}  // namespace pellum_blas::cblas
