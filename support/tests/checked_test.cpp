#include <cstdint>
#include <limits>
#include <optional>

#include <gtest/gtest.h>

#include "support/checked.hpp"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Checked, TruncatingReadings) {
  struct Case {
    double value;
    std::optional<std::int64_t> signed_value;
    std::optional<std::uint64_t> unsigned_value;
  };
  const Case cases[] = {
      {2.9, 2, 2},
      {-0.5, 0, 0},
      {-1.0, -1, std::nullopt},
      {-2.7, -2, std::nullopt},
      {-9223372036854775808.0, INT64_MIN, std::nullopt},
      {9223372036854775808.0, std::nullopt, 9223372036854775808ULL},
      {18446744073709551616.0, std::nullopt, std::nullopt},
      {nan, std::nullopt, std::nullopt},
      {inf, std::nullopt, std::nullopt},
      {-inf, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(support::truncate_i64(c.value), c.signed_value) << c.value;
    EXPECT_EQ(support::truncate_u64(c.value), c.unsigned_value) << c.value;
  }
}

TEST(Checked, SaturatingReadings) {
  EXPECT_EQ(support::saturating_i64(nan), 0);
  EXPECT_EQ(support::saturating_i64(1e19), INT64_MAX);
  EXPECT_EQ(support::saturating_i64(-1e19), INT64_MIN);
  EXPECT_EQ(support::saturating_i64(-inf), INT64_MIN);
  EXPECT_EQ(support::saturating_i64(-3.99), -3);
}

}  // namespace
