#pragma once
// The computation graph: node records in id order plus the map from environment
// variables to their nodes, the context that pairs a graph with its variable environment,
// and the run function that gives a closure a fresh graph.
//
// graph.hpp and variable.hpp include each other: the run functions need both the
// environment and the context complete. Whichever is included first, both end up defined.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ketra_autograd/detail/borrowed_name.hpp"
#include "ketra_autograd/detail/recycled.hpp"
#include "ketra_autograd/small_vec.hpp"
#include "ketra_autograd/tensor.hpp"
#include "ketra_autograd/variable.hpp"
#include "ketra_autograd/variable_id.hpp"

namespace ketra_autograd::evaluation {
class Evaluator;
}

namespace ketra_autograd::graph {

inline constexpr std::size_t warning_node_count = 50000;
inline constexpr std::size_t max_node_count = 500000;

namespace detail {

// Node records in fixed-size chunks. A record never moves once installed, so a reference
// to it stays valid while builders append further nodes.
class NodeStore {
 public:
  static constexpr std::size_t chunk_bits = 8;
  static constexpr std::size_t chunk_size = std::size_t{1} << chunk_bits;

  NodeStore() = default;
  NodeStore(const NodeStore&) = delete;
  NodeStore& operator=(const NodeStore&) = delete;
  ~NodeStore();

  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return chunks_.size() * chunk_size; }
  const tensor::TensorInternal& operator[](std::size_t id) const noexcept {
    return chunks_[id >> chunk_bits][id & (chunk_size - 1)];
  }
  // Room for `records` records without allocating.
  void reserve(std::size_t records);
  void push_back(tensor::TensorInternal&& node);
  // Destroys every record; the chunks stay for the next records.
  void clear() noexcept;

 private:
  SmallVec<tensor::TensorInternal*, 4> chunks_;
  std::size_t size_ = 0;
};

// Bump allocation in blocks that are never moved or freed while the graph lives: the
// operation objects and input id lists of its nodes. clear() makes all of it free again.
class Arena {
 public:
  static constexpr std::size_t block_bytes = 4096;

  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // `align` must not exceed alignof(std::max_align_t).
  void* allocate(std::size_t size, std::size_t align) {
    std::size_t start = (used_ + align - 1) & ~(align - 1);
    if (current_ >= blocks_.size() || start + size > blocks_[current_].size) [[unlikely]] {
      advance(size);
      start = 0;
    }
    used_ = start + size;
    return blocks_[current_].bytes.get() + start;
  }
  void clear() noexcept;
  std::size_t capacity() const noexcept { return capacity_; }

 private:
  struct Block {
    std::unique_ptr<std::byte[]> bytes;
    std::size_t size;
  };
  // Moves to the next block that holds `size` bytes, adding one where none does.
  void advance(std::size_t size);

  std::vector<Block> blocks_;
  std::size_t current_ = 0;  // the block being filled, when there is one
  std::size_t used_ = 0;     // bytes of it handed out
  std::size_t capacity_ = 0;
};

// The graph's node of each variable it reads: an open-addressing table from VariableID
// to node id, emptied in place for the next graph.
class VariableIndex {
 public:
  // The node of the variable, or nothing.
  std::optional<std::size_t> find(variable::VariableID id) const noexcept;
  // The variable must not have a node yet.
  void insert(variable::VariableID id, std::size_t node);
  void clear() noexcept;

 private:
  struct Slot {
    std::size_t key = 0;  // the id's value + 1; 0 marks a free slot
    std::size_t node = 0;
  };
  std::size_t home(std::size_t key) const noexcept;
  void grow();

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

// Everything a graph allocates, handed from each graph to the next on the thread.
struct GraphStorage {
  Arena arena;  // first, so that it outlives the operations the records destroy
  NodeStore nodes;
  // The input ids of every node, by node id, in the arena: the evaluator walks these
  // instead of the records.
  std::vector<std::span<const std::uint32_t>> input_ids;
  VariableIndex variables;

