// AVX-512F micro-kernels: f64 16 × 6 and f32 16 × 16, fused multiply-adds, depth
// unrolled by 4. Compiled for AVX-512F only here; called only when the processor has it.
#include <immintrin.h>

#include <cstddef>

#include "level3/detail/kernels.hpp"
#include "pellum_blas/level3/gemm_kernel.hpp"

#pragma GCC push_options
#pragma GCC target("avx512f")
#include "level3/detail/tile_kernel.hpp"

namespace pellum_blas::level3::gemm_kernel_avx512 {

namespace {

struct Avx512 {
  static constexpr std::size_t unroll = 4;
  static __m512d splat(double x) { return _mm512_set1_pd(x); }
  static __m512 splat(float x) { return _mm512_set1_ps(x); }
  static __m512d load(const double* p) { return _mm512_loadu_pd(p); }
  static __m512 load(const float* p) { return _mm512_loadu_ps(p); }
  static void store(double* p, __m512d v) { _mm512_storeu_pd(p, v); }
  static void store(float* p, __m512 v) { _mm512_storeu_ps(p, v); }
  static __m512d madd(__m512d acc, __m512d a, __m512d b) { return _mm512_fmadd_pd(a, b, acc); }
  static __m512 madd(__m512 acc, __m512 a, __m512 b) { return _mm512_fmadd_ps(a, b, acc); }
  static __m512d fold(__m512d beta, __m512d c, __m512d acc) { return _mm512_fmadd_pd(beta, c, acc); }
  static __m512 fold(__m512 beta, __m512 c, __m512 acc) { return _mm512_fmadd_ps(beta, c, acc); }
};

// 512-byte A chunks and 192-byte B chunks (f64); 256-byte chunks of both (f32).
constexpr detail::PrefetchPlan f64_plan{4, {2048, 2560}, 2, 768};
constexpr detail::PrefetchPlan f32_plan{2, {512, 0}, 1, 512};

}  // namespace

void micro_kernel_f64_avx512(std::size_t kc, const double* a, const double* b, double* c, std::size_t ldc, double alpha,
                             double beta) {
  detail::tile_kernel<Avx512, double, gemm_kernel::KernelLevel::Avx512, f64_plan>(kc, a, b, c, ldc, alpha, beta);
}

void micro_kernel_f32_avx512(std::size_t kc, const float* a, const float* b, float* c, std::size_t ldc, float alpha,
                             float beta) {
  detail::tile_kernel<Avx512, float, gemm_kernel::KernelLevel::Avx512, f32_plan>(kc, a, b, c, ldc, alpha, beta);
}

gemm_kernel::KernelFn<double> edge_kernel_f64_avx512(std::size_t rows, std::size_t cols) {
  return detail::EdgeKernels<Avx512, double, gemm_kernel::KernelLevel::Avx512, f64_plan>::covering(rows, cols);
}

gemm_kernel::KernelFn<float> edge_kernel_f32_avx512(std::size_t rows, std::size_t cols) {
  return detail::EdgeKernels<Avx512, float, gemm_kernel::KernelLevel::Avx512, f32_plan>::covering(rows, cols);
}

}  // namespace pellum_blas::level3::gemm_kernel_avx512

#pragma GCC pop_options
