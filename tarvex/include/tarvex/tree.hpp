#pragma once
// EML trees: immutable nodes of the single operator eml(a, b) = exp(a) - ln(b) over the
// leaf 1, free constants and input variables, shared by atomic reference counting.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvex::tree {

class EmlNode;
using NodePtr = std::shared_ptr<const EmlNode>;

enum class EmlKind : std::uint8_t { One = 0, Const = 1, Var = 2, Eml = 3 };

// The variable index reserved for the wildcard of the lowering patterns.
inline constexpr std::size_t wildcard_index = 9223372036854775807ULL;

class EmlNode {
  struct Key {};  // restricts construction to the factories below

 public:
  static NodePtr one();
  static NodePtr constant(double value);
  static NodePtr var(std::size_t index);
  static NodePtr eml(NodePtr left, NodePtr right);

  EmlKind kind() const noexcept { return kind_; }
  bool is_one() const noexcept { return kind_ == EmlKind::One; }
  bool is_eml() const noexcept { return kind_ == EmlKind::Eml; }
  double value() const noexcept { return value_; }        // Const only
  std::size_t index() const noexcept { return index_; }   // Var only
  const NodePtr& left() const noexcept { return left_; }  // Eml only
  const NodePtr& right() const noexcept { return right_; }

  EmlNode(Key, EmlKind kind, double value, std::size_t index, NodePtr left, NodePtr right)
      : kind_(kind), value_(value), index_(index), left_(std::move(left)), right_(std::move(right)) {}

 private:
  EmlKind kind_;
  double value_;
  std::size_t index_;
  NodePtr left_;
  NodePtr right_;
};

std::size_t node_size(const EmlNode& node);
// One more than the highest variable index, 0 without variables.
std::size_t count_vars(const EmlNode& node);
// Appends the text form: "1", constants with six decimals, "x3", "eml(l, r)".
void write_node(const EmlNode& node, std::string& out);

struct EmlTree {
  NodePtr root;
  std::size_t num_vars = 0;

  static EmlTree from_node(NodePtr root);
  static EmlTree eml(const EmlTree& left, const EmlTree& right);
  std::size_t size() const { return node_size(*root); }
};

std::string to_string(const EmlTree& tree);

}  // namespace tarvex::tree
