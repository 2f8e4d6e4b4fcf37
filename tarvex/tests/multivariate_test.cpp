#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "lowered_builders.hpp"
#include "lowered_text.hpp"
#include "tarvex/poly/multivariate.hpp"
#include "tarvex/symreg/constants.hpp"

namespace {

using namespace tarvex_test;
using tarvex::poly::Ratio;
using tarvex::poly::multivariate::Exponents;
using tarvex::poly::multivariate::fraction_of;
using tarvex::poly::multivariate::MultiPoly;
using tarvex::poly::multivariate::PolyError;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

Ratio frac(std::int64_t n, std::int64_t d) { return *Ratio::reduced(n, d); }

MultiPoly convert(const LoweredOp& op, std::size_t nvars) {
  auto poly = MultiPoly::from_lowered(op, nvars);
  EXPECT_TRUE(poly.has_value()) << describe(op);
  return poly ? *poly : MultiPoly{nvars, {}};
}

PolyError conversion_error(const LoweredOp& op, std::size_t nvars) {
  const auto poly = MultiPoly::from_lowered(op, nvars);
  EXPECT_FALSE(poly.has_value()) << describe(op);
  return poly ? PolyError::Unsupported : poly.error();
}

// Independent evaluations: the expression directly and the polynomial term by term.
double eval_expression(const LoweredOp& op, const std::vector<double>& v) {
  switch (op.kind()) {
    case OpKind::Const: return op.value();
    case OpKind::Var: return v.at(op.index());
    case OpKind::Add: return eval_expression(op.lhs(), v) + eval_expression(op.rhs(), v);
    case OpKind::Sub: return eval_expression(op.lhs(), v) - eval_expression(op.rhs(), v);
    case OpKind::Mul: return eval_expression(op.lhs(), v) * eval_expression(op.rhs(), v);
    case OpKind::Neg: return -eval_expression(op.lhs(), v);
    case OpKind::Pow: return std::pow(eval_expression(op.lhs(), v), op.rhs().value());
    default: ADD_FAILURE() << "not a polynomial node: " << describe(op); return nan;
  }
}

double eval_poly(const MultiPoly& p, const std::vector<double>& v) {
  double sum = 0.0;
  for (const auto& [exponents, coefficient] : p.terms) {
    double term = coefficient.to_double();
    for (std::size_t i = 0; i < exponents.size(); ++i) term *= std::pow(v[i], exponents[i]);
    sum += term;
  }
  return sum;
}

TEST(FractionOf, SmallestDenominatorWithinTolerance) {
  struct Case {
    double v;
    std::int64_t n, d;
  };
  const Case cases[] = {
      {0.5, 1, 2},
      {0.1, 1, 10},
      {0.3333333333333333, 1, 3},
      {0.3333333333, 1, 3},
      {-0.25, -1, 4},
      {1e-10, 0, 1},
      {-1e-10, 0, 1},
      {3.0, 3, 1},
      {0.001, 1, 1000},
      {9e18, 9000000000000000000, 1},
      {-9223372036854775808.0, INT64_MIN, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    const auto r = fraction_of(c.v);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->numer(), c.n);
    EXPECT_EQ(r->denom(), c.d);
  }
}

// The search accepts d * v within 1e-9 of an integer (strictly), so with denominator d the
// value itself may be at most 1e-9 / d away; the neighbouring double is rejected.
TEST(FractionOf, ToleranceBoundaryBetweenNeighbouringDoubles) {
  struct Case {
    double inside, outside;
    std::int64_t n, d;
  };
  const Case cases[] = {
      {3.0000000009999996, 3.000000001, 3, 1},
      {0.3333333336666666, 0.3333333336666667, 1, 3},
      {9.999999999999999e-10, 1e-9, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inside);
    ASSERT_EQ(std::nextafter(c.inside, c.outside), c.outside);
    const auto r = fraction_of(c.inside);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->numer(), c.n);
    EXPECT_EQ(r->denom(), c.d);
    EXPECT_FALSE(fraction_of(c.outside).has_value());
  }
}

TEST(FractionOf, RejectsIrrationalHugeAndNonFiniteValues) {
  using tarvex::symreg::constants::value;
  const double rejected[] = {
      value(NamedConst::Pi),
      value(NamedConst::E),
      value(NamedConst::Sqrt2),
      value(NamedConst::Ln2),
      value(NamedConst::HalfPi),
      1.0 / 1001.0,
      1e19,
      -1e19,
      nan,
      inf,
      -inf,
  };
  for (double v : rejected) EXPECT_FALSE(fraction_of(v).has_value()) << v;
}

TEST(MultiPoly, ConstantOfZeroHasNoTerms) {
  EXPECT_TRUE(MultiPoly::constant(Ratio(), 2).terms.empty());
  const MultiPoly three = MultiPoly::constant(Ratio(3), 2);
  ASSERT_EQ(three.terms.size(), 1u);
  EXPECT_EQ(three.terms.begin()->first, (Exponents{0, 0}));
  EXPECT_EQ(three.terms.begin()->second, Ratio(3));
}

