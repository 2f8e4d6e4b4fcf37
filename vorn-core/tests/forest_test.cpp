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
using support::testing::PrintTo;

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
    ::testing::Values(PredictionCase{"leaf_one", one(), column({5, 6, 7, 8}), {1, 1, 1, 1}},
                      PredictionCase{"constant_on_every_row", c(-3.25), column({5, 6, 7}), {-3.25, -3.25, -3.25}},
                      PredictionCase{"second_column", x(1), array({2, 2}, {1, 2, 3, 4}), {2, 4}},
                      PredictionCase{"exp_of_x0",
                                     eml(x(0), one()),
                                     column({0, 1, nan, 60, -60}),
                                     {1, e, exp_50, exp_50, std::exp(-50.0)}},
                      PredictionCase{"ln_floor",
                                     eml(one(), x(0)),
                                     column({0, -5, 1, inf}),
                                     {e_minus_ln_floor, e_minus_ln_floor, e, e - std::log(1.7976931348623157e308)}},
                      PredictionCase{"non_finite_constant_inside_eml",
                                     eml(c(nan), c(inf)),
                                     column({1}),
                                     {exp_50 - std::log(1.7976931348623157e308)}},
                      PredictionCase{"nested", eml(eml(x(0), one()), x(1)), array({1, 2}, {0, e}), {e - 1.0}},
                      PredictionCase{"no_rows", eml(x(0), one()), ArrayD::zeros(std::vector<std::size_t>{0, 1}), {}}),
    case_name<PredictionCase>);

struct AgreementCase {
  std::string name;
  NodePtr root;
  ArrayD x;
  bool agrees;
};

class UnguardedAgrees : public ::testing::TestWithParam<AgreementCase> {};

TEST_P(UnguardedAgrees, ComparesTheRenderedReadingWithTheGuardedOne) {
  const AgreementCase& c = GetParam();
  EXPECT_EQ(unguarded_agrees(tree(c.root), c.x), c.agrees);
}

// The guarded value of eml(1, x0) at the ln floor is 30.35, so the bound there is
// 1e-9 · 31.35; at the exp ceiling it is 1e-9 · (1 + e^50), that is e^50 · 1e-9.
INSTANTIATE_TEST_SUITE_P(
    Rows, UnguardedAgrees,
    ::testing::Values(
        AgreementCase{"no_guard_binds", eml(eml(x(0), one()), x(1)), array({2, 2}, {0.5, 2, -3, 0.25}), true},
        AgreementCase{"no_rows", eml(one(), x(0)), ArrayD::zeros(std::vector<std::size_t>{0, 1}), true},
        AgreementCase{"rows_without_columns_are_read", eml(c(60), one()), ArrayD::zeros(std::vector<std::size_t>{2, 0}),
                      false},
        AgreementCase{"ln_of_zero_is_infinite", eml(one(), x(0)), column({1, 0}), false},
        AgreementCase{"ln_of_negative_is_nan", eml(one(), x(0)), column({1, -1}), false},
        // Guards that bind below the root, where the root's own guards do not.
        AgreementCase{"ln_of_zero_below_the_root", eml(eml(one(), x(0)), one()), column({0}), false},
        AgreementCase{"exp_ceiling_below_the_root", eml(one(), eml(x(0), one())), column({60}), false},
        AgreementCase{"nan_column", eml(x(0), one()), column({1, nan}), false},
        AgreementCase{"exp_ceiling_finite_but_far", eml(x(0), one()), column({60}), false},
        AgreementCase{"exp_ceiling_within_bound", eml(x(0), one()), column({50 + 5e-10}), true},
        AgreementCase{"exp_ceiling_beyond_bound", eml(x(0), one()), column({50 + 2e-9}), false},
        AgreementCase{"ln_floor_within_one_plus_guarded", eml(one(), x(0)), column({1e-12 * (1 - 3.08e-8)}), true},
        AgreementCase{"ln_floor_beyond_bound", eml(one(), x(0)), column({1e-12 * (1 - 3.2e-8)}), false},
        // The exp guard binds (e^-688 read as e^-50), yet the two readings differ by less
        // than the bound.
        AgreementCase{"binding_guard_below_an_agreeing_root", eml(eml(one(), x(0)), one()), column({1e300}), true}),
    case_name<AgreementCase>);

TEST(EvalTreeErrors, BareNonFiniteLeaves) {
  const std::string message = "numerical instability: forward pass produced non-finite values";
  EXPECT_EQ(eval_tree(tree(x(0)), column({1, nan})).error().to_string(), message);
  EXPECT_EQ(eval_tree(tree(x(0)), column({-inf})).error().to_string(), message);
  EXPECT_EQ(eval_tree(tree(c(inf)), column({1})).error().to_string(), message);
}

TEST(EvalTreeErrors, VariableWithoutColumnIsACallerFault) {
  EXPECT_EQ(panic_message([] { (void)eval_tree(tree(eml(x(1), one())), column({1})); }),
            "variable index 1 out of range for 1 columns");
  EXPECT_EQ(panic_message([] { (void)unguarded_agrees(tree(eml(x(1), one())), column({1})); }),
            "variable index 1 out of range for 1 columns");
  EXPECT_EQ(panic_message([] {
              (void)eval_tree(tree(one()), vec({1, 2}));
            }),
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
