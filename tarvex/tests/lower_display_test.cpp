#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "lowered_builders.hpp"
#include "support/panic.hpp"
#include "support/siphash.hpp"
#include "support/testing.hpp"
#include "tarvex/lower.hpp"
#include "tarvex/lower/display.hpp"
#include "tarvex/special.hpp"

namespace {

using tarvex::lower::LoweredOp;
using tarvex::lower::NamedConst;
using tarvex::lower::OpKind;
using tarvex::lower::display::eval;
using tarvex::lower::display::structural_hash;
using tarvex::lower::display::to_latex;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

using tarvex_test::bin;
using tarvex_test::c;
using tarvex_test::un;
using tarvex_test::x;

std::uint64_t hash_of(const LoweredOp& op) {
  support::SipHasher13 hasher;
  structural_hash(op, hasher);
  return hasher.finish();
}

// ---- structural hash ----

struct DigestCase {
  const char* name;
  LoweredOp op;
  std::uint64_t digest;
};

TEST(StructuralHash, KnownDigests) {
  EXPECT_EQ(support::SipHasher13().finish(), 0xd1fba762150c532cULL);
  const DigestCase cases[] = {
      {"one", c(1.0), 0x3e56e80252f3e0a5ULL},
      {"negative zero", c(-0.0), 0x67da6099c6f2c2a6ULL},
      {"x0", x(0), 0xdc58fdc2e5c5babeULL},
      {"x0 + x1", bin(OpKind::Add, x(0), x(1)), 0xd4771ba2c2e4550cULL},
      {"x1 + x0", bin(OpKind::Add, x(1), x(0)), 0x6779747923cad244ULL},
      {"exp x0", un(OpKind::Exp, x(0)), 0x4c57a0f28e3ed344ULL},
      {"named pi", LoweredOp::named(NamedConst::Pi), 0x5df6c2940d2a572aULL},
      {"pi", c(3.141592653589793), 0x5df6c2940d2a572aULL},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(hash_of(t.op), t.digest);
  }
}

// The stream written by hand: operands in post-order (x0 is byte 1 then eight zero bytes),
// then the operation's code byte.
TEST(StructuralHash, CodeBytes) {
  const struct {
    OpKind kind;
    std::uint8_t code;
  } cases[] = {
      {OpKind::Add, 2},   {OpKind::Sub, 3},       {OpKind::Mul, 4},      {OpKind::Div, 5},    {OpKind::Exp, 6},
      {OpKind::Ln, 7},    {OpKind::Sin, 8},       {OpKind::Cos, 9},      {OpKind::Pow, 10},   {OpKind::Neg, 11},
      {OpKind::Tan, 12},  {OpKind::Sinh, 13},     {OpKind::Cosh, 14},    {OpKind::Tanh, 15},  {OpKind::Asin, 16},
      {OpKind::Acos, 17}, {OpKind::Atan, 18},     {OpKind::Asinh, 19},   {OpKind::Acosh, 20}, {OpKind::Atanh, 21},
      {OpKind::Erf, 22},  {OpKind::LnGamma, 23},  {OpKind::Digamma, 24}, {OpKind::Ei, 25},    {OpKind::Si, 26},
      {OpKind::Ci, 27},   {OpKind::Trigamma, 28},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(static_cast<int>(t.kind));
    const bool binary = tarvex::lower::arity(t.kind) == 2;
    support::SipHasher13 expected;
    expected.write_u8(1);  // x0
    expected.write_u64_le(0);
    if (binary) {
      expected.write_u8(0);  // 2.5
      expected.write_u64_le(std::bit_cast<std::uint64_t>(2.5));
    }
    expected.write_u8(t.code);
    EXPECT_EQ(hash_of(binary ? bin(t.kind, x(0), c(2.5)) : un(t.kind, x(0))), expected.finish());
  }
}

TEST(StructuralHash, Distinctions) {
  EXPECT_NE(hash_of(c(0.0)), hash_of(c(-0.0)));
  EXPECT_NE(hash_of(x(0)), hash_of(c(std::bit_cast<double>(std::uint64_t{0}))));
  EXPECT_NE(hash_of(bin(OpKind::Sub, x(0), x(1))), hash_of(bin(OpKind::Add, x(0), x(1))));
  EXPECT_EQ(hash_of(c(nan)), hash_of(c(nan)));
  EXPECT_NE(hash_of(c(nan)), hash_of(c(-nan)));
  // Every named constant hashes as the plain constant of its value.
  for (std::size_t id = 0; id < tarvex::symreg::constants::named_const_count; ++id) {
    const auto named = static_cast<NamedConst>(id);
    EXPECT_EQ(hash_of(LoweredOp::named(named)), hash_of(c(tarvex::symreg::constants::value(named))));
  }
  // Appends to the hasher: hashing x0 then x1 equals hashing the pair's operand stream.
  support::SipHasher13 both;
  structural_hash(x(0), both);
  structural_hash(x(1), both);
  both.write_u8(2);
  EXPECT_EQ(both.finish(), hash_of(bin(OpKind::Add, x(0), x(1))));
}

// ---- evaluation ----

struct EvalCase {
  const char* name;
  LoweredOp op;
  double expected;
  double tolerance;  // 0: bit for bit (NaN matches NaN)
};

void expect_value(double actual, double expected, double tolerance) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << actual;
  } else if (tolerance == 0.0) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(actual), std::bit_cast<std::uint64_t>(expected))
        << actual << " vs " << expected;
  } else {
    EXPECT_NEAR(actual, expected, tolerance);
  }
}

