#include "vorn_core/discoverer.hpp"

#include <algorithm>

#include "support/panic.hpp"

namespace vorn_core::discoverer {

using tarvex::tree::EmlKind;

std::size_t effective_depth(std::uint64_t max_depth) noexcept {
  if (max_depth == 0) return 1;
  return static_cast<std::size_t>(std::min<std::uint64_t>(max_depth, max_tree_depth));
}

NodePtr constantize(const EmlNode& node) {
  switch (node.kind()) {
    case EmlKind::One: return EmlNode::constant(1.0);
    case EmlKind::Const: return EmlNode::constant(node.value());
    case EmlKind::Var: return EmlNode::var(node.index());
    case EmlKind::Eml: {
      NodePtr left = constantize(*node.left());
      NodePtr right = constantize(*node.right());
      return EmlNode::eml(std::move(left), std::move(right));
    }
  }
  support::panic("unknown EML node kind");
}

}  // namespace vorn_core::discoverer
