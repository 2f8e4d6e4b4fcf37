#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/siphash.hpp"
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
  EXPECT_EQ(texts, (std::vector<std::string>{"1", "x0", "eml(1, 1)", "eml(1, x0)", "eml(x0, 1)", "eml(x0, x0)"}));

  const auto depth2 = enumerate_topologies(2, 1);
  ASSERT_EQ(depth2.size(), 38u);
  EXPECT_EQ(to_string(depth2[6]), "eml(eml(1, 1), eml(1, 1))");  // first of depth 2
  EXPECT_EQ(to_string(depth2[6 + 16]), "eml(eml(1, 1), 1)");     // first of the A x B block
  EXPECT_EQ(to_string(depth2.back()), "eml(x0, eml(x0, x0))");
}

// Depth 3 is three blocks over A, the trees of depth 2, and B, those of depth 0 then depth
// 1: eml(a1, a2), then eml(a, b), then eml(b, a), the left child from the outer loop. With
// one variable (32 trees of depth 2, B = 1, x0, eml(1, 1), eml(1, x0), eml(x0, 1),
// eml(x0, x0)) the blocks start at 2 + 4 + 32 = 38, 38 + 32 * 32 = 1062 and 1062 + 32 * 6 =
// 1254; with two variables (135 trees of depth 2, 12 in B) at 147, 18372 and 19992.
// Positions inside the depth-2 list follow the same rule one level down.
TEST(Topology, PositionsInsideTheThreeBlocksOfDepthThree) {
  struct Case {
    std::size_t vars, position;
    const char* text;
  };
  const Case cases[] = {
      // A x A: 38 + 32 i + j is eml(A[i], A[j]).
      {1, 38, "eml(eml(eml(1, 1), eml(1, 1)), eml(eml(1, 1), eml(1, 1)))"},
      {1, 38 + 32 * 17 + 26, "eml(eml(eml(1, 1), x0), eml(1, eml(x0, 1)))"},
      {1, 1061, "eml(eml(x0, eml(x0, x0)), eml(x0, eml(x0, x0)))"},
      // A x B: 1062 + 6 i + j is eml(A[i], B[j]); B[2..5] are the trees of depth 1.
      {1, 1062, "eml(eml(eml(1, 1), eml(1, 1)), 1)"},
      {1, 1062 + 2, "eml(eml(eml(1, 1), eml(1, 1)), eml(1, 1))"},
      {1, 1062 + 6 * 5 + 3, "eml(eml(eml(1, x0), eml(1, x0)), eml(1, x0))"},
      {1, 1253, "eml(eml(x0, eml(x0, x0)), eml(x0, x0))"},
      // B x A: 1254 + 32 j + i is eml(B[j], A[i]).
      {1, 1254, "eml(1, eml(eml(1, 1), eml(1, 1)))"},
      {1, 1254 + 32 * 1 + 20, "eml(x0, eml(eml(x0, 1), 1))"},
      {1, 1254 + 32 * 4 + 31, "eml(eml(x0, 1), eml(x0, eml(x0, x0)))"},
      {1, 1445, "eml(eml(x0, x0), eml(x0, eml(x0, x0)))"},
      {2, 147, "eml(eml(eml(1, 1), eml(1, 1)), eml(eml(1, 1), eml(1, 1)))"},
      {2, 18371, "eml(eml(x1, eml(x1, x1)), eml(x1, eml(x1, x1)))"},
      {2, 18372 + 12 * 100 + 7, "eml(eml(eml(x1, 1), x0), eml(x0, x0))"},
      {2, 19992 + 135 * 2 + 110, "eml(x1, eml(1, eml(1, x1)))"},
      {2, 21611, "eml(eml(x1, x1), eml(x1, eml(x1, x1)))"},
  };
  const std::vector<tarvex::tree::EmlTree> by_vars[] = {{}, enumerate_topologies(3, 1), enumerate_topologies(3, 2)};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.vars << " variables, position " << c.position);
    ASSERT_LT(c.position, by_vars[c.vars].size());
    EXPECT_EQ(to_string(by_vars[c.vars][c.position]), c.text);
  }
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

std::vector<std::string> texts_of(const std::vector<tarvex::tree::EmlTree>& trees) {
  std::vector<std::string> out;
  for (const auto& t : trees) out.push_back(to_string(t));
  return out;
}

