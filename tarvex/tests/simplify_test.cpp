#include <string>

#include <gtest/gtest.h>

#include "tarvex/simplify.hpp"
#include "tarvex/testing.hpp"

namespace {

using namespace tarvex::testing;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;
using tarvex::tree::to_string;

NodePtr exp_of(NodePtr u) { return eml(std::move(u), one()); }
NodePtr ln_of(NodePtr y) { return eml(one(), eml(eml(one(), std::move(y)), one())); }

std::string simplified(const NodePtr& root) { return to_string(tarvex::simplify::simplify(EmlTree::from_node(root))); }

TEST(HashConsSimplify, CancelsEncodedExpAndLn) {
  struct Case {
    NodePtr input;
    std::string expected;
  };
  const Case cases[] = {
      {x(0), "x0"},
      {EmlNode::constant(2.5), "2.500000"},
      {ln_of(exp_of(x(0))), "x0"},
      {exp_of(ln_of(x(1))), "x1"},
      {exp_of(ln_of(exp_of(x(0)))), "eml(x0, 1)"},
      {eml(one(), one()), "eml(1, 1)"},
      {exp_of(x(0)), "eml(x0, 1)"},
      // exp(ln(X)) becomes X without regard to the sign of X.
      {exp_of(ln_of(EmlNode::constant(-3.0))), "-3.000000"},
      // Cancellations nested inside a larger tree.
      {eml(ln_of(exp_of(x(0))), exp_of(ln_of(x(2)))), "eml(x0, x2)"},
  };
  for (const auto& c : cases) EXPECT_EQ(simplified(c.input), c.expected);
}

TEST(HashConsSimplify, EqualSubtreesShareOneOutputNode) {
  const EmlTree out = tarvex::simplify::simplify(EmlTree::from_node(eml(x(0), x(0))));
  EXPECT_EQ(out.root->left(), out.root->right());

  // Equal deeper subtrees built separately.
  const EmlTree deep =
      tarvex::simplify::simplify(EmlTree::from_node(eml(eml(x(1), one()), eml(eml(x(1), one()), x(0)))));
  EXPECT_EQ(deep.root->left(), deep.root->right()->left());
  EXPECT_EQ(deep.num_vars, 2u);
}

TEST(HashConsSimplify, ConstantsKeyedByBitPattern) {
  const EmlTree out =
      tarvex::simplify::simplify(EmlTree::from_node(eml(EmlNode::constant(0.0), EmlNode::constant(-0.0))));
  EXPECT_NE(out.root->left(), out.root->right());
  EXPECT_EQ(to_string(out), "eml(0.000000, -0.000000)");
}

TEST(HashConsSimplify, InputIsUnchanged) {
  const NodePtr input = ln_of(exp_of(x(0)));
  const std::string before = to_string(EmlTree::from_node(input));
  (void)tarvex::simplify::simplify(EmlTree::from_node(input));
  EXPECT_EQ(to_string(EmlTree::from_node(input)), before);
}

}  // namespace
