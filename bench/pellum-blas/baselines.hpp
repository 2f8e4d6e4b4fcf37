#pragma once
// The peers the BLAS benchmarks and the speed check time ours against, in the same process: Eigen's product,
// built once per instruction set (the module for the best set the processor runs, next to
// the program), and OpenBLAS from the system, on one thread. Both are loaded with
// dlopen(RTLD_LOCAL) and called through their handles: OpenBLAS exports the same cblas_*
// names as ours, so the two must never meet at link time.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "pellum_blas/cblas.h"
#include "pellum_blas/level3/gemm_kernel.hpp"

namespace bench::blas {

// The instruction-set level of our kernels, as the figures' headings name it.
inline const char* kernel_level_name(pellum_blas::level3::gemm_kernel::KernelLevel level) {
  using pellum_blas::level3::gemm_kernel::KernelLevel;
  switch (level) {
    case KernelLevel::Avx512: return "AVX-512F";
    case KernelLevel::Avx2: return "AVX2+FMA";
    case KernelLevel::Sse42: return "SSE4.2";
    case KernelLevel::Scalar: return "scalar";
  }
  return "?";
}

// C = A·B, column-major, leading dimensions equal to the row counts.
template <typename T>
using EigenProduct = void (*)(int m, int k, int n, const T* a, const T* b, T* c);

struct Eigen {
  std::string name;
  EigenProduct<double> dgemm = nullptr;
  EigenProduct<float> sgemm = nullptr;
};

// The Eigen module for the best instruction set the processor runs; exits when it is missing.
inline Eigen load_eigen(const char* argv0) {
  std::string dir(argv0);
  dir = dir.substr(0, dir.find_last_of('/') + 1);
  const char* isa =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")
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
          reinterpret_cast<EigenProduct<double>>(dlsym(module, "eigen_baseline_dgemm")),
          reinterpret_cast<EigenProduct<float>>(dlsym(module, "eigen_baseline_sgemm"))};
}

// OpenBLAS's exported functions that the benchmarks compare; same signatures as ours.
struct OpenBlas {
  std::string name;  // empty: not installed, and every pointer null
  decltype(&cblas_dgemm) dgemm = nullptr;
  decltype(&cblas_sgemm) sgemm = nullptr;
  decltype(&cblas_dgemv) dgemv = nullptr;
  decltype(&cblas_sgemv) sgemv = nullptr;
  decltype(&cblas_dsymm) dsymm = nullptr;
  decltype(&cblas_ssymm) ssymm = nullptr;
  decltype(&cblas_dsyrk) dsyrk = nullptr;
  decltype(&cblas_ssyrk) ssyrk = nullptr;
  decltype(&cblas_dsyr2k) dsyr2k = nullptr;
  decltype(&cblas_ssyr2k) ssyr2k = nullptr;
  decltype(&cblas_dtrmm) dtrmm = nullptr;
  decltype(&cblas_strmm) strmm = nullptr;
  decltype(&cblas_dtrsm) dtrsm = nullptr;
  decltype(&cblas_strsm) strsm = nullptr;
};

// The system's OpenBLAS on one thread, or, when it is not installed, an empty record and
// a note on standard error (the benchmarks then print only the other figures).
inline OpenBlas load_openblas() {
  // Read when the library starts its thread pool, that is on loading.
  setenv("OPENBLAS_NUM_THREADS", "1", 1);
  void* lib = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::fprintf(stderr, "OpenBLAS not loaded (%s): its figures are left out\n", dlerror());
    return {};
  }
  if (auto set_threads = reinterpret_cast<void (*)(int)>(dlsym(lib, "openblas_set_num_threads"))) set_threads(1);
  const auto core = reinterpret_cast<const char* (*)()>(dlsym(lib, "openblas_get_corename"));
  OpenBlas out;
  out.name = std::string("OpenBLAS (") + (core != nullptr ? core() : "?") + ")";
  const auto bind = [lib](auto& fn, const char* symbol) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, symbol));
    if (fn == nullptr) {
      std::fprintf(stderr, "OpenBLAS lacks %s\n", symbol);
      std::exit(1);
    }
  };
  bind(out.dgemm, "cblas_dgemm");
  bind(out.sgemm, "cblas_sgemm");
  bind(out.dgemv, "cblas_dgemv");
  bind(out.sgemv, "cblas_sgemv");
  bind(out.dsymm, "cblas_dsymm");
  bind(out.ssymm, "cblas_ssymm");
  bind(out.dsyrk, "cblas_dsyrk");
  bind(out.ssyrk, "cblas_ssyrk");
  bind(out.dsyr2k, "cblas_dsyr2k");
  bind(out.ssyr2k, "cblas_ssyr2k");
  bind(out.dtrmm, "cblas_dtrmm");
  bind(out.strmm, "cblas_strmm");
  bind(out.dtrsm, "cblas_dtrsm");
  bind(out.strsm, "cblas_strsm");
  return out;
}

}  // namespace bench::blas
