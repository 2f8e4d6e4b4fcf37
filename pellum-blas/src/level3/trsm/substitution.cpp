#include "substitution.hpp"

#include <algorithm>
#include <cstring>

#include "level3/detail/simd_width.hpp"

namespace pellum_blas::level3::trsm::substitution {
namespace {

// Two 64-byte vectors: the columns (left) or rows (right) handled together.
template <typename T>
struct Pair {
  typedef T Vec __attribute__((vector_size(64)));
  static constexpr std::size_t lanes = sizeof(Vec) / sizeof(T);
  static constexpr std::size_t width = 2 * lanes;
  Vec lo, hi;

  static Pair load(const T* p) {
    Pair v;
    std::memcpy(&v.lo, p, sizeof(Vec));
    std::memcpy(&v.hi, p + lanes, sizeof(Vec));
    return v;
  }
  void store(T* p) const {
    std::memcpy(p, &lo, sizeof(Vec));
    std::memcpy(p + lanes, &hi, sizeof(Vec));
  }
  // this − f·x and this / d, each operation rounded on its own.
  void subtract_scaled(T f, const Pair& x) {
    lo = lo - f * x.lo;
    hi = hi - f * x.hi;
  }
  void divide(T d) {
    lo = lo / d;
    hi = hi / d;
  }
};

// Position n of the solving order within [start, end).
inline std::size_t nth(bool forward, std::size_t start, std::size_t end, std::size_t n) {
  return forward ? start + n : end - 1 - n;
}

template <typename T>
[[gnu::always_inline]] inline void solve_left_body(OpA<T> op, bool forward, bool unit, T* b, std::size_t ldb,
                                                   std::size_t start, std::size_t end, std::size_t count,
                                                   std::size_t ncols) {
  using P = Pair<T>;
  // The block's rows of one group of columns, row by row; unused columns stay zero.
  alignas(64) T x[max_left_block][P::width];
  for (std::size_t j0 = 0; j0 < ncols; j0 += P::width) {
    const std::size_t w = std::min(P::width, ncols - j0);
    for (std::size_t c = 0; c < P::width; ++c)
      for (std::size_t r = 0; r < end - start; ++r) x[r][c] = c < w ? b[start + r + (j0 + c) * ldb] : T{0};
    for (std::size_t n = 0; n < count; ++n) {
      const std::size_t i = nth(forward, start, end, n);
      P s = P::load(x[i - start]);
      // The block's rows solved before i: [start, i) forward, (i, end) backward.
      const std::size_t k0 = forward ? start : i + 1, k1 = forward ? i : end;
      for (std::size_t k = k0; k < k1; ++k) s.subtract_scaled(op.at(i, k), P::load(x[k - start]));
      if (!unit) s.divide(op.at(i, i));
      s.store(x[i - start]);
    }
    for (std::size_t c = 0; c < w; ++c)
      for (std::size_t r = 0; r < end - start; ++r) b[start + r + (j0 + c) * ldb] = x[r][c];
  }
}

template <typename T>
[[gnu::always_inline]] inline void solve_right_body(OpA<T> op, bool forward, bool unit, T* b, std::size_t ldb,
                                                    std::size_t nrows, std::size_t start, std::size_t end,
                                                    std::size_t count) {
  using P = Pair<T>;
  // Rows in groups of P::width, each group through the whole block while it sits in cache;
  // the last rows one at a time.
  std::size_t i0 = 0;
  for (; i0 + P::width <= nrows; i0 += P::width)
    for (std::size_t n = 0; n < count; ++n) {
      const std::size_t j = nth(forward, start, end, n);
      P solved = P::load(b + i0 + j * ldb);
      if (!unit) {
        solved.divide(op.at(j, j));
        solved.store(b + i0 + j * ldb);
      }
      // The block's columns still to solve: (j, end) forward, [start, j) backward.
      const std::size_t k0 = forward ? j + 1 : start, k1 = forward ? end : j;
      for (std::size_t k = k0; k < k1; ++k) {
        P column = P::load(b + i0 + k * ldb);
        column.subtract_scaled(op.at(j, k), solved);
        column.store(b + i0 + k * ldb);
      }
    }
  for (std::size_t i = i0; i < nrows; ++i)
    for (std::size_t n = 0; n < count; ++n) {
      const std::size_t j = nth(forward, start, end, n);
      if (!unit) b[i + j * ldb] = b[i + j * ldb] / op.at(j, j);
      const std::size_t k0 = forward ? j + 1 : start, k1 = forward ? end : j;
      for (std::size_t k = k0; k < k1; ++k) b[i + k * ldb] = b[i + k * ldb] - b[i + j * ldb] * op.at(j, k);
    }
}

}  // namespace

// The bodies under each instruction set.
#define PELLUM_TRSM_SUBSTITUTION_FOR_TARGET(ns)                                                                        \
  namespace ns {                                                                                                       \
  template <typename T>                                                                                                \
  void solve_left(OpA<T> op, bool forward, bool unit, T* b, std::size_t ldb, std::size_t start, std::size_t end,       \
                  std::size_t count, std::size_t ncols) {                                                              \
    solve_left_body(op, forward, unit, b, ldb, start, end, count, ncols);                                              \
  }                                                                                                                    \
  template <typename T>                                                                                                \
  void solve_right(OpA<T> op, bool forward, bool unit, T* b, std::size_t ldb, std::size_t nrows, std::size_t start,    \
                   std::size_t end, std::size_t count) {                                                               \
    solve_right_body(op, forward, unit, b, ldb, nrows, start, end, count);                                             \
  }                                                                                                                    \
  template void solve_left<double>(OpA<double>, bool, bool, double*, std::size_t, std::size_t, std::size_t,            \
                                   std::size_t, std::size_t);                                                          \
  template void solve_left<float>(OpA<float>, bool, bool, float*, std::size_t, std::size_t, std::size_t, std::size_t,  \
                                  std::size_t);                                                                        \
  template void solve_right<double>(OpA<double>, bool, bool, double*, std::size_t, std::size_t, std::size_t,           \
                                    std::size_t, std::size_t);                                                         \
  template void solve_right<float>(OpA<float>, bool, bool, float*, std::size_t, std::size_t, std::size_t, std::size_t, \
                                   std::size_t);                                                                       \
  }

#pragma GCC push_options
#pragma GCC target("avx512f")
PELLUM_TRSM_SUBSTITUTION_FOR_TARGET(avx512)
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx2")
PELLUM_TRSM_SUBSTITUTION_FOR_TARGET(avx2)
#pragma GCC pop_options
PELLUM_TRSM_SUBSTITUTION_FOR_TARGET(baseline)
#undef PELLUM_TRSM_SUBSTITUTION_FOR_TARGET

namespace {

template <typename T>
void dispatch_left(OpA<T> op, bool forward, bool unit, T* b, std::size_t ldb, std::size_t start, std::size_t end,
                   std::size_t count, std::size_t ncols) {
  switch (level3::detail::simd_width()) {
    case level3::detail::SimdWidth::Avx512:
      return avx512::solve_left(op, forward, unit, b, ldb, start, end, count, ncols);
    case level3::detail::SimdWidth::Avx2: return avx2::solve_left(op, forward, unit, b, ldb, start, end, count, ncols);
    case level3::detail::SimdWidth::Baseline:
      return baseline::solve_left(op, forward, unit, b, ldb, start, end, count, ncols);
  }
}

template <typename T>
void dispatch_right(OpA<T> op, bool forward, bool unit, T* b, std::size_t ldb, std::size_t nrows, std::size_t start,
                    std::size_t end, std::size_t count) {
  switch (level3::detail::simd_width()) {
    case level3::detail::SimdWidth::Avx512:
      return avx512::solve_right(op, forward, unit, b, ldb, nrows, start, end, count);
    case level3::detail::SimdWidth::Avx2: return avx2::solve_right(op, forward, unit, b, ldb, nrows, start, end, count);
    case level3::detail::SimdWidth::Baseline:
      return baseline::solve_right(op, forward, unit, b, ldb, nrows, start, end, count);
  }
}

}  // namespace

void solve_left(OpA<double> op, bool forward, bool unit, double* b, std::size_t ldb, std::size_t start, std::size_t end,
                std::size_t count, std::size_t ncols) {
  dispatch_left(op, forward, unit, b, ldb, start, end, count, ncols);
}
void solve_left(OpA<float> op, bool forward, bool unit, float* b, std::size_t ldb, std::size_t start, std::size_t end,
                std::size_t count, std::size_t ncols) {
  dispatch_left(op, forward, unit, b, ldb, start, end, count, ncols);
}
void solve_right(OpA<double> op, bool forward, bool unit, double* b, std::size_t ldb, std::size_t nrows,
                 std::size_t start, std::size_t end, std::size_t count) {
  dispatch_right(op, forward, unit, b, ldb, nrows, start, end, count);
}
void solve_right(OpA<float> op, bool forward, bool unit, float* b, std::size_t ldb, std::size_t nrows,
                 std::size_t start, std::size_t end, std::size_t count) {
  dispatch_right(op, forward, unit, b, ldb, nrows, start, end, count);
}

}  // namespace pellum_blas::level3::trsm::substitution
