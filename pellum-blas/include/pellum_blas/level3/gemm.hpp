#pragma once
// The GEMM driver, C = alpha·A·B + beta·C on column-major, untransposed views: the
// engine under every level-3 routine. Everything runs on the calling thread.
#include "pellum_blas/level3/autotune.hpp"
#include "pellum_blas/level3/gemm_kernel.hpp"
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::level3::gemm {

using autotune::BlockingParams;
using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

// Chooses the block sizes and calls gemm_with_blocking: fixed sizes while m, k and n are
// all below 512 (f64: 576, 448, 2048 − 2048 mod NR; f32: 576, 896, 2048), otherwise
// compute_blocking_adaptive (the cache probe runs on the first such call).
template <typename T>
void gemm_with_par(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta);

// The same product with the given block sizes (all non-zero, else a panic). A is m × k,
// B k × n, C m × n; a mismatch panics "A.ncols must equal B.nrows", "C.nrows must equal
// A.nrows" or "C.ncols must equal B.ncols" with both values.
//   m = 0 or n = 0: C untouched.
//   k = 0: C ← beta·C (beta = 0 writes +0.0 without reading C; beta = 1 leaves it).
//   m·n·k <= 32768: gemm_small.
//   Otherwise packed blocks through the micro-kernel of the active level; beta is applied
//   once (by the first depth block), beta = 0 never reads C, alpha = 0 does not
//   short-cut (NaN in A or B reaches C), and nothing outside the m × n view is read or
//   written.
// A packed buffer beyond the allocation limit panics "Invalid layout: LayoutError"
// before C is written.
template <typename T>
void gemm_with_blocking(MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta, BlockingParams blocking);

// Products up to this many multiplications (m·n·k) take the small-matrix path.
inline constexpr std::size_t small_gemm_limit = 32768;
// gemm_with_par's fixed block sizes serve while every dimension is below this.
inline constexpr std::size_t adaptive_blocking_from = 512;

namespace detail {
// The block sizes gemm_with_par hands on for an m × k by k × n product with the tile.
template <typename T>
BlockingParams par_blocking(std::size_t m, std::size_t k, std::size_t n, gemm_kernel::Tile tile);
}  // namespace detail

extern template void gemm_with_par<double>(MatRef<double>, MatRef<double>, MatMut<double>, double, double);
extern template void gemm_with_par<float>(MatRef<float>, MatRef<float>, MatMut<float>, float, float);
extern template void gemm_with_blocking<double>(MatRef<double>, MatRef<double>, MatMut<double>, double, double,
                                                BlockingParams);
extern template void gemm_with_blocking<float>(MatRef<float>, MatRef<float>, MatMut<float>, float, float,
                                               BlockingParams);

}  // namespace pellum_blas::level3::gemm
