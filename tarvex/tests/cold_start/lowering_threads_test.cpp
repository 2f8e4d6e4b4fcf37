// Its own executable so that the lowering below is the first in the process: the sine and
// cosine patterns are built while eight threads race for them.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "../lowered_text.hpp"
#include "tarvex/canonical.hpp"
#include "tarvex/lower.hpp"

namespace {

using tarvex::canonical::Canonical;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;

EmlTree x(std::size_t index) { return EmlTree::from_node(EmlNode::var(index)); }
EmlTree one() { return EmlTree::from_node(EmlNode::one()); }

// Exact: describe prints constants in round-trip digits.
std::string lowered(const EmlTree& tree) { return tarvex_test::describe(tarvex::lower::lower(tree)); }

TEST(LoweringColdStart, EightThreadsGetIdenticalResults) {
  struct Case {
    EmlTree tree;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {Canonical::cos(x(1)), "Cos(Var(1))"},
      {Canonical::sin(x(0)), "Sin(Var(0))"},
      {Canonical::sin(EmlTree::eml(x(0), one())), "Sin(Exp(Var(0)))"},
      {Canonical::cos(Canonical::sin(x(2))), "Cos(Sin(Var(2)))"},
      {Canonical::sub(Canonical::sin(x(0)), Canonical::cos(x(1))), "Sub(Sin(Var(0)), Cos(Var(1)))"},
      {EmlTree::eml(x(0), x(1)), "Sub(Exp(Var(0)), Ln(Var(1)))"},
      {Canonical::sub(x(0), x(1)), "Sub(Var(0), Var(1))"},
      {Canonical::ln(x(2)), "Ln(Var(2))"},
      {EmlTree::eml(one(), one()), "Exp(Const(1))"},
  };
  constexpr int thread_count = 8;
  std::vector<std::vector<std::string>> results(thread_count);
  {
    std::latch start(thread_count);
    std::vector<std::jthread> threads;
    for (int t = 0; t < thread_count; ++t) {
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        for (const Case& c : cases) results[t].push_back(lowered(c.tree));
      });
    }
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].expected);
    for (int t = 0; t < thread_count; ++t) EXPECT_EQ(results[t][i], cases[i].expected);
    EXPECT_EQ(lowered(cases[i].tree), cases[i].expected);  // and again, now that the patterns stand
  }
}

}  // namespace
