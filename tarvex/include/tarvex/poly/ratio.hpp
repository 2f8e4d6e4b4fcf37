#pragma once
// Exact fractions with 64-bit parts, the coefficients of multivariate polynomials.
// A Ratio is always reduced with a positive denominator. Arithmetic never wraps: every
// operation that could leave the 64-bit range returns nothing instead.
#include <cstdint>
#include <optional>

namespace tarvex::poly {

class Ratio {
 public:
  // Zero (0/1).
  constexpr Ratio() = default;
  // The integer n (n/1).
  explicit constexpr Ratio(std::int64_t n) : numer_(n) {}

  // n/d reduced with a positive denominator; nothing when the reduced form does not fit
  // (for example 1/-2^63, whose positive denominator would be 2^63). A zero denominator
  // is a violated invariant and panics.
  static std::optional<Ratio> reduced(std::int64_t n, std::int64_t d);

  std::int64_t numer() const noexcept { return numer_; }
  std::int64_t denom() const noexcept { return denom_; }
  bool is_zero() const noexcept { return numer_ == 0; }
  // Numerator and denominator are each converted to double before dividing.
  double to_double() const noexcept;

  // a/b + p/q = (a·q + p·b) / (b·q), each product and the sum checked.
  std::optional<Ratio> checked_add(const Ratio& other) const;
  // Numerator and denominator products, each checked, then reduced.
  std::optional<Ratio> checked_mul(const Ratio& other) const;
  // Nothing for a numerator of -2^63.
  std::optional<Ratio> checked_neg() const;

  // Reduced forms are unique, so equality is equality of the parts.
  friend bool operator==(const Ratio&, const Ratio&) = default;

 private:
  constexpr Ratio(std::int64_t n, std::int64_t d) : numer_(n), denom_(d) {}

  std::int64_t numer_ = 0;
  std::int64_t denom_ = 1;
};

}  // namespace tarvex::poly
