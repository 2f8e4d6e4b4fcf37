#pragma once
// Test helpers: terse builders of lowered expressions, for tests that compare results
// through describe() of lowered_text.hpp.
#include <cstddef>
#include <utility>

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
inline LoweredOp exp_(LoweredOp a) { return un(OpKind::Exp, a); }
inline LoweredOp ln(LoweredOp a) { return un(OpKind::Ln, a); }

}  // namespace tarvex_test
