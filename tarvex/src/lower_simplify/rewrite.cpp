// The bottom-up rewriting pass: constant folding and local identities, one rule per
// node, and the three-step simplification built on it.
#include <cmath>
#include <memory>
#include <optional>

#include "tarvex/lower/display.hpp"
#include "tarvex/lower_simplify.hpp"

namespace tarvex::lower_simplify {
namespace {

using lower::OpKind;

constexpr double tolerance = 1e-15;

// Only a plain Const counts (never a NamedConst); strict, so NaN is near nothing.
bool is_const_near(const LoweredOp& op, double target) {
  return op.is(OpKind::Const) && std::fabs(op.value() - target) < tolerance;
}

LoweredOp constant(double value) { return LoweredOp::constant(value); }

std::shared_ptr<const LoweredOp> shared(LoweredOp op) { return std::make_shared<const LoweredOp>(std::move(op)); }

// Exp and ln snap to their exact values near 0 and 1; otherwise a constant folds to the
// value evaluation gives.
double fold_unary(OpKind kind, double c) {
  if (kind == OpKind::Exp && std::fabs(c) < tolerance) return 1.0;
  if (kind == OpKind::Ln && std::fabs(c - 1.0) < tolerance) return 0.0;
  return lower::display::apply_unary(kind, c);
}

// The operation whose result this outer function undoes (f(g(x)) = x), if any.
std::optional<OpKind> cancelled_inner(OpKind outer) {
  switch (outer) {
    case OpKind::Exp: return OpKind::Ln;
    case OpKind::Ln: return OpKind::Exp;
    case OpKind::Sin: return OpKind::Asin;
    case OpKind::Cos: return OpKind::Acos;
    case OpKind::Tan: return OpKind::Atan;
    case OpKind::Sinh: return OpKind::Asinh;
    case OpKind::Cosh: return OpKind::Acosh;
    case OpKind::Tanh: return OpKind::Atanh;
    case OpKind::Neg: return OpKind::Neg;
    default: return std::nullopt;
  }
}

LoweredOp rewrite_unary(OpKind kind, LoweredOp u) {
  if (u.is(OpKind::Const)) return constant(fold_unary(kind, u.value()));
  if (const auto inner = cancelled_inner(kind); inner && u.is(*inner)) return u.lhs();
  if (kind == OpKind::Neg && u.is(OpKind::Sub)) {
    return LoweredOp::binary(OpKind::Sub, u.rhs_ptr(), u.lhs_ptr());
  }
  return LoweredOp::unary(kind, std::move(u));
}

LoweredOp rewrite_add(LoweredOp a, LoweredOp b) {
  if (is_const_near(a, 0.0)) return b;
  if (b.is(OpKind::Const)) {
    if (is_const_near(b, 0.0)) return a;
    if (a.is(OpKind::Const)) return constant(a.value() + b.value());
  }
  if (b.is(OpKind::Neg)) return LoweredOp::binary(OpKind::Sub, shared(std::move(a)), b.lhs_ptr());
  return LoweredOp::binary(OpKind::Add, std::move(a), std::move(b));
}

LoweredOp rewrite_sub(LoweredOp a, LoweredOp b) {
  if (is_const_near(b, 0.0)) return a;
  if (a.is(OpKind::Const)) {
    // 0 - 3 stays a negation of 3 in this pass.
    if (is_const_near(a, 0.0)) return LoweredOp::unary(OpKind::Neg, std::move(b));
    if (b.is(OpKind::Const)) return constant(a.value() - b.value());
  }
  if (b.is(OpKind::Neg)) return LoweredOp::binary(OpKind::Add, shared(std::move(a)), b.lhs_ptr());
  return LoweredOp::binary(OpKind::Sub, std::move(a), std::move(b));
}

LoweredOp rewrite_mul(LoweredOp a, LoweredOp b) {
  if (a.is(OpKind::Const)) {
    if (is_const_near(a, 0.0)) return constant(0.0);  // whatever b is, NaN included
    if (b.is(OpKind::Const)) {
      if (is_const_near(b, 0.0)) return constant(0.0);
      if (is_const_near(a, 1.0)) return b;
      if (is_const_near(b, 1.0)) return a;
      return constant(a.value() * b.value());
    }
    if (is_const_near(a, 1.0)) return b;
    if (is_const_near(a, -1.0)) return LoweredOp::unary(OpKind::Neg, std::move(b));
  } else if (b.is(OpKind::Const)) {
    if (is_const_near(b, 0.0)) return constant(0.0);
    if (is_const_near(b, 1.0)) return a;
    if (is_const_near(b, -1.0)) return LoweredOp::unary(OpKind::Neg, std::move(a));
  }
  return LoweredOp::binary(OpKind::Mul, std::move(a), std::move(b));
}

bool same_structure(const LoweredOp& a, const LoweredOp& b) { return ops_struct_hash(a) == ops_struct_hash(b); }

// (exp(x) - exp(-x)) / 2 is sinh(x) and (exp(x) + exp(-x)) / 2 is cosh(x), in exactly
// this arrangement.
std::optional<LoweredOp> hyperbolic_half(const LoweredOp& a) {
  if (!a.is(OpKind::Sub) && !a.is(OpKind::Add)) return std::nullopt;
  const LoweredOp& left = a.lhs();
  const LoweredOp& right = a.rhs();
  if (!left.is(OpKind::Exp) || !right.is(OpKind::Exp) || !right.lhs().is(OpKind::Neg)) {
    return std::nullopt;
  }
  if (!same_structure(left.lhs(), right.lhs().lhs())) return std::nullopt;
  return LoweredOp::unary(a.is(OpKind::Sub) ? OpKind::Sinh : OpKind::Cosh, left.lhs_ptr());
}

// sin(u) / cos(u) is tan(u) and sinh(u) / cosh(u) is tanh(u).
std::optional<LoweredOp> tangent_quotient(const LoweredOp& a, const LoweredOp& b) {
  OpKind result;
  if (a.is(OpKind::Sin) && b.is(OpKind::Cos)) {
    result = OpKind::Tan;
  } else if (a.is(OpKind::Sinh) && b.is(OpKind::Cosh)) {
    result = OpKind::Tanh;
  } else {
    return std::nullopt;
  }
  if (!same_structure(a.lhs(), b.lhs())) return std::nullopt;
  return LoweredOp::unary(result, a.lhs_ptr());
}

LoweredOp rewrite_div(LoweredOp a, LoweredOp b) {
  if (b.is(OpKind::Const)) {
    if (is_const_near(b, 1.0)) return a;
    if (is_const_near(b, 2.0)) {
      if (auto h = hyperbolic_half(a)) return std::move(*h);
    }
    // No zero test: 1/0 is +inf and 0/0 NaN, kept as constants.
    if (a.is(OpKind::Const)) return constant(a.value() / b.value());
  } else if (auto t = tangent_quotient(a, b)) {
    return std::move(*t);
  }
  return LoweredOp::binary(OpKind::Div, std::move(a), std::move(b));
}

LoweredOp rewrite_pow(LoweredOp a, LoweredOp b) {
  if (b.is(OpKind::Const)) {
    if (is_const_near(b, 0.0)) return constant(1.0);  // 0^0 and NaN^0 included
    if (is_const_near(b, 1.0)) return a;
    if (a.is(OpKind::Const)) return constant(std::pow(a.value(), b.value()));
  }
  return LoweredOp::binary(OpKind::Pow, std::move(a), std::move(b));
}

LoweredOp rewrite_binary(OpKind kind, LoweredOp a, LoweredOp b) {
  switch (kind) {
    case OpKind::Add: return rewrite_add(std::move(a), std::move(b));
    case OpKind::Sub: return rewrite_sub(std::move(a), std::move(b));
    case OpKind::Mul: return rewrite_mul(std::move(a), std::move(b));
    case OpKind::Div: return rewrite_div(std::move(a), std::move(b));
    default: return rewrite_pow(std::move(a), std::move(b));
  }
}

}  // namespace

LoweredOp simplify_inner(const LoweredOp& op) {
  switch (lower::arity(op.kind())) {
    case 0: return op;
    case 1: return rewrite_unary(op.kind(), simplify_inner(op.lhs()));
    default: {
      LoweredOp a = simplify_inner(op.lhs());
      LoweredOp b = simplify_inner(op.rhs());
      return rewrite_binary(op.kind(), std::move(a), std::move(b));
    }
  }
}

LoweredOp simplify(const LoweredOp& op) { return simplify_inner(canonicalize_poly(simplify_inner(op))); }

}  // namespace tarvex::lower_simplify
