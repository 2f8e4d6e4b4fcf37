#include "vorn_core/codegen.hpp"

#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using namespace vorn_core::codegen;
using namespace vorn_core::testing;

struct ProgramCase {
  std::string name;
  NodePtr root;
  std::size_t num_vars;
  std::string numpy;
  std::string sympy;
  std::string rust;
};

std::string case_name(const ::testing::TestParamInfo<ProgramCase>& info) { return info.param.name; }

class Programs : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(Programs, InEveryNotation) {
  const ProgramCase& c = GetParam();
  EXPECT_EQ(numpy_code(*c.root, c.num_vars), c.numpy);
  EXPECT_EQ(sympy_code(*c.root, c.num_vars), c.sympy);
  EXPECT_EQ(rust_code(*c.root, c.num_vars), c.rust);
}

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Trees, Programs,
    ::testing::Values(
        ProgramCase{"exp_of_x0", eml(x(0), one()), 1, "lambda x0: (np.exp(x0) - np.log(1.0))",
                    "# symbols('x0')\n(exp(x0) - log(1))", "fn f(x0: f64) -> f64 { ((x0).exp() - (1.0_f64).ln()) }"},
        ProgramCase{"leaf_one_without_variables", one(), 0, "lambda x0: 1.0", "# symbols('x0')\n1",
                    "fn f(x0: f64) -> f64 { 1.0_f64 }"},
        ProgramCase{"every_declared_variable_listed", eml(x(1), one()), 3, "lambda x0, x1, x2: (np.exp(x1) - np.log(1.0))",
                    "# symbols('x0 x1 x2')\n(exp(x1) - log(1))",
                    "fn f(x0: f64, x1: f64, x2: f64) -> f64 { ((x1).exp() - (1.0_f64).ln()) }"},
        ProgramCase{"negative_constant_left", eml(c(-0.5), x(0)), 1, "lambda x0: (np.exp(-0.5) - np.log(x0))",
                    "# symbols('x0')\n(exp(-0.5) - log(x0))", "fn f(x0: f64) -> f64 { ((-0.5_f64).exp() - (x0).ln()) }"},
        ProgramCase{"nested_left_first", eml(eml(x(0), c(2.0)), eml(one(), x(1))), 2,
                    "lambda x0, x1: (np.exp((np.exp(x0) - np.log(2))) - np.log((np.exp(1.0) - np.log(x1))))",
                    "# symbols('x0 x1')\n(exp((exp(x0) - log(2))) - log((exp(1) - log(x1))))",
                    "fn f(x0: f64, x1: f64) -> f64 { ((((x0).exp() - (2_f64).ln())).exp() - (((1.0_f64).exp() - "
                    "(x1).ln())).ln()) }"}),
    case_name);

TEST(Expressions, ConstantsInShortestExactDecimals) {
  struct Case {
    double value;
    std::string numpy;
    std::string rust;
  };
  const Case cases[] = {
      {2.0, "2", "2_f64"},
      {0.0000001, "0.0000001", "0.0000001_f64"},
      {1e23, "100000000000000000000000", "100000000000000000000000_f64"},
      {0.1, "0.1", "0.1_f64"},
      {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333_f64"},
      {-0.0, "-0", "-0_f64"},
      {nan, "NaN", "NaN_f64"},
      {inf, "inf", "inf_f64"},
      {-inf, "-inf", "-inf_f64"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.numpy);
    EXPECT_EQ(numpy_expr(*c(k.value)), k.numpy);
    EXPECT_EQ(sympy_expr(*c(k.value)), k.numpy);
    EXPECT_EQ(rust_expr(*c(k.value)), k.rust);
  }
  EXPECT_EQ(numpy_expr(*x(12)), "x12");
  EXPECT_EQ(rust_expr(*x(12)), "x12");
}

}  // namespace
