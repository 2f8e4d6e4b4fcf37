#pragma once
// The SIMD micro-kernel, written once over an instruction set's vector operations.
// Each instruction-set file includes this header only after switching on its target
// options, so every instantiation (and the lambda inside) is compiled for that set.
#include <array>
#include <cstddef>
#include <utility>

#include "detail/size_math.hpp"
#include "pellum_blas/level3/gemm_kernel.hpp"

namespace pellum_blas::level3::detail {

// Panel bytes prefetched into L1 ahead of each depth chunk, while the target chunk
// t + distance still exists.
struct PrefetchPlan {
  std::size_t distance = 0;
  std::size_t a_offsets[2] = {0, 0};
  std::size_t a_count = 0;  // 0: no prefetch at all
  std::size_t b_offset = 0;
};

// Isa provides, for T: splat, load, store (unaligned), madd(acc, a, b) = acc + a·b
// (fused or not), fold(beta, c, acc) = beta·c + acc, and the depth unrolling `unroll`.
// The vector type's + and * are the plain rounded operations. The tile is the level's, from
// the one table the packing reads too. With used_vectors and used_columns non-zero, only the
// first used_vectors row vectors of the first used_columns columns are computed and
// written, each element exactly as the full tile computes it; the panels keep the full
// tile's layout.
template <typename Isa, typename T, gemm_kernel::KernelLevel level, PrefetchPlan plan, std::size_t used_vectors = 0,
          std::size_t used_columns = 0>
inline void tile_kernel(std::size_t kc, const T* a, const T* b, T* c, std::size_t ldc, T alpha, T beta) {
  constexpr std::size_t MR = gemm_kernel::tile_for<T>(level).mr;
  constexpr std::size_t panel_columns = gemm_kernel::tile_for<T>(level).nr;
  using V = decltype(Isa::splat(T{}));
  constexpr std::size_t lanes = sizeof(V) / sizeof(T);
  static_assert(MR / lanes * lanes == MR, "the tile's rows must fill whole vectors");
  constexpr std::size_t rows_in_vectors = used_vectors == 0 ? MR / lanes : used_vectors;
  constexpr std::size_t columns = used_columns == 0 ? panel_columns : used_columns;
  static_assert(rows_in_vectors <= MR / lanes && columns <= panel_columns, "a part of the tile");

  V acc[columns][rows_in_vectors];
#pragma GCC unroll 16
  for (std::size_t j = 0; j < columns; ++j) {
#pragma GCC unroll 4
    for (std::size_t v = 0; v < rows_in_vectors; ++v) acc[j][v] = V{};
  }

  // One depth step: each A element loaded once, each B element broadcast once.
  const auto step = [&](std::size_t p) __attribute__((always_inline)) {
    V column[rows_in_vectors];
#pragma GCC unroll 4
    for (std::size_t v = 0; v < rows_in_vectors; ++v) column[v] = Isa::load(a + p * MR + v * lanes);
#pragma GCC unroll 16
    for (std::size_t j = 0; j < columns; ++j) {
      const V bj = Isa::splat(b[p * panel_columns + j]);
#pragma GCC unroll 4
      for (std::size_t v = 0; v < rows_in_vectors; ++v) acc[j][v] = Isa::madd(acc[j][v], column[v], bj);
    }
  };

  constexpr std::size_t unroll = Isa::unroll;
  const std::size_t chunks = kc / unroll;
  for (std::size_t t = 0; t < chunks; ++t) {
    if constexpr (plan.a_count > 0) {
      if (t + plan.distance < chunks) {
        const char* a_chunk = reinterpret_cast<const char*>(a + t * unroll * MR);
        for (std::size_t i = 0; i < plan.a_count; ++i) __builtin_prefetch(a_chunk + plan.a_offsets[i], 0, 3);
        __builtin_prefetch(reinterpret_cast<const char*>(b + t * unroll * panel_columns) + plan.b_offset, 0, 3);
      }
    }
#pragma GCC unroll 4
    for (std::size_t u = 0; u < unroll; ++u) step(t * unroll + u);
  }
  for (std::size_t p = chunks * unroll; p < kc; ++p) step(p);

  const V alpha_v = Isa::splat(alpha);
  const V beta_v = Isa::splat(beta);
  const bool scale = !(alpha == T(1));  // a NaN alpha scales
#pragma GCC unroll 16
  for (std::size_t j = 0; j < columns; ++j) {
#pragma GCC unroll 4
    for (std::size_t v = 0; v < rows_in_vectors; ++v) {
      const V r = scale ? acc[j][v] * alpha_v : acc[j][v];
      T* tile = c + j * ldc + v * lanes;
      if (beta == T(0)) {
        Isa::store(tile, r);  // C is not read: old NaN or garbage never survives
      } else if (beta == T(1)) {
        Isa::store(tile, Isa::load(tile) + r);
      } else {
        Isa::store(tile, Isa::fold(beta_v, Isa::load(tile), r));
      }
    }
  }
}

// The kernels for the top-left part of a tile that the edge of C cuts: entry
// [(v − 1)·NR + (j − 1)] computes v row vectors of j columns.
template <typename Isa, typename T, gemm_kernel::KernelLevel level, PrefetchPlan plan>
struct EdgeKernels {
  static constexpr std::size_t lanes = sizeof(decltype(Isa::splat(T{}))) / sizeof(T);
  static constexpr std::size_t row_vectors = gemm_kernel::tile_for<T>(level).mr / lanes;
  static constexpr std::size_t columns = gemm_kernel::tile_for<T>(level).nr;

  template <std::size_t... I>
  static constexpr std::array<gemm_kernel::KernelFn<T>, sizeof...(I)> make(std::index_sequence<I...>) {
    return {&tile_kernel<Isa, T, level, plan, I / columns + 1, I % columns + 1>...};
  }
  static constexpr auto table = make(std::make_index_sequence<row_vectors * columns>());

  // The kernel covering rows × cols (1 ≤ rows ≤ MR, 1 ≤ cols ≤ NR): rows rounded up to
  // whole vectors, so it writes up to lanes − 1 rows more than asked.
  static gemm_kernel::KernelFn<T> covering(std::size_t rows, std::size_t cols) {
    return table[(pellum_blas::detail::div_ceil(rows, lanes) - 1) * columns + cols - 1];
  }
};

}  // namespace pellum_blas::level3::detail
