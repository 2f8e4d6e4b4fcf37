// The numeric cores of polishing, checked on closed-form models.
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include "test_support.hpp"
#include "vorn_core/detail/polish.hpp"
#include "vorn_core/polish.hpp"

namespace {

using namespace vorn_core::polish;
using namespace vorn_core::polish::detail;
using vorn_core::loss::RobustLoss;
using vorn_core::testing::panic_message;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

Matrix matrix(std::size_t n, std::initializer_list<double> values) { return Matrix{n, n, std::vector<double>(values)}; }

TEST(Residuals, PredictionMinusTargetUpToTheShorter) {
  EXPECT_EQ(residuals(std::vector<double>{3, 5, 7}, std::vector<double>{1, 1}), (std::vector<double>{2, 4}));
  EXPECT_EQ(residuals(std::vector<double>{1, nan}, std::vector<double>{0, 0}), std::nullopt);
  EXPECT_EQ(residuals(std::vector<double>{-inf}, std::vector<double>{0}), std::nullopt);
  // Only predictions are examined: a non-finite target gives a non-finite residual.
  const auto r = residuals(std::vector<double>{1}, std::vector<double>{inf});
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[0], -inf);
  // A non-finite prediction past the paired length is not looked at.
  EXPECT_EQ(residuals(std::vector<double>{1, nan}, std::vector<double>{0}), (std::vector<double>{1}));
}

TEST(SolveDense, SmallSystems) {
  EXPECT_EQ(solve_dense(matrix(2, {0, 1, 1, 0}), {2, 3}), (std::vector<double>{3, 2}));
  EXPECT_EQ(solve_dense(matrix(2, {1, 2, 2, 4}), {1, 1}), std::nullopt);
  EXPECT_EQ(solve_dense(Matrix{}, {}), (std::vector<double>{}));
  // A pivot just below 1e-14 is refused, one at 1e-14 accepted.
  EXPECT_EQ(solve_dense(matrix(1, {0.99e-14}), {1}), std::nullopt);
  EXPECT_EQ(solve_dense(matrix(1, {1e-14}), {1}), (std::vector<double>{1e14}));
  // A finite system whose solution overflows.
  EXPECT_EQ(solve_dense(matrix(1, {1e-14}), {1e300}), std::nullopt);
  EXPECT_EQ(solve_dense(matrix(1, {nan}), {1}), std::nullopt);
}

TEST(SolveDense, AgreesWithEigenOnAWellConditionedSystem) {
  const std::size_t n = 6;
  Eigen::MatrixXd a(n, n);
  Eigen::VectorXd b(n);
  for (std::size_t r = 0; r < n; ++r) {
    b(r) = std::cos(1.0 + static_cast<double>(r));
    for (std::size_t c = 0; c < n; ++c) {
      a(r, c) = std::sin(static_cast<double>(3 * r + 7 * c + 1)) + (r == c ? 4.0 : 0.0);
    }
  }
  Matrix ours = Matrix::zeros(n, n);
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t c = 0; c < n; ++c) ours.at(r, c) = a(r, c);
  }
  const auto x = solve_dense(ours, std::vector<double>(b.data(), b.data() + n));
  ASSERT_TRUE(x);
  const Eigen::VectorXd expected = a.partialPivLu().solve(b);
  for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR((*x)[i], expected(i), 1e-13) << i;
}

TEST(SolveDense, NonSquareIsACallerFault) {
  EXPECT_EQ(panic_message([] { (void)solve_dense(Matrix::zeros(2, 3), {1, 2}); }),
            "solve_dense needs a 2 x 2 matrix, got 2 x 3");
}

// Samples of x in [0, 2) and a model over them.
struct Curve {
  std::vector<double> xs;
  std::vector<double> y;
  Model model;
  std::size_t calls = 0;

  template <typename F>
  Curve(std::size_t n, F f, std::span<const double> truth) {
    for (std::size_t i = 0; i < n; ++i) xs.push_back(2.0 * static_cast<double>(i) / static_cast<double>(n));
    model = [this, f](std::span<const double> p) -> std::optional<std::vector<double>> {
      ++calls;
      std::vector<double> out;
      for (double v : xs) out.push_back(f(p, v));
      return out;
    };
    y = *model(truth);
  }

  LmPoint start(std::vector<double> p) { return LmPoint{p, *model(p)}; }
  LmPoint refine(std::vector<double> from, std::size_t max_iter = 40, RobustLoss loss = RobustLoss::least_squares()) {
    return levenberg_marquardt(start(std::move(from)), y, model, max_iter, loss);
  }
};

const auto line = [](std::span<const double> p, double v) { return p[0] * v + p[1]; };
const auto growth = [](std::span<const double> p, double v) { return std::exp(p[0] * v) - std::log(p[1]); };

