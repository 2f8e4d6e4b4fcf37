#pragma once
// Every EML tree shape of each depth up to a bound, in a fixed order, and removal of
// shapes that mean the same expression.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "tarvex/tree.hpp"

namespace tarvex::symreg::topology {

using tree::EmlTree;
using tree::NodePtr;
using Nodes = std::vector<NodePtr>;

// [1, x0, ..., x(n-1)], optionally followed by Const(constant).
Nodes build_leaves(std::size_t num_vars, std::optional<double> constant);

// Every tree of exactly `depth` over the leaves, in enumeration order.
Nodes enumerate_at_depth_nodes(std::size_t depth, const Nodes& leaves);
void enumerate_at_depth(std::size_t depth, const Nodes& leaves, std::vector<EmlTree>& out);

// The trees of depth 0, 1, ..., max_depth over the leaves 1 and x0..x(n-1).
std::vector<EmlTree> enumerate_topologies(std::size_t max_depth, std::size_t num_vars);

// Walks the same sequence as enumerate_topologies without building it: each tree is
// made when it is visited, and the walk ends as soon as the visitor returns false.
void for_each_topology(std::size_t max_depth, std::size_t num_vars,
                       const std::function<bool(const NodePtr&)>& visitor);

}  // namespace tarvex::symreg::topology
