#include "vorn_core/forest.hpp"

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using namespace vorn_core::forest;
using namespace vorn_core::testing;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();
constexpr double e = std::numbers::e;
// exp(50) - ln(1): what an eml node yields for a NaN or too large left argument.
constexpr double exp_50 = 5.184705528587072e21;
// e - ln(1e-12): eml(1, x0) on a row where x0 is 0 or negative.
constexpr double e_minus_ln_floor = 30.349302944387592;

std::vector<double> values(const ArrayD& a) { return {a.data().begin(), a.data().end()}; }

ArrayD column(std::initializer_list<double> rows) {
  return *ArrayD::from_shape_vec(std::vector<std::size_t>{rows.size(), 1}, std::vector<double>(rows));
}

struct PredictionCase {
  std::string name;
  NodePtr root;
  ArrayD x;
  std::vector<double> expected;
};

std::string case_name(const ::testing::TestParamInfo<PredictionCase>& info) { return info.param.name; }

class EvalTree : public ::testing::TestWithParam<PredictionCase> {};

TEST_P(EvalTree, Predicts) {
  const PredictionCase& c = GetParam();
  const auto prediction = eval_tree(tree(c.root), c.x);
  ASSERT_TRUE(prediction) << prediction.error().to_string();
  EXPECT_EQ(prediction->ndim(), 1u);
  EXPECT_EQ(values(*prediction), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Goldens, EvalTree,
    ::testing::Values(
        PredictionCase{"leaf_one", one(), column({5, 6, 7, 8}), {1, 1, 1, 1}},
        PredictionCase{"constant_on_every_row", c(-3.25), column({5, 6, 7}), {-3.25, -3.25, -3.25}},
        PredictionCase{"second_column", x(1), array({2, 2}, {1, 2, 3, 4}), {2, 4}},
        PredictionCase{"exp_of_x0", eml(x(0), one()), column({0, 1, nan, 60, -60}),
                       {1, e, exp_50, exp_50, std::exp(-50.0)}},
        PredictionCase{"ln_floor", eml(one(), x(0)), column({0, -5, 1, inf}),
                       {e_minus_ln_floor, e_minus_ln_floor, e, e - std::log(1.7976931348623157e308)}},
        PredictionCase{"non_finite_constant_inside_eml", eml(c(nan), c(inf)), column({1}),
                       {exp_50 - std::log(1.7976931348623157e308)}},
        PredictionCase{"nested", eml(eml(x(0), one()), x(1)), array({1, 2}, {0, e}), {e - 1.0}},
        PredictionCase{"no_rows", eml(x(0), one()), ArrayD::zeros(std::vector<std::size_t>{0, 1}), {}}),
    case_name);

TEST(EvalTreeErrors, BareNonFiniteLeaves) {
  const std::string message = "numerical instability: forward pass produced non-finite values";
  EXPECT_EQ(eval_tree(tree(x(0)), column({1, nan})).error().to_string(), message);
  EXPECT_EQ(eval_tree(tree(x(0)), column({-inf})).error().to_string(), message);
  EXPECT_EQ(eval_tree(tree(c(inf)), column({1})).error().to_string(), message);
}

TEST(EvalTreeErrors, VariableWithoutColumnIsACallerFault) {
  EXPECT_EQ(panic_message([] { (void)eval_tree(tree(eml(x(1), one())), column({1})); }),
            "variable index 1 out of range for 1 columns");
  EXPECT_EQ(panic_message([] { (void)eval_tree(tree(one()), vec({1, 2})); }),
            "the data matrix must be 2-D, got shape [2]");
}

TEST(ColPlaceholderName, NamesNeverMove) {
  const std::string_view first = col_placeholder_name(3);
  EXPECT_EQ(col_placeholder_name(1), "vorn_x1");
  EXPECT_EQ(col_placeholder_name(4000), "vorn_x4000");  // grows the list a long way
  EXPECT_EQ(col_placeholder_name(3).data(), first.data());
  EXPECT_EQ(first, "vorn_x3");
}

}  // namespace