TEST(Eval, ValuesAndDomainEdges) {
  const std::vector<double> vars = {2.0, -3.0, 0.5};
  const EvalCase cases[] = {
      {"constant", c(1.25), 1.25, 0},
      {"variable", x(1), -3.0, 0},
      {"add", bin(OpKind::Add, x(0), x(1)), -1.0, 0},
      {"sub", bin(OpKind::Sub, x(0), x(1)), 5.0, 0},
      {"mul", bin(OpKind::Mul, x(0), x(1)), -6.0, 0},
      {"div", bin(OpKind::Div, x(1), x(0)), -1.5, 0},
      {"div by zero", bin(OpKind::Div, x(0), c(0.0)), inf, 0},
      {"zero by zero", bin(OpKind::Div, c(0.0), c(0.0)), nan, 0},
      {"pow", bin(OpKind::Pow, x(0), c(10.0)), 1024.0, 0},
      {"neg zero", un(OpKind::Neg, c(0.0)), -0.0, 0},
      {"ln of negative", un(OpKind::Ln, x(1)), nan, 0},
      {"ln of zero", un(OpKind::Ln, c(0.0)), -inf, 0},
      {"atanh half", un(OpKind::Atanh, x(2)), 0.549306144334054845697622618461, 1e-15},
      {"atanh half is half ln 3", un(OpKind::Atanh, c(0.5)), 0.5 * std::log(3.0), 1e-15},
      {"atanh negative", un(OpKind::Atanh, c(-0.25)), -0.255412811882995341602757048152, 1e-15},
      {"atanh one", un(OpKind::Atanh, c(1.0)), inf, 0},
      {"atanh minus one", un(OpKind::Atanh, c(-1.0)), -inf, 0},
      {"atanh beyond one", un(OpKind::Atanh, c(2.0)), nan, 0},
      // Bit for bit the log1p form; the library's atanh(-0.3) is one unit larger in magnitude.
      {"atanh at -0.3", un(OpKind::Atanh, c(-0.3)), -0.3095196042031117, 0},
      {"named", LoweredOp::named(NamedConst::Sqrt2), 1.4142135623730951, 0},
      {"nested", bin(OpKind::Mul, un(OpKind::Exp, c(0.0)), bin(OpKind::Sub, x(2), x(0))), -1.5, 0},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    expect_value(eval(t.op, vars), t.expected, t.tolerance);
  }
}

