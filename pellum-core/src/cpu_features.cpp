#include "pellum_core/cpu_features.hpp"

namespace pellum_core::cpu_features {

const Features& detected() noexcept {
  static const Features features = [] {
    __builtin_cpu_init();
    return Features{
        .avx512f = __builtin_cpu_supports("avx512f") != 0,
        .avx2 = __builtin_cpu_supports("avx2") != 0,
        .fma = __builtin_cpu_supports("fma") != 0,
        .sse42 = __builtin_cpu_supports("sse4.2") != 0,
    };
  }();
  return features;
}

}  // namespace pellum_core::cpu_features
