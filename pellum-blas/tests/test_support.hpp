#pragma once
// Builders shared by the dense-kernel tests: matrices inside larger arrays whose spare
// rows and tail hold canaries, random fillings, bit-exact comparison, an independent
// reference product, and the exported functions by element type.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "pellum_blas/cblas.h"
#include "pellum_blas/level3/gemm_kernel.hpp"
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::testing {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

// A value no computation here produces, so a changed canary is always noticed.
template <typename T>
inline const T canary = T(-7777.25);

template <typename T>
auto bits(T v) {
  if constexpr (sizeof(T) == 8) {
    return std::bit_cast<std::uint64_t>(v);
  } else {
    return std::bit_cast<std::uint32_t>(v);
  }
}

template <typename T>
bool same_bits(T x, T y) {
  return bits(x) == bits(y);
}

// Reproducible values in [-1, 1) with full mantissas, so that rounding order shows.
template <typename T>
std::vector<T> random_values(std::size_t n, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<T> out(n);
  for (T& v : out) v = T(dist(gen));
  return out;
}

// rows × cols in column-major storage with leading dimension ld >= rows, followed by a
// tail of canaries; the rows between `rows` and ld are canaries too.
template <typename T>
struct Padded {
  std::size_t rows = 0, cols = 0, ld = 0;
  std::vector<T> storage;

  Padded(std::size_t r, std::size_t c, std::size_t extra_rows = 3)
      : rows(r), cols(c), ld(r + extra_rows), storage(ld * c + 5, canary<T>) {
    for (std::size_t j = 0; j < cols; ++j) {
      for (std::size_t i = 0; i < rows; ++i) at(i, j) = T(0);
    }
  }

  T& at(std::size_t i, std::size_t j) { return storage[i + j * ld]; }
  T at(std::size_t i, std::size_t j) const { return storage[i + j * ld]; }
  MatRef<T> view() const { return {storage.data(), rows, cols, ld}; }
  MatMut<T> view_mut() { return {storage.data(), rows, cols, ld}; }

  void fill_random(std::uint32_t seed) {
    const std::vector<T> values = random_values<T>(rows * cols, seed);
    for (std::size_t j = 0; j < cols; ++j) {
      for (std::size_t i = 0; i < rows; ++i) at(i, j) = values[i + j * rows];
    }
  }

  void fill(T value) {
    for (std::size_t j = 0; j < cols; ++j) {
      for (std::size_t i = 0; i < rows; ++i) at(i, j) = value;
    }
  }

  // Every position outside the matrix still holds its canary.
  bool canaries_intact() const {
    for (std::size_t p = 0; p < storage.size(); ++p) {
      const bool inside = p < ld * cols && p % ld < rows;
      if (!inside && !same_bits(storage[p], canary<T>)) return false;
    }
    return true;
  }
};

// alpha·A·B + beta·C computed in long double (with the usual beta = 0 meaning: C not
// read), and for each element a bound on the rounding error any summation order of the
// element type may make.
template <typename T>
struct Reference {
  std::vector<long double> value;
  std::vector<long double> error_bound;
};

// alpha·Σ_p a(i, p)·b(p, j) + beta·c(i, j) over callables for an m × n result of depth k;
// beta = 0 reads no c, and a depth of 0 adds no alpha term.
template <typename T, typename A, typename B, typename C>
Reference<T> reference_product(std::size_t m, std::size_t n, std::size_t k, A&& a, B&& b, T alpha, T beta, C&& c) {
  const long double eps = std::numeric_limits<T>::epsilon();
  Reference<T> out{std::vector<long double>(m * n), std::vector<long double>(m * n)};
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t i = 0; i < m; ++i) {
      long double sum = 0, magnitude = 0;
      for (std::size_t p = 0; p < k; ++p) {
        const long double term = static_cast<long double>(a(i, p)) * b(p, j);
        sum += term;
        magnitude += std::fabs(term);
      }
      const long double old = beta == T(0) ? 0.0L : static_cast<long double>(beta) * c(i, j);
      out.value[i + j * m] = (k == 0 ? 0.0L : alpha * sum) + old;
      out.error_bound[i + j * m] =
          2 * (k + 3) * eps * (std::fabs(static_cast<long double>(alpha)) * magnitude + std::fabs(old)) +
          std::numeric_limits<T>::denorm_min();
    }
  }
  return out;
}

