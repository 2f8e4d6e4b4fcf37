#pragma once
// The computation graph: node records in id order plus the map from environment
// variables to their nodes, the context that pairs a graph with its variable environment,
// and the run functions that give a closure a fresh graph: this one's and the variable
// environment's, which need both the environment and the context complete.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "ketra_autograd/detail/borrowed_name.hpp"
#include "ketra_autograd/detail/graph_storage.hpp"
#include "ketra_autograd/detail/recycled.hpp"
#include "ketra_autograd/tensor.hpp"
#include "ketra_autograd/variable.hpp"
#include "ketra_autograd/variable_id.hpp"

namespace ketra_autograd::evaluation {
class Evaluator;
}

namespace ketra_autograd::graph {

inline constexpr std::size_t warning_node_count = 50000;
inline constexpr std::size_t max_node_count = 500000;

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
    if (id >= nodes_.size()) [[unlikely]]
      missing_node(id);
    return nodes_[id];
  }
  // The ids of a node's inputs, in input order: a compact copy of the records' input
  // lists that the evaluator walks without touching the records. Valid while the graph
  // lives, also across the addition of further nodes.
  std::span<const std::uint32_t> input_ids(std::size_t id) const {
    if (id >= nodes_.size()) [[unlikely]]
      missing_node(id);
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
