// AVX2 + FMA micro-kernels: f64 8 × 6 and f32 8 × 8, fused multiply-adds, depth
// unrolled by 4. Compiled for AVX2 and FMA only here; called only when the processor
// has both.
#include <immintrin.h>

#include <cstddef>

#include "level3/detail/kernels.hpp"
#include "pellum_blas/level3/gemm_kernel.hpp"

#pragma GCC push_options
#pragma GCC target("avx2,fma")
#include "level3/detail/tile_kernel.hpp"

namespace pellum_blas::level3::gemm_kernel_avx2 {

namespace {

struct Avx2 {
  static constexpr std::size_t unroll = 4;
  static __m256d splat(double x) { return _mm256_set1_pd(x); }
  static __m256 splat(float x) { return _mm256_set1_ps(x); }
  static __m256d load(const double* p) { return _mm256_loadu_pd(p); }
  static __m256 load(const float* p) { return _mm256_loadu_ps(p); }
  static void store(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
  static void store(float* p, __m256 v) { _mm256_storeu_ps(p, v); }
  static __m256d madd(__m256d acc, __m256d a, __m256d b) { return _mm256_fmadd_pd(a, b, acc); }
  static __m256 madd(__m256 acc, __m256 a, __m256 b) { return _mm256_fmadd_ps(a, b, acc); }
  static __m256d fold(__m256d beta, __m256d c, __m256d acc) { return _mm256_fmadd_pd(beta, c, acc); }
  static __m256 fold(__m256 beta, __m256 c, __m256 acc) { return _mm256_fmadd_ps(beta, c, acc); }
};

// 256-byte A chunks and 192-byte B chunks (f64); 128-byte chunks of both (f32).
constexpr detail::PrefetchPlan f64_plan{3, {768, 1024}, 2, 576};
constexpr detail::PrefetchPlan f32_plan{3, {384, 0}, 1, 384};

}  // namespace

void micro_kernel_f64_avx2(std::size_t kc, const double* a, const double* b, double* c, std::size_t ldc, double alpha,
                           double beta) {
  detail::tile_kernel<Avx2, double, gemm_kernel::KernelLevel::Avx2, f64_plan>(kc, a, b, c, ldc, alpha, beta);
}

void micro_kernel_f32_avx2(std::size_t kc, const float* a, const float* b, float* c, std::size_t ldc, float alpha,
                           float beta) {
  detail::tile_kernel<Avx2, float, gemm_kernel::KernelLevel::Avx2, f32_plan>(kc, a, b, c, ldc, alpha, beta);
}

gemm_kernel::KernelFn<double> edge_kernel_f64_avx2(std::size_t rows, std::size_t cols) {
  return detail::EdgeKernels<Avx2, double, gemm_kernel::KernelLevel::Avx2, f64_plan>::covering(rows, cols);
}

gemm_kernel::KernelFn<float> edge_kernel_f32_avx2(std::size_t rows, std::size_t cols) {
  return detail::EdgeKernels<Avx2, float, gemm_kernel::KernelLevel::Avx2, f32_plan>::covering(rows, cols);
}

}  // namespace pellum_blas::level3::gemm_kernel_avx2

#pragma GCC pop_options