TEST(LevenbergMarquardt, LinearModelReachesTheLeastSquaresSolution) {
  const std::vector<double> truth = {1.5, -0.25};
  Curve curve(50, line, truth);
  // Noise that a line cannot follow, so the optimum has a residual.
  for (std::size_t i = 0; i < curve.y.size(); ++i) curve.y[i] += 0.1 * std::sin(7.0 * static_cast<double>(i));
  const LmPoint fitted = curve.refine({0.0, 0.0});

  Eigen::MatrixXd design(curve.xs.size(), 2);
  Eigen::VectorXd target(curve.xs.size());
  for (std::size_t i = 0; i < curve.xs.size(); ++i) {
    design(i, 0) = curve.xs[i];
    design(i, 1) = 1.0;
    target(i) = curve.y[i];
  }
  const Eigen::VectorXd best = design.colPivHouseholderQr().solve(target);
  EXPECT_NEAR(fitted.params[0], best(0), 1e-7);
  EXPECT_NEAR(fitted.params[1], best(1), 1e-7);
  EXPECT_EQ(fitted.prediction, *curve.model(fitted.params));
}

TEST(LevenbergMarquardt, NonlinearModelRecoversItsParameters) {
  const std::vector<double> truth = {0.7, 2.5};
  Curve curve(40, growth, truth);
  const LmPoint fitted = curve.refine({0.5, 1.0});
  EXPECT_NEAR(fitted.params[0], 0.7, 1e-8);
  EXPECT_NEAR(fitted.params[1], 2.5, 1e-7);
}

TEST(LevenbergMarquardt, ZeroIterationsReturnTheStart) {
  Curve curve(10, line, std::vector<double>{1.0, 1.0});
  curve.calls = 0;
  const LmPoint fitted = curve.refine({3.0, 4.0}, 0);
  EXPECT_EQ(fitted.params, (std::vector<double>{3.0, 4.0}));
  EXPECT_EQ(curve.calls, 1u);  // the start only
}

TEST(LevenbergMarquardt, AnExactFitFailsTwelveAttemptsAndStops) {
  Curve curve(10, line, std::vector<double>{1.0, 1.0});
  curve.calls = 0;
  const LmPoint fitted = curve.refine({1.0, 1.0});
  EXPECT_EQ(fitted.params, (std::vector<double>{1.0, 1.0}));
  // The start, two Jacobian columns, then twelve rejected trial points; no second iteration.
  EXPECT_EQ(curve.calls, 1u + 2u + 12u);
}

TEST(LevenbergMarquardt, AFailingJacobianEndsRefinement) {
  Curve curve(10, line, std::vector<double>{1.0, 1.0});
  const Model refuses_moves = [&](std::span<const double> p) -> std::optional<std::vector<double>> {
    if (p[0] != 3.0) return std::nullopt;
    return curve.model(p);
  };
  const LmPoint fitted =
      levenberg_marquardt(curve.start({3.0, 4.0}), curve.y, refuses_moves, 40, RobustLoss::least_squares());
  EXPECT_EQ(fitted.params, (std::vector<double>{3.0, 4.0}));
}

TEST(LevenbergMarquardt, HuberWeightsResistAnOutlier) {
  const std::vector<double> truth = {2.0, 1.0};
  Curve curve(30, line, truth);
  curve.y[7] += 50.0;
  const std::vector<double> plain = curve.refine({0.0, 0.0}).params;
  const std::vector<double> robust = curve.refine({0.0, 0.0}, 40, RobustLoss::huber(0.1)).params;
  EXPECT_GT(std::fabs(plain[1] - truth[1]), 0.5);
  EXPECT_LT(std::fabs(robust[1] - truth[1]), std::fabs(plain[1] - truth[1]) / 5.0);
}

struct CandidateCase {
  std::string name;
  double c;
  std::vector<double> candidates;
};

std::string case_name(const ::testing::TestParamInfo<CandidateCase>& info) { return info.param.name; }

class SnapCandidates : public ::testing::TestWithParam<CandidateCase> {};

TEST_P(SnapCandidates, InTrialOrder) { EXPECT_EQ(snap_candidates(GetParam().c), GetParam().candidates); }

const double third = 1.0 / 3.0;

