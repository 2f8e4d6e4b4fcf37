#include "vorn_core/pareto.hpp"

#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using vorn_core::pareto::ParetoFront;
using vorn_core::solution::Solution;
using namespace vorn_core::testing;

// A candidate's (complexity, mse) and a tag, its tree's variable index, that tells equal
// points apart.
struct Point {
  std::uint64_t complexity;
  double mse;
  std::size_t tag = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

ParetoFront front_of(std::initializer_list<Point> points) {
  std::vector<Solution> candidates;
  for (const Point& p : points) candidates.push_back(Solution{tree(x(p.tag)), p.mse, p.complexity});
  return ParetoFront::from_candidates(std::move(candidates));
}

std::vector<Point> points(const std::vector<const Solution*>& solutions) {
  std::vector<Point> out;
  for (const Solution* s : solutions) out.push_back(Point{s->complexity, s->mse, s->tree.root->index()});
  return out;
}

std::vector<Point> points(const ParetoFront& front) {
  std::vector<const Solution*> members;
  for (const Solution& s : front.members()) members.push_back(&s);
  return points(members);
}

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

TEST(ParetoFront, KeepsTheNonDominatedInComplexityOrder) {
  struct Case {
    std::string name;
    ParetoFront front;
    std::vector<Point> expected;
  };
  const Case cases[] = {
      {"none", front_of({}), {}},
      {"only_non_finite", front_of({{1, nan}, {2, inf}, {3, -inf}}), {}},
      {"equal_points_keep_the_first", front_of({{3, 0.5, 1}, {3, 0.5, 2}}), {{3, 0.5, 1}}},
      {"negative_zero_equals_zero", front_of({{2, 0.0, 1}, {2, -0.0, 2}}), {{2, 0.0, 1}}},
      // A slightly smaller mse at equal complexity dominates rather than counting as equal.
      {"dominance_before_duplicates", front_of({{3, 0.5, 1}, {3, 0.5 - 0.9e-12, 2}}), {{3, 0.5 - 0.9e-12, 2}}},
      {"later_smaller_dominates", front_of({{5, 0.1, 1}, {3, 0.1, 2}}), {{3, 0.1, 2}}},
      {"trade_off_both_stay", front_of({{3, 0.2, 1}, {5, 0.1, 2}}), {{3, 0.2, 1}, {5, 0.1, 2}}},
      {"one_removes_several", front_of({{5, 0.3, 1}, {7, 0.2, 2}, {9, 0.4, 3}, {4, 0.1, 4}}), {{4, 0.1, 4}}},
      {"sorted",
       front_of({{9, 0.01, 1}, {1, 0.9, 2}, {5, 0.1, 3}, {3, 0.5, 4}}),
       {{1, 0.9, 2}, {3, 0.5, 4}, {5, 0.1, 3}, {9, 0.01, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(points(c.front), c.expected);
  }
}

TEST(ParetoFront, TopAndBestByError) {
  const ParetoFront empty = front_of({{1, nan}});
  EXPECT_EQ(empty.best(), nullptr);
  EXPECT_TRUE(empty.pareto_top(3).empty());

  const ParetoFront two = front_of({{3, 0.2, 1}, {5, 0.1, 2}});
  EXPECT_EQ(points(two.pareto_top(1)), (std::vector<Point>{{5, 0.1, 2}}));
  EXPECT_EQ(points({two.best()}), (std::vector<Point>{{5, 0.1, 2}}));

  const ParetoFront four = front_of({{1, 0.9, 1}, {2, 0.5, 2}, {4, 0.05, 3}, {3, 0.1, 4}});
  EXPECT_TRUE(four.pareto_top(0).empty());
  EXPECT_EQ(points(four.pareto_top(100)), (std::vector<Point>{{4, 0.05, 3}, {3, 0.1, 4}, {2, 0.5, 2}, {1, 0.9, 1}}));
}

}  // namespace
