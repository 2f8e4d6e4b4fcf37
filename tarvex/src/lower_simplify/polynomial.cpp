// Polynomial canonicalisation: atoms out, expand over the rationals, atoms back in,
// accept only when not larger and numerically equal.
#include <algorithm>
#include <array>
#include <cmath>

#include "support/siphash.hpp"
#include "tarvex/lower/display.hpp"
#include "tarvex/lower_simplify.hpp"
#include "tarvex/poly/multivariate.hpp"

namespace tarvex::lower_simplify {
namespace {

using lower::OpKind;
using poly::multivariate::MultiPoly;

constexpr std::size_t max_terms = 50;
constexpr std::array<double, 5> check_points = {0.7, 1.3, 2.1, -0.5, 0.3};
constexpr double check_tolerance = 1e-9;

// Variable x_(n+k) for the atom, appending it unless a structurally equal one is there.
LoweredOp atom_variable(const LoweredOp& op, std::size_t n, std::vector<Atom>& atoms) {
  const std::uint64_t hash = ops_struct_hash(op);
  const auto found = std::find_if(atoms.begin(), atoms.end(), [hash](const Atom& atom) { return atom.first == hash; });
  if (found != atoms.end()) {
    return LoweredOp::var(n + static_cast<std::size_t>(found - atoms.begin()));
  }
  atoms.emplace_back(hash, op);
  return LoweredOp::var(n + atoms.size() - 1);
}

// Both expressions agree at every sample point where both are finite; each variable
// takes the point's value.
bool agrees_numerically(const LoweredOp& op, const LoweredOp& candidate, std::size_t n) {
  std::vector<double> values(std::max<std::size_t>(n, 1));
  for (const double point : check_points) {
    std::fill(values.begin(), values.end(), point);
    const double a = lower::display::eval(op, values);
    const double b = lower::display::eval(candidate, values);
    if (!std::isfinite(a) || !std::isfinite(b)) continue;
    if (std::fabs(a - b) > (std::fabs(a) + 1.0) * check_tolerance) return false;
  }
  return true;
}

}  // namespace

std::uint64_t ops_struct_hash(const LoweredOp& op) {
  support::SipHasher13 hasher(0, 0);
  lower::display::structural_hash(op, hasher);
  return hasher.finish();
}

std::size_t count_vars(const LoweredOp& op) {
  switch (lower::arity(op.kind())) {
    case 0: return op.is(OpKind::Var) ? op.index() + 1 : 0;
    case 1: return count_vars(op.lhs());
    default: return std::max(count_vars(op.lhs()), count_vars(op.rhs()));
  }
}

std::size_t node_count(const LoweredOp& op) {
  switch (lower::arity(op.kind())) {
    case 0: return 1;
    case 1: return 1 + node_count(op.lhs());
    default: return 1 + node_count(op.lhs()) + node_count(op.rhs());
  }
}

LoweredOp extract_atoms(const LoweredOp& op, std::size_t n, std::vector<Atom>& atoms) {
  switch (op.kind()) {
    case OpKind::Const:
    case OpKind::Var:
    case OpKind::NamedConst: return op;
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul: {
      LoweredOp lhs = extract_atoms(op.lhs(), n, atoms);
      LoweredOp rhs = extract_atoms(op.rhs(), n, atoms);
      return LoweredOp::binary(op.kind(), std::move(lhs), std::move(rhs));
    }
    case OpKind::Neg: return LoweredOp::unary(OpKind::Neg, extract_atoms(op.lhs(), n, atoms));
    case OpKind::Pow:
      // The same exponent test as the polynomial conversion, so no power that stays
      // here is rejected later for its exponent.
      if (poly::multivariate::polynomial_exponent(op.rhs())) {
        return LoweredOp::binary(OpKind::Pow, std::make_shared<const LoweredOp>(extract_atoms(op.lhs(), n, atoms)),
                                 op.rhs_ptr());
      }
      return atom_variable(op, n, atoms);
    default: return atom_variable(op, n, atoms);
  }
}

LoweredOp substitute_atoms(const LoweredOp& op, std::size_t n, std::span<const Atom> atoms) {
  switch (lower::arity(op.kind())) {
    case 0:
      if (op.is(OpKind::Var) && op.index() >= n && op.index() - n < atoms.size()) {
        return atoms[op.index() - n].second;
      }
      return op;
    case 1: return LoweredOp::unary(op.kind(), substitute_atoms(op.lhs(), n, atoms));
    default:
      return LoweredOp::binary(op.kind(), substitute_atoms(op.lhs(), n, atoms), substitute_atoms(op.rhs(), n, atoms));
  }
}

LoweredOp canonicalize_poly(const LoweredOp& op) {
  const std::size_t n = count_vars(op);
  std::vector<Atom> atoms;
  const LoweredOp polynomial_part = extract_atoms(op, n, atoms);
  // A failed conversion (no small fraction, coefficient overflow) keeps op.
  const auto poly = MultiPoly::from_lowered(polynomial_part, n + atoms.size());
  if (!poly || poly->terms.size() > max_terms) return op;
  LoweredOp candidate = substitute_atoms(poly->to_lowered(), n, atoms);
  // Structural tests first; evaluation only for a candidate that passes them.
  if (node_count(candidate) > node_count(op)) return op;
  if (!agrees_numerically(op, candidate, n)) return op;
  return candidate;
}

}  // namespace tarvex::lower_simplify
