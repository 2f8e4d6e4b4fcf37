#include "pellum_blas/level3/gemm_kernel.hpp"

#include <atomic>
#include <cmath>
#include <iterator>

#include "level3/detail/kernels.hpp"
#include "support/cpu_features.hpp"

namespace pellum_blas::level3::gemm_kernel {

namespace {

constexpr int no_override = -1;
std::atomic<int> forced_level{no_override};

// The portable 4 × 4 tile: correctly rounded fused multiply-adds of the C library. With
// `cols` below 4 only that many columns are computed and written.
template <typename T, std::size_t cols = tile_for<T>(KernelLevel::Scalar).nr>
void scalar_tile(std::size_t kc, const T* a, const T* b, T* c, std::size_t ldc, T alpha, T beta) {
  constexpr Tile tile{tile_for<T>(KernelLevel::Scalar).mr, cols};
  constexpr std::size_t panel_columns = tile_for<T>(KernelLevel::Scalar).nr;
  T acc[tile.mr][tile.nr] = {};
  for (std::size_t p = 0; p < kc; ++p) {
    for (std::size_t i = 0; i < tile.mr; ++i) {
      for (std::size_t j = 0; j < tile.nr; ++j)
        acc[i][j] = std::fma(a[p * tile.mr + i], b[p * panel_columns + j], acc[i][j]);
    }
  }
  for (std::size_t j = 0; j < tile.nr; ++j) {
    for (std::size_t i = 0; i < tile.mr; ++i) {
      T& out = c[i + j * ldc];
      // beta = 0 gives what a C of zeros would give, without reading C.
      const T scaled_c = beta == T(0) ? T(0) : out * beta;
      out = std::fma(alpha, acc[i][j], scaled_c);
    }
  }
}

// The scalar edge kernels leave out columns only; all four rows are always computed.
template <typename T>
KernelFn<T> scalar_edge(std::size_t, std::size_t cols) {
  static constexpr KernelFn<T> by_columns[] = {scalar_tile<T, 1>, scalar_tile<T, 2>, scalar_tile<T, 3>,
                                               scalar_tile<T, 4>};
  static_assert(std::size(by_columns) == tile_for<T>(KernelLevel::Scalar).nr);
  return by_columns[cols - 1];
}

template <typename T>
using EdgeLookup = KernelFn<T> (*)(std::size_t rows, std::size_t cols);

// The kernels of each element type, in the order of KernelLevel.
template <typename T>
struct Kernels;

template <>
struct Kernels<double> {
  static constexpr KernelFn<double> by_level[] = {scalar_tile<double>, gemm_kernel_sse42::inner::micro_kernel_f64_sse42,
                                                  gemm_kernel_avx2::micro_kernel_f64_avx2,
                                                  gemm_kernel_avx512::micro_kernel_f64_avx512};
  static constexpr EdgeLookup<double> edges_by_level[] = {
      scalar_edge<double>, gemm_kernel_sse42::inner::edge_kernel_f64_sse42, gemm_kernel_avx2::edge_kernel_f64_avx2,
      gemm_kernel_avx512::edge_kernel_f64_avx512};
  static_assert(std::size(by_level) == kernel_level_count && std::size(edges_by_level) == kernel_level_count);
};

template <>
struct Kernels<float> {
  static constexpr KernelFn<float> by_level[] = {scalar_tile<float>, gemm_kernel_sse42::inner::micro_kernel_f32_sse42,
                                                 gemm_kernel_avx2::micro_kernel_f32_avx2,
                                                 gemm_kernel_avx512::micro_kernel_f32_avx512};
  static constexpr EdgeLookup<float> edges_by_level[] = {
      scalar_edge<float>, gemm_kernel_sse42::inner::edge_kernel_f32_sse42, gemm_kernel_avx2::edge_kernel_f32_avx2,
      gemm_kernel_avx512::edge_kernel_f32_avx512};
  static_assert(std::size(by_level) == kernel_level_count && std::size(edges_by_level) == kernel_level_count);
};

}  // namespace

KernelLevel detected_level() noexcept {
  static const KernelLevel level = [] {
    for (const KernelLevel candidate : {KernelLevel::Avx512, KernelLevel::Avx2, KernelLevel::Sse42}) {
      if (supports(candidate)) return candidate;
    }
    return KernelLevel::Scalar;
  }();
  return level;
}

bool supports(KernelLevel level) noexcept {
  const support::cpu_features::Features f = support::cpu_features::detected();
  switch (level) {
    case KernelLevel::Avx512: return f.avx512f;
    case KernelLevel::Avx2: return f.avx2 && f.fma;
    case KernelLevel::Sse42: return f.sse42;
    case KernelLevel::Scalar: return true;
  }
  return false;
}

KernelLevel active_level() noexcept {
  const int forced = forced_level.load(std::memory_order_relaxed);
  return forced == no_override ? detected_level() : static_cast<KernelLevel>(forced);
}

template <typename T>
KernelFn<T> kernel_for(KernelLevel level) noexcept {
  return Kernels<T>::by_level[static_cast<std::size_t>(level)];
}

template KernelFn<double> kernel_for<double>(KernelLevel) noexcept;
template KernelFn<float> kernel_for<float>(KernelLevel) noexcept;

template <typename T>
KernelFn<T> edge_kernel_for(KernelLevel level, std::size_t rows, std::size_t cols) noexcept {
  return Kernels<T>::edges_by_level[static_cast<std::size_t>(level)](rows, cols);
}

template KernelFn<double> edge_kernel_for<double>(KernelLevel, std::size_t, std::size_t) noexcept;
template KernelFn<float> edge_kernel_for<float>(KernelLevel, std::size_t, std::size_t) noexcept;

template <typename T>
void micro_kernel(std::size_t kc, const T* a_panel, const T* b_panel, T* c, std::size_t ldc, T alpha, T beta) {
  kernel_for<T>(active_level())(kc, a_panel, b_panel, c, ldc, alpha, beta);
}

template void micro_kernel<double>(std::size_t, const double*, const double*, double*, std::size_t, double, double);
template void micro_kernel<float>(std::size_t, const float*, const float*, float*, std::size_t, float, float);

namespace detail {

bool force_level(std::optional<KernelLevel> level) noexcept {
  if (level && !supports(*level)) return false;
  forced_level.store(level ? static_cast<int>(*level) : no_override, std::memory_order_relaxed);
  return true;
}

}  // namespace detail

}  // namespace pellum_blas::level3::gemm_kernel
