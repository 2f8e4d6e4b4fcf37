#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "lowered_text.hpp"
#include "tarvex/canonical.hpp"
#include "tarvex/lower.hpp"
#include "tarvex/lower/pattern.hpp"
#include "tarvex/testing.hpp"

namespace {

using namespace tarvex::testing;
using tarvex::canonical::Canonical;
using tarvex::lower::lower;
using tarvex::lower::LoweredOp;
using tarvex::lower::pattern::lower_node;
using tarvex::lower::pattern::nodes_structurally_equal;
using tarvex::lower::pattern::unify_with_wildcard;
using tarvex::tree::EmlKind;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;
using tarvex::tree::to_string;
using tarvex::tree::wildcard_index;
using tarvex_test::describe;
using tarvex_test::fill_wildcards;

namespace sin_template = tarvex::lower::pattern::sin_template;
namespace cos_template = tarvex::lower::pattern::cos_template;

std::string lowered(const NodePtr& node) { return describe(lower(tree(node))); }

struct LoweringCase {
  const char* name;
  NodePtr input;
  const char* expected;
};

TEST(Lowering, RulesOnSmallTrees) {
  const LoweringCase cases[] = {
      {"one", one(), "Const(1)"},
      {"constant", c(2.5), "Const(2.5)"},
      {"negative zero", c(-0.0), "Const(-0)"},
      {"variable", x(4), "Var(4)"},
      {"exp", eml(x(0), one()), "Exp(Var(0))"},
      {"exp of one before ln rule", eml(one(), one()), "Exp(Const(1))"},
      {"ln encoding", eml(one(), eml(eml(one(), x(0)), one())), "Ln(Var(0))"},
      {"e minus", eml(one(), eml(x(0), one())), "Sub(Const(2.718281828459045), Var(0))"},
      {"exp of ln", eml(eml(one(), eml(eml(one(), x(0)), one())), one()), "Var(0)"},
      {"subtraction encoding", Canonical::sub(tree(x(0)), tree(x(1))).root, "Sub(Var(0), Var(1))"},
      {"definition", eml(x(0), x(1)), "Sub(Exp(Var(0)), Ln(Var(1)))"},
      {"one on the left, other right", eml(one(), x(2)), "Sub(Exp(Const(1)), Ln(Var(2)))"},
      {"ln shape left without exp right", eml(eml(one(), eml(eml(one(), x(0)), one())), x(1)),
       "Sub(Exp(Ln(Var(0))), Ln(Var(1)))"},
      {"constant in place of a one", eml(x(0), c(1.0)), "Sub(Exp(Var(0)), Ln(Const(1)))"},
      {"nested", eml(eml(x(0), one()), eml(x(1), x(2))), "Sub(Exp(Exp(Var(0))), Ln(Sub(Exp(Var(1)), Ln(Var(2)))))"},
      {"ln of exp", eml(one(), eml(eml(one(), eml(x(0), one())), one())), "Ln(Exp(Var(0)))"},
      {"e minus a difference", eml(one(), eml(eml(x(0), x(1)), one())),
       "Sub(Const(2.718281828459045), Sub(Exp(Var(0)), Ln(Var(1))))"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(lowered(t.input), t.expected);
    EXPECT_EQ(describe(lower_node(*t.input)), t.expected);
  }
}

TEST(Lowering, SineAndCosineEncodings) {
  const LoweringCase cases[] = {
      {"sin x0", Canonical::sin(tree(x(0))).root, "Sin(Var(0))"},
      {"cos x1", Canonical::cos(tree(x(1))).root, "Cos(Var(1))"},
      {"sin of exp", Canonical::sin(tree(eml(x(0), one()))).root, "Sin(Exp(Var(0)))"},
      {"cos of sin", Canonical::cos(Canonical::sin(tree(x(2)))).root, "Cos(Sin(Var(2)))"},
      {"sin of constant", Canonical::sin(tree(c(0.25))).root, "Sin(Const(0.25))"},
      {"ln of cos", Canonical::ln(Canonical::cos(tree(x(0)))).root, "Ln(Cos(Var(0)))"},
      {"sin minus cos", Canonical::sub(Canonical::sin(tree(x(0))), Canonical::cos(tree(x(1)))).root,
       "Sub(Sin(Var(0)), Cos(Var(1)))"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(lowered(t.input), t.expected);
  }
}

TEST(Lowering, TemplatesAreTheEncodingsOfTheWildcard) {
  EXPECT_EQ(to_string(tree(fill_wildcards(sin_template::TEMPLATE(), {x(0), x(0)}))),
            to_string(Canonical::sin(tree(x(0)))));
  EXPECT_EQ(to_string(tree(fill_wildcards(cos_template::TEMPLATE(), {x(0), x(0)}))),
            to_string(Canonical::cos(tree(x(0)))));
  EXPECT_EQ(&sin_template::TEMPLATE(), &sin_template::TEMPLATE());
  EXPECT_EQ(&cos_template::TEMPLATE(), &cos_template::TEMPLATE());
  // fill_wildcards takes exactly two fillers: it throws when a third occurrence asks for one.
  EXPECT_THROW(fill_wildcards(sin_template::TEMPLATE(), {x(0)}), std::out_of_range);
  EXPECT_THROW(fill_wildcards(cos_template::TEMPLATE(), {x(0)}), std::out_of_range);
}

struct ArgumentCase {
  const char* name;
  double first;
  double second;
  const char* expected;  // null: the lowering must not recognise a sine or cosine
};

TEST(Lowering, WildcardOccurrencesCompareWithTolerance) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const ArgumentCase cases[] = {
      {"equal", 0.5, 0.5, "Sin(Const(0.5))"},
      {"below tolerance, left-most kept", 0.0, 1e-16, "Sin(Const(0))"},
      {"below tolerance, other order", 1e-16, 0.0, "Sin(Const(0.0000000000000001))"},
      {"zero and negative zero", -0.0, 0.0, "Sin(Const(-0))"},
      {"above tolerance", 0.0, 1e-14, nullptr},
      {"exactly the tolerance", 0.0, 1e-15, nullptr},
      {"NaN equals nothing", nan, nan, nullptr},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    const NodePtr node = fill_wildcards(sin_template::TEMPLATE(), {c(t.first), c(t.second)});
    const std::string result = lowered(node);
    if (t.expected != nullptr) {
      EXPECT_EQ(result, t.expected);
      continue;
    }
    // div(N, D) = eml(sub(ln N, ln D), 1) falls through to exp of a difference of logs.
    EXPECT_EQ(result.rfind("Exp(Sub(Ln(", 0), 0u) << result;
    EXPECT_EQ(result.find("Sin("), std::string::npos) << result;
    EXPECT_EQ(result.find("Cos("), std::string::npos) << result;
  }
}

TEST(Lowering, CosineArgumentTakenFromLeftMostOccurrence) {
  const NodePtr node = fill_wildcards(cos_template::TEMPLATE(), {c(2.0), c(2.0 + 4e-16)});
  EXPECT_EQ(lowered(node), "Cos(Const(2))");
  const NodePtr apart = fill_wildcards(cos_template::TEMPLATE(), {c(2.0), c(2.5)});
  EXPECT_EQ(lowered(apart).find("Cos("), std::string::npos);
}

// A copy of the tree with its k-th 1-leaf (left to right) replaced by Const(1.0).
NodePtr replace_one(const EmlNode& node, std::size_t k, std::size_t& seen) {
  switch (node.kind()) {
    case EmlKind::One: return seen++ == k ? c(1.0) : one();
    case EmlKind::Eml: {
      auto left = replace_one(*node.left(), k, seen);
      auto right = replace_one(*node.right(), k, seen);
      return eml(std::move(left), std::move(right));
    }
    case EmlKind::Var: return x(node.index());
    case EmlKind::Const: return c(node.value());
  }
  return nullptr;
}

TEST(Lowering, PatternOnesDoNotMatchConstantOne) {
  const struct {
    EmlTree encoding;
    const char* lowered_name;
  } cases[] = {{Canonical::sin(tree(x(0))), "Sin("}, {Canonical::cos(tree(x(0))), "Cos("}};
  for (const auto& t : cases) {
    const std::size_t ones = (t.encoding.size() + 1) / 2 - 2;  // leaves but the two x0
    for (std::size_t k : {std::size_t{0}, std::size_t{1}, ones / 2, ones - 1}) {
      SCOPED_TRACE(testing::Message() << t.lowered_name << " one " << k);
      std::size_t seen = 0;
      const std::string result = lowered(replace_one(*t.encoding.root, k, seen));
      EXPECT_EQ(seen, ones);
      EXPECT_EQ(result.find(t.lowered_name), std::string::npos) << result;
    }
  }
}

// Every shared pointer of the output is held once: nothing is shared within it or with
// anything else.
void expect_unshared(const LoweredOp& op) {
  if (tarvex::lower::arity(op.kind()) >= 1) {
    EXPECT_EQ(op.lhs_ptr().use_count(), 1);
    expect_unshared(op.lhs());
  }
  if (tarvex::lower::arity(op.kind()) == 2) {
    EXPECT_EQ(op.rhs_ptr().use_count(), 1);
    expect_unshared(op.rhs());
  }
}

TEST(Lowering, OutputIsFreshAndInputUnchanged) {
  const NodePtr shared = eml(x(0), x(1));
  const EmlTree input = tree(eml(shared, shared));
  const std::string before = to_string(input);
  const LoweredOp result = lower(input);
  EXPECT_EQ(describe(result), "Sub(Exp(Sub(Exp(Var(0)), Ln(Var(1)))), Ln(Sub(Exp(Var(0)), Ln(Var(1)))))");
  expect_unshared(result);
  expect_unshared(lower(Canonical::sin(tree(eml(x(0), x(1))))));
  EXPECT_EQ(to_string(input), before);
}

TEST(Unify, WildcardBindsAtFirstOccurrence) {
  const NodePtr wildcard = x(wildcard_index);
  const NodePtr pattern = eml(wildcard, eml(wildcard, one()));
  const NodePtr a = eml(x(0), one());
  const NodePtr node = eml(a, eml(eml(x(0), one()), one()));
  const EmlNode* binding = nullptr;
  EXPECT_TRUE(unify_with_wildcard(*node, *pattern, binding));
  EXPECT_EQ(binding, a.get());

  binding = nullptr;
  EXPECT_FALSE(unify_with_wildcard(*eml(x(0), eml(x(1), one())), *pattern, binding));
  EXPECT_NE(binding, nullptr);  // a failed match may leave the binding set
}

struct UnifyCase {
  const char* name;
  NodePtr node;
  NodePtr pattern;
  bool matches;
};

TEST(Unify, LeafRules) {
  const UnifyCase cases[] = {
      {"same variable", x(3), x(3), true},
      {"other variable", x(3), x(2), false},
      {"one against variable", one(), x(3), false},
      {"one", one(), one(), true},
      {"one against constant one", one(), c(1.0), false},
      {"constant one against one", c(1.0), one(), false},
      {"identical constant bits", c(1.0), c(1.0), true},
      {"constant within tolerance", c(1.0), c(1.0 + 2.220446049250313e-16), false},
      {"zero against negative zero", c(0.0), c(-0.0), false},
      {"variable against one", x(0), one(), false},
      {"variable against eml", x(0), eml(one(), one()), false},
      {"eml against one", eml(one(), one()), one(), false},
      {"eml", eml(one(), x(1)), eml(one(), x(1)), true},
      {"eml right differs", eml(one(), x(1)), eml(one(), x(0)), false},
      {"wildcard takes one", one(), x(wildcard_index), true},
      {"wildcard takes eml", eml(x(0), x(1)), x(wildcard_index), true},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    const EmlNode* binding = nullptr;
    EXPECT_EQ(unify_with_wildcard(*t.node, *t.pattern, binding), t.matches);
  }
}

TEST(Unify, BoundWildcardComparesStructurally) {
  const NodePtr wildcard = x(wildcard_index);
  const NodePtr bound = c(0.0);
  const EmlNode* binding = bound.get();
  EXPECT_TRUE(unify_with_wildcard(*c(5e-16), *wildcard, binding));
  EXPECT_EQ(binding, bound.get());
  EXPECT_FALSE(unify_with_wildcard(*c(2e-15), *wildcard, binding));
}

TEST(StructuralEquality, Rules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const UnifyCase cases[] = {
      {"ones", one(), one(), true},
      {"one and constant one", one(), c(1.0), false},
      {"same variable", x(2), x(2), true},
      {"other variable", x(2), x(3), false},
      {"constants apart by less", c(0.0), c(1e-16), true},
      {"zero and negative zero", c(0.0), c(-0.0), true},
      {"constants apart by the tolerance", c(0.0), c(1e-15), false},
      {"NaN", c(nan), c(nan), false},
      {"infinities", c(inf), c(inf), false},
      {"eml", eml(x(0), c(1.0)), eml(x(0), c(1.0 + 1e-16)), true},
      {"eml differs left", eml(x(1), one()), eml(x(0), one()), false},
      {"eml against leaf", eml(x(0), one()), x(0), false},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(nodes_structurally_equal(*t.node, *t.pattern), t.matches);
    EXPECT_EQ(nodes_structurally_equal(*t.pattern, *t.node), t.matches);
  }
}

}  // namespace
