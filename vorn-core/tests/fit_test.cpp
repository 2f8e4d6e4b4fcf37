#include "vorn_core/fit.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using namespace vorn_core::fit;
using namespace vorn_core::testing;
using vorn_core::discoverer::Discoverer;

std::vector<double> constants(const NodePtr& root) {
  std::vector<double> out;
  collect_consts(*root, out);
  return out;
}

TEST(ConstantOrder, CollectAndSubstituteInPreOrderLeftFirst) {
  const NodePtr input = eml(eml(c(0.5), x(0)), eml(one(), eml(c(1.5), c(2.5))));
  EXPECT_EQ(constants(input), (std::vector<double>{0.5, 1.5, 2.5}));

  const std::vector<double> values = {7.0, 8.0, 9.0, 10.0};
  std::size_t index = 1;
  const NodePtr out = substitute_consts(*input, values, index);
  EXPECT_EQ(index, 4u);
  EXPECT_EQ(to_string(tree(out)), "eml(eml(8.000000, x0), eml(1, eml(9.000000, 10.000000)))");
  EXPECT_NE(out->left()->right().get(), input->left()->right().get());  // new nodes, leaves included

  std::size_t from_two = 2;
  EXPECT_EQ(panic_message([&] { (void)substitute_consts(*input, values, from_two); }),
            "constant index 4 out of range for 4 values");
}

// x0 in [0, 1) and y = exp(c0) - ln(exp(x0) - ln(c1)) for c0 = 0.3, c1 = 2: no clip is
// active anywhere between there and the start (1, 1).
struct TwoConstants {
  std::vector<double> xs, ys;

  static double predict(double c0, double c1, double x0) {
    return std::exp(c0) - std::log(std::exp(x0) - std::log(c1));
  }

  TwoConstants() {
    for (int i = 0; i < 16; ++i) {
      xs.push_back(i / 16.0);
      ys.push_back(predict(0.3, 2.0, xs.back()));
    }
  }

  // Full-batch Adam written out by hand: the mean squared error's gradient is
  // 2 (pred - y) / n times d pred / d c, and the step count starts at 1, raised before use.
  std::vector<double> reference(std::size_t epochs, double lr) const {
    double c[2] = {1.0, 1.0}, m[2] = {0, 0}, v[2] = {0, 0}, t = 1.0;
    for (std::size_t step = 0; step < epochs; ++step) {
      double g[2] = {0, 0};
      for (std::size_t i = 0; i < xs.size(); ++i) {
        const double d = 2.0 * (predict(c[0], c[1], xs[i]) - ys[i]) / static_cast<double>(xs.size());
        g[0] += d * std::exp(c[0]);
        g[1] += d / ((std::exp(xs[i]) - std::log(c[1])) * c[1]);
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

  auto fit(std::uint64_t epochs, double lr) const {
    Discoverer config;
    config.max_epochs = epochs;
    config.learning_rate = lr;
    return fit_constants(tree(eml(c(1.0), eml(x(0), c(1.0)))), one_column(xs, ys), config);
  }
};

TEST(FitConstants, FollowsTheReferenceAdamTrajectory) {
  const TwoConstants problem;
  for (std::size_t epochs : {0u, 1u, 2u, 25u}) {
    SCOPED_TRACE(epochs);
    const auto fitted = problem.fit(epochs, 0.05);
    ASSERT_TRUE(fitted) << fitted.error().to_string();
    const std::vector<double> expected = problem.reference(epochs, 0.05);
    const std::vector<double> got = constants(fitted->first.root);
    ASSERT_EQ(got.size(), 2u);
    double sse = 0.0;
    for (std::size_t i = 0; i < problem.xs.size(); ++i) {
      sse += std::pow(TwoConstants::predict(got[0], got[1], problem.xs[i]) - problem.ys[i], 2);
    }
    EXPECT_NEAR(fitted->second, sse / static_cast<double>(problem.xs.size()), 1e-13);
    for (int k = 0; k < 2; ++k) EXPECT_NEAR(got[k], expected[k], 1e-12) << k;
  }
}

TEST(FitConstants, TreeWithoutConstantsIsOnlyEvaluated) {
  const EmlTree shape = tree(eml(x(0), one()));
  const std::vector<double> xs = {0, 1}, ys = {1, 1};
  const auto fitted = fit_constants(shape, one_column(xs, ys), Discoverer{});
  ASSERT_TRUE(fitted);
  EXPECT_EQ(fitted->first.root.get(), shape.root.get());
  EXPECT_EQ(fitted->second, std::pow(std::numbers::e - 1.0, 2) / 2.0);

  const std::vector<double> nan_x = {std::numeric_limits<double>::quiet_NaN(), 1};
  const auto nan_column = one_column(nan_x, ys);
  EXPECT_EQ(fit_constants(tree(x(0)), nan_column, Discoverer{}).error().to_string(),
            "numerical instability: forward pass produced non-finite values");
}

TEST(FitConstants, NonFiniteConstantsAreAnErrorAndOutputComesBack) {
  const TwoConstants problem;
  CapturedStdout captured;
  std::printf("before;");  // still buffered: must reach the capture before training silences it
  for (double lr : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    const auto fitted = problem.fit(3, lr);
    ASSERT_FALSE(fitted);
    EXPECT_EQ(fitted.error().to_string(), "numerical instability: fitted constants are non-finite");
  }
  say("after;");
  EXPECT_EQ(captured.text(), "before;after;");
}

}  // namespace
