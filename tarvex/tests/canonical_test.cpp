#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tarvex/canonical.hpp"

namespace {

using tarvex::canonical::Canonical;
using tarvex::tree::EmlKind;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::to_string;

EmlTree x(std::size_t index) { return EmlTree::from_node(EmlNode::var(index)); }
EmlTree one() { return EmlTree::from_node(EmlNode::one()); }

std::size_t count_text(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

// Occurrences of leaves of one kind, counted once per place in the tree.
std::size_t count_leaves(const EmlNode& node, EmlKind kind) {
  if (node.is_eml()) return count_leaves(*node.left(), kind) + count_leaves(*node.right(), kind);
  return node.kind() == kind ? 1 : 0;
}

struct EncodingCase {
  const char* name;
  std::function<EmlTree(const EmlTree&, const EmlTree&)> build;
  std::size_t size;
  std::size_t x0_occurrences;
};

TEST(Canonical, SizesAndOperandOccurrencesWithLeafOperands) {
  const EncodingCase cases[] = {
      {"ln", [](auto& a, auto&) { return Canonical::ln(a); }, 7, 1},
      {"sub", [](auto& a, auto& b) { return Canonical::sub(a, b); }, 11, 1},
      {"neg", [](auto& a, auto&) { return Canonical::neg(a); }, 17, 1},
      {"mul", [](auto& a, auto& b) { return Canonical::mul(a, b); }, 41, 1},
      {"div", [](auto& a, auto& b) { return Canonical::div(a, b); }, 25, 1},
      {"reciprocal", [](auto& a, auto&) { return Canonical::reciprocal(a); }, 25, 1},
      {"sin", [](auto& a, auto&) { return Canonical::sin(a); }, 543, 2},
      {"cos", [](auto& a, auto&) { return Canonical::cos(a); }, 405, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const EmlTree result = c.build(x(0), x(1));
    EXPECT_TRUE(result.root->is_eml());
    EXPECT_EQ(result.size(), c.size);
    const std::string text = to_string(result);
    EXPECT_EQ(count_text(text, "x0"), c.x0_occurrences);
    EXPECT_EQ(count_leaves(*result.root, EmlKind::Var), c.x0_occurrences + count_text(text, "x1"));
    EXPECT_EQ(count_leaves(*result.root, EmlKind::Const), 0u);
    // Built only from eml nodes, 1-leaves and the operands.
    EXPECT_EQ(count_leaves(*result.root, EmlKind::One) + count_leaves(*result.root, EmlKind::Var), (c.size + 1) / 2);
  }
}

TEST(Canonical, TextForms) {
  EXPECT_EQ(to_string(Canonical::ln(x(0))), "eml(1, eml(eml(1, x0), 1))");
  EXPECT_EQ(to_string(Canonical::sub(x(0), x(1))), "eml(eml(1, eml(eml(1, x0), 1)), eml(x1, 1))");
  EXPECT_EQ(to_string(Canonical::neg(x(0))), "eml(eml(1, eml(eml(1, eml(1, eml(x0, 1))), 1)), eml(eml(1, 1), 1))");
  // two = sub(1, neg(1))
  EXPECT_EQ(to_string(Canonical::sub(one(), Canonical::neg(one()))),
            "eml(eml(1, eml(eml(1, 1), 1)), eml(eml(eml(1, eml(eml(1, eml(1, eml(1, 1))), 1)), "
            "eml(eml(1, 1), 1)), 1))");
  // The composites, exp of the simpler encodings: E(sub(ln a, neg(ln b))), E(sub(ln a,
  // ln b)) and E(neg(ln x)).
  EXPECT_EQ(to_string(Canonical::mul(x(0), x(1))),
            "eml(eml(eml(1, eml(eml(1, eml(1, eml(eml(1, x0), 1))), 1)), eml(eml(eml(1, eml(eml(1, "
            "eml(1, eml(eml(1, eml(eml(1, x1), 1)), 1))), 1)), eml(eml(1, 1), 1)), 1)), 1)");
  EXPECT_EQ(to_string(Canonical::div(x(0), x(1))),
            "eml(eml(eml(1, eml(eml(1, eml(1, eml(eml(1, x0), 1))), 1)), "
            "eml(eml(1, eml(eml(1, x1), 1)), 1)), 1)");
  EXPECT_EQ(to_string(Canonical::reciprocal(x(0))),
            "eml(eml(eml(1, eml(eml(1, eml(1, eml(eml(1, eml(eml(1, x0), 1)), 1))), 1)), "
            "eml(eml(1, 1), 1)), 1)");
}

TEST(Canonical, NumVarsIsTheLargestOfTheOperands) {
  const EmlTree x2 = x(2);
  EXPECT_EQ(Canonical::ln(x2).num_vars, 3u);
  EXPECT_EQ(Canonical::ln(one()).num_vars, 0u);
  EXPECT_EQ(Canonical::sub(x(0), x(4)).num_vars, 5u);
  EXPECT_EQ(Canonical::sin(x2).num_vars, 3u);
  EXPECT_EQ(Canonical::cos(one()).num_vars, 0u);
}

TEST(Canonical, OperandsAreSharedNotCopied) {
  const EmlTree x0 = x(0);
  const EmlTree both = Canonical::sub(x0, x0);
  EXPECT_EQ(both.size(), 11u);
  // eml(eml(1, eml(eml(1, x0), 1)), eml(x0, 1))
  const EmlNode& root = *both.root;
  EXPECT_EQ(root.left()->right()->left()->right(), x0.root);
  EXPECT_EQ(root.right()->left(), x0.root);
}

TEST(Canonical, OneLeafIsFreshPerCallAndSharedWithinIt) {
  const EmlTree ln = Canonical::ln(x(0));
  // eml(1, eml(eml(1, x0), 1)): the three 1-leaves are one node.
  const auto& first = ln.root->left();
  EXPECT_EQ(ln.root->right()->right(), first);
  EXPECT_EQ(ln.root->right()->left()->left(), first);
  EXPECT_NE(Canonical::ln(x(0)).root->left(), first);
}

TEST(Canonical, SineSharesImaginaryArgumentAcrossBothUses) {
  const EmlTree x0 = x(0);
  const EmlTree sin = Canonical::sin(x0);
  // Walking the tree finds the operand at two places, both the very node passed in.
  std::size_t found = 0;
  std::function<void(const EmlNode&)> walk = [&](const EmlNode& node) {
    if (!node.is_eml()) return;
    for (const auto& child : {node.left(), node.right()}) {
      if (child == x0.root) ++found;
      walk(*child);
    }
  };
  walk(*sin.root);
  EXPECT_EQ(found, 2u);
}

}  // namespace
