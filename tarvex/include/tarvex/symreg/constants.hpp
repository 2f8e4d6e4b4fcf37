#pragma once
// The table of named constants and snapping of fitted numbers to it.
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvex::symreg::constants {

enum class NamedConst : std::uint8_t {
  Pi = 0,
  E = 1,
  Sqrt2 = 2,
  NegPi = 3,
  NegE = 4,
  NegSqrt2 = 5,
  Half = 6,
  NegHalf = 7,
  Third = 8,
  Quarter = 9,
  TwoPi = 10,
  HalfPi = 11,
  Sqrt3 = 12,
  ESquared = 13,
  GoldenRatio = 14,
  Ln2 = 15,
  NegTwo = 16,
};

// One past the last id: tables indexed by id take their size from here.
inline constexpr std::size_t named_const_count = static_cast<std::size_t>(NamedConst::NegTwo) + 1;

double value(NamedConst id);
std::string_view latex(NamedConst id);

// The 17 (value, id) pairs in snapping order.
std::vector<std::pair<double, NamedConst>> named_const_candidates();

// The first candidate within 2 % of x (relative, inclusive); none for NaN and infinities.
std::optional<NamedConst> snap_to_named_const(double x);

}  // namespace tarvex::symreg::constants
