#include "tarvex/symreg/topology.hpp"

#include <span>
#include <unordered_set>

#include "tarvex/lower.hpp"
#include "tarvex/lower_simplify.hpp"
#include "tarvex/simplify.hpp"
#include "tarvex/tree.hpp"

namespace tarvex::symreg::topology {
namespace {

using tree::EmlNode;
using Visitor = std::function<bool(const NodePtr&)>;

// The trees of one depth are built from the complete lists of every lower depth, so
// the enumerator keeps those lists and produces the current depth lazily.
class LevelEnumerator {
 public:
  explicit LevelEnumerator(Nodes leaves) { levels_.push_back(std::move(leaves)); }

  // Visits the trees of exactly `depth`; false when the visitor asked to stop.
  bool visit_level(std::size_t depth, const Visitor& visit) {
    if (depth == 0) return visit_all(levels_[0], visit);
    ensure_levels_below(depth);
    const Nodes& previous = levels_[depth - 1];
    const std::span<const Nodes> lower(levels_.data(), depth - 1);
    for (const NodePtr& a1 : previous) {
      for (const NodePtr& a2 : previous) {
        if (!visit(EmlNode::eml(a1, a2))) return false;
      }
    }
    for (const NodePtr& a : previous) {
      for (const Nodes& level : lower) {
        for (const NodePtr& b : level) {
          if (!visit(EmlNode::eml(a, b))) return false;
        }
      }
    }
    for (const Nodes& level : lower) {
      for (const NodePtr& b : level) {
        for (const NodePtr& a : previous) {
          if (!visit(EmlNode::eml(b, a))) return false;
        }
      }
    }
    return true;
  }

 private:
  static bool visit_all(const Nodes& nodes, const Visitor& visit) {
    for (const NodePtr& node : nodes) {
      if (!visit(node)) return false;
    }
    return true;
  }

  void ensure_levels_below(std::size_t depth) {
    while (levels_.size() < depth) {
      Nodes next;
      visit_level(levels_.size(), [&next](const NodePtr& node) {
        next.push_back(node);
        return true;
      });
      levels_.push_back(std::move(next));
    }
  }

  std::vector<Nodes> levels_;  // levels_[d]: every tree of exactly depth d
};

// Keeps the first tree of each key; the set's own seed never shows in the result.
class SemanticFilter {
 public:
  bool is_new(const EmlTree& tree) { return seen_.insert(semantic_key(tree)).second; }

 private:
  std::unordered_set<std::uint64_t> seen_;
};

}  // namespace

std::uint64_t semantic_key(const EmlTree& tree) {
  const EmlTree simplified = simplify::simplify(tree);
  return lower_simplify::ops_struct_hash(lower_simplify::simplify(lower::lower(simplified)));
}

std::vector<EmlTree> dedupe_by_semantics(std::vector<EmlTree> trees) {
  SemanticFilter filter;
  std::vector<EmlTree> kept;
  for (EmlTree& tree : trees) {
    if (filter.is_new(tree)) kept.push_back(std::move(tree));
  }
  return kept;
}

std::vector<EmlTree> distinct_topologies(std::size_t max_depth, std::size_t num_vars, std::size_t limit) {
  std::vector<EmlTree> kept;
  if (limit == 0) return kept;
  SemanticFilter filter;
  for_each_topology(max_depth, num_vars, [&](const NodePtr& node) {
    EmlTree tree = EmlTree::from_node(node);
    if (filter.is_new(tree)) kept.push_back(std::move(tree));
    return kept.size() < limit;
  });
  return kept;
}

Nodes build_leaves(std::size_t num_vars, std::optional<double> constant) {
  Nodes leaves;
  leaves.reserve(num_vars + 2);
  leaves.push_back(EmlNode::one());
  for (std::size_t i = 0; i < num_vars; ++i) leaves.push_back(EmlNode::var(i));
  if (constant) leaves.push_back(EmlNode::constant(*constant));
  return leaves;
}

Nodes enumerate_at_depth_nodes(std::size_t depth, const Nodes& leaves) {
  Nodes out;
  LevelEnumerator(leaves).visit_level(depth, [&out](const NodePtr& node) {
    out.push_back(node);
    return true;
  });
  return out;
}

void enumerate_at_depth(std::size_t depth, const Nodes& leaves, std::vector<EmlTree>& out) {
  LevelEnumerator(leaves).visit_level(depth, [&out](const NodePtr& node) {
    out.push_back(EmlTree::from_node(node));
    return true;
  });
}

void for_each_topology(std::size_t max_depth, std::size_t num_vars, const Visitor& visitor) {
  LevelEnumerator levels(build_leaves(num_vars, std::nullopt));
  for (std::size_t depth = 0; depth <= max_depth; ++depth) {
    if (!levels.visit_level(depth, visitor)) return;
  }
}

std::vector<EmlTree> enumerate_topologies(std::size_t max_depth, std::size_t num_vars) {
  std::vector<EmlTree> out;
  for_each_topology(max_depth, num_vars, [&out](const NodePtr& node) {
    out.push_back(EmlTree::from_node(node));
    return true;
  });
  return out;
}

}  // namespace tarvex::symreg::topology
