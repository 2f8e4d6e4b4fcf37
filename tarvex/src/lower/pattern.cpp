#include "tarvex/lower/pattern.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

#include "tarvex/canonical.hpp"

namespace tarvex::lower::pattern {
namespace {

using canonical::Canonical;
using tree::EmlKind;
using tree::EmlTree;

// The f64 nearest to Euler's number: eml(1, exp Y) = e - Y.
constexpr double euler = 2.718281828459045;

EmlTree wildcard_tree() { return EmlTree::from_node(EmlNode::var(tree::wildcard_index)); }

// The shape recognisers hand out the shared pointer; lowering only reads the node.
const EmlNode* exp_shape_argument(const EmlNode& node) {
  const tree::NodePtr* y = canonical::exp_shape_argument(node);
  return y ? y->get() : nullptr;
}

const EmlNode* ln_shape_argument(const EmlNode& node) {
  const tree::NodePtr* x = canonical::ln_shape_argument(node);
  return x ? x->get() : nullptr;
}

// The right child is compared before the (left-first) full walk because a mismatch there
// is the usual reason an encoding fails; returning true whenever unsure keeps the outcome
// exactly that of the walk.
bool right_child_may_match(const EmlNode& node, const EmlNode& pattern) {
  if (!pattern.is_eml()) return true;
  const EmlKind wanted = pattern.right()->kind();
  return wanted == EmlKind::Var || wanted == node.right()->kind();
}

// The node bound to the wildcard when node matches the template, else null.
const EmlNode* match_template(const EmlNode& node, const EmlNode& pattern) {
  if (!right_child_may_match(node, pattern)) return nullptr;
  const EmlNode* binding = nullptr;
  if (!unify_with_wildcard(node, pattern, binding)) return nullptr;
  return binding;
}

LoweredOp unary(OpKind kind, const EmlNode& operand) { return LoweredOp::unary(kind, lower_node(operand)); }

LoweredOp lower_eml(const EmlNode& node) {
  if (const EmlNode* arg = match_template(node, sin_template::TEMPLATE())) {
    return unary(OpKind::Sin, *arg);
  }
  if (const EmlNode* arg = match_template(node, cos_template::TEMPLATE())) {
    return unary(OpKind::Cos, *arg);
  }
  const EmlNode& left = *node.left();
  const EmlNode& right = *node.right();
  if (right.is_one()) {
    // exp(ln X) = X
    if (const EmlNode* x = ln_shape_argument(left)) return lower_node(*x);
    return unary(OpKind::Exp, left);
  }
  if (left.is_one()) {
    if (const EmlNode* x = ln_shape_argument(node)) return unary(OpKind::Ln, *x);
    if (const EmlNode* y = exp_shape_argument(right)) {
      return LoweredOp::binary(OpKind::Sub, LoweredOp::constant(euler), lower_node(*y));
    }
  } else if (const EmlNode* x = ln_shape_argument(left)) {
    if (const EmlNode* y = exp_shape_argument(right)) {
      return LoweredOp::binary(OpKind::Sub, lower_node(*x), lower_node(*y));
    }
  }
  return LoweredOp::binary(OpKind::Sub, unary(OpKind::Exp, left), unary(OpKind::Ln, right));
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

}  // namespace

// The encodings are never destroyed: a thread still fitting while the process exits may
// be lowering a tree after static destructors have run.
namespace sin_template {
const EmlNode& TEMPLATE() {
  static const EmlTree& encoding = *new EmlTree(Canonical::sin(wildcard_tree()));
  return *encoding.root;
}
}  // namespace sin_template

namespace cos_template {
const EmlNode& TEMPLATE() {
  static const EmlTree& encoding = *new EmlTree(Canonical::cos(wildcard_tree()));
  return *encoding.root;
}
}  // namespace cos_template

LoweredOp lower_node(const EmlNode& node) {
  switch (node.kind()) {
    case EmlKind::One: return LoweredOp::constant(1.0);
    case EmlKind::Const: return LoweredOp::constant(node.value());
    case EmlKind::Var: return LoweredOp::var(node.index());
    case EmlKind::Eml: break;
  }
  return lower_eml(node);
}

bool unify_with_wildcard(const EmlNode& node, const EmlNode& pattern, const EmlNode*& binding) {
  if (pattern.kind() == EmlKind::Var) {
    if (pattern.index() != tree::wildcard_index) {
      return node.kind() == EmlKind::Var && node.index() == pattern.index();
    }
    if (binding == nullptr) {
      binding = &node;
      return true;
    }
    return nodes_structurally_equal(*binding, node);
  }
  switch (node.kind()) {
    case EmlKind::One: return pattern.is_one();
    case EmlKind::Const: return pattern.kind() == EmlKind::Const && same_bits(node.value(), pattern.value());
    case EmlKind::Var: return false;
    case EmlKind::Eml:
      return pattern.is_eml() && unify_with_wildcard(*node.left(), *pattern.left(), binding) &&
             unify_with_wildcard(*node.right(), *pattern.right(), binding);
  }
  return false;
}

bool nodes_structurally_equal(const EmlNode& a, const EmlNode& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case EmlKind::One: return true;
    case EmlKind::Const: return std::fabs(a.value() - b.value()) < 1e-15;
    case EmlKind::Var: return a.index() == b.index();
    case EmlKind::Eml:
      return nodes_structurally_equal(*a.left(), *b.left()) && nodes_structurally_equal(*a.right(), *b.right());
  }
  return false;
}

}  // namespace tarvex::lower::pattern
