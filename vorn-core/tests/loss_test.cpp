#include "vorn_core/loss.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/testing.hpp"

namespace {

using support::testing::case_name;
using support::testing::PrintTo;
using vorn_core::loss::mean_squared_error;
using vorn_core::loss::RobustLoss;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

TEST(MeanSquaredError, SumsPairsAndDividesByTargetCount) {
  EXPECT_EQ(mean_squared_error(std::vector<double>{1, 2, 3}, std::vector<double>{1, 0, 0}), 13.0 / 3.0);
  // Pairs stop at the shorter side, the divisor is still the target count.
  EXPECT_EQ(mean_squared_error(std::vector<double>{3}, std::vector<double>{1, 5}), 2.0);
  // No targets: -0.0 / 1 keeps the sign of the empty sum.
  const double empty = mean_squared_error({}, {});
  EXPECT_EQ(empty, 0.0);
  EXPECT_TRUE(std::signbit(empty));
  EXPECT_TRUE(std::isnan(mean_squared_error(std::vector<double>{nan}, std::vector<double>{0})));
  EXPECT_EQ(mean_squared_error(std::vector<double>{inf}, std::vector<double>{0}), inf);
}

struct WeightCase {
  std::string name;
  RobustLoss loss;
  std::vector<double> residuals;
  double r;
  double weight_root;
};

class IrlsWeight : public ::testing::TestWithParam<WeightCase> {};

TEST_P(IrlsWeight, SquareRootOfTheClampedWeight) {
  const WeightCase& c = GetParam();
  EXPECT_DOUBLE_EQ(c.loss.irls_weight(c.residuals, c.r), c.weight_root);
  // The batch form gives every residual the weight it has alone.
  const std::vector<double> batch = c.loss.irls_weights(c.residuals);
  ASSERT_EQ(batch.size(), c.residuals.size());
  for (std::size_t i = 0; i < batch.size(); ++i) {
    EXPECT_EQ(batch[i], c.loss.irls_weight(c.residuals, c.residuals[i])) << i;
  }
}

const double soft_tail = std::sqrt(1.0 / (std::exp(3.0) + 1.0));

INSTANTIATE_TEST_SUITE_P(
    Losses, IrlsWeight,
    ::testing::Values(
        WeightCase{"least_squares", RobustLoss::least_squares(), {5, -7}, 1e9, 1.0},
        WeightCase{"huber_outside", RobustLoss::huber(1.0), {4}, 4.0, 0.5},
        WeightCase{"huber_zero", RobustLoss::huber(0.0), {0}, 0.0, 1.0},
        WeightCase{"huber_negative_delta_clamps_to_zero", RobustLoss::huber(-2.0), {4}, 4.0, 0.0},
        WeightCase{"huber_nan_residual_weighs_nothing", RobustLoss::huber(1.0), {1}, nan, 0.0},
        WeightCase{"soft_trim_above_threshold", RobustLoss::soft_trim(0.5), {1, -2, 3}, 3.0, soft_tail},
        WeightCase{"soft_trim_at_threshold", RobustLoss::soft_trim(0.5), {1, -2, 3}, -2.0, std::sqrt(0.5)},
        // q = 1 takes the smallest absolute residual, q beyond 1 is clamped to it.
        WeightCase{"soft_trim_q_clamped", RobustLoss::soft_trim(7.0), {1, -2, 3}, 2.0, soft_tail},
        // q = 0 (and below) takes the largest.
        WeightCase{"soft_trim_q_zero", RobustLoss::soft_trim(-1.0), {1, -2, 3}, 3.0, std::sqrt(0.5)},
        WeightCase{
            "soft_trim_rank_rounds_half_away", RobustLoss::soft_trim(0.5), {6, 1, 5, 2, 4, 3}, 4.0, std::sqrt(0.5)},
        WeightCase{"soft_trim_no_residuals", RobustLoss::soft_trim(0.5), {}, 100.0, 1.0}),
    case_name<WeightCase>);

}  // namespace
