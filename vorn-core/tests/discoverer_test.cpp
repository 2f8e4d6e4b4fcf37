#include "vorn_core/discoverer.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "vorn_core/detail/discoverer.hpp"

namespace {

using namespace vorn_core::discoverer;
using namespace vorn_core::testing;
using vorn_core::dataset::DataSet;

const double nan = std::numeric_limits<double>::quiet_NaN();

// A quick configuration: few Adam steps, so that whole fits stay fast.
Discoverer quick(std::uint64_t max_depth = 3) {
  Discoverer d;
  d.max_depth = max_depth;
  d.max_epochs = 30;
  return d;
}

DataSet data_of(std::vector<double> xs, double (*f)(double)) {
  std::vector<double> ys;
  for (double v : xs) ys.push_back(f(v));
  return one_column(xs, ys);
}

// Each member as "pretty mse complexity".
std::vector<std::string> describe(const ParetoFront& front) {
  std::vector<std::string> out;
  for (const Solution& s : front.members()) {
    out.push_back(s.pretty() + " " + std::to_string(s.mse) + " " + std::to_string(s.complexity));
  }
  return out;
}

std::vector<std::string> pretty(std::span<const EmlTree> trees) {
  std::vector<std::string> out;
  for (const EmlTree& t : trees) out.push_back(to_string(t));
  return out;
}

TEST(Constantize, EveryLeafOneBecomesAConstantOne) {
  const NodePtr input = eml(eml(one(), x(1)), eml(c(2.5), one()));
  const NodePtr out = constantize(*input);
  EXPECT_EQ(to_string(tree(out)), "eml(eml(1.000000, x1), eml(2.500000, 1.000000))");
  EXPECT_EQ(out->left()->left()->kind(), tarvex::tree::EmlKind::Const);
  // Newly made throughout: not even the variable leaf is shared.
  EXPECT_NE(out->left()->right().get(), input->left()->right().get());
  EXPECT_NE(out->right()->left().get(), input->right()->left().get());
}

TEST(EffectiveDepth, ClampedToOneThroughThree) {
  const std::pair<std::uint64_t, std::size_t> cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {7, 3}, {UINT64_MAX, 3}};
  for (const auto& [setting, depth] : cases) EXPECT_EQ(effective_depth(setting), depth) << setting;
}

TEST(DiscovererFit, EmptyDataSetIsRefused) {
  const auto front = quick().fit(one_column({}, {}));
  ASSERT_FALSE(front);
  EXPECT_EQ(front.error().to_string(), "shape mismatch: empty dataset");
}

TEST(DiscovererFit, ConstantTargetIsTheLeafOne) {
  const auto front = quick().fit(data_of({0.5, 1.5, 2.5, 3.5}, [](double) { return 1.0; }));
  ASSERT_TRUE(front);
  const Solution& first = front->members()[0];
  EXPECT_EQ(first.pretty(), "1");
  EXPECT_EQ(first.mse, 0.0);
  EXPECT_EQ(first.complexity, 1u);
}

TEST(DiscovererFit, ExponentialTargetIsFoundExactly) {
  const auto front = quick().fit(data_of({-1.0, -0.25, 0.5, 1.25, 2.0}, [](double v) { return std::exp(v); }));
  ASSERT_TRUE(front);
  ASSERT_NE(front->best(), nullptr);
  EXPECT_EQ(front->best()->pretty(), "eml(x0, 1)");
  EXPECT_EQ(front->best()->mse, 0.0);
  EXPECT_EQ(front->best()->latex(), "e^{x_{0}}");
}

TEST(DiscovererFit, FittedConstantsSnapToTheirExactValue) {
  // exp(x0) - ln(2.5): the shape eml(x0, 1) with its leaf 1 trained, polished and snapped
  // to 5/2.
  const auto front = quick().fit(data_of({-1.0, -0.5, 0.0, 0.5, 1.0, 1.5}, [](double v) {
    return std::exp(v) - std::log(2.5);
  }));
  ASSERT_TRUE(front);
  EXPECT_EQ(front->best()->pretty(), "eml(x0, 2.500000)");
  EXPECT_LT(front->best()->mse, 1e-24);
}

