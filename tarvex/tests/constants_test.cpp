#include <cmath>
#include <limits>
#include <optional>

#include <gtest/gtest.h>

#include "tarvex/symreg/constants.hpp"

namespace {

using namespace tarvex::symreg::constants;

TEST(NamedConstants, TableValuesAndTexts) {
  EXPECT_EQ(value(NamedConst::Pi), 3.141592653589793);
  EXPECT_EQ(value(NamedConst::ESquared), 7.3890560989306495);
  EXPECT_EQ(value(NamedConst::TwoPi), 6.283185307179586);
  EXPECT_EQ(value(NamedConst::HalfPi), 1.5707963267948966);
  EXPECT_EQ(value(NamedConst::Third), 0.3333333333333333);
  EXPECT_EQ(value(NamedConst::Ln2), 0.6931471805599453);
  EXPECT_EQ(value(NamedConst::NegSqrt2), -1.4142135623730951);
  EXPECT_EQ(latex(NamedConst::Pi), "\\pi");
  EXPECT_EQ(latex(NamedConst::NegHalf), "-\\frac{1}{2}");
  EXPECT_EQ(latex(NamedConst::NegTwo), "(-2)");
  EXPECT_EQ(latex(NamedConst::NegPi), "(-\\pi)");
  EXPECT_EQ(latex(NamedConst::Ln2), "\\ln(2)");
  EXPECT_EQ(latex(NamedConst::GoldenRatio), "\\varphi");
}

TEST(NamedConstants, CandidatesInSnappingOrder) {
  const auto candidates = named_const_candidates();
  ASSERT_EQ(candidates.size(), 17u);
  const int expected_ids[] = {0, 3, 1, 4, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    EXPECT_EQ(static_cast<int>(candidates[i].second), expected_ids[i]);
    EXPECT_EQ(candidates[i].first, value(candidates[i].second));
  }
}

TEST(NamedConstants, Snapping) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double x;
    std::optional<NamedConst> expected;
  };
  const Case cases[] = {
      {3.2, NamedConst::Pi},       {1.6, NamedConst::HalfPi},  // also within 2 % of phi; pi/2 comes first
      {0.7, NamedConst::Ln2},      {0.33, NamedConst::Third},
      {-2.03, NamedConst::NegTwo}, {2.7, NamedConst::E},
      {-3.1, NamedConst::NegPi},   {3.0, std::nullopt},
      {0.0, std::nullopt},         {3.141592653589793 * 1.02, std::nullopt},
      {nan, std::nullopt},         {inf, std::nullopt},
      {-inf, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(snap_to_named_const(c.x), c.expected) << c.x;
}

// No table constant has a double at exactly 2 % from it, so the inclusive bound is pinned
// by the last double that snaps and the first that does not, on both sides.
TEST(NamedConstants, SnappingBoundaryLiesBetweenNeighbouringDoubles) {
  struct Case {
    double inside, outside;
    NamedConst id;
  };
  const Case cases[] = {
      {3.2044245066615886, 3.204424506661589, NamedConst::Pi},  // outside: pi * 1.02
      {3.0787608005179976, 3.078760800517997, NamedConst::Pi}, {-2.0399999999999996, -2.04, NamedConst::NegTwo},
      {-1.9600000000000002, -1.96, NamedConst::NegTwo},        {0.5099999999999999, 0.51, NamedConst::Half},
      {0.49000000000000005, 0.49, NamedConst::Half},           {0.25499999999999995, 0.255, NamedConst::Quarter},
      {0.24500000000000002, 0.245, NamedConst::Quarter},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inside);
    ASSERT_EQ(std::nextafter(c.inside, c.outside), c.outside);  // neighbours
    EXPECT_EQ(snap_to_named_const(c.inside), c.id);
    EXPECT_EQ(snap_to_named_const(c.outside), std::nullopt);
  }
}

}  // namespace
