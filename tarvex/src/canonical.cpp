#include "tarvex/canonical.hpp"

namespace tarvex::canonical {
namespace {

using tree::EmlNode;

EmlTree fresh_one() { return EmlTree::from_node(EmlNode::one()); }

EmlTree eml(const EmlTree& left, const EmlTree& right) { return EmlTree::eml(left, right); }

// E(u) = eml(u, 1), whose value is exp(u).
EmlTree exp_of(const EmlTree& u, const EmlTree& one) { return eml(u, one); }

// sub(1, neg(1)), the number 2; each use builds its own.
EmlTree two(const EmlTree& one) { return Canonical::sub(one, Canonical::neg(one)); }

// exp(ln(-1) / 2) = i, written as E(mul(reciprocal(two), ln(neg(1)))).
EmlTree imaginary_unit(const EmlTree& one) {
  return exp_of(Canonical::mul(Canonical::reciprocal(two(one)), Canonical::ln(Canonical::neg(one))), one);
}

}  // namespace

// e - ln(exp(e - ln x)) = ln x
EmlTree Canonical::ln(const EmlTree& x) {
  const EmlTree one = fresh_one();
  return eml(one, eml(eml(one, x), one));
}

// exp(ln a) - ln(exp b) = a - b
EmlTree Canonical::sub(const EmlTree& a, const EmlTree& b) {
  const EmlTree one = fresh_one();
  return eml(ln(a), eml(b, one));
}

// (e - x) - e = -x
EmlTree Canonical::neg(const EmlTree& x) {
  const EmlTree one = fresh_one();
  return eml(ln(eml(one, eml(x, one))), eml(eml(one, one), one));
}

// exp(ln a + ln b) = a * b
EmlTree Canonical::mul(const EmlTree& a, const EmlTree& b) {
  const EmlTree one = fresh_one();
  return eml(sub(ln(a), neg(ln(b))), one);
}

// exp(ln a - ln b) = a / b
EmlTree Canonical::div(const EmlTree& a, const EmlTree& b) {
  const EmlTree one = fresh_one();
  return eml(sub(ln(a), ln(b)), one);
}

// exp(-ln x) = 1 / x
EmlTree Canonical::reciprocal(const EmlTree& x) {
  const EmlTree one = fresh_one();
  return eml(neg(ln(x)), one);
}

// (e^{ix} - e^{-ix}) / 2i, with i and ix built once and shared.
EmlTree Canonical::sin(const EmlTree& x) {
  const EmlTree one = fresh_one();
  const EmlTree i = imaginary_unit(one);
  const EmlTree ix = mul(i, x);
  return div(sub(exp_of(ix, one), exp_of(neg(ix), one)), mul(two(one), i));
}

// (e^{ix} + e^{-ix}) / 2, the sum written as e^{ix} - (-e^{-ix}).
EmlTree Canonical::cos(const EmlTree& x) {
  const EmlTree one = fresh_one();
  const EmlTree ix = mul(imaginary_unit(one), x);
  return div(sub(exp_of(ix, one), neg(exp_of(neg(ix), one))), two(one));
}

const tree::NodePtr* exp_shape_argument(const tree::EmlNode& node) {
  if (!node.is_eml() || !node.right()->is_one()) return nullptr;
  return &node.left();
}

const tree::NodePtr* ln_shape_argument(const tree::EmlNode& node) {
  if (!node.is_eml() || !node.left()->is_one()) return nullptr;
  const tree::NodePtr* inner = exp_shape_argument(*node.right());
  if (inner == nullptr || !(*inner)->is_eml() || !(*inner)->left()->is_one()) return nullptr;
  return &(*inner)->right();
}

}  // namespace tarvex::canonical
