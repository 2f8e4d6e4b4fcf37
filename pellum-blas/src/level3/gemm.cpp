#include "pellum_blas/level3/gemm.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "detail/register_transpose.hpp"
#include "detail/size_math.hpp"
#include "level3/detail/beta_scale.hpp"
#include "level3/gemm_small.hpp"
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

void check_shapes(std::size_t a_rows, std::size_t a_cols, std::size_t b_rows, std::size_t b_cols, std::size_t c_rows,
                  std::size_t c_cols) {
  if (a_cols != b_rows) support::panic("A.ncols must equal B.nrows: {} != {}", a_cols, b_rows);
  if (c_rows != a_rows) support::panic("C.nrows must equal A.nrows: {} != {}", c_rows, a_rows);
  if (c_cols != b_cols) support::panic("C.ncols must equal B.ncols: {} != {}", c_cols, b_cols);
}

// A rows [i0, i0 + mcur) × depth [p0, p0 + kcur) as MR-row micro-panels: panel r holds
// kcur groups of MR elements, rows beyond the block zero. A is read column by column,
// each column once and in order, with the column four steps ahead prefetched.
template <typename T, std::size_t MR>
void pack_a(MatRef<T> a, std::size_t i0, std::size_t mcur, std::size_t p0, std::size_t kcur, T* __restrict out) {
  const std::size_t full_rows = mcur - mcur % MR;
  for (std::size_t p = 0; p < kcur; ++p) {
    if (p + pack_unroll < kcur) __builtin_prefetch(a.ptr_at(i0, p0 + p + pack_unroll), 0, 3);
    const T* __restrict column = a.ptr_at(i0, p0 + p);
    // One fixed-size copy per group, which the compiler expands in place.
    for (std::size_t r0 = 0; r0 < full_rows; r0 += MR)
      std::memcpy(out + r0 * kcur + p * MR, column + r0, sizeof(T) * MR);
    if (full_rows < mcur) {
      T* group = out + full_rows * kcur + p * MR;
      const std::size_t mr = mcur - full_rows;
#pragma GCC unroll 16
      for (std::size_t i = 0; i < MR; ++i) group[i] = i < mr ? column[full_rows + i] : T(0);
    }
  }
}

// B depth [p0, p0 + kcur) × columns [j0, j0 + ncur) as NR-column micro-panels: panel s
// holds kcur groups of NR elements, columns beyond the block zero. A full panel goes four
// depth steps at a time, as square blocks of one 16-byte vector per column transposed in
// registers into one vector per depth step.
template <typename T, std::size_t NR>
void pack_b(MatRef<T> b, std::size_t p0, std::size_t kcur, std::size_t j0, std::size_t ncur, T* out) {
  typedef T Vec __attribute__((vector_size(16)));
  constexpr std::size_t L = sizeof(Vec) / sizeof(T);
  static_assert(NR % L == 0 && pack_unroll % L == 0, "full panels split into whole square blocks");
  const std::size_t stride = b.col_stride();
  for (std::size_t s0 = 0; s0 < ncur; s0 += NR) {
    const std::size_t nr = std::min(NR, ncur - s0);
    T* panel = out + s0 * kcur;
    const T* source = b.ptr_at(p0, j0 + s0);
    std::size_t p = 0;
    if (nr == NR) {
      for (; p + pack_unroll <= kcur; p += pack_unroll) {
        if (p + pack_unroll < kcur) __builtin_prefetch(source + p + pack_unroll, 0, 3);
        for (std::size_t q0 = p; q0 < p + pack_unroll; q0 += L) {
          for (std::size_t jb = 0; jb < NR; jb += L) {
            Vec block[L];
#pragma GCC unroll 4
            for (std::size_t j = 0; j < L; ++j) std::memcpy(&block[j], source + (jb + j) * stride + q0, sizeof(Vec));
            pellum_blas::detail::transpose_in_registers(block);
#pragma GCC unroll 4
            for (std::size_t q = 0; q < L; ++q) std::memcpy(panel + (q0 + q) * NR + jb, &block[q], sizeof(Vec));
          }
        }
      }
    }
    for (; p < kcur; ++p) {
      for (std::size_t j = 0; j < nr; ++j) panel[p * NR + j] = source[j * stride + p];
      std::fill_n(panel + p * NR + nr, NR - nr, T(0));
    }
  }
}

// The first lines of the next A micro-panel: min(64, kcur)·MR elements, at most 8 lines.
template <typename T, std::size_t MR>
void prefetch_panel_start(const T* panel, std::size_t kcur) {
  const std::size_t bytes = std::min<std::size_t>(64, kcur) * MR * sizeof(T);
  const std::size_t lines = std::min(pellum_blas::detail::div_ceil(bytes, line_bytes), max_prefetch_lines);
  const char* start = reinterpret_cast<const char*>(panel);
  for (std::size_t l = 0; l < lines; ++l) __builtin_prefetch(start + l * line_bytes, 0, 3);
}

