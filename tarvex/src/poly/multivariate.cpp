#include "tarvex/poly/multivariate.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "support/checked.hpp"
#include "tarvex/symreg/constants.hpp"

namespace tarvex::poly::multivariate {
namespace {

using lower::LoweredOp;
using lower::OpKind;
using Result = std::expected<MultiPoly, PolyError>;

constexpr std::int64_t max_denominator = 1000;
constexpr double fraction_tolerance = 1e-9;

std::unexpected<PolyError> failure(PolyError error) { return std::unexpected(error); }

Result constant_from_value(double v, std::size_t nvars) {
  const auto fraction = fraction_of(v);
  if (!fraction) return failure(PolyError::Unsupported);
  return MultiPoly::constant(*fraction, nvars);
}

Result single_variable(std::size_t index, std::size_t nvars) {
  if (index >= nvars) return failure(PolyError::Unsupported);
  Exponents exponents(nvars, 0);
  exponents[index] = 1;
  MultiPoly poly{nvars, {}};
  poly.terms.emplace(std::move(exponents), Ratio(1));
  return poly;
}

// Entrywise sum over the common length; nothing when an entry passes 2^32 - 1.
std::optional<Exponents> sum_exponents(const Exponents& a, const Exponents& b) {
  Exponents sum(std::min(a.size(), b.size()));
  for (std::size_t i = 0; i < sum.size(); ++i) {
    if (__builtin_add_overflow(a[i], b[i], &sum[i])) return std::nullopt;
  }
  return sum;
}

// Converts both operands (left first) and combines them; the first failure wins.
template <typename Combine>
Result convert_binary(const LoweredOp& op, std::size_t nvars, Combine combine) {
  const auto lhs = MultiPoly::from_lowered(op.lhs(), nvars);
  if (!lhs) return lhs;
  const auto rhs = MultiPoly::from_lowered(op.rhs(), nvars);
  if (!rhs) return rhs;
  return combine(*lhs, *rhs);
}

Result convert_power(const LoweredOp& op, std::size_t nvars) {
  // The exponent is judged before the base is converted.
  const auto exponent = polynomial_exponent(op.rhs());
  if (!exponent) return failure(PolyError::Unsupported);
  const auto base = MultiPoly::from_lowered(op.lhs(), nvars);
  if (!base) return base;
  return base->pow(*exponent);
}

// Appends `next` to a left fold: the first item alone, then kind(previous, next).
void fold_left(std::optional<LoweredOp>& acc, OpKind kind, LoweredOp next) {
  acc = acc ? LoweredOp::binary(kind, std::move(*acc), std::move(next)) : std::move(next);
}

LoweredOp monomial(const Exponents& exponents, double coefficient) {
  std::optional<LoweredOp> product;
  if (coefficient != 1.0) fold_left(product, OpKind::Mul, LoweredOp::constant(coefficient));
  for (std::size_t i = 0; i < exponents.size(); ++i) {
    const std::uint32_t e = exponents[i];
    if (e == 0) continue;
    LoweredOp factor =
        e == 1 ? LoweredOp::var(i)
               : LoweredOp::binary(OpKind::Pow, LoweredOp::var(i), LoweredOp::constant(static_cast<double>(e)));
    fold_left(product, OpKind::Mul, std::move(factor));
  }
  return product ? std::move(*product) : LoweredOp::constant(coefficient);
}

}  // namespace

std::optional<std::uint32_t> polynomial_exponent(const LoweredOp& exponent) {
  if (!exponent.is(OpKind::Const)) return std::nullopt;
  const double e = exponent.value();
  // Written so that NaN fails every test.
  if (!(e >= 0.0 && e <= max_power_exponent && e == std::trunc(e))) return std::nullopt;
  return static_cast<std::uint32_t>(e);
}

std::optional<Ratio> fraction_of(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  for (std::int64_t d = 1; d <= max_denominator; ++d) {
    const double x = static_cast<double>(d) * v;
    const std::int64_t n = support::saturating_i64(std::round(x));
    if (std::fabs(x - static_cast<double>(n)) < fraction_tolerance) return Ratio::reduced(n, d);
  }
  return std::nullopt;
}

MultiPoly MultiPoly::constant(Ratio c, std::size_t nvars) {
  MultiPoly poly{nvars, {}};
  if (!c.is_zero()) poly.terms.emplace(Exponents(nvars, 0), c);
  return poly;
}

std::expected<void, PolyError> MultiPoly::add_term(Exponents exponents, const Ratio& c) {
  auto& stored = terms.try_emplace(std::move(exponents)).first->second;
  const auto sum = stored.checked_add(c);
  if (!sum) return failure(PolyError::Overflow);
  stored = *sum;
  return {};
}

void MultiPoly::normalize() {
  std::erase_if(terms, [](const auto& term) { return term.second.is_zero(); });
}

Result MultiPoly::add(const MultiPoly& other) const {
  MultiPoly sum = *this;
  for (const auto& [exponents, c] : other.terms) {
    if (auto added = sum.add_term(exponents, c); !added) return failure(added.error());
  }
  sum.normalize();
  return sum;
}

Result MultiPoly::neg() const {
  MultiPoly negated{nvars, {}};
  for (const auto& [exponents, c] : terms) {
    const auto flipped = c.checked_neg();
    if (!flipped) return failure(PolyError::Overflow);
    negated.terms.emplace_hint(negated.terms.end(), exponents, *flipped);
  }
  return negated;
}

Result MultiPoly::mul(const MultiPoly& other) const {
  MultiPoly product{nvars, {}};
  for (const auto& [e1, c1] : terms) {
    for (const auto& [e2, c2] : other.terms) {
      auto exponents = sum_exponents(e1, e2);
      const auto c = c1.checked_mul(c2);
      if (!exponents || !c) return failure(PolyError::Overflow);
      if (auto added = product.add_term(std::move(*exponents), *c); !added) {
        return failure(added.error());
      }
    }
  }
  product.normalize();
  return product;
}

Result MultiPoly::pow(std::uint64_t n) const {
  MultiPoly acc = constant(Ratio(1), nvars);
  for (std::uint64_t k = 0; k < n; ++k) {
    auto next = acc.mul(*this);
    if (!next) return next;
    acc = std::move(*next);
  }
  return acc;
}

Result MultiPoly::from_lowered(const LoweredOp& op, std::size_t nvars) {
  switch (op.kind()) {
    case OpKind::Const: return constant_from_value(op.value(), nvars);
    case OpKind::NamedConst: return constant_from_value(symreg::constants::value(op.named_id()), nvars);
    case OpKind::Var: return single_variable(op.index(), nvars);
    case OpKind::Add: return convert_binary(op, nvars, [](const MultiPoly& a, const MultiPoly& b) { return a.add(b); });
    case OpKind::Sub:
      return convert_binary(op, nvars, [](const MultiPoly& a, const MultiPoly& b) -> Result {
        const auto negated = b.neg();
        if (!negated) return negated;
        return a.add(*negated);
      });
    case OpKind::Mul: return convert_binary(op, nvars, [](const MultiPoly& a, const MultiPoly& b) { return a.mul(b); });
    case OpKind::Neg: {
      const auto operand = from_lowered(op.lhs(), nvars);
      if (!operand) return operand;
      return operand->neg();
    }
    case OpKind::Pow: return convert_power(op, nvars);
    default: return failure(PolyError::Unsupported);
  }
}

LoweredOp MultiPoly::to_lowered() const {
  std::optional<LoweredOp> sum;
  for (const auto& [exponents, c] : terms) {
    if (c.is_zero()) continue;
    fold_left(sum, OpKind::Add, monomial(exponents, c.to_double()));
  }
  return sum ? std::move(*sum) : LoweredOp::constant(0.0);
}

}  // namespace tarvex::poly::multivariate
