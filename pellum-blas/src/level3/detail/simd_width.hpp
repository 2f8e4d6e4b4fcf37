#pragma once
// The vector width of the hand-vectorised loops outside the GEMM micro-kernels. It follows
// the active kernel level, so that a level forced in tests reaches these loops too; every
// width gives the same bits, because their products and sums are never fused.
#include <cstdint>

#include "pellum_blas/level3/gemm_kernel.hpp"

namespace pellum_blas::level3::detail {

enum class SimdWidth : std::uint8_t { Baseline, Avx2, Avx512 };

inline SimdWidth simd_width() noexcept {
  switch (gemm_kernel::active_level()) {
    case gemm_kernel::KernelLevel::Avx512: return SimdWidth::Avx512;
    case gemm_kernel::KernelLevel::Avx2: return SimdWidth::Avx2;
    default: return SimdWidth::Baseline;
  }
}

}  // namespace pellum_blas::level3::detail
