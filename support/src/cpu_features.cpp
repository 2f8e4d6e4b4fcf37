#include "support/cpu_features.hpp"

namespace support::cpu_features::detail {

std::uint32_t probe() noexcept {
  __builtin_cpu_init();  // from a static initializer, the processor data may not be read yet
  std::uint32_t found = probed;
  if (__builtin_cpu_supports("avx512f")) found |= avx512f;
  if (__builtin_cpu_supports("avx2")) found |= avx2;
  if (__builtin_cpu_supports("fma")) found |= fma;
  if (__builtin_cpu_supports("sse4.2")) found |= sse42;
  bits.store(found, std::memory_order_relaxed);
  return found;
}

}  // namespace support::cpu_features::detail
