// Single-thread rates of the exported level-3 routines built on the GEMM driver, next to
// the driver's own rate through dgemm/sgemm, for square problems: one table per type and
// size with gemm NN as the baseline, showing how much of the GEMM speed the symmetric,
// triangular and transposed paths keep.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "harness.hpp"
#include "pellum_blas/cblas.h"

namespace {

template <typename T>
std::vector<T> values(std::size_t n, std::uint32_t seed) {
  std::vector<T> out(n);
  std::uint32_t state = seed * 2654435761u + 1;
  for (T& v : out) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<T>(static_cast<double>(state >> 8) / 16777216.0 - 0.5);
  }
  return out;
}

template <typename T, typename Api>
void run(const char* type, Api api) {
  for (const std::int32_t n : {64, 256, 512, 1024}) {
    const auto size = static_cast<std::size_t>(n) * n;
    const std::vector<T> a0 = values<T>(size, 1), b0 = values<T>(size, 2);
    std::vector<T> a = a0, c = values<T>(size, 3);
    // A well-conditioned triangle for the solve: a heavy diagonal.
    for (std::int32_t i = 0; i < n; ++i) a[i + i * static_cast<std::size_t>(n)] = static_cast<T>(n);
    const double n3 = static_cast<double>(n) * n * n;
    struct Row {
      const char* name;
      double flops;
      std::function<void()> call;
    };
    const Row rows[] = {
        {"gemm NN (baseline)", 2 * n3, [&] { api.gemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n); }},
        {"gemm TN", 2 * n3, [&] { api.gemm(CblasColMajor, CblasTrans, CblasNoTrans, n, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n); }},
        {"gemm NT", 2 * n3, [&] { api.gemm(CblasColMajor, CblasNoTrans, CblasTrans, n, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n); }},
        {"symm L", 2 * n3, [&] { api.symm(CblasColMajor, CblasLeft, CblasUpper, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n); }},
        {"syrk N", n3, [&] { api.syrk(CblasColMajor, CblasUpper, CblasNoTrans, n, n, 1, a.data(), n, 0, c.data(), n); }},
        {"syr2k N", 2 * n3, [&] { api.syr2k(CblasColMajor, CblasUpper, CblasNoTrans, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n); }},
        {"trmm LU", n3, [&] { api.trmm(CblasColMajor, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, n, n, 1, a.data(), n, c.data(), n); }},
        {"trsm LL", n3, [&] { c = b0; api.trsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasNonUnit, n, n, 1, a.data(), n, c.data(), n); }},
    };
    bench::Report report(std::string(type) + " n=" + std::to_string(n), "call", "flop");
    for (const Row& row : rows) {
      report.add(row.name, bench::seconds_per_call(row.call), 1, row.flops);
    }
  }
}

struct DoubleApi {
  decltype(&cblas_dgemm) gemm = cblas_dgemm;
  decltype(&cblas_dsymm) symm = cblas_dsymm;
  decltype(&cblas_dsyrk) syrk = cblas_dsyrk;
  decltype(&cblas_dsyr2k) syr2k = cblas_dsyr2k;
  decltype(&cblas_dtrmm) trmm = cblas_dtrmm;
  decltype(&cblas_dtrsm) trsm = cblas_dtrsm;
};
struct FloatApi {
  decltype(&cblas_sgemm) gemm = cblas_sgemm;
  decltype(&cblas_ssymm) symm = cblas_ssymm;
  decltype(&cblas_ssyrk) syrk = cblas_ssyrk;
  decltype(&cblas_ssyr2k) syr2k = cblas_ssyr2k;
  decltype(&cblas_strmm) trmm = cblas_strmm;
  decltype(&cblas_strsm) trsm = cblas_strsm;
};

}  // namespace

int main() {
  run<double>("f64", DoubleApi{});
  run<float>("f32", FloatApi{});
}