template <typename T>
Reference<T> reference_gemm(const Padded<T>& a, const Padded<T>& b, const Padded<T>& c, T alpha, T beta) {
  return reference_product(
      a.rows, b.cols, a.cols, [&](std::size_t i, std::size_t p) { return a.at(i, p); },
      [&](std::size_t p, std::size_t j) { return b.at(p, j); }, alpha, beta,
      [&](std::size_t i, std::size_t j) { return c.at(i, j); });
}

// got(i, j) within its bound of the reference (NaN matching NaN) for every (i, j) of the
// m × n result that `where` selects.
template <typename T, typename Got, typename Where>
::testing::AssertionResult matches(std::size_t m, std::size_t n, Got&& got, const Reference<T>& ref, Where&& where) {
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t i = 0; i < m; ++i) {
      if (!where(i, j)) continue;
      const long double want = ref.value[i + j * m];
      const long double value = got(i, j);
      const bool ok = std::isnan(want) ? std::isnan(value) : std::fabs(value - want) <= ref.error_bound[i + j * m];
      if (!ok) {
        return ::testing::AssertionFailure() << "C(" << i << ", " << j << ") = " << static_cast<double>(value)
                                             << ", want " << static_cast<double>(want);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Every element of c within its bound of the reference (NaN matching NaN).
template <typename T>
::testing::AssertionResult matches_reference(const Padded<T>& c, const Reference<T>& ref) {
  auto result = matches(
      c.rows, c.cols, [&](std::size_t i, std::size_t j) { return c.at(i, j); }, ref,
      [](std::size_t, std::size_t) { return true; });
  if (!result) return result;
  if (!c.canaries_intact()) return ::testing::AssertionFailure() << "a canary outside C changed";
  return ::testing::AssertionSuccess();
}

// A logical rows × cols matrix stored row-major or column-major inside Padded storage:
// row-major storage is the column-major transpose with the same leading dimension.
template <typename T>
struct LayoutMatrix {
  bool row_major;
  Padded<T> memory;

  LayoutMatrix(bool row, std::size_t rows, std::size_t cols)
      : row_major(row), memory(row ? cols : rows, row ? rows : cols) {}

  T& operator()(std::size_t i, std::size_t j) { return row_major ? memory.at(j, i) : memory.at(i, j); }
  T operator()(std::size_t i, std::size_t j) const { return row_major ? memory.at(j, i) : memory.at(i, j); }
  T* data() { return memory.storage.data(); }
  const T* data() const { return memory.storage.data(); }
  std::int32_t ld() const { return static_cast<std::int32_t>(memory.ld); }
  std::int32_t layout() const { return row_major ? CblasRowMajor : CblasColMajor; }
};

template <typename T>
inline constexpr T nan = std::numeric_limits<T>::quiet_NaN();
template <typename T>
inline constexpr T inf = std::numeric_limits<T>::infinity();

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

// Forces a kernel level for one scope; levels the processor lacks make the test skip.
class ScopedLevel {
 public:
  explicit ScopedLevel(level3::gemm_kernel::KernelLevel level)
      : forced_(level3::gemm_kernel::detail::force_level(level)) {}
  ~ScopedLevel() { level3::gemm_kernel::detail::force_level(std::nullopt); }
  ScopedLevel(const ScopedLevel&) = delete;
  ScopedLevel& operator=(const ScopedLevel&) = delete;
  bool forced() const { return forced_; }

 private:
  bool forced_;
};

inline std::string level_name(level3::gemm_kernel::KernelLevel level) {
  switch (level) {
    case level3::gemm_kernel::KernelLevel::Scalar: return "scalar";
    case level3::gemm_kernel::KernelLevel::Sse42: return "sse42";
    case level3::gemm_kernel::KernelLevel::Avx2: return "avx2";
    case level3::gemm_kernel::KernelLevel::Avx512: return "avx512";
  }
  return "unknown";
}

inline constexpr level3::gemm_kernel::KernelLevel all_levels[] = {
    level3::gemm_kernel::KernelLevel::Scalar, level3::gemm_kernel::KernelLevel::Sse42,
    level3::gemm_kernel::KernelLevel::Avx2, level3::gemm_kernel::KernelLevel::Avx512};
static_assert(std::size(all_levels) == level3::gemm_kernel::kernel_level_count);

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

namespace pellum_blas::level3::gemm_kernel {

// Levels print by name in test listings and failures.
inline void PrintTo(KernelLevel level, std::ostream* os) { *os << testing::level_name(level); }

}  // namespace pellum_blas::level3::gemm_kernel
