// LaTeX as a solution shows it: lowered, simplified, rendered.
#include <string>

#include <gtest/gtest.h>

#include "lowered_builders.hpp"
#include "tarvex/lower.hpp"
#include "tarvex/lower/display.hpp"
#include "tarvex/lower_simplify.hpp"
#include "tarvex/tree.hpp"

namespace {

using tarvex::lower::LoweredOp;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;
using namespace tarvex_test;

std::string shown(const LoweredOp& op) {
  return tarvex::lower::display::to_latex(tarvex::lower_simplify::simplify(op));
}

std::string shown(const NodePtr& root) { return shown(tarvex::lower::lower(EmlTree::from_node(root))); }

TEST(LatexAfterSimplification, TreesAsSolutionsShowThem) {
  const auto one = [] { return EmlNode::one(); };
  const auto e = EmlNode::eml(one(), one());
  struct Case {
    NodePtr tree;
    std::string latex;
  };
  const Case cases[] = {
      {e, "e"},
      {EmlNode::eml(one(), EmlNode::eml(EmlNode::var(0), one())), "e - x_{0}"},
      {EmlNode::eml(e, e), "14.154262"},  // exp(e) - ln(e), folded
      {EmlNode::eml(EmlNode::var(0), one()), "e^{x_{0}}"},
      {EmlNode::eml(EmlNode::var(0), EmlNode::var(1)), "e^{x_{0}} - \\ln\\left(x_{1}\\right)"},
  };
  for (const auto& c : cases) EXPECT_EQ(shown(c.tree), c.latex);
}

TEST(LatexAfterSimplification, PolynomialForms) {
  EXPECT_EQ(shown(mul(add(x(0), c(1.0)), sub(x(0), c(1.0)))), "-1 + x_{0}^{2}");
  EXPECT_EQ(shown(add(ln(x(0)), ln(x(0)))), "2 \\cdot \\ln\\left(x_{0}\\right)");
  EXPECT_EQ(shown(sub(c(0.0), c(3.0))), "-3");
  EXPECT_EQ(shown(add(x(0), x(1))), "x_{1} + x_{0}");
}

}  // namespace
