#pragma once
// What the processor offers the dense kernels, asked once per process.
namespace pellum_core::cpu_features {

struct Features {
  bool avx512f = false;
  bool avx2 = false;
  bool fma = false;
  bool sse42 = false;
};

// Detected on first use (thread-safe) and cached for the rest of the process.
const Features& detected() noexcept;

}  // namespace pellum_core::cpu_features
