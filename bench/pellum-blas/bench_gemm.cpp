// Single-thread dgemm and sgemm of square sizes 64 … 2048 and odd sizes, through
// gemm_with_par, against Eigen's matrix product in the same process. Prints GFLOP/s
// (2·n³ per product, best of several timed rounds) and our speed relative to Eigen.
// Usage: pellum_gemm_bench [max_n]
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "pellum_blas/level3/gemm.hpp"
#include "pellum_blas/level3/gemm_kernel.hpp"

namespace {

using pellum_blas::level3::gemm_kernel::KernelLevel;

template <typename T>
using Baseline = void (*)(int, int, int, const T*, const T*, T*);

struct Baselines {
  std::string name;
  Baseline<double> dgemm = nullptr;
  Baseline<float> sgemm = nullptr;
};

// The Eigen module for the best instruction set the processor runs, next to this program.
Baselines load_baselines(const char* argv0) {
  std::string dir(argv0);
  dir = dir.substr(0, dir.find_last_of('/') + 1);
  const char* isa = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                            __builtin_cpu_supports("avx512vl")
                        ? "avx512"
                    : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? "avx2"
                                                                                        : "generic";
  const std::string path = dir + "libpellum_eigen_baseline_" + isa + ".so";
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    std::exit(1);
  }
  return {std::string("Eigen (") + isa + ")",
          reinterpret_cast<Baseline<double>>(dlsym(module, "eigen_baseline_dgemm")),
          reinterpret_cast<Baseline<float>>(dlsym(module, "eigen_baseline_sgemm"))};
}

template <typename F>
double best_seconds(double flops, F&& run) {
  run();  // warm caches and page in the buffers
  const int reps = std::clamp(static_cast<int>(2e9 / flops), 1, 200);
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < reps; ++r) run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / reps);
  }
  return best;
}

template <typename T>
void bench_size(int n, Baseline<T> baseline, const char* label) {
  std::mt19937 gen(n);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  const std::size_t size = static_cast<std::size_t>(n) * n;
  std::vector<T> a(size), b(size), ours(size), theirs(size);
  for (T& x : a) x = T(dist(gen));
  for (T& x : b) x = T(dist(gen));
  const std::size_t un = static_cast<std::size_t>(n);
  const double flops = 2.0 * n * n * static_cast<double>(n);
  const double t_ours = best_seconds(flops, [&] {
    pellum_blas::level3::gemm::gemm_with_par<T>({a.data(), un, un, un}, {b.data(), un, un, un},
                                                {ours.data(), un, un, un}, T(1), T(0));
  });
  const double t_theirs = best_seconds(flops, [&] { baseline(n, n, n, a.data(), b.data(), theirs.data()); });
  double diff = 0;
  for (std::size_t e = 0; e < size; ++e) diff = std::max(diff, std::fabs(double(ours[e]) - double(theirs[e])));
  std::printf("%s %5d  %8.2f  %8.2f  %6.3f   %.1e\n", label, n, flops / t_ours * 1e-9, flops / t_theirs * 1e-9,
              t_theirs / t_ours, diff);
}

const char* level_name(KernelLevel level) {
  switch (level) {
    case KernelLevel::Avx512: return "AVX-512F";
    case KernelLevel::Avx2: return "AVX2+FMA";
    case KernelLevel::Sse42: return "SSE4.2";
    case KernelLevel::Scalar: return "scalar";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  const int max_n = argc > 1 ? std::atoi(argv[1]) : 2048;
  const Baselines baselines = load_baselines(argv[0]);
  std::printf("kernels: %s; baseline: %s; single thread\n",
              level_name(pellum_blas::level3::gemm_kernel::active_level()), baselines.name.c_str());
  std::printf("type     n    ours GF/s  base GF/s  ours/base  max |diff|\n");
  const int sizes[] = {64, 63, 65, 96, 128, 127, 192, 256, 255, 257, 384, 511, 512, 513, 768, 1000, 1024, 1023, 1536, 2048};
  for (const int n : sizes) {
    if (n <= max_n) bench_size<double>(n, baselines.dgemm, "dgemm");
  }
  for (const int n : sizes) {
    if (n <= max_n) bench_size<float>(n, baselines.sgemm, "sgemm");
  }
  return 0;
}
