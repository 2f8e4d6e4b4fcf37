#pragma once
// Test helpers: an exact, readable text of a lowered expression ("Sub(Exp(Var(0)),
// Ln(Var(1)))", constants in shortest round-trip digits so that 0 and -0 differ), and trees
// built from the wildcard encodings.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "support/number_text.hpp"
#include "tarvex/lower.hpp"
#include "tarvex/tree.hpp"

namespace tarvex_test {

inline std::string describe(const tarvex::lower::LoweredOp& op) {
  using tarvex::lower::OpKind;
  static constexpr auto names = std::to_array<std::string_view>(
      {"Const", "Var",   "Add",        "Sub",  "Mul",     "Div",     "Exp",      "Ln",   "Sin",  "Cos",
       "Pow",   "Neg",   "Tan",        "Sinh", "Cosh",    "Tanh",    "Asin",     "Acos", "Atan", "Asinh",
       "Acosh", "Atanh", "NamedConst", "Erf",  "LnGamma", "Digamma", "Trigamma", "Ei",   "Si",   "Ci"});
  static_assert(names.size() == tarvex::lower::op_kind_count);
  std::string text(names[static_cast<std::size_t>(op.kind())]);
  text += '(';
  switch (op.kind()) {
    case OpKind::Const: text += support::shortest(op.value()); break;
    case OpKind::Var: text += std::to_string(op.index()); break;
    case OpKind::NamedConst: text += std::to_string(static_cast<int>(op.named_id())); break;
    default:
      text += describe(op.lhs());
      if (tarvex::lower::arity(op.kind()) == 2) {
        text += ", ";
        text += describe(op.rhs());
      }
  }
  text += ')';
  return text;
}

// A copy of the tree (shared subtrees unshared) in which the wildcard leaves are replaced,
// in left-to-right order, by the given nodes.
inline tarvex::tree::NodePtr fill_wildcards(const tarvex::tree::EmlNode& node,
                                            const std::vector<tarvex::tree::NodePtr>& fillers, std::size_t& next) {
  using tarvex::tree::EmlNode;
  switch (node.kind()) {
    case tarvex::tree::EmlKind::One: return EmlNode::one();
    case tarvex::tree::EmlKind::Const: return EmlNode::constant(node.value());
    case tarvex::tree::EmlKind::Var:
      if (node.index() == tarvex::tree::wildcard_index) return fillers.at(next++);
      return EmlNode::var(node.index());
    case tarvex::tree::EmlKind::Eml: {
      auto left = fill_wildcards(*node.left(), fillers, next);
      auto right = fill_wildcards(*node.right(), fillers, next);
      return EmlNode::eml(std::move(left), std::move(right));
    }
  }
  return nullptr;
}

inline tarvex::tree::NodePtr fill_wildcards(const tarvex::tree::EmlNode& node,
                                            const std::vector<tarvex::tree::NodePtr>& fillers) {
  std::size_t next = 0;
  return fill_wildcards(node, fillers, next);
}

}  // namespace tarvex_test
