#pragma once
// Test helpers: terse builders of lowered expressions and a one-line structural text
// ("Add(Pow(x0, 2), -1)") that compares payloads exactly (shortest round-trip digits,
// "-0" and "NaN" included), so two expressions are equal exactly when their texts are.
#include <array>
#include <string>
#include <string_view>

#include "support/number_text.hpp"
#include "tarvex/lower.hpp"

namespace tarvex_test {

using tarvex::lower::LoweredOp;
using tarvex::lower::NamedConst;
using tarvex::lower::OpKind;

inline LoweredOp c(double v) { return LoweredOp::constant(v); }
inline LoweredOp x(std::size_t i) { return LoweredOp::var(i); }
inline LoweredOp named(NamedConst id) { return LoweredOp::named(id); }
inline LoweredOp un(OpKind kind, LoweredOp a) { return LoweredOp::unary(kind, std::move(a)); }
inline LoweredOp bin(OpKind kind, LoweredOp a, LoweredOp b) {
  return LoweredOp::binary(kind, std::move(a), std::move(b));
}
inline LoweredOp add(LoweredOp a, LoweredOp b) { return bin(OpKind::Add, a, b); }
inline LoweredOp sub(LoweredOp a, LoweredOp b) { return bin(OpKind::Sub, a, b); }
inline LoweredOp mul(LoweredOp a, LoweredOp b) { return bin(OpKind::Mul, a, b); }
inline LoweredOp div(LoweredOp a, LoweredOp b) { return bin(OpKind::Div, a, b); }
inline LoweredOp pow(LoweredOp a, LoweredOp b) { return bin(OpKind::Pow, a, b); }
inline LoweredOp neg(LoweredOp a) { return un(OpKind::Neg, a); }

inline std::string text(const LoweredOp& op) {
  static constexpr std::array<std::string_view, tarvex::lower::op_kind_count> names = {
      "Const", "Var",   "Add",   "Sub",   "Mul",     "Div",     "Exp",      "Ln",
      "Sin",   "Cos",   "Pow",   "Neg",   "Tan",     "Sinh",    "Cosh",     "Tanh",
      "Asin",  "Acos",  "Atan",  "Asinh", "Acosh",   "Atanh",   "Named",    "Erf",
      "LnGamma", "Digamma", "Trigamma", "Ei", "Si", "Ci"};
  switch (op.kind()) {
    case OpKind::Const: return support::shortest(op.value());
    case OpKind::Var: return "x" + std::to_string(op.index());
    case OpKind::NamedConst: return "Named" + std::to_string(static_cast<int>(op.named_id()));
    default: break;
  }
  std::string out(names[static_cast<std::size_t>(op.kind())]);
  out += "(" + text(op.lhs());
  if (tarvex::lower::arity(op.kind()) == 2) out += ", " + text(op.rhs());
  return out + ")";
}

}  // namespace tarvex_test