INSTANTIATE_TEST_SUITE_P(
    Constants, SnapCandidates,
    ::testing::Values(
        CandidateCase{"near_two_repeats", 2.0004, {2, 2, 2, 2, 2}},
        CandidateCase{"near_pi_named_only", 3.1416, {std::numbers::pi}},
        CandidateCase{"near_third", 0.3334, {third, third, third}},
        CandidateCase{"half_exactly", 0.5, {0.5, 0.5, 0.5, 0.5}},
        CandidateCase{"near_minus_two", -2.0003, {-2, -2, -2, -2, -2, -2}},
        CandidateCase{"near_sqrt2_named_only", 1.4142, {std::numbers::sqrt2}},
        CandidateCase{"quarter_only", 2.2501, {2.25}},
        CandidateCase{"named_before_fraction", 1.7501, {std::numbers::sqrt3, 1.75}},
        CandidateCase{"sixth_only", 1.16675, {7.0 / 6.0}},
        CandidateCase{"beyond_fraction_range", 13.0002, {13}},
        CandidateCase{"beyond_integer_range", 2000000.0002, {}},
        CandidateCase{"integer_at_limit", 1000000.0002, {1000000}},
        CandidateCase{"far_from_everything", 0.123, {}},
        CandidateCase{"not_a_number", nan, {}},
        CandidateCase{"infinite", inf, {}}),
    case_name);

// An MSE function that answers from a script and records the vectors it was asked about.
struct ScriptedMse {
  std::function<std::optional<double>(std::span<const double>)> answer;
  std::vector<std::vector<double>> asked;

  MseOf function() {
    return [this](std::span<const double> values) {
      asked.emplace_back(values.begin(), values.end());
      return answer(values);
    };
  }
};

TEST(SnapValues, ThresholdIsInclusiveAtBasePlusTolerance) {
  struct Case {
    double base;
    double tol;
    double trial_mse;
    bool snaps;
  };
  const Case cases[] = {
      {0.0, 0.02, 1e-12, true},
      {0.0, 0.02, 1.0000001e-12, false},
      {1.0, 0.02, 1.02, true},
      {1.0, 0.02, 1.0201, false},
      {1.0, 0.0, 1.0 + 1e-12, true},
      {1.0, 0.02, nan, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.base << " " << c.tol << " " << c.trial_mse);
    ScriptedMse mse{[&](std::span<const double>) { return c.trial_mse; }, {}};
    const auto snapped = snap_values({2.0004}, c.base, c.tol, mse.function());
    EXPECT_EQ(snapped.has_value(), c.snaps);
    if (snapped) {
      EXPECT_EQ(snapped->values, std::vector<double>{2.0});
    }
  }
}

TEST(SnapValues, RejectedRepeatsAreTriedAgain) {
  ScriptedMse mse{[](std::span<const double>) { return 5.0; }, {}};
  EXPECT_FALSE(snap_values({2.0004}, 1.0, 0.02, mse.function()));
  EXPECT_EQ(mse.asked.size(), 5u);
}

TEST(SnapValues, ExactCandidatesAreSkipped) {
  ScriptedMse mse{[](std::span<const double>) { return 0.0; }, {}};
  EXPECT_FALSE(snap_values({0.5, 3.0}, 1.0, 0.02, mse.function()));
  EXPECT_TRUE(mse.asked.empty());
}

TEST(SnapValues, LaterConstantsSeeEarlierSnapsAndFailuresSkip) {
  // No candidate of the second constant can be evaluated, so it keeps its value while the
  // first one's snap stays in place.
  ScriptedMse mse{[](std::span<const double> v) -> std::optional<double> {
                    if (v[1] == 2.0) return std::nullopt;
                    return 0.0;
                  },
                  {}};
  const auto snapped = snap_values({3.1416, 2.0004}, 0.0, 0.02, mse.function());
  ASSERT_TRUE(snapped);
  EXPECT_EQ(snapped->values, (std::vector<double>{std::numbers::pi, 2.0004}));
  const std::vector<std::vector<double>> expected = {
      {std::numbers::pi, 2.0004},  // pi taken
      {std::numbers::pi, 2.0},     // each repeat of 2 tried and skipped
      {std::numbers::pi, 2.0},
      {std::numbers::pi, 2.0},
      {std::numbers::pi, 2.0},
      {std::numbers::pi, 2.0},
      {std::numbers::pi, 2.0004},  // the final evaluation
  };
  EXPECT_EQ(mse.asked, expected);
}

TEST(SnapValues, FinalEvaluationFailureKeepsTheInput) {
  // Every trial passes, but the snapped vector as a whole cannot be evaluated: the caller
  // keeps its own values rather than a tree paired with an error that is not its own.
  std::size_t calls = 0;
  const MseOf flaky = [&](std::span<const double>) -> std::optional<double> {
    return ++calls == 1 ? std::optional<double>(0.0) : std::nullopt;
  };
  EXPECT_FALSE(snap_values({2.0004}, 0.0, 0.02, flaky));
  EXPECT_EQ(calls, 2u);
}

TEST(SnapValues, ReportsTheFinalMse) {
  ScriptedMse mse{[](std::span<const double> v) { return v[0] == 2.0 ? 0.5 : 9.0; }, {}};
  const auto snapped = snap_values({2.0004}, 1.0, 0.02, mse.function());
  ASSERT_TRUE(snapped);
  EXPECT_EQ(snapped->mse, 0.5);
}

}  // namespace
