#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "pellum_blas/level1/asum.hpp"
#include "pellum_blas/level1/axpy.hpp"
#include "pellum_blas/level1/dot.hpp"
#include "pellum_blas/level1/scal.hpp"
#include "support/testing.hpp"
#include "test_support.hpp"

namespace pellum_blas::testing {
namespace {

using level1::asum::asum;
using level1::axpy::axpy;
using level1::dot::dot;
using level1::scal::scal;

template <typename T>
constexpr T power_of_two(int exponent) {
  T v = 1;
  for (int e = 0; e < exponent; ++e) v *= 2;
  return v;
}

template <typename T>
class Level1Kernels : public ::testing::Test {
 protected:
  // Large enough that adding up to 6 to it changes nothing: it tells summation orders apart.
  static constexpr T huge = power_of_two<T>(std::numeric_limits<T>::digits + 3);
  // The first power of two whose successor is not representable.
  static constexpr T edge = power_of_two<T>(std::numeric_limits<T>::digits);
};
TYPED_TEST_SUITE(Level1Kernels, ElementTypes, ElementName);

// Each case's expected value holds only for the four-accumulator grouping; a plain
// left-to-right sum, or another pairing, gives a different one.
TYPED_TEST(Level1Kernels, DotGroupsFourAccumulatorsAndFoldsTheTailIntoTheFirst) {
  using T = TypeParam;
  const T h = this->huge;
  struct Case {
    const char* name;
    std::vector<T> x;
    T expected;
  };
  const Case cases[] = {
      {"pairs_s0_s1_then_s2_s3", {1, 2, h, -h}, 3},              // sequential: 0
      {"tail_joins_first_before_the_sum", {h, 1, 2, 3, -h}, 6},  // tail last: 0
      {"seven_elements", {h, 1, 2, 3, 0, 0, -h}, 6},
      {"single", {-2.5}, -2.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<T> ones(c.x.size(), T{1});
    EXPECT_EQ(dot<T>(c.x, ones), c.expected);
    // The products, not only the sums, go through the accumulators.
    std::vector<T> halves(c.x.size(), T{0.5}), doubled(c.x);
    for (T& v : doubled) v *= 2;
    EXPECT_EQ(dot<T>(doubled, halves), c.expected);
  }
  EXPECT_EQ(bits(dot<T>({}, {})), bits(T{0}));
}

TYPED_TEST(Level1Kernels, AsumGroupsLikeDot) {
  using T = TypeParam;
  const T e = this->edge;
  // (e + 0) + (1 + 1) = e + 2 exactly; a left-to-right sum loses both ones.
  EXPECT_EQ(asum<T>(std::vector<T>{e, 0, -1, 1}), e + 2);
  // The tail joins the first accumulator: (1 + 1) + e; added last, both ones are lost.
  EXPECT_EQ(asum<T>(std::vector<T>{1, -e, 0, 0, 1}), e + 2);
  EXPECT_EQ(asum<T>(std::vector<T>{-0.0, 2, -3}), T{5});
  EXPECT_TRUE(std::isnan(asum<T>(std::vector<T>{1, nan<T>, 2})));
  EXPECT_EQ(bits(asum<T>({})), bits(T{0}));
}

TYPED_TEST(Level1Kernels, AxpyMultipliesThenAdds) {
  using T = TypeParam;
  const std::vector<T> x = random_values<T>(19, 1);  // two groups of eight and a tail
  std::vector<T> y = random_values<T>(19, 2), expected = y;
  const T alpha = T{2.5};
  for (std::size_t i = 0; i < x.size(); ++i) expected[i] = x[i] * alpha + expected[i];
  axpy<T>(alpha, x, y);
  EXPECT_TRUE(same_bits(y, expected));
}

TYPED_TEST(Level1Kernels, AxpyWithZeroAlphaLeavesYAlone) {
  using T = TypeParam;
  const std::vector<T> x = {nan<T>, inf<T>, 1};
  for (const T alpha : {T{0}, T{-0.0}}) {
    std::vector<T> y = {T{-0.0}, 2, nan<T>};
    const std::vector<T> before = y;
    axpy<T>(alpha, x, y);
    EXPECT_TRUE(same_bits(y, before));
  }
  std::vector<T> y = {1, 2, 3};
  axpy<T>(nan<T>, std::vector<T>{0, 0, 0}, y);
  for (const T v : y) EXPECT_TRUE(std::isnan(v));
}

TYPED_TEST(Level1Kernels, ScalClearsForZeroSkipsForOneMultipliesOtherwise) {
  using T = TypeParam;
  for (const T alpha : {T{0}, T{-0.0}}) {
    std::vector<T> x = {nan<T>, -inf<T>, -1, -0.0};
    scal<T>(alpha, x);
    EXPECT_TRUE(same_bits(x, std::vector<T>(4, T{0})));
  }
  std::vector<T> x = {nan<T>, -0.0, 3};
  const std::vector<T> before = x;
  scal<T>(1, x);
  EXPECT_TRUE(same_bits(x, before));

  std::vector<T> y = random_values<T>(7, 3), expected = y;
  for (T& v : expected) v *= T{-2.5};
  scal<T>(T{-2.5}, y);
  EXPECT_TRUE(same_bits(y, expected));

  std::vector<T> z = {0, -0.0};
  scal<T>(nan<T>, z);
  EXPECT_TRUE(std::isnan(z[0]) && std::isnan(z[1]));
}

TYPED_TEST(Level1Kernels, UnequalLengthsPanic) {
  using T = TypeParam;
  const std::vector<T> three(3), four(4);
  std::vector<T> out(4);
  EXPECT_EQ(support::testing::panic_message([&] { dot<T>(three, four); }),
            "Vector lengths must match (left: 3, right: 4)");
  EXPECT_EQ(support::testing::panic_message([&] { axpy<T>(1, three, out); }),
            "Vector lengths must match (left: 3, right: 4)");
}

}  // namespace
}  // namespace pellum_blas::testing
