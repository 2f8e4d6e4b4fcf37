// SSE4.2 micro-kernels: f64 4 × 2 and f32 4 × 4, a multiply then an add (no fused
// step), depth unrolled by 2, no prefetch.
#include <immintrin.h>

#include <cstddef>

#include "level3/detail/kernels.hpp"
#include "pellum_blas/level3/gemm_kernel.hpp"

#pragma GCC push_options
#pragma GCC target("sse4.2")
#include "level3/detail/tile_kernel.hpp"

namespace pellum_blas::level3::gemm_kernel_sse42::inner {

namespace {

// The vector types' operators are the plain rounded IEEE operations (contraction is off).
struct Sse42 {
  static constexpr std::size_t unroll = 2;
  static __m128d splat(double x) { return _mm_set1_pd(x); }
  static __m128 splat(float x) { return _mm_set1_ps(x); }
  static __m128d load(const double* p) { return _mm_loadu_pd(p); }
  static __m128 load(const float* p) { return _mm_loadu_ps(p); }
  static void store(double* p, __m128d v) { _mm_storeu_pd(p, v); }
  static void store(float* p, __m128 v) { _mm_storeu_ps(p, v); }
  template <typename V>
  static V madd(V acc, V a, V b) {
    return acc + a * b;
  }
  template <typename V>
  static V fold(V beta, V c, V acc) {
    return acc + c * beta;
  }
};

constexpr detail::PrefetchPlan no_prefetch{};

}  // namespace

void micro_kernel_f64_sse42(std::size_t kc, const double* a, const double* b, double* c, std::size_t ldc, double alpha,
                            double beta) {
  detail::tile_kernel<Sse42, double, gemm_kernel::KernelLevel::Sse42, no_prefetch>(kc, a, b, c, ldc, alpha, beta);
}

void micro_kernel_f32_sse42(std::size_t kc, const float* a, const float* b, float* c, std::size_t ldc, float alpha,
                            float beta) {
  detail::tile_kernel<Sse42, float, gemm_kernel::KernelLevel::Sse42, no_prefetch>(kc, a, b, c, ldc, alpha, beta);
}

gemm_kernel::KernelFn<double> edge_kernel_f64_sse42(std::size_t rows, std::size_t cols) {
  return detail::EdgeKernels<Sse42, double, gemm_kernel::KernelLevel::Sse42, no_prefetch>::covering(rows, cols);
}

gemm_kernel::KernelFn<float> edge_kernel_f32_sse42(std::size_t rows, std::size_t cols) {
  return detail::EdgeKernels<Sse42, float, gemm_kernel::KernelLevel::Sse42, no_prefetch>::covering(rows, cols);
}

}  // namespace pellum_blas::level3::gemm_kernel_sse42::inner

#pragma GCC pop_options
