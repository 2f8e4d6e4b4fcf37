#include <gtest/gtest.h>

#include "tarvex/tree.hpp"

namespace {

using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::to_string;

EmlTree leaf(tarvex::tree::NodePtr node) { return EmlTree::from_node(std::move(node)); }

TEST(EmlTree, LeavesAndTheirMeasures) {
  const EmlTree one = leaf(EmlNode::one());
  EXPECT_EQ(one.size(), 1u);
  EXPECT_EQ(one.num_vars, 0u);
  EXPECT_EQ(to_string(one), "1");

  const EmlTree x3 = leaf(EmlNode::var(3));
  EXPECT_EQ(x3.num_vars, 4u);
  EXPECT_EQ(to_string(x3), "x3");

  EXPECT_EQ(to_string(leaf(EmlNode::var(12))), "x12");
  EXPECT_EQ(leaf(EmlNode::var(tarvex::tree::wildcard_index)).num_vars, 9223372036854775808ULL);
}

TEST(EmlTree, EmlCombinesWithoutChangingOperands) {
  const EmlTree x0 = leaf(EmlNode::var(0));
  const EmlTree x2 = leaf(EmlNode::var(2));
  const EmlTree both = EmlTree::eml(x0, x2);
  EXPECT_EQ(both.num_vars, 3u);
  EXPECT_EQ(both.size(), 3u);
  EXPECT_EQ(to_string(both), "eml(x0, x2)");
  EXPECT_EQ(to_string(x0), "x0");
  EXPECT_EQ(to_string(x2), "x2");

  const EmlTree twice = EmlTree::eml(both, both);
  EXPECT_EQ(twice.size(), 2 * both.size() + 1);
  EXPECT_EQ(twice.root->left(), twice.root->right());  // stored once
  EXPECT_EQ(to_string(twice), "eml(eml(x0, x2), eml(x0, x2))");
}

TEST(EmlTree, TextForm) {
  const auto one = EmlNode::one();
  const auto x0 = EmlNode::var(0);
  const auto x1 = EmlNode::var(1);
  EXPECT_EQ(to_string(leaf(EmlNode::eml(x0, EmlNode::eml(one, x1)))), "eml(x0, eml(1, x1))");
  EXPECT_EQ(to_string(leaf(EmlNode::eml(EmlNode::constant(2.0), x1))), "eml(2.000000, x1)");
  EXPECT_EQ(to_string(leaf(EmlNode::constant(1.0))), "1.000000");
  EXPECT_EQ(to_string(leaf(EmlNode::eml(EmlNode::eml(EmlNode::constant(-0.0), one), EmlNode::constant(0.0078125)))),
            "eml(eml(-0.000000, 1), 0.007812)");
}

TEST(EmlTree, FromNodeCountsOnlyVariables) {
  const auto constants = EmlNode::eml(EmlNode::constant(3.5), EmlNode::one());
  EXPECT_EQ(EmlTree::from_node(constants).num_vars, 0u);
  const auto deep = EmlNode::eml(EmlNode::eml(EmlNode::var(4), EmlNode::one()), EmlNode::var(1));
  EXPECT_EQ(EmlTree::from_node(deep).num_vars, 5u);
  EXPECT_EQ(EmlTree::from_node(deep).size(), 5u);
}

}  // namespace
