#include "tarvex/poly/ratio.hpp"

#include <numeric>

#include "support/panic.hpp"

namespace tarvex::poly {
namespace {

constexpr std::uint64_t two_pow_63 = std::uint64_t{1} << 63;

// |v| as unsigned; exact for INT64_MIN too, where negating the signed value would overflow.
std::uint64_t magnitude(std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  return v < 0 ? ~u + 1 : u;
}

// The signed value with the given sign and magnitude, if it fits.
std::optional<std::int64_t> signed_value(bool negative, std::uint64_t mag) {
  if (negative) {
    if (mag > two_pow_63) return std::nullopt;
    return mag == two_pow_63 ? INT64_MIN : -static_cast<std::int64_t>(mag);
  }
  if (mag >= two_pow_63) return std::nullopt;
  return static_cast<std::int64_t>(mag);
}

}  // namespace

std::optional<Ratio> Ratio::reduced(std::int64_t n, std::int64_t d) {
  if (d == 0) support::panic("denominator == 0");
  // Work on magnitudes: std::gcd of INT64_MIN is undefined, and the sign is restored
  // only after dividing, so a magnitude of 2^63 is fine as long as it ends negative.
  std::uint64_t n_mag = magnitude(n);
  std::uint64_t d_mag = magnitude(d);
  const std::uint64_t g = std::gcd(n_mag, d_mag);
  n_mag /= g;
  d_mag /= g;
  const bool negative = n != 0 && ((n < 0) != (d < 0));
  const auto numer = signed_value(negative, n_mag);
  const auto denom = signed_value(false, d_mag);
  if (!numer || !denom) return std::nullopt;
  return Ratio(*numer, *denom);
}

double Ratio::to_double() const noexcept { return static_cast<double>(numer_) / static_cast<double>(denom_); }

std::optional<Ratio> Ratio::checked_add(const Ratio& other) const {
  std::int64_t aq = 0;
  std::int64_t pb = 0;
  std::int64_t bq = 0;
  std::int64_t sum = 0;
  if (__builtin_mul_overflow(numer_, other.denom_, &aq) || __builtin_mul_overflow(other.numer_, denom_, &pb) ||
      __builtin_mul_overflow(denom_, other.denom_, &bq) || __builtin_add_overflow(aq, pb, &sum)) {
    return std::nullopt;
  }
  return reduced(sum, bq);
}

std::optional<Ratio> Ratio::checked_mul(const Ratio& other) const {
  std::int64_t numer = 0;
  std::int64_t denom = 0;
  if (__builtin_mul_overflow(numer_, other.numer_, &numer) || __builtin_mul_overflow(denom_, other.denom_, &denom)) {
    return std::nullopt;
  }
  return reduced(numer, denom);
}

std::optional<Ratio> Ratio::checked_neg() const {
  if (numer_ == INT64_MIN) return std::nullopt;
  return Ratio(-numer_, denom_);
}

}  // namespace tarvex::poly
