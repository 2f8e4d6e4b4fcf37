#pragma once
// Read-only walks over lowered expressions: the structural byte stream for hashing,
// numeric evaluation and LaTeX rendering.
#include <span>
#include <string>

#include "support/siphash.hpp"
#include "tarvex/lower.hpp"

namespace tarvex::lower::display {

// Appends the expression's structural byte stream to the hasher (neither creates nor
// finishes it).
void structural_hash(const LoweredOp& op, support::SipHasher13& hasher);

// The value of the expression with Var(i) taking vars[i]; an index beyond vars panics.
double eval(const LoweredOp& op, std::span<const double> vars);
// The value of a one-operand operation at x, as eval computes it; any other kind panics.
double apply_unary(OpKind kind, double x);

// LaTeX text of the whole expression.
std::string to_latex(const LoweredOp& op);

}  // namespace tarvex::lower::display
