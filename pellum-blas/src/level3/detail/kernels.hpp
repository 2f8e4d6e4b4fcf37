#pragma once
// The micro-kernels of each instruction set, one translation unit per set. Call one only
// when the processor supports its set (gemm_kernel::supports). Each set also has the
// kernels for a tile cut by the edge of C (gemm_kernel::edge_kernel_for).
#include <cstddef>

#include "pellum_blas/level3/gemm_kernel.hpp"

#define PELLUM_DECLARE_KERNEL(name, T) \
  void name(std::size_t kc, const T* a_panel, const T* b_panel, T* c, std::size_t ldc, T alpha, T beta)

#define PELLUM_DECLARE_EDGE_KERNEL(name, T) gemm_kernel::KernelFn<T> name(std::size_t rows, std::size_t cols)

namespace pellum_blas::level3::gemm_kernel_avx512 {
PELLUM_DECLARE_KERNEL(micro_kernel_f64_avx512, double);
PELLUM_DECLARE_KERNEL(micro_kernel_f32_avx512, float);
PELLUM_DECLARE_EDGE_KERNEL(edge_kernel_f64_avx512, double);
PELLUM_DECLARE_EDGE_KERNEL(edge_kernel_f32_avx512, float);
}  // namespace pellum_blas::level3::gemm_kernel_avx512

namespace pellum_blas::level3::gemm_kernel_avx2 {
PELLUM_DECLARE_KERNEL(micro_kernel_f64_avx2, double);
PELLUM_DECLARE_KERNEL(micro_kernel_f32_avx2, float);
PELLUM_DECLARE_EDGE_KERNEL(edge_kernel_f64_avx2, double);
PELLUM_DECLARE_EDGE_KERNEL(edge_kernel_f32_avx2, float);
}  // namespace pellum_blas::level3::gemm_kernel_avx2

namespace pellum_blas::level3::gemm_kernel_sse42::inner {
PELLUM_DECLARE_KERNEL(micro_kernel_f64_sse42, double);
PELLUM_DECLARE_KERNEL(micro_kernel_f32_sse42, float);
PELLUM_DECLARE_EDGE_KERNEL(edge_kernel_f64_sse42, double);
PELLUM_DECLARE_EDGE_KERNEL(edge_kernel_f32_sse42, float);
}  // namespace pellum_blas::level3::gemm_kernel_sse42::inner

#undef PELLUM_DECLARE_KERNEL
#undef PELLUM_DECLARE_EDGE_KERNEL
