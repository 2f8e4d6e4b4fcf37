#pragma once
// Helpers shared by the BLAS tests: reproducible data, bit-exact comparison and matrices
// whose storage carries canaries around the described elements.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pellum_blas/cblas.h"
#include "support/panic.hpp"

namespace pellum_blas::testing {

template <typename T>
inline constexpr T nan = std::numeric_limits<T>::quiet_NaN();
template <typename T>
inline constexpr T inf = std::numeric_limits<T>::infinity();

// The message of the panic that f ends with, or "<no panic>".
template <typename F>
std::string panic_message(F&& f) {
  try {
    f();
  } catch (const support::Panic& panic) {
    return panic.message();
  }
  return "<no panic>";
}

// Reproducible values in [-1, 1) with full mantissas, so that rounding order shows.
template <typename T>
std::vector<T> random_values(std::size_t n, std::uint64_t seed) {
  std::vector<T> out(n);
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (T& v : out) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    v = static_cast<T>(static_cast<double>(state >> 11) * 0x1p-52 - 1.0);
  }
  return out;
}

template <typename T>
auto bits(T v) {
  if constexpr (sizeof(T) == 8)
    return std::bit_cast<std::uint64_t>(v);
  else
    return std::bit_cast<std::uint32_t>(v);
}

// Equal bit for bit (so NaN equals NaN and +0 differs from -0).
template <typename T>
::testing::AssertionResult same_bits(std::span<const T> actual, std::span<const T> expected) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
  for (std::size_t i = 0; i < actual.size(); ++i)
    if (bits(actual[i]) != bits(expected[i]))
      return ::testing::AssertionFailure()
             << "first difference at " << i << ": " << actual[i] << " instead of " << expected[i];
  return ::testing::AssertionSuccess();
}

template <typename T>
::testing::AssertionResult same_bits(const std::vector<T>& actual, const std::vector<T>& expected) {
  return same_bits(std::span<const T>(actual), std::span<const T>(expected));
}

// Within rel·scale of each other elementwise, NaN only where NaN is expected.
template <typename T>
::testing::AssertionResult close_to(const std::vector<T>& actual, const std::vector<T>& expected,
                                    double rel, double scale) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
  for (std::size_t i = 0; i < actual.size(); ++i) {
    const double a = actual[i], e = expected[i];
    const bool ok = std::isnan(e) ? std::isnan(a) : std::fabs(a - e) <= rel * scale;
    if (!ok)
      return ::testing::AssertionFailure() << "at " << i << ": " << a << " instead of " << e;
  }
  return ::testing::AssertionSuccess();
}

// A distinctive value for storage that a routine must not touch.
template <typename T>
inline constexpr T canary = static_cast<T>(-777.25);

// Column-major storage of rows × cols elements with leading dimension ld ≥ rows, and a
// tail of canaries after the last column. Every element outside the described rows is a
// canary too, so a write beyond the matrix shows.
template <typename T>
struct Matrix {
  std::size_t rows = 0, cols = 0, ld = 1;
  std::vector<T> storage;

  static constexpr std::size_t tail = 7;

  Matrix(std::size_t r, std::size_t c, std::size_t lead)
      : rows(r), cols(c), ld(lead), storage(lead * c + tail, canary<T>) {}

  T& operator()(std::size_t i, std::size_t j) { return storage[i + j * ld]; }
  T operator()(std::size_t i, std::size_t j) const { return storage[i + j * ld]; }
  T* data() { return storage.data(); }
  const T* data() const { return storage.data(); }
  std::int32_t ld32() const { return static_cast<std::int32_t>(ld); }

  void fill_random(std::uint64_t seed) {
    const std::vector<T> values = random_values<T>(rows * cols, seed);
    for (std::size_t j = 0; j < cols; ++j)
      for (std::size_t i = 0; i < rows; ++i) (*this)(i, j) = values[i + j * rows];
  }
  // The described elements, column by column.
  std::vector<T> elements() const {
    std::vector<T> out;
    for (std::size_t j = 0; j < cols; ++j)
      for (std::size_t i = 0; i < rows; ++i) out.push_back((*this)(i, j));
    return out;
  }
  // Every stored value outside the described elements.
  std::vector<T> outside() const {
    std::vector<T> out;
    for (std::size_t k = 0; k < storage.size(); ++k)
      if (k >= ld * cols || k % ld >= rows) out.push_back(storage[k]);
    return out;
  }
};

}  // namespace pellum_blas::testing

namespace pellum_blas::testing {

// The single- or double-precision members of the exported pairs, for typed tests.
template <typename T>
struct Cblas;

template <>
struct Cblas<float> {
  static constexpr auto dot = cblas_sdot;
  static constexpr auto dotu = cblas_cdotu_sub;
  static constexpr auto dotc = cblas_cdotc_sub;
  static constexpr auto nrm2 = cblas_snrm2;
  static constexpr auto asum = cblas_sasum;
  static constexpr auto iamax = cblas_isamax;
  static constexpr auto swap = cblas_sswap;
  static constexpr auto copy = cblas_scopy;
  static constexpr auto axpy = cblas_saxpy;
  static constexpr auto scal = cblas_sscal;
  static constexpr auto gemv = cblas_sgemv;
  static constexpr auto gemm = cblas_sgemm;
  static constexpr auto complex_gemm = cblas_cgemm;
  static constexpr auto symm = cblas_ssymm;
  static constexpr auto syrk = cblas_ssyrk;
  static constexpr auto syr2k = cblas_ssyr2k;
  static constexpr auto trmm = cblas_strmm;
  static constexpr auto trsm = cblas_strsm;
};

template <>
struct Cblas<double> {
  static constexpr auto dot = cblas_ddot;
  static constexpr auto dotu = cblas_zdotu_sub;
  static constexpr auto dotc = cblas_zdotc_sub;
  static constexpr auto nrm2 = cblas_dnrm2;
  static constexpr auto asum = cblas_dasum;
  static constexpr auto iamax = cblas_idamax;
  static constexpr auto swap = cblas_dswap;
  static constexpr auto copy = cblas_dcopy;
  static constexpr auto axpy = cblas_daxpy;
  static constexpr auto scal = cblas_dscal;
  static constexpr auto gemv = cblas_dgemv;
  static constexpr auto gemm = cblas_dgemm;
  static constexpr auto complex_gemm = cblas_zgemm;
  static constexpr auto symm = cblas_dsymm;
  static constexpr auto syrk = cblas_dsyrk;
  static constexpr auto syr2k = cblas_dsyr2k;
  static constexpr auto trmm = cblas_dtrmm;
  static constexpr auto trsm = cblas_dtrsm;
};

using ElementTypes = ::testing::Types<float, double>;

// Names typed-test instances by their element type instead of a number.
struct ElementName {
  template <typename T>
  static std::string GetName(int) {
    return sizeof(T) == 4 ? "f32" : "f64";
  }
};

}  // namespace pellum_blas::testing
