#include "level3/gemm_small.hpp"

#include <emmintrin.h>

#include <algorithm>
#include <cstddef>

#include "level3/detail/beta_scale.hpp"
#include "pellum_matrix/detail/view.hpp"

namespace pellum_blas::level3::gemm_small {

namespace {

template <typename T>
struct Operands {
  MatRef<T> a;
  MatRef<T> b;
  MatMut<T> c;
  std::size_t k;
  T alpha;
};

// One tile of H × W accumulators at (i0, j0), `rows` × `cols` of them valid. With Full
// the extent is the compile-time tile, which lets the compiler keep it in registers.
template <typename T, std::size_t H, std::size_t W, bool Full>
void tile(const Operands<T>& op, std::size_t i0, std::size_t j0, std::size_t rows_arg, std::size_t cols_arg) {
  const std::size_t rows = Full ? H : rows_arg;
  const std::size_t cols = Full ? W : cols_arg;
  T acc[W][H] = {};
  for (std::size_t p = 0; p < op.k; ++p) {
    const T* a_col = op.a.ptr_at(i0, p);
    for (std::size_t cc = 0; cc < cols; ++cc) {
      const T bv = *op.b.ptr_at(p, j0 + cc);
      for (std::size_t r = 0; r < rows; ++r) acc[cc][r] = acc[cc][r] + a_col[r] * bv;
    }
  }
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t cc = 0; cc < cols; ++cc) {
      T& out = *op.c.ptr_at(i0 + r, j0 + cc);
      out = op.alpha * acc[cc][r] + out;
    }
  }
}

// The baseline 128-bit operations: every multiply and add its own rounded step.
template <typename T>
struct Sse2;
template <>
struct Sse2<float> {
  using V = __m128;
  static V zero() { return _mm_setzero_ps(); }
  static V splat(float x) { return _mm_set1_ps(x); }
  static V load(const float* p) { return _mm_loadu_ps(p); }
  static void store(float* p, V v) { _mm_storeu_ps(p, v); }
  static V add(V x, V y) { return _mm_add_ps(x, y); }
  static V mul(V x, V y) { return _mm_mul_ps(x, y); }
};
template <>
struct Sse2<double> {
  using V = __m128d;
  static V zero() { return _mm_setzero_pd(); }
  static V splat(double x) { return _mm_set1_pd(x); }
  static V load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, V v) { _mm_storeu_pd(p, v); }
  static V add(V x, V y) { return _mm_add_pd(x, y); }
  static V mul(V x, V y) { return _mm_mul_pd(x, y); }
};

// Elements in one 128-bit register.
template <typename T>
constexpr std::size_t vector_lanes = sizeof(typename Sse2<T>::V) / sizeof(T);

// Accumulator registers one pass over the depth keeps, leaving the other half of the 16
// for A's column and B's broadcasts.
constexpr std::size_t accumulator_registers = 8;

