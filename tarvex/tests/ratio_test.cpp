#include <cstdint>
#include <optional>

#include <gtest/gtest.h>

#include "support/panic.hpp"
#include "tarvex/poly/ratio.hpp"

namespace {

using tarvex::poly::Ratio;

constexpr std::int64_t min64 = INT64_MIN;
constexpr std::int64_t max64 = INT64_MAX;
constexpr std::int64_t two_pow_32 = std::int64_t{1} << 32;
constexpr std::int64_t two_pow_62 = std::int64_t{1} << 62;

struct Parts {
  std::int64_t numer;
  std::int64_t denom;
};

void expect_parts(const std::optional<Ratio>& r, std::optional<Parts> expected) {
  ASSERT_EQ(r.has_value(), expected.has_value());
  if (!r) return;
  EXPECT_EQ(r->numer(), expected->numer);
  EXPECT_EQ(r->denom(), expected->denom);
}

TEST(Ratio, ReductionSignAndMagnitudeEdges) {
  struct Case {
    std::int64_t n, d;
    std::optional<Parts> expected;
  };
  const Case cases[] = {
      {6, -4, Parts{-3, 2}},
      {-6, -4, Parts{3, 2}},
      {0, -5, Parts{0, 1}},
      {0, min64, Parts{0, 1}},
      {min64, 1, Parts{min64, 1}},
      {min64, 2, Parts{-two_pow_62, 1}},
      {min64, min64, Parts{1, 1}},
      {2, min64, Parts{-1, two_pow_62}},
      {max64, max64, Parts{1, 1}},
      // The reduced form would need +2^63 in the numerator or the denominator.
      {min64, -1, std::nullopt},
      {1, min64, std::nullopt},
      {-3, min64, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.n << "/" << c.d);
    expect_parts(Ratio::reduced(c.n, c.d), c.expected);
  }
}

TEST(Ratio, ZeroDenominatorIsAnInvariantViolation) { EXPECT_THROW((void)Ratio::reduced(1, 0), support::Panic); }

TEST(Ratio, CheckedAddition) {
  const Ratio half = *Ratio::reduced(1, 2);
  const Ratio third = *Ratio::reduced(1, 3);
  expect_parts(half.checked_add(third), Parts{5, 6});
  expect_parts(half.checked_add(*half.checked_neg()), Parts{0, 1});
  expect_parts(Ratio(min64 + 1).checked_add(Ratio(-1)), Parts{min64, 1});
  // The sum overflows.
  expect_parts(Ratio(max64).checked_add(Ratio(1)), std::nullopt);
  // a·q overflows although the exact sum would fit: 3 + 1/2^62.
  expect_parts(Ratio(3).checked_add(*Ratio::reduced(1, two_pow_62)), std::nullopt);
  // b·q overflows: the common denominator is formed before any reduction.
  const Ratio tiny = *Ratio::reduced(1, two_pow_32);
  expect_parts(tiny.checked_add(tiny), std::nullopt);
}

TEST(Ratio, CheckedMultiplication) {
  expect_parts(Ratio::reduced(2, 3)->checked_mul(*Ratio::reduced(3, 4)), Parts{1, 2});
  expect_parts(Ratio(9000000000000000000).checked_mul(Ratio(2)), std::nullopt);
  expect_parts(Ratio::reduced(1, two_pow_32)->checked_mul(*Ratio::reduced(1, two_pow_32)), std::nullopt);
  expect_parts(Ratio(min64).checked_mul(Ratio(1)), Parts{min64, 1});
  expect_parts(Ratio(min64).checked_mul(Ratio(-1)), std::nullopt);
}

TEST(Ratio, CheckedNegation) {
  expect_parts(Ratio::reduced(-3, 2)->checked_neg(), Parts{3, 2});
  expect_parts(Ratio(max64).checked_neg(), Parts{-max64, 1});
  expect_parts(Ratio(min64).checked_neg(), std::nullopt);
}

TEST(Ratio, ConversionToDouble) {
  EXPECT_EQ(Ratio::reduced(1, 3)->to_double(), 0.3333333333333333);
  EXPECT_EQ(Ratio::reduced(-7, 4)->to_double(), -1.75);
  EXPECT_EQ(Ratio().to_double(), 0.0);
}

}  // namespace
