#pragma once
// Pure-EML encodings of elementary functions: trees over eml(a, b) = exp(a) - ln(b) and the
// leaf 1 alone. Sine and cosine go through the imaginary unit exp(ln(-1) / 2), so they are
// exact over the complex numbers only; the lowering uses them as patterns.
#include "tarvex/tree.hpp"

namespace tarvex::canonical {

using tree::EmlTree;

// Every operation makes its own fresh 1-leaf and shares (never copies) its operands.
class Canonical {
 public:
  Canonical() = delete;

  static EmlTree ln(const EmlTree& x);
  static EmlTree sub(const EmlTree& a, const EmlTree& b);
  static EmlTree neg(const EmlTree& x);
  static EmlTree mul(const EmlTree& a, const EmlTree& b);
  static EmlTree div(const EmlTree& a, const EmlTree& b);
  static EmlTree reciprocal(const EmlTree& x);
  static EmlTree sin(const EmlTree& x);
  static EmlTree cos(const EmlTree& x);
};

// Recognisers of the two basic shapes, for the rewrites that undo them.
// Y when node = eml(Y, 1), the encoding of exp Y; null otherwise.
const tree::NodePtr* exp_shape_argument(const tree::EmlNode& node);
// X when node = eml(1, eml(eml(1, X), 1)), the encoding of ln X; null otherwise.
const tree::NodePtr* ln_shape_argument(const tree::EmlNode& node);

}  // namespace tarvex::canonical