TEST(SemanticDedupe, KeepsTheFirstOfEachClass) {
  EXPECT_TRUE(dedupe_by_semantics({}).empty());

  using tarvex::tree::EmlNode;
  using tarvex::tree::EmlTree;
  const auto one = EmlNode::one();
  const auto x0 = EmlNode::var(0);
  const auto exp_x0 = EmlNode::eml(x0, one);
  const auto ln_of = [&](tarvex::tree::NodePtr y) {
    return EmlNode::eml(one, EmlNode::eml(EmlNode::eml(one, std::move(y)), one));
  };
  const EmlTree t = EmlTree::from_node(exp_x0);
  EXPECT_EQ(texts_of(dedupe_by_semantics({t, t})), std::vector<std::string>{"eml(x0, 1)"});

  // exp(ln(exp x0)) simplifies to exp x0; exp(ln 1) to 1.
  const EmlTree exp_ln_exp = EmlTree::from_node(EmlNode::eml(ln_of(exp_x0), one));
  const EmlTree exp_ln_one = EmlTree::from_node(EmlNode::eml(ln_of(one), one));
  EXPECT_EQ(semantic_key(t), semantic_key(exp_ln_exp));
  EXPECT_EQ(semantic_key(EmlTree::from_node(one)), semantic_key(exp_ln_one));
  EXPECT_NE(semantic_key(t), semantic_key(EmlTree::from_node(x0)));
  EXPECT_EQ(texts_of(dedupe_by_semantics({exp_ln_exp, t, EmlTree::from_node(x0)})),
            (std::vector<std::string>{"eml(eml(1, eml(eml(1, eml(x0, 1)), 1)), 1)", "x0"}));
}

// Which trees collide depends on the last bit of libm's exp/log in constant folding;
// these are the counts with glibc's correctly rounded results.
TEST(SemanticDedupe, FullListsAtDepthThree) {
  EXPECT_EQ(dedupe_by_semantics(enumerate_topologies(3, 1)).size(), 1444u);
  EXPECT_EQ(dedupe_by_semantics(enumerate_topologies(3, 2)).size(), 21606u);
}

TEST(SemanticDedupe, StreamingEqualsThePrefixOfTheFullList) {
  for (std::size_t vars = 0; vars <= 3; ++vars) {
    const std::size_t depth = vars == 3 ? 2 : 3;  // keeps the full lists quick to build
    const auto full = texts_of(dedupe_by_semantics(enumerate_topologies(depth, vars)));
    for (std::size_t limit :
         {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{512}, full.size(), full.size() + 5}) {
      const auto streamed = texts_of(distinct_topologies(depth, vars, limit));
      const std::size_t expected = std::min(limit, full.size());
      ASSERT_EQ(streamed.size(), expected) << vars << " vars, limit " << limit;
      EXPECT_TRUE(std::equal(streamed.begin(), streamed.end(), full.begin())) << vars << " vars, limit " << limit;
    }
  }
}

// A fit keeps the first 512 survivors in their order, so that prefix is pinned: a digest
// of their texts (one per line, SipHash-1-3 with zero keys) and the last of them.
TEST(SemanticDedupe, FirstFiveHundredTwelveSurvivorsArePinned) {
  struct Case {
    std::size_t vars;
    std::uint64_t digest;
    const char* last;
  };
  const Case cases[] = {
      {1, 0xb0c7bdfc888ff359, "eml(eml(eml(x0, x0), eml(x0, 1)), eml(1, eml(1, x0)))"},
      {2, 0xf24d1010acdc95fb, "eml(eml(eml(1, 1), eml(1, x1)), eml(eml(x0, x0), x0))"},
      {3, 0x2b7586d0969094e9, "eml(eml(eml(1, 1), eml(1, 1)), eml(eml(x0, x1), eml(x1, x2)))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.vars << " variables");
    const auto kept = texts_of(distinct_topologies(3, c.vars, 512));
    ASSERT_EQ(kept.size(), 512u);
    support::SipHasher13 digest;
    for (const std::string& text : kept) {
      const std::string line = text + "\n";
      digest.write({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
    }
    EXPECT_EQ(digest.finish(), c.digest);
    EXPECT_EQ(kept.back(), c.last);
  }
}

// Many columns: the first survivors arrive long before depth three is reached.
TEST(SemanticDedupe, ManyColumnsFillTheLimit) { EXPECT_EQ(distinct_topologies(3, 10, 512).size(), 512u); }

}  // namespace
