#include "tarvex/lower/display.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

#include "support/checked.hpp"
#include "support/number_text.hpp"
#include "support/panic.hpp"
#include "tarvex/special.hpp"

namespace tarvex::lower::display {
namespace {

namespace constants = symreg::constants;

// ---- structural byte stream ----

void write_constant(double value, support::SipHasher13& hasher) {
  hasher.write_u8(0);
  hasher.write_u64_le(std::bit_cast<std::uint64_t>(value));
}

// The code byte written after an operation's operands. Add to Atanh use their tags; the
// special functions were numbered in a different order, with Trigamma last.
std::uint8_t code_byte(OpKind kind) {
  switch (kind) {
    case OpKind::Erf: return 22;
    case OpKind::LnGamma: return 23;
    case OpKind::Digamma: return 24;
    case OpKind::Ei: return 25;
    case OpKind::Si: return 26;
    case OpKind::Ci: return 27;
    case OpKind::Trigamma: return 28;
    default: return static_cast<std::uint8_t>(kind);
  }
}

// ---- evaluation ----

double variable(std::span<const double> vars, std::size_t index) {
  if (index >= vars.size()) {
    support::panic("index out of bounds: the len is {} but the index is {}", vars.size(), index);
  }
  return vars[index];
}

// Through log1p rather than the library's atanh: +inf at 1, -inf at -1, NaN beyond.
double atanh_by_log1p(double x) { return 0.5 * std::log1p(2.0 * x / (1.0 - x)); }

double apply_binary(OpKind kind, double x, double y) {
  switch (kind) {
    case OpKind::Add: return x + y;
    case OpKind::Sub: return x - y;
    case OpKind::Mul: return x * y;
    case OpKind::Div: return x / y;
    case OpKind::Pow: return std::pow(x, y);
    default: support::panic("operation tag {} is not binary", static_cast<int>(kind));
  }
}

// ---- LaTeX ----

constexpr double latex_e = 2.718281828459045;
constexpr double latex_pi = 3.141592653589793;
constexpr double latex_two_pi = 6.283185307179586;

// The nearest integer (halves away from zero) when c is below 1e15 in magnitude and
// within 1e-10 of it; NaN and infinities have none.
std::optional<std::int64_t> near_integer(double c) {
  if (!(std::fabs(c) < 1e15)) return std::nullopt;
  const double nearest = std::round(c);
  if (!(std::fabs(c - nearest) < 1e-10)) return std::nullopt;
  return support::truncate_i64(nearest);
}

void append_constant(std::string& out, double c) {
  if (std::fabs(c - latex_e) < 1e-15) {
    out += "e";
  } else if (std::fabs(c - latex_pi) < 1e-15) {
    out += "\\pi";
  } else if (std::fabs(c - latex_two_pi) < 1e-15) {
    out += "2\\pi";
  } else if (std::fabs(c + 1.0) < 1e-15) {
    out += "-1";
  } else if (const std::optional<std::int64_t> integer = near_integer(c)) {
    out += std::to_string(*integer);
  } else {
    support::append_fixed6(out, c);
  }
}

void render(const LoweredOp& op, bool bare, std::string& out);

// A " op " B with both operands as operands, parenthesised unless bare.
void render_infix(const LoweredOp& op, std::string_view symbol, bool bare, std::string& out) {
  if (!bare) out += '(';
  render(op.lhs(), false, out);
  out += symbol;
  render(op.rhs(), false, out);
  if (!bare) out += ')';
}

// prefix A suffix, with A bare.
void render_wrapped(const LoweredOp& operand, std::string_view prefix, std::string_view suffix, std::string& out) {
  out += prefix;
  render(operand, true, out);
  out += suffix;
}

// The texts around a one-operand function's argument, which is rendered bare.
struct FunctionText {
  std::string_view open;
  std::string_view close;
};

FunctionText function_text(OpKind kind) {
  constexpr std::string_view brace = "}";
  constexpr std::string_view paren = "\\right)";
  switch (kind) {
    case OpKind::Exp: return {"e^{", brace};
    case OpKind::Ln: return {"\\ln\\left(", paren};
    case OpKind::Sin: return {"\\sin\\left(", paren};
    case OpKind::Cos: return {"\\cos\\left(", paren};
    case OpKind::Tan: return {"\\tan{", brace};
    case OpKind::Sinh: return {"\\sinh{", brace};
    case OpKind::Cosh: return {"\\cosh{", brace};
    case OpKind::Tanh: return {"\\tanh{", brace};
    case OpKind::Asin: return {"\\arcsin{", brace};
    case OpKind::Acos: return {"\\arccos{", brace};
    case OpKind::Atan: return {"\\arctan{", brace};
    case OpKind::Asinh: return {"\\operatorname{arcsinh}{", brace};
    case OpKind::Acosh: return {"\\operatorname{arccosh}{", brace};
    case OpKind::Atanh: return {"\\operatorname{arctanh}{", brace};
    case OpKind::Erf: return {"\\operatorname{erf}\\!\\left(", paren};
    case OpKind::LnGamma: return {"\\ln\\Gamma\\!\\left(", paren};
    case OpKind::Digamma: return {"\\psi\\!\\left(", paren};
    case OpKind::Trigamma: return {"\\psi^{(1)}\\!\\left(", paren};
    case OpKind::Ei: return {"\\operatorname{Ei}\\!\\left(", paren};
    case OpKind::Si: return {"\\operatorname{Si}\\!\\left(", paren};
    case OpKind::Ci: return {"\\operatorname{Ci}\\!\\left(", paren};
    default: support::panic("operation tag {} is not a function", static_cast<int>(kind));
  }
}

void render(const LoweredOp& op, bool bare, std::string& out) {
  switch (op.kind()) {
    case OpKind::Const: append_constant(out, op.value()); return;
    case OpKind::Var:
      out += "x_{";
      out += std::to_string(op.index());
      out += '}';
      return;
    case OpKind::NamedConst: out += constants::latex(op.named_id()); return;
    case OpKind::Add: render_infix(op, " + ", bare, out); return;
    case OpKind::Sub: render_infix(op, " - ", bare, out); return;
    case OpKind::Mul: render_infix(op, " \\cdot ", bare, out); return;
    case OpKind::Div:
      render_wrapped(op.lhs(), "\\frac{", "}{", out);
      render(op.rhs(), true, out);
      out += '}';
      return;
    case OpKind::Pow:
      render(op.lhs(), false, out);
      render_wrapped(op.rhs(), "^{", "}", out);
      return;
    case OpKind::Neg:
      out += '-';
      render(op.lhs(), false, out);
      return;
    default: {
      const FunctionText text = function_text(op.kind());
      render_wrapped(op.lhs(), text.open, text.close, out);
      return;
    }
  }
}

}  // namespace

void structural_hash(const LoweredOp& op, support::SipHasher13& hasher) {
  switch (op.kind()) {
    case OpKind::Const: write_constant(op.value(), hasher); return;
    // A named constant is indistinguishable from the plain constant of its value.
    case OpKind::NamedConst: write_constant(constants::value(op.named_id()), hasher); return;
    case OpKind::Var:
      hasher.write_u8(1);
      hasher.write_u64_le(op.index());
      return;
    default: break;
  }
  structural_hash(op.lhs(), hasher);
  if (arity(op.kind()) == 2) structural_hash(op.rhs(), hasher);
  hasher.write_u8(code_byte(op.kind()));
}

double eval(const LoweredOp& op, std::span<const double> vars) {
  switch (op.kind()) {
    case OpKind::Const: return op.value();
    case OpKind::Var: return variable(vars, op.index());
    case OpKind::NamedConst: return constants::value(op.named_id());
    default: break;
  }
  const double x = eval(op.lhs(), vars);
  if (arity(op.kind()) == 1) return apply_unary(op.kind(), x);
  const double y = eval(op.rhs(), vars);
  return apply_binary(op.kind(), x, y);
}

double apply_unary(OpKind kind, double x) {
  switch (kind) {
    case OpKind::Exp: return std::exp(x);
    case OpKind::Ln: return std::log(x);
    case OpKind::Sin: return std::sin(x);
    case OpKind::Cos: return std::cos(x);
    case OpKind::Neg: return -x;
    case OpKind::Tan: return std::tan(x);
    case OpKind::Sinh: return std::sinh(x);
    case OpKind::Cosh: return std::cosh(x);
    case OpKind::Tanh: return std::tanh(x);
    case OpKind::Asin: return std::asin(x);
    case OpKind::Acos: return std::acos(x);
    case OpKind::Atan: return std::atan(x);
    case OpKind::Asinh: return std::asinh(x);
    case OpKind::Acosh: return std::acosh(x);
    case OpKind::Atanh: return atanh_by_log1p(x);
    case OpKind::Erf: return special::erf(x);
    case OpKind::LnGamma: return special::lgamma(x);
    case OpKind::Digamma: return special::digamma(x);
    case OpKind::Trigamma: return special::trigamma(x);
    case OpKind::Ei: return special::ei(x);
    case OpKind::Si: return special::si(x);
    case OpKind::Ci: return special::ci(x);
    default: support::panic("operation tag {} is not unary", static_cast<int>(kind));
  }
}

std::string to_latex(const LoweredOp& op) {
  std::string out;
  render(op, true, out);
  return out;
}

}  // namespace tarvex::lower::display
