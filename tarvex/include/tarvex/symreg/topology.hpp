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

// The first tree of each semantic class, in input order (see semantic_key).
std::vector<EmlTree> dedupe_by_semantics(std::vector<EmlTree> trees);

// The key of a tree's meaning: the fixed-key structural hash of its simplified lowered
// form. Trees whose keys are equal count as the same expression.
std::uint64_t semantic_key(const EmlTree& tree);

// The first `limit` trees of dedupe_by_semantics(enumerate_topologies(max_depth,
// num_vars)), found without building the full list: time and memory follow the number
// of trees asked for, not the number of shapes (about 3e8 at depth 3 over 10 columns).
std::vector<EmlTree> distinct_topologies(std::size_t max_depth, std::size_t num_vars, std::size_t limit);

// Walks the same sequence as enumerate_topologies without building it: each tree is
// made when it is visited, and the walk ends as soon as the visitor returns false.
void for_each_topology(std::size_t max_depth, std::size_t num_vars, const std::function<bool(const NodePtr&)>& visitor);

}  // namespace tarvex::symreg::topology
