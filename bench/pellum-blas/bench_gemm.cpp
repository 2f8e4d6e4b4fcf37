// Single-thread dgemm and sgemm of square sizes 32 … 2048 and odd sizes, through the
// exported cblas_dgemm/cblas_sgemm, against Eigen's matrix product and OpenBLAS in the
// same process: one table per type and size with Eigen as the baseline, the rates in
// Gflop/s (2·n³ per product), our speed over each peer's, and the largest difference
// between ours and Eigen's product in the title.
// Usage: bench_gemm [max_n]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "baselines.hpp"
#include "harness.hpp"
#include "pellum_blas/cblas.h"
#include "pellum_blas/level3/gemm_kernel.hpp"
#include "support/number_text.hpp"

namespace {

template <typename T>
using Cblas = std::conditional_t<std::is_same_v<T, double>, decltype(&cblas_dgemm), decltype(&cblas_sgemm)>;

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
void bench_size(const char* type, int n, const std::string& eigen_name, bench::blas::EigenProduct<T> eigen,
                const std::string& openblas_name, Cblas<T> openblas, Cblas<T> ours_fn) {
  std::mt19937 gen(n);
  const std::vector<T> a = random_matrix<T>(n, gen), b = random_matrix<T>(n, gen);
  std::vector<T> ours(a.size()), theirs(a.size());
  const auto multiply = [&](Cblas<T> fn, std::vector<T>& c) {
    fn(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, T(1), a.data(), n, b.data(), n, T(0), c.data(), n);
  };
  const auto multiply_eigen = [&] { eigen(n, n, n, a.data(), b.data(), theirs.data()); };
  multiply(ours_fn, ours);
  multiply_eigen();
  const double flops = 2.0 * n * n * static_cast<double>(n);
  bench::Report report(std::string(type) + " n=" + std::to_string(n) +
                           ", max |ours - Eigen| = " + support::exponent6(max_difference(ours, theirs)),
                       "product", "flop");
  report.add(eigen_name + " (baseline)", bench::seconds_per_call(multiply_eigen), 1, flops);
  if (openblas != nullptr) {
    report.add(openblas_name, bench::seconds_per_call([&] { multiply(openblas, theirs); }), 1, flops);
  }
  report.add("ours", bench::seconds_per_call([&] { multiply(ours_fn, ours); }), 1, flops);
  report.speed_ratio("ours", eigen_name + " (baseline)");
  report.speed_ratio("ours", openblas_name);
}

}  // namespace

int main(int argc, char** argv) {
  const int max_n = argc > 1 ? std::atoi(argv[1]) : 2048;
  const bench::blas::Eigen eigen = bench::blas::load_eigen(argv[0]);
  const bench::blas::OpenBlas openblas = bench::blas::load_openblas();
  std::fputs((std::string("kernels: ") +
              bench::blas::kernel_level_name(pellum_blas::level3::gemm_kernel::active_level()) + "; single thread\n")
                 .c_str(),
             stdout);
  const int sizes[] = {32,  64,  63,  65,  96,  100, 128,  127,  192,  256,  255,
                       257, 384, 511, 512, 513, 768, 1000, 1024, 1023, 1536, 2048};
  for (const int n : sizes) {
    if (n <= max_n) bench_size<double>("dgemm", n, eigen.name, eigen.dgemm, openblas.name, openblas.dgemm, cblas_dgemm);
  }
  for (const int n : sizes) {
    if (n <= max_n) bench_size<float>("sgemm", n, eigen.name, eigen.sgemm, openblas.name, openblas.sgemm, cblas_sgemm);
  }
  return 0;
}
