#pragma once
// Lowering of EML trees: recognises the pure-EML shapes of sine, cosine, exp, ln and
// subtraction and falls back to exp(a) - ln(b) everywhere else.
#include "tarvex/lower.hpp"
#include "tarvex/tree.hpp"

namespace tarvex::lower::pattern {

using tree::EmlNode;

// The rewritten form of a node; always freshly built, never sharing with anything.
LoweredOp lower_node(const EmlNode& node);

// Does node match pattern? The wildcard leaf binds at its first occurrence (left to right)
// and every later occurrence must be structurally equal to the bound node; constants of the
// pattern must match bit for bit. A failed match may leave binding set.
bool unify_with_wildcard(const EmlNode& node, const EmlNode& pattern, const EmlNode*& binding);

// Equality of shape, with constants equal when they differ by less than 1e-15 (NaN equals
// nothing).
bool nodes_structurally_equal(const EmlNode& a, const EmlNode& b);

// The encodings of sine and cosine applied to the wildcard, built once on first use.
namespace sin_template {
const EmlNode& TEMPLATE();
}
namespace cos_template {
const EmlNode& TEMPLATE();
}

}  // namespace tarvex::lower::pattern
