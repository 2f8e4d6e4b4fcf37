#pragma once
// Sparse polynomials in n variables with exact rational coefficients: the normal form
// that lets equivalent polynomial arrangements of a lowered expression compare equal.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <vector>

#include "tarvex/lower.hpp"
#include "tarvex/poly/ratio.hpp"

namespace tarvex::poly::multivariate {

enum class PolyError : std::uint8_t {
  Unsupported,  // the expression is not a polynomial the conversion accepts
  Overflow,     // a numerator, denominator or exponent left its integer range
};

// Entry i is the exponent of x_i.
using Exponents = std::vector<std::uint32_t>;

// Largest exponent of a power that the conversion accepts.
inline constexpr std::uint32_t max_power_exponent = 100;

// The exponent of a power that may stay inside a polynomial: a Const with an integral
// value in [0, 100]. Nothing for any other exponent node (NaN, named constants included).
std::optional<std::uint32_t> polynomial_exponent(const lower::LoweredOp& exponent);

// The fraction n/d with the smallest d in 1..1000 such that d·v lies within 1e-9 of the
// integer n; nothing when there is none (irrational-looking values, NaN, huge values).
std::optional<Ratio> fraction_of(double v);

struct MultiPoly {
  std::size_t nvars = 0;
  // Lexicographic key order: constant term first, powers of a later variable before the
  // first power of an earlier one. No zero coefficients except transiently (add_term).
  std::map<Exponents, Ratio> terms;

  static MultiPoly constant(Ratio c, std::size_t nvars);
  static std::expected<MultiPoly, PolyError> from_lowered(const lower::LoweredOp& op, std::size_t nvars);

  // Adds c to the coefficient of the given monomial (absent keys start at 0). On
  // overflow the stored coefficient is unchanged; a zero result stays in the map.
  std::expected<void, PolyError> add_term(Exponents exponents, const Ratio& c);
  // Drops every zero coefficient.
  void normalize();

  std::expected<MultiPoly, PolyError> add(const MultiPoly& other) const;
  std::expected<MultiPoly, PolyError> neg() const;
  std::expected<MultiPoly, PolyError> mul(const MultiPoly& other) const;
  // n plain multiplications (no squaring); pow(0) is 1, also of the zero polynomial.
  std::expected<MultiPoly, PolyError> pow(std::uint64_t n) const;

  // Terms in key order, folded left with Add; each term is its coefficient (omitted
  // when exactly 1.0) then its variables by index, folded left with Mul.
  lower::LoweredOp to_lowered() const;
};

}  // namespace tarvex::poly::multivariate