// A tile whose rows the edge of C cuts: the edge kernel works on a zeroed MR × NR scratch
// holding the valid part of C (unless beta is 0, when C is not read), which is then copied
// back; its rows may run past the valid ones, never past the scratch.
template <typename T, std::size_t MR, std::size_t NR>
void edge_tile(KernelFn<T> kernel, std::size_t kcur, const T* a_panel, const T* b_panel, T* c, std::size_t ldc,
               std::size_t mr, std::size_t nr, T alpha, T beta) {
  static_assert(MR * NR <= gemm_kernel::max_tile_elements);
  alignas(64) T scratch[MR * NR] = {};
  // Element loops rather than copy calls: a row count below MR is too short for one.
  if (beta != T(0)) {
    for (std::size_t j = 0; j < nr; ++j) {
      for (std::size_t i = 0; i < mr; ++i) scratch[i + j * MR] = c[i + j * ldc];
    }
  }
  kernel(kcur, a_panel, b_panel, scratch, MR, alpha, beta);
  for (std::size_t j = 0; j < nr; ++j) {
    for (std::size_t i = 0; i < mr; ++i) c[i + j * ldc] = scratch[i + j * MR];
  }
}

// The loop nest for one register tile, known at compile time so that packing and edge
// handling unroll to it. The tile and the kernel come from one level.
template <typename T, gemm_kernel::KernelLevel level>
void blocked_at(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta, BlockingParams blocking) {
  constexpr std::size_t MR = gemm_kernel::tile_for<T>(level).mr;
  constexpr std::size_t NR = gemm_kernel::tile_for<T>(level).nr;
  const KernelFn<T> kernel = gemm_kernel::kernel_for<T>(level);
  const std::size_t m = a.nrows(), k = a.ncols(), n = b.ncols();

  const std::size_t kcb = std::min(k, blocking.kc);
  const std::size_t ncb = std::min(n, blocking.nc);
  const std::size_t mcb = std::min(m, blocking.mc);
  // Packing writes every element the kernels read, padding zeros included, before they
  // read it: no clearing needed.
  auto packed_a = AlignedVec<T>::for_overwrite(saturating_mul(round_up(mcb, MR), kcb));
  auto packed_b = AlignedVec<T>::for_overwrite(saturating_mul(round_up(ncb, NR), kcb));
  const std::size_t ldc = c.col_stride();

  for (std::size_t p0 = 0; p0 < k; p0 += kcb) {
    const std::size_t kcur = std::min(kcb, k - p0);
    const T block_beta = p0 == 0 ? beta : T(1);  // C is scaled by beta exactly once
    for (std::size_t j0 = 0; j0 < n; j0 += ncb) {
      const std::size_t ncur = std::min(ncb, n - j0);
      pack_b<T, NR>(b, p0, kcur, j0, ncur, packed_b.data());
      for (std::size_t i0 = 0; i0 < m; i0 += mcb) {
        const std::size_t mcur = std::min(mcb, m - i0);
        pack_a<T, MR>(a, i0, mcur, p0, kcur, packed_a.data());
        for (std::size_t s0 = 0; s0 < ncur; s0 += NR) {
          const std::size_t nr = std::min(NR, ncur - s0);
          const T* b_panel = packed_b.data() + s0 * kcur;
          // Tiles of all MR rows: cut only in columns, the edge kernel writes just the valid
          // ones, in place.
          const KernelFn<T> row_kernel = nr == NR ? kernel : gemm_kernel::edge_kernel_for<T>(level, MR, nr);
          for (std::size_t r0 = 0; r0 < mcur; r0 += MR) {
            const std::size_t mr = std::min(MR, mcur - r0);
            const T* a_panel = packed_a.data() + r0 * kcur;
            if (r0 + MR < mcur) prefetch_panel_start<T, MR>(a_panel + MR * kcur, kcur);
            T* c_tile = c.ptr_at(i0 + r0, j0 + s0);
            if (mr == MR) {
              row_kernel(kcur, a_panel, b_panel, c_tile, ldc, alpha, block_beta);
            } else {
              edge_tile<T, MR, NR>(gemm_kernel::edge_kernel_for<T>(level, mr, nr), kcur, a_panel, b_panel, c_tile, ldc,
                                   mr, nr, alpha, block_beta);
            }
          }
        }
      }
    }
  }
}

template <typename T>
void blocked(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta, BlockingParams blocking) {
  using gemm_kernel::KernelLevel;
  switch (gemm_kernel::active_level()) {
    case KernelLevel::Avx512: return blocked_at<T, KernelLevel::Avx512>(a, b, c, alpha, beta, blocking);
    case KernelLevel::Avx2: return blocked_at<T, KernelLevel::Avx2>(a, b, c, alpha, beta, blocking);
    case KernelLevel::Sse42: return blocked_at<T, KernelLevel::Sse42>(a, b, c, alpha, beta, blocking);
    case KernelLevel::Scalar: return blocked_at<T, KernelLevel::Scalar>(a, b, c, alpha, beta, blocking);
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
template void gemm_with_blocking<float>(MatRef<float>, MatRef<float>, MatMut<float>, float, float, BlockingParams);

}  // namespace pellum_blas::level3::gemm
