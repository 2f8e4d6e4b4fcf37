#pragma once
// What the processor offers the vector kernels, asked once per process.
#include <atomic>
#include <cstdint>

namespace support::cpu_features {

struct Features {
  bool avx512f = false;
  bool avx2 = false;
  bool fma = false;
  bool sse42 = false;
};

// Correct from any thread and at any point of the process, static initialisation included.
[[gnu::always_inline]] inline Features detected() noexcept;

namespace detail {

// One bit per feature above `probed`; zero, from constant initialisation, until the first
// probe. Threads that probe at once store the same bits.
enum Bit : std::uint32_t { probed = 1, avx512f = 2, avx2 = 4, fma = 8, sse42 = 16 };
inline constinit std::atomic<std::uint32_t> bits{0};
// Asks the processor, stores the bits and returns them.
std::uint32_t probe() noexcept;

}  // namespace detail

// Always inlined: a loop that picks its instruction set on every call pays one load and
// one test.
[[gnu::always_inline]] inline Features detected() noexcept {
  std::uint32_t bits = detail::bits.load(std::memory_order_relaxed);
  if (bits == 0) [[unlikely]]
    bits = detail::probe();
  return Features{.avx512f = (bits & detail::avx512f) != 0,
                  .avx2 = (bits & detail::avx2) != 0,
                  .fma = (bits & detail::fma) != 0,
                  .sse42 = (bits & detail::sse42) != 0};
}

}  // namespace support::cpu_features
