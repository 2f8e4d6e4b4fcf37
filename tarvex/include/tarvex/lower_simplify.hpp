#pragma once
// Algebraic simplification of lowered expressions: one bottom-up rewriting pass plus
// the polynomial normal form over the rationals, where the non-polynomial pieces stand
// in as extra variables (atoms). Both are pure: the input is never changed and the
// result may share subtrees with it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "tarvex/lower.hpp"

namespace tarvex::lower_simplify {

using lower::LoweredOp;

// (structural hash, subexpression); the atom at position k stands for x_(n+k).
using Atom = std::pair<std::uint64_t, LoweredOp>;

// simplify_inner, then canonicalize_poly, then simplify_inner again, each once.
LoweredOp simplify(const LoweredOp& op);

// One bottom-up pass: operands first, then the first matching local rule of the node.
LoweredOp simplify_inner(const LoweredOp& op);

// The expanded polynomial form of op when it converts, has at most 50 terms, no more
// nodes than op and agrees with op at five sample points; otherwise op itself. An
// arithmetic overflow of the rational coefficients counts as a failed conversion.
LoweredOp canonicalize_poly(const LoweredOp& op);

// One more than the highest variable index, 0 without variables.
std::size_t count_vars(const LoweredOp& op);
// Every node counts one.
std::size_t node_count(const LoweredOp& op);

// op with each maximal non-polynomial subexpression replaced by x_(n+k); structurally
// equal atoms share one entry, numbered by first occurrence left to right.
LoweredOp extract_atoms(const LoweredOp& op, std::size_t n, std::vector<Atom>& atoms);
// The inverse replacement.
LoweredOp substitute_atoms(const LoweredOp& op, std::size_t n, std::span<const Atom> atoms);

// SipHash-1-3 with zero keys over the structural byte stream: the same in every process.
std::uint64_t ops_struct_hash(const LoweredOp& op);

}  // namespace tarvex::lower_simplify
