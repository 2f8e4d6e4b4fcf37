#pragma once
// Hash-consing simplification of EML trees: removes the two places where the pure-EML
// encodings of exp and ln cancel, and makes structurally identical subtrees share one
// output node.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "tarvex/tree.hpp"

namespace tarvex::simplify {

using tree::EmlTree;
using tree::NodePtr;

// The memo table of one simplification. Subtrees are keyed by interning: each distinct
// structure (tag, payload bits, ids of the child structures) gets a small id, so a key is
// never a deep copy. Constants are keyed by bit pattern (0.0 and -0.0 differ).
class Memo {
 public:
  using KeyId = std::uint32_t;

  // The structural id of a subtree (make_key).
  KeyId make_key(const NodePtr& node);
  const NodePtr* find(KeyId key) const;
  void store(KeyId key, NodePtr result);

 private:
  struct Key {
    std::uint8_t tag;
    std::uint64_t payload;
    KeyId left;
    KeyId right;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const noexcept;
  };
  struct Known {
    KeyId key;
    NodePtr node;  // keeps the address from being reused while it is cached
  };

  KeyId intern(const Key& key);

  std::unordered_map<Key, KeyId, KeyHash> ids_;
  std::unordered_map<const tree::EmlNode*, Known> by_address_;
  std::vector<NodePtr> results_;  // indexed by KeyId; null where nothing is stored
};

EmlTree simplify(const EmlTree& tree);
NodePtr simplify_node(const NodePtr& node, Memo& memo);

}  // namespace tarvex::simplify
