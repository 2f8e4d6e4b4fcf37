// Single-thread rates of the exported level-3 routines built on the GEMM driver, next to
// the driver's own rate through dgemm/sgemm, for square problems: one table per type and
// size with gemm NN as the baseline, showing how much of the GEMM speed the symmetric,
// triangular and transposed paths keep. Each routine is timed in OpenBLAS too, in the same
// process, with our speed over its speed; then the transposed matrix-vector product.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "baselines.hpp"
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
void level3(const char* type, const Api& ours, const Api* theirs, const std::string& theirs_name) {
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
      std::function<void(const Api&)> call;
    };
    const Row rows[] = {
        {"gemm NN", 2 * n3,
         [&](const Api& api) {
           api.gemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n);
         }},
        {"gemm TN", 2 * n3,
         [&](const Api& api) {
           api.gemm(CblasColMajor, CblasTrans, CblasNoTrans, n, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n);
         }},
        {"gemm NT", 2 * n3,
         [&](const Api& api) {
           api.gemm(CblasColMajor, CblasNoTrans, CblasTrans, n, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n);
         }},
        {"symm L", 2 * n3,
         [&](const Api& api) {
           api.symm(CblasColMajor, CblasLeft, CblasUpper, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n);
         }},
        {"syrk N", n3,
         [&](const Api& api) {
           api.syrk(CblasColMajor, CblasUpper, CblasNoTrans, n, n, 1, a.data(), n, 0, c.data(), n);
         }},
        {"syr2k N", 2 * n3,
         [&](const Api& api) {
           api.syr2k(CblasColMajor, CblasUpper, CblasNoTrans, n, n, 1, a.data(), n, b0.data(), n, 0, c.data(), n);
         }},
        {"trmm LU", n3,
         [&](const Api& api) {
           api.trmm(CblasColMajor, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, n, n, 1, a.data(), n, c.data(),
                    n);
         }},
        {"trsm LL", n3,
         [&](const Api& api) {
           c = b0;
           api.trsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasNonUnit, n, n, 1, a.data(), n, c.data(),
                    n);
         }},
    };
    bench::Report report(std::string(type) + " n=" + std::to_string(n) + " (baseline: our gemm NN)", "call", "flop");
    for (const Row& row : rows) {
      report.add(row.name, bench::seconds_per_call([&] { row.call(ours); }), 1, row.flops);
      if (theirs == nullptr) continue;
      const std::string their_row = std::string(row.name) + ", " + theirs_name;
      report.add(their_row, bench::seconds_per_call([&] { row.call(*theirs); }), 1, row.flops);
      report.speed_ratio(row.name, their_row);
    }
  }
}

// y <- A^T·x with A column-major n × n: every y element one contiguous column of A.
template <typename T, typename Gemv>
void transposed_gemv(const char* type, Gemv ours, Gemv theirs, const std::string& theirs_name) {
  for (const std::int32_t n : {1000, 4000}) {
    const std::vector<T> a = values<T>(static_cast<std::size_t>(n) * n, 1), x = values<T>(n, 2);
    std::vector<T> y = values<T>(n, 3);
    const double flops = 2.0 * n * n;
    const auto multiply = [&](Gemv fn) {
      return [&, fn] { fn(CblasColMajor, CblasTrans, n, n, T(1), a.data(), n, x.data(), 1, T(0), y.data(), 1); };
    };
    bench::Report report(std::string(type) + " transposed, n=" + std::to_string(n), "call", "flop");
    report.add("ours (baseline)", bench::seconds_per_call(multiply(ours)), 1, flops);
    if (theirs == nullptr) continue;
    report.add(theirs_name, bench::seconds_per_call(multiply(theirs)), 1, flops);
    report.speed_ratio("ours (baseline)", theirs_name);
  }
}

struct DoubleApi {
  decltype(&cblas_dgemm) gemm;
  decltype(&cblas_dsymm) symm;
  decltype(&cblas_dsyrk) syrk;
  decltype(&cblas_dsyr2k) syr2k;
  decltype(&cblas_dtrmm) trmm;
  decltype(&cblas_dtrsm) trsm;
};
struct FloatApi {
  decltype(&cblas_sgemm) gemm;
  decltype(&cblas_ssymm) symm;
  decltype(&cblas_ssyrk) syrk;
  decltype(&cblas_ssyr2k) syr2k;
  decltype(&cblas_strmm) trmm;
  decltype(&cblas_strsm) trsm;
};

}  // namespace

int main() {
  const bench::blas::OpenBlas ob = bench::blas::load_openblas();
  const bool have_openblas = !ob.name.empty();
  const DoubleApi ours_d{cblas_dgemm, cblas_dsymm, cblas_dsyrk, cblas_dsyr2k, cblas_dtrmm, cblas_dtrsm};
  const DoubleApi theirs_d{ob.dgemm, ob.dsymm, ob.dsyrk, ob.dsyr2k, ob.dtrmm, ob.dtrsm};
  const FloatApi ours_s{cblas_sgemm, cblas_ssymm, cblas_ssyrk, cblas_ssyr2k, cblas_strmm, cblas_strsm};
  const FloatApi theirs_s{ob.sgemm, ob.ssymm, ob.ssyrk, ob.ssyr2k, ob.strmm, ob.strsm};
  level3<double>("f64", ours_d, have_openblas ? &theirs_d : nullptr, ob.name);
  level3<float>("f32", ours_s, have_openblas ? &theirs_s : nullptr, ob.name);
  transposed_gemv<double>("dgemv", cblas_dgemv, ob.dgemv, ob.name);
  transposed_gemv<float>("sgemv", cblas_sgemv, ob.sgemv, ob.name);
}