TEST(Eval, SpecialFunctionsAreThoseOfTheLibrary) {
  const struct {
    OpKind kind;
    double (*function)(double);
  } cases[] = {
      {OpKind::Erf, tarvex::special::erf},         {OpKind::LnGamma, tarvex::special::lgamma},
      {OpKind::Digamma, tarvex::special::digamma}, {OpKind::Trigamma, tarvex::special::trigamma},
      {OpKind::Ei, tarvex::special::ei},           {OpKind::Si, tarvex::special::si},
      {OpKind::Ci, tarvex::special::ci},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(static_cast<int>(t.kind));
    for (double arg : {-2.5, 0.3, 1.0, 7.25}) {
      expect_value(eval(un(t.kind, x(0)), std::vector<double>{arg}), t.function(arg), 0);
    }
  }
}

TEST(Eval, VariableBeyondValuesPanics) {
  const std::vector<double> vars = {1.0, 2.0};
  EXPECT_EQ(eval(x(1), vars), 2.0);
  EXPECT_EQ(support::testing::panic_message([&] { eval(bin(OpKind::Add, x(0), x(2)), vars); }),
            "index out of bounds: the len is 2 but the index is 2");
  EXPECT_THROW(eval(x(0), {}), support::Panic);
}

// ---- LaTeX ----

struct LatexCase {
  const char* name;
  LoweredOp op;
  const char* text;
};

