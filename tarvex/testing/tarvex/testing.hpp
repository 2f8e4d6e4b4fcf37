#pragma once
// Terse builders of EML trees for the tests of tarvex and of the libraries above it.
#include <cstddef>
#include <utility>

#include "tarvex/tree.hpp"

namespace tarvex::testing {

inline tree::NodePtr one() { return tree::EmlNode::one(); }
inline tree::NodePtr x(std::size_t i) { return tree::EmlNode::var(i); }
inline tree::NodePtr c(double value) { return tree::EmlNode::constant(value); }
inline tree::NodePtr eml(tree::NodePtr left, tree::NodePtr right) {
  return tree::EmlNode::eml(std::move(left), std::move(right));
}
inline tree::EmlTree tree(tree::NodePtr root) { return tree::EmlTree::from_node(std::move(root)); }

}  // namespace tarvex::testing
