#include "pellum_blas/level3/gemm.hpp"

#include <algorithm>
#include <cstddef>

#include "pellum_blas/detail/size_math.hpp"
#include "pellum_blas/level3/detail/beta_scale.hpp"
#include "pellum_blas/level3/gemm_small.hpp"
#include "pellum_core/memory/aligned_vec.hpp"
#include "support/panic.hpp"

namespace pellum_blas::level3::gemm {

namespace {

using gemm_kernel::KernelFn;
using gemm_kernel::Tile;
using pellum_blas::detail::round_up;
using pellum_blas::detail::saturating_mul;
using pellum_core::memory::aligned_vec::AlignedVec;

template <typename T>
struct FixedBlocking;
template <>
struct FixedBlocking<double> {
  static constexpr std::size_t mc = 576, kc = 448;
};
template <>
struct FixedBlocking<float> {
  static constexpr std::size_t mc = 576, kc = 896;
};
// Column blocks of the fixed sizes: 2048 cut down to whole tiles (2046 for NR = 6).
constexpr std::size_t fixed_nc_bound = 2048;

constexpr std::size_t line_bytes = 64;
constexpr std::size_t max_prefetch_lines = 8;
constexpr std::size_t pack_unroll = 4;

void check_shapes(std::size_t a_rows, std::size_t a_cols, std::size_t b_rows, std::size_t b_cols,
                  std::size_t c_rows, std::size_t c_cols) {
  if (a_cols != b_rows) support::panic("A.ncols must equal B.nrows: {} != {}", a_cols, b_rows);
  if (c_rows != a_rows) support::panic("C.nrows must equal A.nrows: {} != {}", c_rows, a_rows);
  if (c_cols != b_cols) support::panic("C.ncols must equal B.ncols: {} != {}", c_cols, b_cols);
}

// A rows [i0, i0 + mcur) × depth [p0, p0 + kcur) as MR-row micro-panels: panel r holds
// kcur groups of MR elements, rows beyond the block zero.
template <typename T>
void pack_a(MatRef<T> a, std::size_t i0, std::size_t mcur, std::size_t p0, std::size_t kcur, std::size_t mr_tile,
            T* out) {
  for (std::size_t r0 = 0; r0 < mcur; r0 += mr_tile) {
    const std::size_t mr = std::min(mr_tile, mcur - r0);
    T* panel = out + r0 * kcur;
    const T* source = a.ptr_at(i0 + r0, p0);
    const std::size_t stride = a.col_stride();
    std::size_t p = 0;
    if (mr == mr_tile) {
      // Full panels go four depth steps at a time with the next source column prefetched.
      for (; p + pack_unroll <= kcur; p += pack_unroll) {
        if (p + pack_unroll < kcur) __builtin_prefetch(source + (p + pack_unroll) * stride, 0, 3);
        for (std::size_t q = p; q < p + pack_unroll; ++q) {
          std::copy_n(source + q * stride, mr_tile, panel + q * mr_tile);
        }
      }
    }
    for (; p < kcur; ++p) {
      std::copy_n(source + p * stride, mr, panel + p * mr_tile);
      std::fill_n(panel + p * mr_tile + mr, mr_tile - mr, T(0));
    }
  }
}

// B depth [p0, p0 + kcur) × columns [j0, j0 + ncur) as NR-column micro-panels: panel s
// holds kcur groups of NR elements, columns beyond the block zero.
template <typename T>
void pack_b(MatRef<T> b, std::size_t p0, std::size_t kcur, std::size_t j0, std::size_t ncur, std::size_t nr_tile,
            T* out) {
  for (std::size_t s0 = 0; s0 < ncur; s0 += nr_tile) {
    const std::size_t nr = std::min(nr_tile, ncur - s0);
    T* panel = out + s0 * kcur;
    const T* source = b.ptr_at(p0, j0 + s0);
    const std::size_t stride = b.col_stride();
    std::size_t p = 0;
    if (nr == nr_tile) {
      // Each column contributes four consecutive depth steps per pass.
      for (; p + pack_unroll <= kcur; p += pack_unroll) {
        if (p + pack_unroll < kcur) __builtin_prefetch(source + p + pack_unroll, 0, 3);
        for (std::size_t j = 0; j < nr_tile; ++j) {
          const T* column = source + j * stride + p;
          for (std::size_t q = 0; q < pack_unroll; ++q) panel[(p + q) * nr_tile + j] = column[q];
        }
      }
    }
    for (; p < kcur; ++p) {
      for (std::size_t j = 0; j < nr; ++j) panel[p * nr_tile + j] = source[j * stride + p];
      std::fill_n(panel + p * nr_tile + nr, nr_tile - nr, T(0));
    }
  }
}

template <typename T>
void prefetch_panel_start(const T* panel, std::size_t kcur, std::size_t mr_tile) {
  const std::size_t bytes = std::min<std::size_t>(64, kcur) * mr_tile * sizeof(T);
  const std::size_t lines = std::min(pellum_blas::detail::div_ceil(bytes, line_bytes), max_prefetch_lines);
  const char* start = reinterpret_cast<const char*>(panel);
  for (std::size_t l = 0; l < lines; ++l) __builtin_prefetch(start + l * line_bytes, 0, 3);
}

// A tile cut by the edge of C: the kernel works on a zeroed MR × NR scratch holding the
// valid part of C (unless beta is 0, when C is not read), which is then copied back.
template <typename T>
void edge_tile(KernelFn<T> kernel, std::size_t kcur, const T* a_panel, const T* b_panel, T* c, std::size_t ldc,
               std::size_t mr, std::size_t nr, Tile tile, T alpha, T beta) {
  alignas(64) T scratch[gemm_kernel::max_tile_elements] = {};
  if (beta != T(0)) {
    for (std::size_t j = 0; j < nr; ++j) std::copy_n(c + j * ldc, mr, scratch + j * tile.mr);
  }
  kernel(kcur, a_panel, b_panel, scratch, tile.mr, alpha, beta);
  for (std::size_t j = 0; j < nr; ++j) std::copy_n(scratch + j * tile.mr, mr, c + j * ldc);
}

template <typename T>
void blocked(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta, BlockingParams blocking) {
  const std::size_t m = a.nrows(), k = a.ncols(), n = b.ncols();
  const gemm_kernel::KernelLevel level = gemm_kernel::active_level();
  const Tile tile = gemm_kernel::tile_for<T>(level);
  const KernelFn<T> kernel = gemm_kernel::kernel_for<T>(level);

  const std::size_t kcb = std::min(k, blocking.kc);
  const std::size_t ncb = std::min(n, blocking.nc);
  const std::size_t mcb = std::min(m, blocking.mc);
  auto packed_a = AlignedVec<T>::zeros_in(saturating_mul(round_up(mcb, tile.mr), kcb));
  auto packed_b = AlignedVec<T>::zeros_in(saturating_mul(round_up(ncb, tile.nr), kcb));
  const std::size_t ldc = c.col_stride();

  for (std::size_t p0 = 0; p0 < k; p0 += kcb) {
    const std::size_t kcur = std::min(kcb, k - p0);
    const T block_beta = p0 == 0 ? beta : T(1);  // C is scaled by beta exactly once
    for (std::size_t j0 = 0; j0 < n; j0 += ncb) {
      const std::size_t ncur = std::min(ncb, n - j0);
      pack_b(b, p0, kcur, j0, ncur, tile.nr, packed_b.data());
      for (std::size_t i0 = 0; i0 < m; i0 += mcb) {
        const std::size_t mcur = std::min(mcb, m - i0);
        pack_a(a, i0, mcur, p0, kcur, tile.mr, packed_a.data());
        for (std::size_t s0 = 0; s0 < ncur; s0 += tile.nr) {
          const std::size_t nr = std::min(tile.nr, ncur - s0);
          const T* b_panel = packed_b.data() + s0 * kcur;
          for (std::size_t r0 = 0; r0 < mcur; r0 += tile.mr) {
            const std::size_t mr = std::min(tile.mr, mcur - r0);
            const T* a_panel = packed_a.data() + r0 * kcur;
            if (r0 + tile.mr < mcur) prefetch_panel_start(a_panel + tile.mr * kcur, kcur, tile.mr);
            T* c_tile = c.ptr_at(i0 + r0, j0 + s0);
            if (mr == tile.mr && nr == tile.nr) {
              kernel(kcur, a_panel, b_panel, c_tile, ldc, alpha, block_beta);
            } else {
              edge_tile(kernel, kcur, a_panel, b_panel, c_tile, ldc, mr, nr, tile, alpha, block_beta);
            }
          }
        }
      }
    }
  }
}

}  // namespace

namespace detail {

template <typename T>
BlockingParams par_blocking(std::size_t m, std::size_t k, std::size_t n, Tile tile) {
  if (m < adaptive_blocking_from && k < adaptive_blocking_from && n < adaptive_blocking_from) {
    return {FixedBlocking<T>::mc, FixedBlocking<T>::kc, fixed_nc_bound - fixed_nc_bound % tile.nr};
  }
  return autotune::compute_blocking_adaptive(m, k, n, sizeof(T), tile.mr, tile.nr);
}

template BlockingParams par_blocking<double>(std::size_t, std::size_t, std::size_t, Tile);
template BlockingParams par_blocking<float>(std::size_t, std::size_t, std::size_t, Tile);

}  // namespace detail

template <typename T>
void gemm_with_par(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta) {
  const Tile tile = gemm_kernel::tile_for<T>(gemm_kernel::active_level());
  gemm_with_blocking(a, b, c, alpha, beta, detail::par_blocking<T>(a.nrows(), a.ncols(), b.ncols(), tile));
}

template <typename T>
void gemm_with_blocking(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta, BlockingParams blocking) {
  check_shapes(a.nrows(), a.ncols(), b.nrows(), b.ncols(), c.nrows(), c.ncols());
  const std::size_t m = a.nrows(), k = a.ncols(), n = b.ncols();
  if (m == 0 || n == 0) return;
  if (k == 0) return level3::detail::scale_by_beta(c, beta);
  if (blocking.mc == 0 || blocking.kc == 0 || blocking.nc == 0) support::panic("block sizes must be non-zero");
  if (saturating_mul(m, n, k) <= small_gemm_limit) return gemm_small::gemm_small(a, b, c, alpha, beta);
  blocked(a, b, c, alpha, beta, blocking);
}

template void gemm_with_par<double>(MatRef<double>, MatRef<double>, MatMut<double>, double, double);
template void gemm_with_par<float>(MatRef<float>, MatRef<float>, MatMut<float>, float, float);
template void gemm_with_blocking<double>(MatRef<double>, MatRef<double>, MatMut<double>, double, double,
                                         BlockingParams);
template void gemm_with_blocking<float>(MatRef<float>, MatRef<float>, MatMut<float>, float, float,
                                        BlockingParams);

}  // namespace pellum_blas::level3::gemm
