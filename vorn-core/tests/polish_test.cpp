// Polishing and snapping of trees on data.
#include "vorn_core/polish.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "vorn_core/fit.hpp"

namespace {

using namespace vorn_core::polish;
using namespace vorn_core::testing;
using vorn_core::loss::RobustLoss;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

// y = exp(x0) - ln(2.5) on a few rows.
vorn_core::dataset::DataSet shifted_exp(double shift = 2.5) {
  std::vector<double> xs, ys;
  for (int i = 0; i < 12; ++i) {
    xs.push_back(-1.0 + i / 6.0);
    ys.push_back(std::exp(xs.back()) - std::log(shift));
  }
  return one_column(xs, ys);
}

double constant_of(const EmlTree& t) {
  std::vector<double> values;
  vorn_core::fit::collect_consts(*t.root, values);
  return values.at(0);
}

TEST(LmRefine, RecoversTheConstant) {
  const auto [refined, mse] = lm_refine(tree(eml(x(0), c(2.3))), shifted_exp(), 40, RobustLoss::least_squares());
  EXPECT_NEAR(constant_of(refined), 2.5, 1e-9);
  EXPECT_LT(mse, 1e-20);
}

TEST(LmRefine, ZeroIterationsRebuildTheStart) {
  const EmlTree start = tree(eml(x(0), c(2.0)));
  const auto [refined, mse] = lm_refine(start, shifted_exp(), 0, RobustLoss::least_squares());
  EXPECT_NE(refined.root.get(), start.root.get());
  EXPECT_EQ(constant_of(refined), 2.0);
  const double d = std::log(2.5) - std::log(2.0);
  EXPECT_NEAR(mse, d * d, 1e-15);
}

TEST(LmRefine, TreesWithoutConstantsOrThatCannotBeEvaluatedComeBack) {
  const EmlTree shape = tree(eml(x(0), one()));
  const auto [same, mse] = lm_refine(shape, shifted_exp(1.0), 40, RobustLoss::least_squares());
  EXPECT_EQ(same.root.get(), shape.root.get());
  EXPECT_EQ(mse, 0.0);

  const auto nan_column = one_column(std::vector<double>{nan, 1}, std::vector<double>{0, 0});
  const EmlTree bare = tree(x(0));
  const auto [kept, error] = lm_refine(bare, nan_column, 40, RobustLoss::least_squares());
  EXPECT_EQ(kept.root.get(), bare.root.get());
  EXPECT_EQ(error, inf);
  const EmlTree bare_constant = tree(c(nan));
  EXPECT_EQ(lm_refine(bare_constant, nan_column, 40, RobustLoss::least_squares()).second, inf);
}

TEST(SnapConstants, SnapsWhenTheErrorBarelyMoves) {
  const auto [snapped, mse] = snap_constants(tree(eml(x(0), c(2.5000001))), shifted_exp(), 0.02);
  EXPECT_EQ(to_string(snapped), "eml(x0, 2.500000)");
  EXPECT_EQ(constant_of(snapped), 2.5);
  EXPECT_EQ(mse, 0.0);
}

TEST(SnapConstants, KeepsAnExactFitThatASnapWouldSpoil) {
  const EmlTree exact = tree(eml(x(0), c(2.0004)));
  const auto [kept, mse] = snap_constants(exact, shifted_exp(2.0004), 0.02);
  EXPECT_EQ(kept.root.get(), exact.root.get());
  EXPECT_EQ(mse, 0.0);
}

TEST(SnapConstants, TreesWithoutConstantsOrThatCannotBeEvaluatedComeBack) {
  const EmlTree shape = tree(eml(x(0), one()));
  const auto [same, mse] = snap_constants(shape, shifted_exp(1.0), 0.02);
  EXPECT_EQ(same.root.get(), shape.root.get());
  EXPECT_EQ(mse, 0.0);

  const EmlTree bare_constant = tree(c(inf));
  const auto [kept, error] = snap_constants(bare_constant, shifted_exp(), 0.02);
  EXPECT_EQ(kept.root.get(), bare_constant.root.get());
  EXPECT_EQ(error, inf);
}

}  // namespace