TEST(DiscovererFit, DepthSettingIsClamped) {
  const DataSet data = data_of({0.1, 0.7, 1.3, 1.9}, [](double v) { return v * v; });
  const auto describe_fit = [&](std::uint64_t depth) { return describe(*quick(depth).fit(data)); };
  EXPECT_EQ(describe_fit(0), describe_fit(1));
  EXPECT_EQ(describe_fit(7), describe_fit(3));
  EXPECT_NE(describe_fit(1), describe_fit(2));
}

TEST(DiscovererFit, NanColumnStillGivesAFront) {
  const auto front = quick(2).fit(one_column(std::vector<double>{nan, 1, 2, 3}, std::vector<double>{1, 2, 3, 4}));
  ASSERT_TRUE(front);
  EXPECT_FALSE(front->empty());
  for (const Solution& s : front->members()) EXPECT_NE(s.pretty(), "x0");
}

TEST(DiscovererFit, NoFiniteScoreIsNotConverged) {
  const auto front = quick(1).fit(one_column(std::vector<double>{1, 2}, std::vector<double>{nan, 1}));
  ASSERT_FALSE(front);
  EXPECT_EQ(front.error().to_string(), "not converged: no finite-scoring candidate expression found");
}

TEST(DiscoveryShapes, EveryDepthFromZeroAndAtMost512) {
  EXPECT_EQ(pretty(detail::shapes(1, 1)),
            (std::vector<std::string>{"1", "x0", "eml(1, 1)", "eml(1, x0)", "eml(x0, 1)", "eml(x0, x0)"}));
  EXPECT_EQ(detail::shapes(3, 1).size(), 512u);
  // The cut keeps the enumeration's head: the depth-1 list is its prefix.
  const std::vector<EmlTree> wide = detail::shapes(3, 4);
  const std::vector<EmlTree> narrow = detail::shapes(1, 4);
  ASSERT_EQ(wide.size(), 512u);
  EXPECT_EQ(pretty(std::span(wide).first(narrow.size())), pretty(narrow));
}

TEST(DiscoveryScreening, RanksFiniteScoresStably) {
  const std::vector<EmlTree> shapes = {tree(eml(x(0), one())), tree(one()), tree(x(0)), tree(eml(one(), one()))};
  // x0 holds 1 on every row, so the leaf 1 and x0 tie; eml(x0, 1) misses by e - 1.
  const detail::Screening screening =
      detail::screen(shapes, one_column(std::vector<double>{1, 1}, std::vector<double>{1, 1}));
  ASSERT_EQ(screening.candidates.size(), 4u);
  std::vector<std::size_t> order;
  for (const detail::Screened& s : screening.ranking) order.push_back(s.shape);
  EXPECT_EQ(order, (std::vector<std::size_t>{1, 2, 0, 3}));
  EXPECT_EQ(screening.candidates[1].mse, 0.0);
  EXPECT_EQ(screening.candidates[0].complexity, 3u);

  const auto failed = eval_one(tree(x(0)), one_column(std::vector<double>{nan}, std::vector<double>{1}));
  EXPECT_FALSE(failed);
}

TEST(DiscoverySelection, CountsOnlyShapesWithOneToSixConstants) {
  // Ranked last to first; shapes without leaves 1 and the eight-leaf shape are passed over
  // without using up an attempt.
  const NodePtr l = one();
  const NodePtr eight_ones = eml(eml(eml(l, l), eml(l, l)), eml(eml(l, l), eml(l, l)));
  std::vector<EmlTree> shapes;
  for (std::size_t i = 0; i < 30; ++i) {
    shapes.push_back(tree(eml(x(i), one())));
    shapes.push_back(tree(x(i)));
  }
  shapes.push_back(tree(eight_ones));
  std::vector<detail::Screened> ranking;
  ranking.push_back({0.0, shapes.size() - 1});
  for (std::size_t i = shapes.size() - 1; i-- > 0;) ranking.push_back({0.0, i});

  const std::vector<EmlTree> selected = detail::select_for_fitting(shapes, ranking);
  ASSERT_EQ(selected.size(), max_fit_attempts);
  for (std::size_t k = 0; k < selected.size(); ++k) {
    EXPECT_EQ(to_string(selected[k]), "eml(x" + std::to_string(29 - k) + ", 1.000000)");
  }
  // Fewer eligible shapes than attempts: every one is fitted.
  EXPECT_EQ(detail::select_for_fitting(shapes, std::span(ranking).first(7)).size(), 3u);
}

}  // namespace
