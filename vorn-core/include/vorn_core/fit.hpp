#pragma once
// Constant fitting: the constants of an EML tree are its Const leaves in pre-order, left
// child before right child; every function here visits them in that order, so position i
// always names the same leaf.
#include <cstddef>
#include <span>
#include <vector>

#include "tarvex/tree.hpp"

namespace vorn_core::fit {

using tarvex::tree::EmlNode;
using tarvex::tree::NodePtr;

// Appends the value of every Const leaf under the node, in constant order.
void collect_consts(const EmlNode& node, std::vector<double>& out);

// A new tree of the same shape, every node newly made, whose constants take
// values[index], values[index + 1], ...; index ends past the last value used. Fewer
// values than constants is a caller fault and panics.
NodePtr substitute_consts(const EmlNode& node, std::span<const double> values, std::size_t& index);

}  // namespace vorn_core::fit
