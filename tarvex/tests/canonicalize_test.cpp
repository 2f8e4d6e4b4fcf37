#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "lowered_builders.hpp"
#include "lowered_text.hpp"
#include "support/siphash.hpp"
#include "support/testing.hpp"
#include "tarvex/lower_simplify.hpp"

namespace {

using namespace tarvex_test;
using support::testing::case_name;
using support::testing::PrintTo;
using tarvex::lower_simplify::Atom;
using tarvex::lower_simplify::canonicalize_poly;
using tarvex::lower_simplify::count_vars;
using tarvex::lower_simplify::extract_atoms;
using tarvex::lower_simplify::node_count;
using tarvex::lower_simplify::ops_struct_hash;
using tarvex::lower_simplify::substitute_atoms;

// Sum x0 + x1 + ... + x_(count-1), folded left.
LoweredOp sum_of_variables(std::size_t count) {
  LoweredOp sum = x(0);
  for (std::size_t i = 1; i < count; ++i) sum = add(sum, x(i));
  return sum;
}

TEST(OpsStructHash, ZeroKeyedSipHashOfTheStructuralStream) {
  // Add(x0, 1.5): Var byte and index, Const byte and bits, then the Add code.
  support::SipHasher13 reference(0, 0);
  reference.write_u8(1);
  reference.write_u64_le(0);
  reference.write_u8(0);
  reference.write_u64_le(std::bit_cast<std::uint64_t>(1.5));
  reference.write_u8(2);
  EXPECT_EQ(ops_struct_hash(add(x(0), c(1.5))), reference.finish());
}

TEST(PolynomialHelpers, CountVarsAndNodeCount) {
  EXPECT_EQ(count_vars(c(2)), 0u);
  EXPECT_EQ(count_vars(named(NamedConst::E)), 0u);
  EXPECT_EQ(count_vars(add(x(3), exp_(x(1)))), 4u);
  EXPECT_EQ(count_vars(pow(x(0), x(6))), 7u);
  EXPECT_EQ(node_count(add(x(0), c(1))), 3u);
  EXPECT_EQ(node_count(x(0)), 1u);
  EXPECT_EQ(node_count(neg(exp_(div(x(0), x(1))))), 5u);
}

TEST(PolynomialHelpers, AtomsAreNumberedByFirstOccurrenceAndShared) {
  // exp(x0) * x1 + (ln(x1) - exp(x0)) + x0^x1 + (x1 + 1)^2
  const LoweredOp op =
      add(add(add(mul(exp_(x(0)), x(1)), sub(ln(x(1)), exp_(x(0)))), pow(x(0), x(1))), pow(add(x(1), c(1)), c(2)));
  std::vector<Atom> atoms;
  const LoweredOp extracted = extract_atoms(op, 2, atoms);
  EXPECT_EQ(describe(extracted),
            "Add(Add(Add(Mul(Var(2), Var(1)), Sub(Var(3), Var(2))), Var(4)), "
            "Pow(Add(Var(1), Const(1)), Const(2)))");
  ASSERT_EQ(atoms.size(), 3u);
  EXPECT_EQ(describe(atoms[0].second), "Exp(Var(0))");
  EXPECT_EQ(describe(atoms[1].second), "Ln(Var(1))");
  EXPECT_EQ(describe(atoms[2].second), "Pow(Var(0), Var(1))");
  for (const Atom& atom : atoms) EXPECT_EQ(atom.first, ops_struct_hash(atom.second));
  EXPECT_EQ(describe(substitute_atoms(extracted, 2, atoms)), describe(op));
}

TEST(PolynomialHelpers, AtomsAreTakenWholeAndPowersJudgedByExponent) {
  std::vector<Atom> atoms;
  const LoweredOp op = add(div(mul(x(0), x(0)), c(2)), pow(x(0), c(2.5)));
  EXPECT_EQ(describe(extract_atoms(op, 1, atoms)), "Add(Var(1), Var(2))");
  EXPECT_EQ(describe(atoms[0].second), "Div(Mul(Var(0), Var(0)), Const(2))");
  EXPECT_EQ(describe(atoms[1].second), "Pow(Var(0), Const(2.5))");
  // An existing table is extended, and variables past the table are left alone.
  EXPECT_EQ(describe(extract_atoms(neg(pow(x(0), c(-1))), 1, atoms)), "Neg(Var(3))");
  EXPECT_EQ(describe(substitute_atoms(add(x(3), x(9)), 1, atoms)), "Add(Pow(Var(0), Const(-1)), Var(9))");
}

struct CanonicalCase {
  const char* name;
  LoweredOp input;
  const char* expected;
};

class CanonicalizePoly : public testing::TestWithParam<CanonicalCase> {};

TEST_P(CanonicalizePoly, GivesTheExpectedForm) {
  const CanonicalCase& c = GetParam();
  const std::string before = describe(c.input);
  EXPECT_EQ(describe(canonicalize_poly(c.input)), c.expected);
  EXPECT_EQ(describe(c.input), before);  // the input is never changed
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CanonicalizePoly,
    testing::Values(
        CanonicalCase{"square", mul(x(0), x(0)), "Pow(Var(0), Const(2))"},
        CanonicalCase{"difference_of_squares", mul(add(x(0), c(1)), sub(x(0), c(1))),
                      "Add(Const(-1), Pow(Var(0), Const(2)))"},
        CanonicalCase{"repeated_atom", add(ln(x(0)), ln(x(0))), "Mul(Const(2), Ln(Var(0)))"},
        CanonicalCase{"growth_rejected", sub(x(0), x(1)), "Sub(Var(0), Var(1))"},
        CanonicalCase{"equal_size_accepted", add(x(0), x(1)), "Add(Var(1), Var(0))"},
        CanonicalCase{"whole_atom", div(exp_(x(0)), x(1)), "Div(Exp(Var(0)), Var(1))"},
        CanonicalCase{"no_variables", add(exp_(c(1)), c(1)), "Add(Const(1), Exp(Const(1)))"},
        CanonicalCase{"too_many_terms", pow(add(add(x(0), x(1)), c(1)), c(10)),
                      "Pow(Add(Add(Var(0), Var(1)), Const(1)), Const(10))"},
        CanonicalCase{"irrational_named", add(named(NamedConst::Pi), x(0)), "Add(NamedConst(0), Var(0))"},
        CanonicalCase{"named_fraction", add(named(NamedConst::Half), x(0)), "Add(Const(0.5), Var(0))"},
        CanonicalCase{"tiny_constant_snaps", add(x(0), c(1e-10)), "Var(0)"},
        CanonicalCase{"minus_one_coefficient", mul(add(x(0), c(1)), sub(c(1), x(0))),
                      "Add(Const(1), Mul(Const(-1), Pow(Var(0), Const(2))))"},
        // 9e-10 snaps to 0, but multiplied by x0^30 it is visible at the sample points.
        CanonicalCase{"numeric_mismatch", add(mul(c(9e-10), pow(x(0), c(30))), x(0)),
                      "Add(Mul(Const(0.0000000009), Pow(Var(0), Const(30))), Var(0))"},
        // ln(-1 - x0^2) is NaN at every point: accepted on the structural tests alone.
        CanonicalCase{"every_point_skipped", add(ln(sub(c(-1), mul(x(0), x(0)))), ln(sub(c(-1), mul(x(0), x(0))))),
                      "Mul(Const(2), Ln(Sub(Const(-1), Mul(Var(0), Var(0)))))"},
        // Coefficients that overflow 64 bits keep the expression.
        CanonicalCase{"product_overflow", mul(mul(c(9e18), x(0)), mul(c(2), x(0))),
                      "Mul(Mul(Const(9000000000000000000), Var(0)), Mul(Const(2), Var(0)))"},
        CanonicalCase{"sum_overflow", add(mul(c(9e18), x(0)), mul(c(9e18), x(0))),
                      "Add(Mul(Const(9000000000000000000), Var(0)), "
                      "Mul(Const(9000000000000000000), Var(0)))"},
        CanonicalCase{"binomial_overflow", pow(add(x(0), c(1)), c(100)), "Pow(Add(Var(0), Const(1)), Const(100))"}),
    case_name<CanonicalCase>);

// v * x0 - x0 with v within 1e-9 of 1 has the candidate 0 (v's fraction is 1). The
// candidate is kept when |a - b| > (|a| + 1) * 1e-9 at a point; the difference is largest
// at 2.1, where 1.0000000004761902 is the last factor to pass and the next double fails.
TEST(CanonicalizePolyNumericCheck, ToleranceBoundaryBetweenNeighbouringFactors) {
  const double inside = 1.0000000004761902;
  const double outside = 1.0000000004761904;
  ASSERT_EQ(std::nextafter(inside, 2.0), outside);
  const LoweredOp passes = sub(mul(c(inside), x(0)), x(0));
  const LoweredOp fails = sub(mul(c(outside), x(0)), x(0));
  EXPECT_EQ(describe(canonicalize_poly(passes)), "Const(0)");
  EXPECT_EQ(describe(canonicalize_poly(fails)), "Sub(Mul(Const(1.0000000004761904), Var(0)), Var(0))");
  // The tolerance grows with the value: a difference of about 1.9e-9 is kept on its own
  // but passes next to 1000.
  const LoweredOp wider = sub(mul(c(1 + 9e-10), x(0)), x(0));
  EXPECT_EQ(describe(canonicalize_poly(wider)), describe(wider));
  EXPECT_EQ(describe(canonicalize_poly(add(wider, c(1000)))), "Const(1000)");
}

// Each of the five points is checked: v * A - A, with A = 1 / (x0 - p + 1e-4) one atom and
// v = 1 + 1e-11, differs by more than the tolerance only within about 0.01 of p.
TEST(CanonicalizePolyNumericCheck, EachOfTheFivePointsIsChecked) {
  const auto spike_at = [](double p) {
    const LoweredOp atom = div(c(1), sub(x(0), c(p - 1e-4)));
    return sub(mul(c(1 + 1e-11), atom), atom);
  };
  for (double point : {0.7, 1.3, 2.1, -0.5, 0.3}) {
    SCOPED_TRACE(point);
    const LoweredOp kept = spike_at(point);
    EXPECT_EQ(describe(canonicalize_poly(kept)), describe(kept));
  }
  for (double elsewhere : {5.0, 1.0, 0.0, -0.47, 2.13, 0.33, 0.67}) {  // 0.03 or more from every point
    SCOPED_TRACE(elsewhere);
    EXPECT_EQ(describe(canonicalize_poly(spike_at(elsewhere))), "Const(0)");
  }
}

TEST(CanonicalizePolyLimits, FiftyTermsAcceptedFiftyOneKept) {
  // Same node count either way; the terms come back in ascending exponent-vector
  // order, which lists the highest variable index first.
  LoweredOp reversed = x(49);
  for (std::size_t i = 49; i-- > 0;) reversed = add(reversed, x(i));
  EXPECT_EQ(describe(canonicalize_poly(sum_of_variables(50))), describe(reversed));
  const LoweredOp fifty_one = sum_of_variables(51);
  EXPECT_EQ(describe(canonicalize_poly(fifty_one)), describe(fifty_one));
}

}  // namespace
