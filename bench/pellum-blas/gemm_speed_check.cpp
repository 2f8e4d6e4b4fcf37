// The speed check CI runs with the tests: our single-thread dgemm at 512³, through the
// exported function, must reach at least half of Eigen's speed in the same process. A
// fault that leaves every result right and only runs slower (kernels of a much lower level
// than the processor has, a lost blocking or packing path) is seen by no correctness test;
// this coarse guard sees it. (A step down by one vector width may stay above half, so the
// choice of the best level is also pinned by a unit test.) Both sides
// are timed in alternating rounds and each keeps its best, as other load only ever adds
// time. Exits 1, naming the kernels in use, when the check fails.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "baselines.hpp"
#include "harness.hpp"
#include "pellum_blas/cblas.h"
#include "pellum_blas/level3/gemm_kernel.hpp"

namespace {

constexpr int n = 512;
constexpr int rounds = 5;
constexpr double least_speed_ratio = 0.5;

}  // namespace

int main(int, char** argv) {
  const bench::blas::Eigen eigen = bench::blas::load_eigen(argv[0]);
  const auto elements = static_cast<std::size_t>(n) * n;
  std::vector<double> a(elements), b(elements), ours(elements), theirs(elements);
  for (std::size_t e = 0; e < elements; ++e) {
    a[e] = static_cast<double>(e % 97) / 97 - 0.5;
    b[e] = static_cast<double>(e % 89) / 89 - 0.5;
  }
  const auto multiply_ours = [&] {
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, 1.0, a.data(), n, b.data(), n, 0.0, ours.data(), n);
  };
  const auto multiply_theirs = [&] { eigen.dgemm(n, n, n, a.data(), b.data(), theirs.data()); };

  double ours_seconds = std::numeric_limits<double>::infinity(), theirs_seconds = ours_seconds;
  for (int round = 0; round < rounds; ++round) {
    theirs_seconds = std::min(theirs_seconds, bench::seconds_per_call(multiply_theirs));
    ours_seconds = std::min(ours_seconds, bench::seconds_per_call(multiply_ours));
  }
  const std::string kernels = bench::blas::kernel_level_name(pellum_blas::level3::gemm_kernel::active_level());
  const double flops = 2.0 * n * n * n;
  bench::Report report(
      "dgemm n=512, single thread, best of " + std::to_string(rounds) + " rounds; our kernels: " + kernels, "product",
      "flop");
  report.add(eigen.name + " (baseline)", theirs_seconds, 1, flops);
  report.add("ours", ours_seconds, 1, flops);

  const double ratio = theirs_seconds / ours_seconds;
  const std::string verdict = "our speed is " + bench::rounded(ratio, 2) + " of Eigen's; at least " +
                              bench::rounded(least_speed_ratio, 2) + " is required";
  if (ratio < least_speed_ratio) {
    std::fputs(("FAILED: " + verdict + ". With every result still right, this points at kernel selection: " +
                "the kernels in use are " + kernels + "; check what the processor probe reports.\n")
                   .c_str(),
               stdout);
    return 1;
  }
  std::fputs(("passed: " + verdict + "\n").c_str(), stdout);
  return 0;
}
