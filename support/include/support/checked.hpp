#pragma once
// Readings of doubles as integers. A static_cast of NaN or of an out-of-range double to
// an integer is undefined behaviour, so every such reading in the system goes through
// one of these functions.
#include <cmath>
#include <cstdint>
#include <optional>

namespace support {

inline constexpr double two_pow_63 = 9223372036854775808.0;
inline constexpr double two_pow_64 = 18446744073709551616.0;

// Truncation toward zero of a value in [-2^63, 2^63); nothing otherwise (NaN included).
inline std::optional<std::int64_t> truncate_i64(double value) {
  if (!(value >= -two_pow_63 && value < two_pow_63)) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

// Truncation toward zero of a value strictly between -1 and 2^64; nothing otherwise.
inline std::optional<std::uint64_t> truncate_u64(double value) {
  if (!(value > -1.0 && value < two_pow_64)) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

// Truncation toward zero that saturates at the type's bounds and reads NaN as 0.
inline std::int64_t saturating_i64(double value) {
  if (std::isnan(value)) return 0;
  if (value <= -two_pow_63) return INT64_MIN;
  if (value >= two_pow_63) return INT64_MAX;
  return static_cast<std::int64_t>(value);
}

}  // namespace support
