#include "tarvex/simplify.hpp"

#include <bit>

#include "tarvex/canonical.hpp"

namespace tarvex::simplify {
namespace {

using tree::EmlKind;
using tree::EmlNode;

constexpr Memo::KeyId no_child = UINT32_MAX;

// eml(eml(1, eml(X, 1)), 1): with a 1 on its left, the node is ln(exp(X)). Returns X.
const NodePtr* ln_of_exp_argument(const EmlNode& node) {
  const NodePtr* ln_body = canonical::exp_shape_argument(node);  // eml(1, eml(X, 1))
  if (ln_body == nullptr || !(*ln_body)->is_eml() || !(*ln_body)->left()->is_one()) return nullptr;
  return canonical::exp_shape_argument(*(*ln_body)->right());
}

}  // namespace

std::size_t Memo::KeyHash::operator()(const Key& key) const noexcept {
  std::uint64_t h = key.payload * 0x9e3779b97f4a7c15ULL;
  h ^= (static_cast<std::uint64_t>(key.left) << 32 | key.right) + 0x7f4a7c159e3779b9ULL + (h << 6) + (h >> 2);
  return static_cast<std::size_t>(h ^ key.tag);
}

Memo::KeyId Memo::intern(const Key& key) {
  const auto [it, inserted] = ids_.try_emplace(key, static_cast<KeyId>(ids_.size()));
  if (inserted) results_.emplace_back();
  return it->second;
}

Memo::KeyId Memo::make_key(const NodePtr& node) {
  if (const auto it = by_address_.find(node.get()); it != by_address_.end()) return it->second.key;
  Key key{static_cast<std::uint8_t>(node->kind()), 0, no_child, no_child};
  switch (node->kind()) {
    case EmlKind::One: break;
    case EmlKind::Const: key.payload = std::bit_cast<std::uint64_t>(node->value()); break;
    case EmlKind::Var: key.payload = node->index(); break;
    case EmlKind::Eml:
      key.left = make_key(node->left());
      key.right = make_key(node->right());
      break;
  }
  const KeyId id = intern(key);
  by_address_.emplace(node.get(), Known{id, node});
  return id;
}

const NodePtr* Memo::find(KeyId key) const { return results_[key] ? &results_[key] : nullptr; }

void Memo::store(KeyId key, NodePtr result) { results_[key] = std::move(result); }

NodePtr simplify_node(const NodePtr& node, Memo& memo) {
  const Memo::KeyId key = memo.make_key(node);
  if (const NodePtr* known = memo.find(key)) return *known;
  NodePtr result;
  switch (node->kind()) {
    case EmlKind::One: result = EmlNode::one(); break;
    case EmlKind::Const: result = EmlNode::constant(node->value()); break;
    case EmlKind::Var: result = EmlNode::var(node->index()); break;
    case EmlKind::Eml: {
      NodePtr a = simplify_node(node->left(), memo);
      NodePtr b = simplify_node(node->right(), memo);
      if (const NodePtr* x = a->is_one() ? ln_of_exp_argument(*b) : nullptr) {
        result = simplify_node(*x, memo);  // ln(exp(X)) = X
      } else if (const NodePtr* y = b->is_one() ? canonical::ln_shape_argument(*a) : nullptr) {
        result = simplify_node(*y, memo);  // exp(ln(X)) = X, whatever the sign of X
      } else {
        result = EmlNode::eml(std::move(a), std::move(b));
      }
      break;
    }
  }
  memo.store(key, result);
  return result;
}

EmlTree simplify(const EmlTree& tree) {
  Memo memo;
  return EmlTree::from_node(simplify_node(tree.root, memo));
}

}  // namespace tarvex::simplify
