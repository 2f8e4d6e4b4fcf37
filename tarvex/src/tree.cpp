#include "tarvex/tree.hpp"

#include <algorithm>

#include "support/number_text.hpp"
#include "support/panic.hpp"

namespace tarvex::tree {

NodePtr EmlNode::one() { return std::make_shared<const EmlNode>(Key{}, EmlKind::One, 0.0, 0, nullptr, nullptr); }

NodePtr EmlNode::constant(double value) {
  return std::make_shared<const EmlNode>(Key{}, EmlKind::Const, value, 0, nullptr, nullptr);
}

NodePtr EmlNode::var(std::size_t index) {
  return std::make_shared<const EmlNode>(Key{}, EmlKind::Var, 0.0, index, nullptr, nullptr);
}

NodePtr EmlNode::eml(NodePtr left, NodePtr right) {
  return std::make_shared<const EmlNode>(Key{}, EmlKind::Eml, 0.0, 0, std::move(left), std::move(right));
}

// The walks recurse into left children and loop down the chain of right children.
std::size_t node_size(const EmlNode& node) {
  std::size_t size = 0;
  const EmlNode* current = &node;
  while (current->is_eml()) {
    size += 1 + node_size(*current->left());
    current = current->right().get();
  }
  return size + 1;
}

std::size_t count_vars(const EmlNode& node) {
  std::size_t count = 0;
  const EmlNode* current = &node;
  while (current->is_eml()) {
    count = std::max(count, count_vars(*current->left()));
    current = current->right().get();
  }
  if (current->kind() == EmlKind::Var) {
    if (current->index() == SIZE_MAX) support::panic("variable index {} has no successor", SIZE_MAX);
    count = std::max(count, current->index() + 1);
  }
  return count;
}

void write_node(const EmlNode& node, std::string& out) {
  std::size_t open = 0;
  const EmlNode* current = &node;
  while (current->is_eml()) {
    out += "eml(";
    write_node(*current->left(), out);
    out += ", ";
    ++open;
    current = current->right().get();
  }
  switch (current->kind()) {
    case EmlKind::One: out += '1'; break;
    case EmlKind::Const: support::append_fixed6(out, current->value()); break;
    case EmlKind::Var:
      out += 'x';
      out += std::to_string(current->index());
      break;
    case EmlKind::Eml: break;
  }
  out.append(open, ')');
}

EmlTree EmlTree::from_node(NodePtr root) {
  const std::size_t vars = count_vars(*root);
  return EmlTree{std::move(root), vars};
}

EmlTree EmlTree::eml(const EmlTree& left, const EmlTree& right) {
  return EmlTree{EmlNode::eml(left.root, right.root), std::max(left.num_vars, right.num_vars)};
}

std::string to_string(const EmlTree& tree) {
  std::string out;
  write_node(*tree.root, out);
  return out;
}

}  // namespace tarvex::tree
