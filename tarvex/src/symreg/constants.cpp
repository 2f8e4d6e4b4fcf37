#include "tarvex/symreg/constants.hpp"

#include <array>
#include <cmath>

namespace tarvex::symreg::constants {
namespace {

constexpr double pi = 3.141592653589793;
constexpr double e = 2.718281828459045;
constexpr double sqrt2 = 1.4142135623730951;

struct Entry {
  double value;
  std::string_view latex;
};

// Indexed by id. e² is the product of the double e with itself, one unit in the last
// place below the double nearest to e².
constexpr auto table = std::to_array<Entry>({
    {pi, "\\pi"},
    {e, "e"},
    {sqrt2, "\\sqrt{2}"},
    {-pi, "(-\\pi)"},
    {-e, "(-e)"},
    {-sqrt2, "(-\\sqrt{2})"},
    {0.5, "\\frac{1}{2}"},
    {-0.5, "-\\frac{1}{2}"},
    {0.3333333333333333, "\\frac{1}{3}"},
    {0.25, "\\frac{1}{4}"},
    {2.0 * pi, "2\\pi"},
    {pi / 2.0, "\\frac{\\pi}{2}"},
    {1.7320508075688772, "\\sqrt{3}"},
    {e * e, "e^{2}"},
    {1.618033988749895, "\\varphi"},
    {0.6931471805599453, "\\ln(2)"},
    {-2.0, "(-2)"},
});
static_assert(table.size() == named_const_count, "one row per named constant");

constexpr auto snapping_order = std::to_array<NamedConst>({
    NamedConst::Pi,
    NamedConst::NegPi,
    NamedConst::E,
    NamedConst::NegE,
    NamedConst::Sqrt2,
    NamedConst::NegSqrt2,
    NamedConst::Half,
    NamedConst::NegHalf,
    NamedConst::Third,
    NamedConst::Quarter,
    NamedConst::TwoPi,
    NamedConst::HalfPi,
    NamedConst::Sqrt3,
    NamedConst::ESquared,
    NamedConst::GoldenRatio,
    NamedConst::Ln2,
    NamedConst::NegTwo,
});
static_assert(snapping_order.size() == named_const_count, "every named constant is a snapping candidate");

}  // namespace

double value(NamedConst id) { return table[static_cast<std::size_t>(id)].value; }

std::string_view latex(NamedConst id) { return table[static_cast<std::size_t>(id)].latex; }

std::vector<std::pair<double, NamedConst>> named_const_candidates() {
  std::vector<std::pair<double, NamedConst>> out;
  out.reserve(named_const_count);
  for (NamedConst id : snapping_order) out.emplace_back(value(id), id);
  return out;
}

std::optional<NamedConst> snap_to_named_const(double x) {
  for (NamedConst id : snapping_order) {
    const double c = value(id);
    // NaN fails both comparisons; an infinite x fails the second.
    if (std::fabs(c) > 1e-12 && std::fabs(x - c) <= std::fabs(c) * 0.02) return id;
  }
  return std::nullopt;
}

}  // namespace tarvex::symreg::constants
