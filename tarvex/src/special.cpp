#include "tarvex/special.hpp"

#include <cmath>
#include <complex>
#include <limits>

namespace tarvex::special {
namespace {

constexpr double kEulerGamma = 0.5772156649015329;
constexpr double kTwoOverSqrtPi = 1.1283791670955126;
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPiSquared = 9.869604401089358;
constexpr double kLnPi = 1.1447298858494002;
constexpr double kHalfLnTwoPi = 0.9189385332046727;
constexpr double kEpsilon = 2.220446049250313e-16;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The auxiliary-function expansions of Si and Ci stop after a fixed number of terms, so they
// are exact to rounding only where the first neglected term, about 80!/x^80, is below the
// rounding unit (x above 48). Between the power series (below 4) and this point the
// continued fraction of E1(ix) is used.
constexpr double kSiCiAsymptoticFrom = 50.0;

bool is_pole(double x) { return x <= 0.0 && x - std::trunc(x) == 0.0; }

// erf(a) for a in [0, 5): the Maclaurin series, whose terms cancel badly towards 5.
double erf_series(double a) {
  if (a < 1e-8) {
    return kTwoOverSqrtPi * a;
  }
  double s = a;
  double t = a;
  for (int n = 1; n <= 99; ++n) {
    t = t * -(a * a) / n;
    const double d = t / (2 * n + 1);
    s += d;
    if (std::fmax(std::fabs(s), 1e-300) * kEpsilon > std::fabs(d)) {
      break;
    }
  }
  return kTwoOverSqrtPi * s;
}

// erfc(|x|) by a Chebyshev-fitted rational approximation, about 1e-7 relative accuracy.
double erfc_tail(double x) {
  const double t = 1.0 / (1.0 + std::fabs(x) / 2.0);
  const double poly =
      t *
      (1.00002368 +
       t * (0.37409196 +
            t * (0.09678418 +
                 t * (-0.18628806 +
                      t * (0.27886807 + t * (-1.13520398 + t * (1.48851587 + t * (-0.82215223 + t * 0.17087294))))))));
  return t * std::exp(-(x * x) - 1.26551223 + poly);
}

// Lanczos approximation with g = 7 and nine coefficients, for x >= 0.5.
double lgamma_lanczos(double x) {
  static constexpr double c[] = {0.9999999999998099, 676.5203681218851,   -1259.1392167224028,
                                 771.3234287776531,  -176.6150291621406,  12.5073432786869,
                                 -0.13857109526572,  9.98436957801957e-6, 1.50563273514931e-7};
  const double z = x - 1.0;
  double s = c[0];
  for (int i = 1; i <= 8; ++i) {
    s += c[i] / (z + i);
  }
  const double t = z + 7.5;
  return (z + 0.5) * std::log(t) + (std::log(s) + kHalfLnTwoPi) - t;
}

// Power series of Ei(x) - ln|x| - γ; `floor` keeps the stopping test relative to the sum
// while the sum is still tiny.
double ei_series(double x, double floor) {
  double s = 0.0;
  double t = x;
  for (int k = 1; k <= 199; ++k) {
    s += t / k;
    t = t * x / (k + 1);
    if (std::fmax(std::fabs(s), floor) * 1e-16 > std::fabs(t)) {
      break;
    }
  }
  return s;
}

// e^x / x without overflowing where the quotient itself is still finite.
double exp_over(double x) {
  const double e = std::exp(x);
  if (std::isinf(e)) {
    const double half = std::exp(x / 2.0);
    return half * (half / x);
  }
  return e / x;
}

double ei_asymptotic(double x) {
  const double q = exp_over(x);
  double s = 1.0;
  double t = 1.0;
  for (int k = 1; k <= 29; ++k) {
    t = t * (k / x);
    if (std::fabs(t) > 1e50) {
      break;
    }
    s += t;
    if (std::fabs(s) * 1e-15 > std::fabs(t)) {
      break;
    }
  }
  return q * s;
}

// e^z·E1(z) = 1/(z+ 1/(1+ 1/(z+ 2/(1+ 2/(z+ 3/(1+ …)))))) by the modified Lentz method;
// used on the negative real axis for Ei and on the positive imaginary axis for Si and Ci.
template <typename T>
T scaled_e1_fraction(T z) {
  T f = 1.0 / z;
  T d = f;
  T c = 9.999999999999999e+299;
  for (int n = 2; n <= 200; ++n) {
    const double m = n / 2;
    const T b = n % 2 == 0 ? T(1.0) : z;
    d = 1.0 / (d * m + b);
    c = m / c + b;
    const T delta = c * d;
    f *= delta;
    if (std::abs(delta - 1.0) < 1e-15) {
      break;
    }
  }
  return f;
}

// Sum of the alternating series t_k/k, k = first, first+2, …, last, where
// t_k = t_{k-2}·(−x²)/((k−1)·k); the power series of Si and of Ci − ln x − γ.
double alternating_series(double x, double t, double sum, int first, int last) {
  for (int k = first; k <= last; k += 2) {
    t = t * -(x * x) / ((k - 1) * k);
    const double d = t / k;
    sum += d;
    if (std::fmax(std::fabs(sum), 1e-300) * kEpsilon > std::fabs(d)) {
      break;
    }
  }
  return sum;
}

std::pair<double, double> si_ci_series(double x) {
  const double si = alternating_series(x, x, x, 3, 199);
  const double t = -(x * x) / 2.0;
  const double c = alternating_series(x, t, t / 2.0, 4, 198);
  return {si, std::log(x) + kEulerGamma + c};
}

// E1(ix) = −Ci(x) + i·(Si(x) − π/2).
std::pair<double, double> si_ci_continued_fraction(double x) {
  const std::complex<double> h = scaled_e1_fraction(std::complex<double>(0.0, x));
  const double s = std::sin(x);
  const double c = std::cos(x);
  const double e1_re = h.real() * c + h.imag() * s;
  const double e1_im = h.imag() * c - h.real() * s;
  return {kHalfPi + e1_im, -e1_re};
}

// Asymptotic expansions of the auxiliary functions f and g, with
// Si = π/2 − f·cos x − g·sin x and Ci = f·sin x − g·cos x.
std::pair<double, double> si_ci_asymptotic(double x) {
  double big_f = 1.0;
  double big_g = 1.0;
  double t_f = 1.0;
  double t_g = 1.0;
  for (int k = 3; k <= 79; k += 2) {
    t_f = t_f * -((k - 2) * (k - 1)) / (x * x);
    if (std::fabs(t_f) >= std::fabs(big_f)) {
      break;
    }
    t_g = t_g * -((k - 1) * k) / (x * x);
    big_f += t_f;
    if (std::fabs(t_g) < std::fabs(big_g)) {
      big_g += t_g;
    }
  }
  const double f = big_f / x;
  const double g = big_g / (x * x);
  const double s = std::sin(x);
  const double c = std::cos(x);
  return {kHalfPi - f * c - g * s, f * s - g * c};
}

}  // namespace

double erf(double x) {
  if (std::isnan(x)) {
    return x;
  }
  if (std::isinf(x)) {
    return x > 0.0 ? 1.0 : -1.0;
  }
  const double a = std::fabs(x);
  const double r = a < 5.0 ? erf_series(a) : 1.0 - erfc(a);
  return x < 0.0 ? -r : r;
}

double erfc(double x) {
  if (std::isnan(x)) {
    return x;
  }
  if (x > 27.0) {
    return 0.0;
  }
  if (x < -27.0) {
    return 2.0;
  }
  if (x >= 0.0 && x < 0.5) {
    return 1.0 - erf_series(x);
  }
  if (x > -0.5 && x < 0.0) {
    return 2.0 - (1.0 - erf_series(-x));
  }
  const double r = erfc_tail(x);
  return x > 0.0 ? r : 2.0 - r;
}

double lgamma(double x) {
  if (std::isnan(x)) {
    return x;
  }
  if (is_pole(x)) {
    return kInf;
  }
  if (x == kInf) {  // the Lanczos form would give ∞ − ∞
    return kInf;
  }
  if (x < 0.5) {
    return kLnPi - std::log(std::fabs(std::sin(kPi * x))) - lgamma(1.0 - x);
  }
  return lgamma_lanczos(x);
}

double digamma(double x) {
  if (std::isnan(x)) {
    return x;
  }
  if (is_pole(x)) {
    return -kInf;
  }
  if (x < 0.5) {
    return digamma(1.0 - x) - kPi / std::tan(kPi * x);
  }
  double r = 0.0;
  while (x < 7.0) {
    r -= 1.0 / x;
    x += 1.0;
  }
  const double f = 1.0 / x;
  const double f2 = f * f;
  const double tail = 0.08333333333333333 -
                      f2 * (0.008333333333333333 -
                            f2 * (0.003968253968253968 - f2 * (0.004166666666666667 - f2 * 0.007575757575757576)));
  return std::log(x) - 0.5 * f - f2 * tail + r;
}

double trigamma(double x) {
  if (std::isnan(x)) {
    return x;
  }
  if (x <= 0.0 && x == std::floor(x)) {
    return kInf;
  }
  if (x < 0.5) {
    const double s = std::sin(kPi * x);
    return kPiSquared / (s * s) - trigamma(1.0 - x);
  }
  if (x >= 6.0) {
    const double f = 1.0 / x;
    const double f2 = f * f;
    const double tail = 0.16666666666666666 +
                        f2 * (-0.03333333333333333 +
                              f2 * (0.023809523809523808 + f2 * (-0.03333333333333333 + f2 * 0.07575757575757576)));
    return f + 0.5 * f2 + f * f2 * tail;
  }
  return trigamma(x + 1.0) + 1.0 / (x * x);
}

double ei(double x) {
  if (std::isnan(x)) {
    return x;
  }
  if (x == 0.0) {
    return -kInf;
  }
  if (x == kInf) {  // e^x/x would be ∞/∞
    return kInf;
  }
  if (x > 40.0) {
    return ei_asymptotic(x);
  }
  if (x > 0.0) {
    return std::log(x) + kEulerGamma + ei_series(x, 1.0);
  }
  if (x >= -1.0) {
    return -((-kEulerGamma - std::log(-x)) - ei_series(x, 1e-100));
  }
  return -std::exp(x) * scaled_e1_fraction(-x);  // -x > 1: no guard against a tiny start
}

std::pair<double, double> si_ci_internal(double x) {
  if (std::isnan(x)) {
    return {x, x};
  }
  if (x < 1e-8) {
    return {x, x > 0.0 ? std::log(x) + kEulerGamma : -kInf};
  }
  if (x < 4.0) {
    return si_ci_series(x);
  }
  if (x < kSiCiAsymptoticFrom) {
    return si_ci_continued_fraction(x);
  }
  if (x == kInf) {  // the oscillating factors have no value there, the limits do
    return {kHalfPi, 0.0};
  }
  return si_ci_asymptotic(x);
}

double si(double x) {
  if (std::isnan(x)) {
    return x;
  }
  const double s = si_ci_internal(std::fabs(x)).first;
  return x < 0.0 ? -s : s;
}

double ci(double x) { return x > 0.0 ? si_ci_internal(x).second : kNaN; }

}  // namespace tarvex::special
