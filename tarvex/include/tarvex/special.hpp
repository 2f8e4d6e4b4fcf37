#pragma once
// Special functions of lowered expressions, in double precision, built on the C math
// library. None fails, allocates or keeps state.
#include <utility>

namespace tarvex::special {

double erf(double x);
double erfc(double x);
double lgamma(double x);  // ln|Γ(x)|
double digamma(double x);
double trigamma(double x);
double ei(double x);  // exponential integral Ei
// (Si(x), Ci(x)) for x >= 0.
std::pair<double, double> si_ci_internal(double x);

// Si and Ci of any real argument, as evaluation and constant folding both need them:
// Si is odd and NaN for NaN; Ci is NaN for x <= 0 and NaN.
double si(double x);
double ci(double x);

}  // namespace tarvex::special