TEST(Latex, ConstantsAndLeaves) {
  const LatexCase cases[] = {
      {"variable", x(0), "x_{0}"},
      {"variable index in full", x(12), "x_{12}"},
      {"e", c(2.718281828459045), "e"},
      {"near e", c(2.7182818284590455), "e"},
      {"pi", c(3.141592653589793), "\\pi"},
      {"near pi", c(3.1415926535897936), "\\pi"},
      {"two pi", c(6.283185307179586), "2\\pi"},
      {"minus one", c(-1.0), "-1"},
      {"near minus one", c(-1.0000000000000002), "-1"},
      {"one", c(1.0), "1"},
      {"zero", c(0.0), "0"},
      {"negative zero", c(-0.0), "0"},
      {"tiny", c(1e-12), "0"},
      {"minus three", c(-3.0), "-3"},
      {"near three", c(2.99999999999), "3"},
      // Within 1e-10 of an integer, strictly: the last double inside and the first outside.
      {"last double within 1e-10 of three", c(3.0000000000999996), "3"},
      {"first double 1e-10 from three", c(3.0000000001), "3.000000"},
      {"three and 2e-10", c(3.0 + 2e-10), "3.000000"},
      // Only next to zero can a double lie exactly 1e-10 from an integer: not within.
      {"1e-10", c(1e-10), "0.000000"},
      {"-1e-10", c(-1e-10), "-0.000000"},
      {"near minus two", c(-2.0000000000001), "-2"},
      {"half", c(0.5), "0.500000"},
      {"minus half", c(-2.5), "-2.500000"},
      {"tiny negative", c(-1e-7 - 1e-9), "-0.000000"},
      {"just below 1e15", c(999999999999999.0), "999999999999999"},
      {"1e15", c(1e15), "1000000000000000.000000"},
      {"large negative", c(-1e20), "-100000000000000000000.000000"},
      {"NaN", c(nan), "NaN"},
      {"infinity", c(inf), "inf"},
      {"negative infinity", c(-inf), "-inf"},
      {"named pi", LoweredOp::named(NamedConst::Pi), "\\pi"},
      {"named minus half", LoweredOp::named(NamedConst::NegHalf), "-\\frac{1}{2}"},
      {"named minus two", LoweredOp::named(NamedConst::NegTwo), "(-2)"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(to_latex(t.op), t.text);
  }
}

TEST(Latex, Parenthesisation) {
  auto sum = [] { return bin(OpKind::Add, x(0), c(1.0)); };
  const LatexCase cases[] = {
      {"sum at root", sum(), "x_{0} + 1"},
      {"sum as factor", bin(OpKind::Mul, sum(), x(1)), "(x_{0} + 1) \\cdot x_{1}"},
      {"difference on the right", bin(OpKind::Sub, x(0), bin(OpKind::Sub, x(1), x(2))), "x_{0} - (x_{1} - x_{2})"},
      {"product in sum", bin(OpKind::Add, bin(OpKind::Mul, x(0), x(1)), x(2)), "(x_{0} \\cdot x_{1}) + x_{2}"},
      {"fraction of sum", bin(OpKind::Div, sum(), bin(OpKind::Sub, x(1), x(2))), "\\frac{x_{0} + 1}{x_{1} - x_{2}}"},
      {"fraction in sum", bin(OpKind::Add, bin(OpKind::Div, x(0), x(1)), x(2)), "\\frac{x_{0}}{x_{1}} + x_{2}"},
      {"exp of sum", un(OpKind::Exp, sum()), "e^{x_{0} + 1}"},
      {"pow of sum exponent", bin(OpKind::Pow, x(1), sum()), "x_{1}^{x_{0} + 1}"},
      {"pow of sum base", bin(OpKind::Pow, sum(), c(2.0)), "(x_{0} + 1)^{2}"},
      {"pow of negative base", bin(OpKind::Pow, c(-2.5), x(0)), "-2.500000^{x_{0}}"},
      {"pow of power base", bin(OpKind::Pow, bin(OpKind::Pow, x(0), c(2.0)), c(3.0)), "x_{0}^{2}^{3}"},
      {"neg of sum", un(OpKind::Neg, sum()), "-(x_{0} + 1)"},
      {"double negation", un(OpKind::Neg, un(OpKind::Neg, x(0))), "--x_{0}"},
      {"neg of constant", un(OpKind::Neg, c(3.0)), "-3"},
      {"neg in product", bin(OpKind::Mul, un(OpKind::Neg, x(0)), x(1)), "-x_{0} \\cdot x_{1}"},
      {"function in sum", bin(OpKind::Sub, un(OpKind::Sin, x(0)), un(OpKind::Ln, x(1))),
       "\\sin\\left(x_{0}\\right) - \\ln\\left(x_{1}\\right)"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(to_latex(t.op), t.text);
  }
}

TEST(Latex, FunctionTexts) {
  auto sum = [] { return bin(OpKind::Add, x(0), x(1)); };
  const struct {
    OpKind kind;
    const char* text;
  } cases[] = {
      {OpKind::Exp, "e^{x_{0} + x_{1}}"},
      {OpKind::Ln, "\\ln\\left(x_{0} + x_{1}\\right)"},
      {OpKind::Sin, "\\sin\\left(x_{0} + x_{1}\\right)"},
      {OpKind::Cos, "\\cos\\left(x_{0} + x_{1}\\right)"},
      {OpKind::Tan, "\\tan{x_{0} + x_{1}}"},
      {OpKind::Sinh, "\\sinh{x_{0} + x_{1}}"},
      {OpKind::Cosh, "\\cosh{x_{0} + x_{1}}"},
      {OpKind::Tanh, "\\tanh{x_{0} + x_{1}}"},
      {OpKind::Asin, "\\arcsin{x_{0} + x_{1}}"},
      {OpKind::Acos, "\\arccos{x_{0} + x_{1}}"},
      {OpKind::Atan, "\\arctan{x_{0} + x_{1}}"},
      {OpKind::Asinh, "\\operatorname{arcsinh}{x_{0} + x_{1}}"},
      {OpKind::Acosh, "\\operatorname{arccosh}{x_{0} + x_{1}}"},
      {OpKind::Atanh, "\\operatorname{arctanh}{x_{0} + x_{1}}"},
      {OpKind::Erf, "\\operatorname{erf}\\!\\left(x_{0} + x_{1}\\right)"},
      {OpKind::LnGamma, "\\ln\\Gamma\\!\\left(x_{0} + x_{1}\\right)"},
      {OpKind::Digamma, "\\psi\\!\\left(x_{0} + x_{1}\\right)"},
      {OpKind::Trigamma, "\\psi^{(1)}\\!\\left(x_{0} + x_{1}\\right)"},
      {OpKind::Ei, "\\operatorname{Ei}\\!\\left(x_{0} + x_{1}\\right)"},
      {OpKind::Si, "\\operatorname{Si}\\!\\left(x_{0} + x_{1}\\right)"},
      {OpKind::Ci, "\\operatorname{Ci}\\!\\left(x_{0} + x_{1}\\right)"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(static_cast<int>(t.kind));
    EXPECT_EQ(to_latex(un(t.kind, sum())), t.text);
  }
}

}  // namespace
