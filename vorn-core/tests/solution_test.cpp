#include "vorn_core/solution.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using vorn_core::solution::Solution;
using namespace vorn_core::testing;

TEST(SolutionRenderings, RawTextLatexAndSource) {
  const Solution s = Solution::of(tree(eml(x(0), one())), 0.25);
  EXPECT_EQ(s.complexity, 3u);
  EXPECT_EQ(s.mse, 0.25);
  EXPECT_EQ(s.pretty(), "eml(x0, 1)");  // raw EML form, not infix
  EXPECT_EQ(s.latex(), "e^{x_{0}}");
  EXPECT_EQ(s.numpy_code(), "lambda x0: (np.exp(x0) - np.log(1.0))");
  EXPECT_EQ(s.sympy_code(), "# symbols('x0')\n(exp(x0) - log(1))");
  EXPECT_EQ(s.rust_code(), "fn f(x0: f64) -> f64 { ((x0).exp() - (1.0_f64).ln()) }");
}

TEST(SolutionRenderings, ConstantsInRawTextHaveSixDecimals) {
  const Solution s = Solution::of(tree(eml(x(1), c(2.5))), 0.0);
  EXPECT_EQ(s.complexity, 3u);
  EXPECT_EQ(s.pretty(), "eml(x1, 2.500000)");
  EXPECT_EQ(s.numpy_code(), "lambda x0, x1: (np.exp(x1) - np.log(2.5))");
}

}  // namespace
