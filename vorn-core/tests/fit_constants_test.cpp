// Constant fitting with Adam, against a plain-loop reference of the same training.
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "vorn_core/discoverer.hpp"
#include "vorn_core/fit.hpp"

namespace {

using vorn_core::discoverer::Discoverer;
using vorn_core::fit::fit_constants;
using namespace vorn_core::testing;

// x0 in [0, 1) and y = exp(c0) - ln(exp(x0) - ln(c1)) for c0 = 0.3, c1 = 2; no clip is
// ever active on the way there from (1, 1).
struct TwoConstants {
  std::vector<double> xs;
  std::vector<double> ys;

  static double predict(double c0, double c1, double x0) { return std::exp(c0) - std::log(std::exp(x0) - std::log(c1)); }

  TwoConstants() {
    for (int i = 0; i < 16; ++i) {
      xs.push_back(i / 16.0);
      ys.push_back(predict(0.3, 2.0, xs.back()));
    }
  }

  // Full-batch Adam on the mean squared error, written out by hand: the gradient of the
  // mean is 2 (pred - y) / n times d pred / d c, and the step count starts at 1 and is
  // raised before it is used.
  std::vector<double> reference(std::size_t epochs, double lr) const {
    double c[2] = {1.0, 1.0};
    double m[2] = {0, 0};
    double v[2] = {0, 0};
    double t = 1.0;
    const double n = static_cast<double>(xs.size());
    for (std::size_t step = 0; step < epochs; ++step) {
      double g[2] = {0, 0};
      for (std::size_t i = 0; i < xs.size(); ++i) {
        const double inner = std::exp(xs[i]) - std::log(c[1]);
        const double d = 2.0 * (predict(c[0], c[1], xs[i]) - ys[i]) / n;
        g[0] += d * std::exp(c[0]);
        g[1] += d / (inner * c[1]);
      }
      t += 1.0;
      for (int k = 0; k < 2; ++k) {
        m[k] = 0.9 * m[k] + 0.1 * g[k];
        v[k] = 0.999 * v[k] + 0.001 * g[k] * g[k];
        c[k] -= lr * (m[k] / (1.0 - std::pow(0.9, t))) / (std::sqrt(v[k] / (1.0 - std::pow(0.999, t))) + 1e-8);
      }
    }
    return {c[0], c[1]};
  }

  vorn_core::dataset::DataSet data() const { return one_column(xs, ys); }
  static EmlTree start() { return tree(eml(c(1.0), eml(x(0), c(1.0)))); }
};

Discoverer config(std::uint64_t epochs, double lr) {
  Discoverer d;
  d.max_epochs = epochs;
  d.learning_rate = lr;
  return d;
}

std::vector<double> constants(const EmlTree& t) {
  std::vector<double> out;
  vorn_core::fit::collect_consts(*t.root, out);
  return out;
}

TEST(FitConstants, FollowsTheReferenceAdamTrajectory) {
  const TwoConstants problem;
  for (std::size_t epochs : {1u, 2u, 25u}) {
    SCOPED_TRACE(epochs);
    const auto fitted = fit_constants(TwoConstants::start(), problem.data(), config(epochs, 0.05));
    ASSERT_TRUE(fitted) << fitted.error().to_string();
    const std::vector<double> expected = problem.reference(epochs, 0.05);
    const std::vector<double> got = constants(fitted->first);
    ASSERT_EQ(got.size(), 2u);
    for (int k = 0; k < 2; ++k) EXPECT_NEAR(got[k], expected[k], 1e-12) << k;
    double sse = 0.0;
    for (std::size_t i = 0; i < problem.xs.size(); ++i) {
      const double d = TwoConstants::predict(got[0], got[1], problem.xs[i]) - problem.ys[i];
      sse += d * d;
    }
    EXPECT_NEAR(fitted->second, sse / static_cast<double>(problem.xs.size()), 1e-13);
  }
}

TEST(FitConstants, ConvergesOnASingleConstant) {
  std::vector<double> xs, ys;
  for (int i = 0; i < 50; ++i) {
    xs.push_back(-1.0 + i / 25.0);
    ys.push_back(std::exp(xs.back()) - std::log(2.5));
  }
  const auto fitted = fit_constants(tree(eml(x(0), c(1.0))), one_column(xs, ys), config(1000, 0.05));
  ASSERT_TRUE(fitted);
  EXPECT_NEAR(constants(fitted->first)[0], 2.5, 1e-3);
  EXPECT_LT(fitted->second, 1e-6);
}

TEST(FitConstants, ZeroEpochsRebuildWithStartValues) {
  const TwoConstants problem;
  const EmlTree start = TwoConstants::start();
  const auto fitted = fit_constants(start, problem.data(), config(0, 0.05));
  ASSERT_TRUE(fitted);
  EXPECT_NE(fitted->first.root.get(), start.root.get());
  EXPECT_EQ(to_string(fitted->first), to_string(start));
  EXPECT_EQ(constants(fitted->first), (std::vector<double>{1.0, 1.0}));
}

TEST(FitConstants, TreeWithoutConstantsIsOnlyEvaluated) {
  const std::vector<double> xs = {0, 1}, ys = {1, 1};
  const EmlTree shape = tree(eml(x(0), one()));
  const auto fitted = fit_constants(shape, one_column(xs, ys), config(10, 0.05));
  ASSERT_TRUE(fitted);
  EXPECT_EQ(fitted->first.root.get(), shape.root.get());
  const double d = std::numbers::e - 1.0;
  EXPECT_EQ(fitted->second, d * d / 2.0);

  const std::vector<double> with_nan = {std::numeric_limits<double>::quiet_NaN(), 1};
  EXPECT_EQ(fit_constants(tree(x(0)), one_column(with_nan, ys), config(10, 0.05)).error().to_string(),
            "numerical instability: forward pass produced non-finite values");
}

TEST(FitConstants, NonFiniteConstantsAreAnErrorAndOutputComesBack) {
  const TwoConstants problem;
  CapturedStdout captured;
  std::printf("before;");  // buffered: must reach the capture before training silences it
  for (double lr : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    SCOPED_TRACE(lr);
    const auto fitted = fit_constants(TwoConstants::start(), problem.data(), config(3, lr));
    ASSERT_FALSE(fitted);
    EXPECT_EQ(fitted.error().to_string(), "numerical instability: fitted constants are non-finite");
    EXPECT_FALSE(stdout_is_null_device());
  }
  say("after;");
  EXPECT_EQ(captured.text(), "before;after;");
}

}  // namespace
