#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tarvex/symreg/topology.hpp"

namespace {

using namespace tarvex::symreg::topology;
using tarvex::tree::to_string;

TEST(Topology, CountsPerDepth) {
  struct Case {
    std::size_t vars;
    std::size_t per_depth[4];
    std::size_t total;
  };
  const Case cases[] = {
      {0, {1, 1, 3, 21}, 26},
      {1, {2, 4, 32, 1408}, 1446},
      {2, {3, 9, 135, 21465}, 21612},
      {3, {4, 16, 384, 162816}, 163220},
  };
  for (const auto& c : cases) {
    const Nodes leaves = build_leaves(c.vars, std::nullopt);
    for (std::size_t depth = 0; depth < 4; ++depth) {
      EXPECT_EQ(enumerate_at_depth_nodes(depth, leaves).size(), c.per_depth[depth])
          << c.vars << " variables, depth " << depth;
    }
    EXPECT_EQ(enumerate_topologies(3, c.vars).size(), c.total) << c.vars;
  }
}

TEST(Topology, OrderOfTheTrees) {
  const auto leaves_only = enumerate_topologies(0, 2);
  ASSERT_EQ(leaves_only.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(leaves_only[i].num_vars, i);
  EXPECT_EQ(to_string(leaves_only[2]), "x1");

  const auto one_var = enumerate_topologies(1, 1);
  std::vector<std::string> texts;
  for (const auto& t : one_var) texts.push_back(to_string(t));
  EXPECT_EQ(texts, (std::vector<std::string>{"1", "x0", "eml(1, 1)", "eml(1, x0)", "eml(x0, 1)",
                                             "eml(x0, x0)"}));

  const auto depth2 = enumerate_topologies(2, 1);
  ASSERT_EQ(depth2.size(), 38u);
  EXPECT_EQ(to_string(depth2[6]), "eml(eml(1, 1), eml(1, 1))");  // first of depth 2
  EXPECT_EQ(to_string(depth2[6 + 16]), "eml(eml(1, 1), 1)");      // first of the A x B block
  EXPECT_EQ(to_string(depth2.back()), "eml(x0, eml(x0, x0))");
}

TEST(Topology, LeafListWithConstant) {
  const Nodes leaves = build_leaves(2, 0.5);
  ASSERT_EQ(leaves.size(), 4u);
  EXPECT_EQ(leaves.back()->kind(), tarvex::tree::EmlKind::Const);
  EXPECT_EQ(enumerate_at_depth_nodes(1, leaves).size(), 16u);
  std::vector<tarvex::tree::EmlTree> out;
  enumerate_at_depth(1, leaves, out);
  EXPECT_EQ(to_string(out.back()), "eml(0.500000, 0.500000)");
  EXPECT_EQ(out.back().num_vars, 0u);
}

TEST(Topology, WalkStopsWhenAsked) {
  std::vector<std::string> seen;
  for_each_topology(3, 10, [&seen](const tarvex::tree::NodePtr& node) {
    seen.push_back(to_string(tarvex::tree::EmlTree::from_node(node)));
    return seen.size() < 20;
  });
  ASSERT_EQ(seen.size(), 20u);
  EXPECT_EQ(seen[10], "x9");
  EXPECT_EQ(seen[11], "eml(1, 1)");
  EXPECT_EQ(seen[19], "eml(1, x7)");
}

}  // namespace