// A full block of R rows × C columns in 128-bit registers: the rule of every element,
// with C's column slices as vectors. The columns go in groups small enough for the
// accumulators to stay in registers; each group runs the whole depth in order.
template <typename T, std::size_t R, std::size_t C>
void vector_block(const Operands<T>& op, std::size_t i0, std::size_t j0) {
  using S = Sse2<T>;
  using V = typename S::V;
  constexpr std::size_t lanes = vector_lanes<T>;
  constexpr std::size_t row_vectors = R / lanes;
  constexpr std::size_t group = std::min(C, std::max<std::size_t>(1, accumulator_registers / row_vectors));
  static_assert(row_vectors * lanes == R && C % group == 0, "whole vectors and whole column groups");
  const V alpha = S::splat(op.alpha);
  for (std::size_t g0 = 0; g0 < C; g0 += group) {
    const T* b_col[group];
    for (std::size_t cc = 0; cc < group; ++cc) b_col[cc] = op.b.ptr_at(0, j0 + g0 + cc);
    // Fully unrolled, so that the accumulators live in registers.
    V acc[group][row_vectors];
#pragma GCC unroll 8
    for (std::size_t cc = 0; cc < group; ++cc) {
#pragma GCC unroll 4
      for (std::size_t v = 0; v < row_vectors; ++v) acc[cc][v] = S::zero();
    }
#pragma GCC unroll 2
    for (std::size_t p = 0; p < op.k; ++p) {
      const T* a_col = op.a.ptr_at(i0, p);
      V a[row_vectors];
#pragma GCC unroll 4
      for (std::size_t v = 0; v < row_vectors; ++v) a[v] = S::load(a_col + v * lanes);
#pragma GCC unroll 8
      for (std::size_t cc = 0; cc < group; ++cc) {
        const V bv = S::splat(b_col[cc][p]);
#pragma GCC unroll 4
        for (std::size_t v = 0; v < row_vectors; ++v) acc[cc][v] = S::add(acc[cc][v], S::mul(a[v], bv));
      }
    }
#pragma GCC unroll 8
    for (std::size_t cc = 0; cc < group; ++cc) {
      T* out = op.c.ptr_at(i0, j0 + g0 + cc);
#pragma GCC unroll 4
      for (std::size_t v = 0; v < row_vectors; ++v) {
        S::store(out + v * lanes, S::add(S::mul(alpha, acc[cc][v]), S::load(out + v * lanes)));
      }
    }
  }
}

// Full tiles taken two rows of tiles at a time where A's column slices of both still fit
// in registers beside the accumulators: each broadcast of B then feeds twice the rows,
// which halves the shuffles per product (SSE2 splats a scalar with a shuffle).
template <typename T, std::size_t H>
constexpr std::size_t tiles_per_pass = 2 * H / vector_lanes<T> <= accumulator_registers / 2 ? 2 : 1;

// Column tiles outermost, row tiles inside; edge tiles compute only their valid part.
template <typename T, std::size_t H, std::size_t W>
void tiled(const Operands<T>& op, std::size_t m, std::size_t n) {
  constexpr std::size_t pass = tiles_per_pass<T, H>;
  for (std::size_t j0 = 0; j0 < n; j0 += W) {
    const std::size_t cols = std::min(W, n - j0);
    std::size_t i0 = 0;
    if (cols == W) {
      for (; m - i0 >= pass * H; i0 += pass * H) vector_block<T, pass * H, W>(op, i0, j0);
    }
    for (; i0 < m; i0 += H) {
      const std::size_t rows = std::min(H, m - i0);
      if (rows == H && cols == W) {
        vector_block<T, H, W>(op, i0, j0);
      } else {
        tile<T, H, W, false>(op, i0, j0, rows, cols);
      }
    }
  }
}

// The whole s × s block as one tile.
template <typename T, std::size_t S>
void square(const Operands<T>& op) {
  tile<T, S, S, true>(op, 0, 0, S, S);
}

constexpr std::size_t max_square_depth = 32;

}  // namespace

template <typename T>
void gemm_small(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta) {
  const std::size_t m = a.nrows(), k = a.ncols(), n = b.ncols();
  if (b.nrows() < k || c.nrows() < m || c.ncols() < n) pellum_matrix::detail::index_out_of_bounds();
  detail::scale_by_beta(c, beta);
  if (alpha == T(0)) return;
  const Operands<T> op{a, b, c, k, alpha};
  if (m == n && k <= max_square_depth && m >= 2 && m <= 4) {
    if (m == 2) return square<T, 2>(op);
    if (m == 3) return square<T, 3>(op);
    return square<T, 4>(op);
  }
  if (m <= 8 && n <= 8) return tiled<T, 4, 4>(op, m, n);
  if (m <= 16 && n <= 16) return tiled<T, 8, 8>(op, m, n);
  tiled<T, 8, 4>(op, m, n);
}

template void gemm_small<double>(MatRef<double>, MatRef<double>, MatMut<double>, double, double);
template void gemm_small<float>(MatRef<float>, MatRef<float>, MatMut<float>, float, float);

}  // namespace pellum_blas::level3::gemm_small
