#pragma once
// Size arithmetic that cannot wrap: products saturate at the largest word, so a size
// that does not fit reaches the allocator's "Invalid layout" check instead of a wrong,
// small buffer.
#include <cstddef>
#include <limits>

namespace pellum_blas::detail {

inline constexpr std::size_t size_max = std::numeric_limits<std::size_t>::max();

inline std::size_t saturating_mul(std::size_t a, std::size_t b) {
  std::size_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? size_max : product;
}

inline std::size_t saturating_mul(std::size_t a, std::size_t b, std::size_t c) {
  return saturating_mul(saturating_mul(a, b), c);
}

inline std::size_t div_ceil(std::size_t x, std::size_t a) { return x / a + (x % a != 0); }

// x rounded up / down to a multiple of a (a > 0).
inline std::size_t round_up(std::size_t x, std::size_t a) { return saturating_mul(div_ceil(x, a), a); }
inline std::size_t round_down(std::size_t x, std::size_t a) { return x - x % a; }

// floor(x · num / den) computed exactly in 128 bits; fits a word whenever num <= den.
inline std::size_t scaled(std::size_t x, std::size_t num, std::size_t den) {
  return static_cast<std::size_t>(static_cast<unsigned __int128>(x) * num / den);
}

}  // namespace pellum_blas::detail
