#include "vorn_core/codegen.hpp"

#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "vorn_core/solution.hpp"

namespace {

using namespace vorn_core::codegen;
using namespace vorn_core::testing;
using support::testing::PrintTo;
using vorn_core::solution::Solution;

struct ProgramCase {
  std::string name;
  NodePtr root;
  std::size_t num_vars;
  std::string numpy;
  std::string sympy;
  std::string rust;
};

class Programs : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(Programs, InEveryNotation) {
  const ProgramCase& c = GetParam();
  EXPECT_EQ(numpy_code(*c.root, c.num_vars), c.numpy);
  EXPECT_EQ(sympy_code(*c.root, c.num_vars), c.sympy);
  EXPECT_EQ(rust_code(*c.root, c.num_vars), c.rust);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, Programs,
    ::testing::Values(
        ProgramCase{"exp_of_x0", eml(x(0), one()), 1, "lambda x0: (np.exp(x0) - np.log(1.0))",
                    "# symbols('x0')\n(exp(x0) - log(1))", "fn f(x0: f64) -> f64 { ((x0).exp() - (1.0_f64).ln()) }"},
        ProgramCase{"leaf_one_names_x0", one(), 0, "lambda x0: 1.0", "# symbols('x0')\n1",
                    "fn f(x0: f64) -> f64 { 1.0_f64 }"},
        ProgramCase{"every_declared_variable", eml(x(1), one()), 3, "lambda x0, x1, x2: (np.exp(x1) - np.log(1.0))",
                    "# symbols('x0 x1 x2')\n(exp(x1) - log(1))",
                    "fn f(x0: f64, x1: f64, x2: f64) -> f64 { ((x1).exp() - (1.0_f64).ln()) }"},
        ProgramCase{"negative_constant_left", eml(c(-0.5), x(0)), 1, "lambda x0: (np.exp(-0.5) - np.log(x0))",
                    "# symbols('x0')\n(exp(-0.5) - log(x0))",
                    "fn f(x0: f64) -> f64 { ((-0.5_f64).exp() - (x0).ln()) }"},
        ProgramCase{"nested_left_first", eml(eml(x(0), c(2.0)), eml(one(), x(1))), 2,
                    "lambda x0, x1: (np.exp((np.exp(x0) - np.log(2))) - np.log((np.exp(1.0) - np.log(x1))))",
                    "# symbols('x0 x1')\n(exp((exp(x0) - log(2))) - log((exp(1) - log(x1))))",
                    "fn f(x0: f64, x1: f64) -> f64 { ((((x0).exp() - (2_f64).ln())).exp() - "
                    "(((1.0_f64).exp() - (x1).ln())).ln()) }"}),
    case_name<ProgramCase>);

TEST(Expressions, ConstantsInShortestExactDecimals) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, std::string> cases[] = {
      {0.0000001, "0.0000001"},
      {1e23, "100000000000000000000000"},
      {1.0 / 3.0, "0.3333333333333333"},
      {-0.0, "-0"},
      {-inf, "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(numpy_expr(*c(value)), text);
    EXPECT_EQ(sympy_expr(*c(value)), text);
    EXPECT_EQ(rust_expr(*c(value)), text + "_f64");
  }
}

TEST(SolutionRenderings, RawTextLatexAndComplexity) {
  const Solution s = Solution::of(tree(eml(x(1), c(2.5))), 0.25);
  EXPECT_EQ(s.complexity, 3u);
  EXPECT_EQ(s.pretty(), "eml(x1, 2.500000)");    // the raw EML form, constants with six decimals
  EXPECT_EQ(s.latex(), "e^{x_{1}} - 0.916291");  // lowered and simplified: ln 2.5 folded
  EXPECT_EQ(s.numpy_code(), "lambda x0, x1: (np.exp(x1) - np.log(2.5))");
  EXPECT_EQ(s.rust_code(), "fn f(x0: f64, x1: f64) -> f64 { ((x1).exp() - (2.5_f64).ln()) }");
}

}  // namespace
