#include <cmath>
#include <limits>
#include <span>
#include <utility>

#include <gtest/gtest.h>

#include "tarvex/special.hpp"

namespace {

namespace sp = tarvex::special;

struct ReferencePoint {
  double x;
  double value;
};

struct SiCiReference {
  double x;
  double si;
  double ci;
};

#include "special_reference_table.inc"

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kEulerGamma = 0.5772156649015329;

double below(double x) { return std::nextafter(x, -kInf); }

// Accepted error |got − reference| <= rel·|reference| + abs for arguments with |x| < upto.
struct Band {
  double upto;
  double rel;
  double abs;
};

double tolerance(std::span<const Band> bands, double x, double reference) {
  for (const Band& band : bands) {
    if (std::fabs(x) < band.upto) {
      return band.rel * std::fabs(reference) + band.abs;
    }
  }
  ADD_FAILURE() << "no tolerance band covers x = " << x;
  return 0.0;
}

void expect_matches(double (*fn)(double), std::span<const ReferencePoint> table, std::span<const Band> bands) {
  for (const ReferencePoint& p : table) {
    const double got = fn(p.x);
    EXPECT_LE(std::fabs(got - p.value), tolerance(bands, p.x, p.value))
        << "x = " << p.x << ": got " << got << ", reference " << p.value;
  }
}

// The bands follow the accuracy of each algorithm, not of the reference:
// - erf: the Maclaurin series is exact to rounding below 3, then loses digits to
//   cancellation (terms near e^(x²)/x² against a sum below 1) until 5, where 1 − erfc
//   takes over and erfc's relative error vanishes against 1.
// - erfc: the rational fit is good to about 1.2e-7 relative wherever it is used.
// - digamma and trigamma: the asymptotic series stop at the x^-10 and x^-11 terms, so the
//   first neglected term (about 0.021/x^12 and 0.25/x^13) bounds the error after the
//   upward shift to 7 and 6.
constexpr Band kErfBands[] = {{3.0, 1e-14, 0.0}, {4.0, 0.0, 1e-11}, {5.0, 0.0, 1e-7}, {kInf, 0.0, 1e-15}};
constexpr Band kErfcBands[] = {{0.5, 1e-14, 0.0}, {kInf, 1.2e-7, 0.0}};
constexpr Band kLgammaBands[] = {{kInf, 1e-14, 2e-15}};
constexpr Band kDigammaBands[] = {{8.0, 1e-14, 2e-12}, {12.0, 1e-14, 5e-13}, {kInf, 1e-14, 2e-15}};
constexpr Band kTrigammaBands[] = {{7.0, 1e-14, 2.5e-11}, {10.5, 1e-14, 3e-12}, {kInf, 1e-14, 3e-15}};
constexpr Band kEiBands[] = {{kInf, 5e-15, 0.0}};

TEST(SpecialFunctions, MatchHighPrecisionReferences) {
  struct Case {
    const char* name;
    double (*fn)(double);
    std::span<const ReferencePoint> table;
    std::span<const Band> bands;
  };
  const Case cases[] = {
      {"erf", sp::erf, kErfReference, kErfBands},
      {"erfc", sp::erfc, kErfcReference, kErfcBands},
      {"lgamma", sp::lgamma, kLgammaReference, kLgammaBands},
      {"digamma", sp::digamma, kDigammaReference, kDigammaBands},
      {"trigamma", sp::trigamma, kTrigammaReference, kTrigammaBands},
      {"ei", sp::ei, kEiReference, kEiBands},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_matches(c.fn, c.table, c.bands);
  }
}

TEST(SpecialFunctions, NaNPropagates) {
  for (double (*fn)(double) : {sp::erf, sp::erfc, sp::lgamma, sp::digamma, sp::trigamma, sp::ei, sp::si, sp::ci}) {
    EXPECT_TRUE(std::isnan(fn(kNaN)));
  }
  const auto [s, c] = sp::si_ci_internal(kNaN);
  EXPECT_TRUE(std::isnan(s));
  EXPECT_TRUE(std::isnan(c));
}

TEST(Erf, LimitsSymmetryAndHandOverToErfc) {
  EXPECT_EQ(sp::erf(kInf), 1.0);
  EXPECT_EQ(sp::erf(-kInf), -1.0);
  EXPECT_NEAR(sp::erf(5.0), 0.9999999999984626, 1e-16);
  EXPECT_EQ(sp::erf(5.0), 1.0 - sp::erfc(5.0));
  for (double x : {1e-9, 0.3, 1.0, 2.5, 4.2, 5.0, 7.5, 30.0}) {
    EXPECT_EQ(sp::erf(-x), -sp::erf(x)) << x;
  }
}

TEST(Erfc, TailsContinuityAndKnownValue) {
  EXPECT_EQ(sp::erfc(30.0), 0.0);
  EXPECT_EQ(sp::erfc(-30.0), 2.0);
  EXPECT_EQ(sp::erfc(kInf), 0.0);
  EXPECT_EQ(sp::erfc(-kInf), 2.0);
  EXPECT_NEAR(sp::erfc(1.0), 0.1572992, 1e-7);
  // The series below 0.5 and the rational fit above meet within the fit's accuracy.
  for (double x : {0.5, -0.5}) {
    const double expected = x > 0.0 ? 0.4795001221869535 : 1.5204998778130465;
    EXPECT_NEAR(sp::erfc(x), expected, 1e-7) << x;
    EXPECT_NEAR(sp::erfc(std::nextafter(x, 0.0)), expected, 1e-15) << x;
  }
}

TEST(Lgamma, PolesReflectionAndLimits) {
  for (double pole : {0.0, -0.0, -3.0, -1e300}) {
    EXPECT_EQ(sp::lgamma(pole), kInf) << pole;
  }
  EXPECT_NEAR(sp::lgamma(-0.5), 1.2655121234846454, 1e-14);  // ln(2√π)
  EXPECT_NEAR(sp::lgamma(1.0), 0.0, 1e-15);
  EXPECT_EQ(sp::lgamma(kInf), kInf);
  EXPECT_EQ(sp::lgamma(1e308), kInf);
  // Towards −∞ poles alternate with values tending to −∞: there is no limit.
  EXPECT_TRUE(std::isnan(sp::lgamma(-kInf)));
}

TEST(Digamma, PolesAndKnownValues) {
  EXPECT_NEAR(sp::digamma(1.0), -kEulerGamma, 2e-12);
  for (double pole : {0.0, -2.0, -1e300}) {
    EXPECT_EQ(sp::digamma(pole), -kInf) << pole;
  }
  EXPECT_EQ(sp::digamma(kInf), kInf);
}

TEST(Trigamma, PolesAndKnownValues) {
  EXPECT_NEAR(sp::trigamma(1.0), 9.869604401089358 / 6.0, 2.5e-11);
  for (double pole : {0.0, -2.0, -kInf}) {
    EXPECT_EQ(sp::trigamma(pole), kInf) << pole;
  }
  EXPECT_EQ(sp::trigamma(kInf), 0.0);
}

TEST(Ei, KnownValuesAndLimits) {
  EXPECT_EQ(sp::ei(0.0), -kInf);
  EXPECT_EQ(sp::ei(-0.0), -kInf);
  EXPECT_NEAR(sp::ei(1.0), 1.8951178, 1e-7);
  EXPECT_NEAR(sp::ei(-2.0), -0.0489005, 1e-7);
  EXPECT_NEAR(sp::ei(50.0), 1.0585637e20, 1e13);
  EXPECT_EQ(sp::ei(kInf), kInf);
  EXPECT_EQ(sp::ei(-kInf), 0.0);
  EXPECT_EQ(sp::ei(-1e300), 0.0);
  // e^x overflows from about 709.8 while Ei(x) ≈ e^x/x stays finite until about 716.
  EXPECT_TRUE(std::isfinite(sp::ei(716.0)));
  EXPECT_EQ(sp::ei(717.0), kInf);
}

TEST(SiCi, SmallArguments) {
  const auto [s1, c1] = sp::si_ci_internal(1.0);
  EXPECT_NEAR(s1, 0.9460831, 1e-7);
  EXPECT_NEAR(c1, 0.3374039, 1e-7);
  const auto [s0, c0] = sp::si_ci_internal(0.0);
  EXPECT_EQ(s0, 0.0);
  EXPECT_EQ(c0, -kInf);
}

// Absolute floor so that the check stays meaningful at the zeros of Ci.
constexpr double kSiCiRel = 1e-12;
constexpr double kSiCiAbs = 1e-15;

TEST(SiCi, MatchHighPrecisionReferences) {
  for (const SiCiReference& r : kSiCiReference) {
    const auto [s, c] = sp::si_ci_internal(r.x);
    EXPECT_LE(std::fabs(s - r.si), kSiCiRel * std::fabs(r.si) + kSiCiAbs)
        << "Si(" << r.x << ") = " << s << ", reference " << r.si;
    EXPECT_LE(std::fabs(c - r.ci), kSiCiRel * std::fabs(r.ci) + kSiCiAbs)
        << "Ci(" << r.x << ") = " << c << ", reference " << r.ci;
  }
}

TEST(SiCi, ContinuousWhereTheMethodChanges) {
  for (double x : {1e-8, 4.0, 50.0}) {
    const auto [s_lo, c_lo] = sp::si_ci_internal(below(x));
    const auto [s_hi, c_hi] = sp::si_ci_internal(x);
    EXPECT_NEAR(s_lo, s_hi, 1e-15) << x;
    EXPECT_NEAR(c_lo, c_hi, 1e-14 * std::fabs(c_hi) + 1e-15) << x;
  }
}

TEST(SiCi, InfiniteAndHugeArguments) {
  EXPECT_EQ(sp::si(kInf), kHalfPi);
  EXPECT_EQ(sp::si(-kInf), -kHalfPi);
  EXPECT_EQ(sp::ci(kInf), 0.0);
  for (double x : {1e154, 1e160, 1e300, std::numeric_limits<double>::max()}) {
    const auto [s, c] = sp::si_ci_internal(x);
    EXPECT_NEAR(s, kHalfPi, 1e-15) << x;
    EXPECT_LE(std::fabs(c), 2.0 / x) << x;
  }
}

TEST(SiCi, AnyRealArgument) {
  EXPECT_EQ(sp::si(-2.0), -sp::si(2.0));
  EXPECT_EQ(sp::si(-7.25), -sp::si(7.25));
  EXPECT_EQ(sp::si(-0.0), 0.0);
  EXPECT_EQ(sp::si(2.0), sp::si_ci_internal(2.0).first);
  EXPECT_EQ(sp::ci(2.0), sp::si_ci_internal(2.0).second);
  for (double x : {0.0, -0.0, -1.0, -kInf, kNaN}) {
    EXPECT_TRUE(std::isnan(sp::ci(x))) << x;
  }
  EXPECT_EQ(sp::ci(1e-9), std::log(1e-9) + kEulerGamma);
}

}  // namespace
