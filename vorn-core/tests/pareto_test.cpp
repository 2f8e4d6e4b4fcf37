#include "vorn_core/pareto.hpp"

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using vorn_core::pareto::ParetoFront;
using vorn_core::solution::Solution;
using namespace vorn_core::testing;

// Candidates carry a tag in their tree (a variable index) so that the test can tell equal
// (complexity, mse) points apart.
struct Point {
  std::uint64_t complexity;
  double mse;
  std::size_t tag = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

std::vector<Solution> candidates(std::initializer_list<Point> points) {
  std::vector<Solution> out;
  for (const Point& p : points) out.push_back(Solution{tree(x(p.tag)), p.mse, p.complexity});
  return out;
}

Point point(const Solution& s) { return Point{s.complexity, s.mse, s.tree.root->index()}; }

std::vector<Point> points(const ParetoFront& front) {
  std::vector<Point> out;
  for (const Solution& s : front.members()) out.push_back(point(s));
  return out;
}

std::vector<Point> points(const std::vector<const Solution*>& ranked) {
  std::vector<Point> out;
  for (const Solution* s : ranked) out.push_back(point(*s));
  return out;
}

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

struct FrontCase {
  std::string name;
  std::vector<Solution> candidates;
  std::vector<Point> front;
};

std::string case_name(const ::testing::TestParamInfo<FrontCase>& info) { return info.param.name; }

class FromCandidates : public ::testing::TestWithParam<FrontCase> {};

TEST_P(FromCandidates, KeepsTheNonDominated) {
  EXPECT_EQ(points(ParetoFront::from_candidates(GetParam().candidates)), GetParam().front);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FromCandidates,
    ::testing::Values(
        FrontCase{"none", {}, {}},
        FrontCase{"only_non_finite", candidates({{1, nan}, {2, inf}, {3, -inf}}), {}},
        FrontCase{"equal_points_keep_the_first", candidates({{3, 0.5, 1}, {3, 0.5, 2}}), {{3, 0.5, 1}}},
        FrontCase{"dominance_before_duplicates", candidates({{3, 0.5, 1}, {3, 0.5 - 0.9e-12, 2}}),
                  {{3, 0.5 - 0.9e-12, 2}}},
        FrontCase{"larger_at_equal_complexity", candidates({{3, 0.5, 1}, {3, 0.5 + 0.9e-12, 2}}), {{3, 0.5, 1}}},
        FrontCase{"later_smaller_dominates", candidates({{5, 0.1, 1}, {3, 0.1, 2}}), {{3, 0.1, 2}}},
        FrontCase{"trade_off_both_stay", candidates({{3, 0.2, 1}, {5, 0.1, 2}}), {{3, 0.2, 1}, {5, 0.1, 2}}},
        FrontCase{"one_candidate_removes_several", candidates({{5, 0.3, 1}, {7, 0.2, 2}, {9, 0.4, 3}, {4, 0.1, 4}}),
                  {{4, 0.1, 4}}},
        FrontCase{"sorted_by_complexity",
                  candidates({{9, 0.01, 1}, {1, 0.9, 2}, {5, 0.1, 3}, {3, 0.5, 4}}),
                  {{1, 0.9, 2}, {3, 0.5, 4}, {5, 0.1, 3}, {9, 0.01, 1}}},
        FrontCase{"negative_mse_is_finite", candidates({{2, -1.0, 1}, {1, 0.0, 2}}), {{1, 0.0, 2}, {2, -1.0, 1}}}),
    case_name);

TEST(ParetoSelections, EmptyFront) {
  const ParetoFront front = ParetoFront::from_candidates(candidates({{1, nan}}));
  EXPECT_EQ(front.best(), nullptr);
  EXPECT_TRUE(front.pareto_top(3).empty());
}

TEST(ParetoSelections, TopAndBestOrderByError) {
  const ParetoFront two = ParetoFront::from_candidates(candidates({{3, 0.2, 1}, {5, 0.1, 2}}));
  EXPECT_EQ(points(two.pareto_top(1)), (std::vector<Point>{{5, 0.1, 2}}));
  EXPECT_EQ(point(*two.best()), (Point{5, 0.1, 2}));

  const ParetoFront four =
      ParetoFront::from_candidates(candidates({{1, 0.9, 1}, {2, 0.5, 2}, {4, 0.05, 3}, {3, 0.1, 4}}));
  EXPECT_TRUE(four.pareto_top(0).empty());
  EXPECT_EQ(points(four.pareto_top(100)), (std::vector<Point>{{4, 0.05, 3}, {3, 0.1, 4}, {2, 0.5, 2}, {1, 0.9, 1}}));
}

}  // namespace