TEST(MultiPoly, AddTermKeepsZerosUntilNormalizeAndLeavesOverflowUntouched) {
  MultiPoly p{1, {}};
  ASSERT_TRUE(p.add_term({1}, Ratio(2)).has_value());
  ASSERT_TRUE(p.add_term({1}, Ratio(-2)).has_value());
  ASSERT_EQ(p.terms.count({1}), 1u);
  EXPECT_TRUE(p.terms.at({1}).is_zero());

  ASSERT_TRUE(p.add_term({2}, Ratio(INT64_MAX)).has_value());
  EXPECT_EQ(p.add_term({2}, Ratio(1)).error(), PolyError::Overflow);
  EXPECT_EQ(p.terms.at({2}), Ratio(INT64_MAX));
  // The common denominator INT64_MAX * 2 overflows.
  ASSERT_TRUE(p.add_term({3}, frac(1, INT64_MAX)).has_value());
  EXPECT_EQ(p.add_term({3}, frac(1, 2)).error(), PolyError::Overflow);
  EXPECT_EQ(p.terms.at({3}), frac(1, INT64_MAX));
  ASSERT_TRUE(p.add_term({4}, Ratio(0)).has_value());
  EXPECT_TRUE(p.terms.at({4}).is_zero());

  p.normalize();
  EXPECT_EQ(p.terms.count({1}), 0u);
  EXPECT_EQ(p.terms.count({4}), 0u);
  EXPECT_EQ(p.terms.size(), 2u);
}

TEST(MultiPoly, KeysRunInLexicographicOrder) {
  MultiPoly p{2, {}};
  for (const Exponents& e :
       {Exponents{2, 0}, Exponents{1, 1}, Exponents{0, 2}, Exponents{1, 0}, Exponents{0, 1}, Exponents{0, 0}}) {
    ASSERT_TRUE(p.add_term(e, Ratio(1)).has_value());
  }
  std::vector<Exponents> keys;
  for (const auto& term : p.terms) keys.push_back(term.first);
  const std::vector<Exponents> expected = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {2, 0}};
  EXPECT_EQ(keys, expected);
}

TEST(MultiPoly, ArithmeticOverflowIsReported) {
  EXPECT_EQ(conversion_error(mul(c(9e18), c(2)), 0), PolyError::Overflow);
  EXPECT_EQ(conversion_error(add(c(9e18), c(9e18)), 0), PolyError::Overflow);
  EXPECT_EQ(MultiPoly::constant(Ratio(INT64_MIN), 1).neg().error(), PolyError::Overflow);
  EXPECT_EQ(conversion_error(neg(c(-9223372036854775808.0)), 1), PolyError::Overflow);
  EXPECT_EQ(conversion_error(sub(x(0), c(-9223372036854775808.0)), 1), PolyError::Overflow);

  // An exponent sum past 2^32 - 1.
  MultiPoly high{1, {}};
  high.terms.emplace(Exponents{UINT32_MAX}, Ratio(1));
  EXPECT_EQ(high.mul(convert(x(0), 1)).error(), PolyError::Overflow);
  EXPECT_TRUE(high.mul(MultiPoly::constant(Ratio(5), 1)).has_value());
}

TEST(MultiPoly, ConversionFailuresAreUnsupported) {
  const LoweredOp rejected[] = {
      c(nan),
      c(inf),
      c(1e19),
      named(NamedConst::Pi),
      named(NamedConst::HalfPi),
      named(NamedConst::NegSqrt2),
      x(3),
      div(x(0), c(2)),
      un(OpKind::Exp, x(0)),
      un(OpKind::Ln, x(0)),
      un(OpKind::Sin, x(0)),
      un(OpKind::Erf, c(1)),
      pow(x(0), c(101)),
      pow(x(0), c(-1)),
      pow(x(0), c(2.5)),
      pow(x(0), c(nan)),
      pow(x(0), named(NamedConst::NegTwo)),
      pow(x(0), x(1)),
      add(x(0), un(OpKind::Cos, x(1))),
  };
  for (const LoweredOp& op : rejected) {
    EXPECT_EQ(conversion_error(op, 3), PolyError::Unsupported) << describe(op);
  }
}

TEST(MultiPoly, PowerExponentIsJudgedBeforeTheBase) {
  const LoweredOp overflowing_base = mul(c(9e18), c(2));
  EXPECT_EQ(conversion_error(pow(overflowing_base, c(101)), 1), PolyError::Unsupported);
  EXPECT_EQ(conversion_error(pow(overflowing_base, c(2)), 1), PolyError::Overflow);
}

