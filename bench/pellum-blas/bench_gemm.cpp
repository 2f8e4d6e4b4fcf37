// Single-thread dgemm and sgemm of square sizes 64 … 2048 and odd sizes, through
// gemm_with_par, against Eigen's matrix product in the same process: one table per type
// and size with Eigen as the baseline, both rates in Gflop/s (2·n³ per product), and the
// largest difference between the two products in the title.
// Usage: bench_gemm [max_n]
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "harness.hpp"
#include "pellum_blas/level3/gemm.hpp"
#include "pellum_blas/level3/gemm_kernel.hpp"
#include "support/number_text.hpp"

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

template <typename T>
std::vector<T> random_matrix(int n, std::mt19937& gen) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<T> out(static_cast<std::size_t>(n) * n);
  for (T& x : out) x = T(dist(gen));
  return out;
}

template <typename T>
double max_difference(const std::vector<T>& x, const std::vector<T>& y) {
  double diff = 0;
  for (std::size_t e = 0; e < x.size(); ++e) diff = std::max(diff, std::fabs(double(x[e]) - double(y[e])));
  return diff;
}

template <typename T>
void bench_size(const char* type, int n, const std::string& baseline_name, Baseline<T> baseline) {
  std::mt19937 gen(n);
  const std::vector<T> a = random_matrix<T>(n, gen), b = random_matrix<T>(n, gen);
  std::vector<T> ours(a.size()), theirs(a.size());
  const std::size_t un = static_cast<std::size_t>(n);
  const auto multiply_ours = [&] {
    pellum_blas::level3::gemm::gemm_with_par<T>({a.data(), un, un, un}, {b.data(), un, un, un},
                                                {ours.data(), un, un, un}, T(1), T(0));
  };
  const auto multiply_theirs = [&] { baseline(n, n, n, a.data(), b.data(), theirs.data()); };
  multiply_ours();
  multiply_theirs();
  const double flops = 2.0 * n * n * static_cast<double>(n);
  bench::Report report(std::string(type) + " n=" + std::to_string(n) +
                           ", max |ours - baseline| = " + support::exponent6(max_difference(ours, theirs)),
                       "product", "flop");
  report.add(baseline_name + " (baseline)", bench::seconds_per_call(multiply_theirs), 1, flops);
  report.add("gemm_with_par", bench::seconds_per_call(multiply_ours), 1, flops);
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
  std::fputs((std::string("kernels: ") + level_name(pellum_blas::level3::gemm_kernel::active_level()) +
              "; single thread\n")
                 .c_str(),
             stdout);
  const int sizes[] = {64, 63, 65, 96, 128, 127, 192, 256, 255, 257, 384, 511, 512, 513, 768, 1000, 1024, 1023, 1536, 2048};
  for (const int n : sizes) {
    if (n <= max_n) bench_size<double>("dgemm", n, baselines.name, baselines.dgemm);
  }
  for (const int n : sizes) {
    if (n <= max_n) bench_size<float>("sgemm", n, baselines.name, baselines.sgemm);
  }
  return 0;
}
