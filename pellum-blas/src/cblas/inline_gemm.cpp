// The register tile of the inline GEMM loops, compiled once per instruction set. Products
// and sums stay separate operations (no contraction), so every set gives the same bits.
#include <cstring>

#include "inline_gemm.hpp"
#include "level3/detail/simd_width.hpp"

namespace pellum_blas::cblas {
namespace {

// One 64-byte vector of rows: a column slice of C kept in registers for the whole depth.
template <typename T, std::size_t NR>
[[gnu::always_inline]] inline void add_products_tile(const T* a, std::size_t mb, std::size_t kb, const T* t, T* c,
                                                     std::size_t ldc) {
  typedef T Vec __attribute__((vector_size(64)));
  constexpr std::size_t lanes = sizeof(Vec) / sizeof(T);
  std::size_t i = 0;
  for (; i + lanes <= mb; i += lanes) {
    // Fully unrolled over the columns, so that the accumulators live in registers.
    Vec acc[NR];
#pragma GCC unroll 4
    for (std::size_t jj = 0; jj < NR; ++jj) std::memcpy(&acc[jj], c + i + jj * ldc, sizeof(Vec));
    for (std::size_t p = 0; p < kb; ++p) {
      Vec column;
      std::memcpy(&column, a + i + p * mb, sizeof(Vec));
      const T* row = t + p * inline_tile_columns;
#pragma GCC unroll 4
      for (std::size_t jj = 0; jj < NR; ++jj) acc[jj] = acc[jj] + column * row[jj];
    }
#pragma GCC unroll 4
    for (std::size_t jj = 0; jj < NR; ++jj) std::memcpy(c + i + jj * ldc, &acc[jj], sizeof(Vec));
  }
  for (; i < mb; ++i)
    for (std::size_t jj = 0; jj < NR; ++jj) {
      T s = c[i + jj * ldc];
      for (std::size_t p = 0; p < kb; ++p) s = s + a[i + p * mb] * t[p * inline_tile_columns + jj];
      c[i + jj * ldc] = s;
    }
}

template <typename T>
[[gnu::always_inline]] inline void add_products_any(const T* a, std::size_t mb, std::size_t kb, const T* t,
                                                    std::size_t nr, T* c, std::size_t ldc) {
  if (nr == inline_tile_columns) return add_products_tile<T, inline_tile_columns>(a, mb, kb, t, c, ldc);
  for (std::size_t jj = 0; jj < nr; ++jj) add_products_tile<T, 1>(a, mb, kb, t + jj, c + jj * ldc, ldc);
}

}  // namespace

// The same source under each instruction set.
#define PELLUM_INLINE_GEMM_FOR_TARGET(ns)                                                                            \
  namespace ns {                                                                                                     \
  template <typename T>                                                                                              \
  void add_products(const T* a, std::size_t mb, std::size_t kb, const T* t, std::size_t nr, T* c, std::size_t ldc) { \
    add_products_any(a, mb, kb, t, nr, c, ldc);                                                                      \
  }                                                                                                                  \
  template void add_products<double>(const double*, std::size_t, std::size_t, const double*, std::size_t, double*,   \
                                     std::size_t);                                                                   \
  template void add_products<float>(const float*, std::size_t, std::size_t, const float*, std::size_t, float*,       \
                                    std::size_t);                                                                    \
  }

#pragma GCC push_options
#pragma GCC target("avx512f")
PELLUM_INLINE_GEMM_FOR_TARGET(avx512)
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx2")
PELLUM_INLINE_GEMM_FOR_TARGET(avx2)
#pragma GCC pop_options
PELLUM_INLINE_GEMM_FOR_TARGET(baseline)
#undef PELLUM_INLINE_GEMM_FOR_TARGET

namespace {

template <typename T>
void dispatch(const T* a, std::size_t mb, std::size_t kb, const T* t, std::size_t nr, T* c, std::size_t ldc) {
  switch (level3::detail::simd_width()) {
    case level3::detail::SimdWidth::Avx512: return avx512::add_products(a, mb, kb, t, nr, c, ldc);
    case level3::detail::SimdWidth::Avx2: return avx2::add_products(a, mb, kb, t, nr, c, ldc);
    case level3::detail::SimdWidth::Baseline: return baseline::add_products(a, mb, kb, t, nr, c, ldc);
  }
}

}  // namespace

void add_products(const double* a, std::size_t mb, std::size_t kb, const double* t, std::size_t nr, double* c,
                  std::size_t ldc) {
  dispatch(a, mb, kb, t, nr, c, ldc);
}
void add_products(const float* a, std::size_t mb, std::size_t kb, const float* t, std::size_t nr, float* c,
                  std::size_t ldc) {
  dispatch(a, mb, kb, t, nr, c, ldc);
}

}  // namespace pellum_blas::cblas