TEST(MultiPoly, ExponentsUpToOneHundredConvert) {
  const MultiPoly p = convert(pow(x(0), c(100)), 1);
  ASSERT_EQ(p.terms.size(), 1u);
  EXPECT_EQ(p.terms.begin()->first, Exponents{100});
  const MultiPoly one = convert(pow(x(0), c(-0.0)), 1);
  EXPECT_EQ(one.terms.begin()->first, Exponents{0});
}

TEST(MultiPoly, NamedFractionsConvert) {
  struct Case {
    NamedConst id;
    std::int64_t n, d;
  };
  const Case cases[] = {{NamedConst::Half, 1, 2},
                        {NamedConst::NegHalf, -1, 2},
                        {NamedConst::Third, 1, 3},
                        {NamedConst::Quarter, 1, 4},
                        {NamedConst::NegTwo, -2, 1}};
  for (const Case& c : cases) {
    const MultiPoly p = convert(named(c.id), 0);
    ASSERT_EQ(p.terms.size(), 1u);
    EXPECT_EQ(p.terms.begin()->second, frac(c.n, c.d));
  }
}

TEST(MultiPoly, EqualPolynomialsFromDifferentArrangements) {
  EXPECT_TRUE(convert(sub(x(0), x(0)), 1).terms.empty());
  const MultiPoly expanded = convert(sub(mul(x(0), add(x(0), c(1))), x(0)), 1);
  const MultiPoly square = convert(pow(x(0), c(2)), 1);
  EXPECT_EQ(expanded.terms, square.terms);
  EXPECT_EQ(expanded.nvars, 1u);
}

TEST(MultiPoly, PowerIsRepeatedMultiplication) {
  const MultiPoly zero{2, {}};
  const MultiPoly zero_to_zero = *zero.pow(0);
  EXPECT_EQ(zero_to_zero.terms, MultiPoly::constant(Ratio(1), 2).terms);
  EXPECT_TRUE(zero.pow(3)->terms.empty());

  const MultiPoly cube = *convert(add(x(0), c(1)), 1).pow(3);
  std::vector<std::int64_t> coefficients;
  for (const auto& term : cube.terms) coefficients.push_back(term.second.numer());
  EXPECT_EQ(coefficients, (std::vector<std::int64_t>{1, 3, 3, 1}));
}

TEST(MultiPoly, ExpansionAgreesWithDirectEvaluation) {
  // (x0 - 2 x1 + 1/2)^5 (x1 + 3) - x2 (x0 - x2)
  const LoweredOp op =
      sub(mul(pow(add(sub(x(0), mul(c(2), x(1))), c(0.5)), c(5)), add(x(1), c(3))), mul(x(2), sub(x(0), x(2))));
  const MultiPoly p = convert(op, 3);
  const std::vector<std::vector<double>> points = {{0.7, 1.3, 2.1}, {-0.5, 0.3, 1.1}, {2.0, -1.5, 0.25}};
  for (const auto& point : points) {
    const double expected = eval_expression(op, point);
    EXPECT_NEAR(eval_poly(p, point), expected, 1e-9 * (1 + std::fabs(expected)));
    EXPECT_NEAR(eval_expression(p.to_lowered(), point), expected, 1e-9 * (1 + std::fabs(expected)));
  }
}

TEST(MultiPolyToLowered, TermAndFactorOrder) {
  struct Case {
    LoweredOp input;
    std::size_t nvars;
    const char* expected;
  };
  const Case cases[] = {
      {add(x(0), x(1)), 2, "Add(Var(1), Var(0))"},
      {add(mul(x(0), x(1)), c(2)), 2, "Add(Const(2), Mul(Var(0), Var(1)))"},
      {neg(x(1)), 2, "Mul(Const(-1), Var(1))"},
      {pow(add(x(0), c(1)), c(2)), 1, "Add(Add(Const(1), Mul(Const(2), Var(0))), Pow(Var(0), Const(2)))"},
      {mul(mul(pow(x(1), c(2)), c(3)), x(0)), 2, "Mul(Mul(Const(3), Var(0)), Pow(Var(1), Const(2)))"},
      {c(1), 2, "Const(1)"},
      {c(1e-10), 1, "Const(0)"},
      {sub(x(0), x(0)), 1, "Const(0)"},
      {c(0.3333333333333333), 0, "Const(0.3333333333333333)"},
      {mul(c(-0.5), x(0)), 1, "Mul(Const(-0.5), Var(0))"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(convert(c.input, c.nvars).to_lowered()), c.expected) << describe(c.input);
  }
}

TEST(MultiPolyToLowered, SkipsZeroCoefficientsLeftByAddTerm) {
  MultiPoly p{1, {}};
  ASSERT_TRUE(p.add_term({0}, Ratio(0)).has_value());
  EXPECT_EQ(describe(p.to_lowered()), "Const(0)");
  ASSERT_TRUE(p.add_term({1}, Ratio(4)).has_value());
  EXPECT_EQ(describe(p.to_lowered()), "Mul(Const(4), Var(0))");
}

}  // namespace