  // Empties the storage; false when it grew too large to keep.
  bool recycle() noexcept;
};

}  // namespace detail

class Graph {
 public:
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // Appends a complete record and returns its id. Writes a warning to standard error when
  // the 50001st node is added; panics beyond 500001 nodes.
  std::size_t install(tensor::TensorInternal&& node);
  std::size_t num_nodes() const noexcept { return nodes_.size(); }
  // The record of a node; panics on an id the graph does not hold.
  const tensor::TensorInternal& node(std::size_t id) const {
    if (id >= nodes_.size()) [[unlikely]] missing_node(id);
    return nodes_[id];
  }
  // The ids of a node's inputs, in input order: a compact copy of the records' input
  // lists that the evaluator walks without touching the records. Valid while the graph
  // lives, also across the addition of further nodes.
  std::span<const std::uint32_t> input_ids(std::size_t id) const {
    if (id >= nodes_.size()) [[unlikely]] missing_node(id);
    return storage_->input_ids[id];
  }
  // Storage for an operation object of the graph, released with the graph.
  void* allocate_op(std::size_t size, std::size_t align) { return storage_->arena.allocate(size, align); }

  // The graph's node for the variable, added on first request.
  tensor::Tensor variable_by_id(variable::VariableID id);
  // The graph's node for the variable of that name in the namespace; panics when the
  // environment has no such variable.
  tensor::Tensor variable_by_name(std::string name, const variable::VariableNamespace& ns);

 protected:
  explicit Graph(std::size_t reserved);
  ~Graph() = default;

 private:
  [[noreturn]] void missing_node(std::size_t id) const;
  void record_input_ids(const tensor::InputList& inputs);

  ketra_autograd::detail::Recycled<detail::GraphStorage> storage_;
  detail::NodeStore& nodes_ = storage_->nodes;  // the records, by the name they are used under
};

// A graph together with the environment its variable nodes read. Every graph operation
// is available on the context. Tensors point at it, so it never moves.
class Context : public Graph {
 public:
  Context(variable::VariableEnvironment& env, std::size_t reserved) : Graph(reserved), env_(&env) {}

  variable::VariableEnvironment& env() const noexcept { return *env_; }
  // The graph's placeholder of that name, added with the shape (-1: known at evaluation)
  // on first request. The node keeps a view of the name, so it must outlive the graph (no
  // temporary string).
  tensor::Tensor placeholder(std::string_view name, std::span<const std::int64_t> shape);
  tensor::Tensor placeholder(std::string_view name, std::initializer_list<std::int64_t> shape) {
    return placeholder(name, std::span<const std::int64_t>(shape.begin(), shape.size()));
  }
  template <ketra_autograd::detail::TemporaryString S>
  tensor::Tensor placeholder(S&& name, std::span<const std::int64_t> shape) = delete;
  template <ketra_autograd::detail::TemporaryString S>
  tensor::Tensor placeholder(S&& name, std::initializer_list<std::int64_t> shape) = delete;
  evaluation::Evaluator evaluator();

 private:
  variable::VariableEnvironment* env_;
};

inline constexpr std::size_t run_reserved_nodes = 512;

// Runs the closure once on a fresh graph over a fresh, empty environment; both are
// released when it returns.
template <typename F>
auto run(F&& f) {
  variable::VariableEnvironment env;
  Context ctx(env, run_reserved_nodes);
  return std::forward<F>(f)(ctx);
}

}  // namespace ketra_autograd::graph

namespace ketra_autograd::variable {

inline constexpr std::size_t env_run_reserved_nodes = 256;

template <typename F>
auto VariableEnvironment::run(F&& f) {
  graph::Context ctx(*this, env_run_reserved_nodes);
  return std::forward<F>(f)(ctx);
}

}  // namespace ketra_autograd::variable
