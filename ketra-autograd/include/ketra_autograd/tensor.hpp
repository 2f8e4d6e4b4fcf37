#pragma once
// Tensor handles, node records and the builder through which every node enters a graph.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "ketra_autograd/detail/borrowed_name.hpp"
#include "ketra_autograd/error.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/small_vec.hpp"
#include "ketra_autograd/variable_id.hpp"

namespace ketra_autograd::op {
class Op;
}
namespace ketra_autograd::graph {
class Graph;
class Context;
}  // namespace ketra_autograd::graph

namespace ketra_autograd::tensor {

// A copyable handle to one node of a graph: the graph and the node's id. Valid while the
// graph lives, that is inside the run function that made it.
class Tensor {
 public:
  Tensor(graph::Graph& graph, std::size_t id) noexcept : graph_(&graph), id_(id) {}

  std::size_t id() const noexcept { return id_; }
  graph::Graph& graph() const noexcept { return *graph_; }

  // The node's known shape with unknown dimensions read as 0; [] without a known shape.
  std::vector<std::size_t> shape() const;
  // Operand i of the node as the gradient pass sees it (backprop inputs when present).
  Tensor get_backprop_input(std::size_t i) const;
  // Evaluates this tensor alone, without feeds.
  std::expected<ArrayD, error::EvalError> eval(graph::Context& ctx) const;

  // A constant tensor of the data laid out row-major in the shape. A data length that
  // does not match the shape is a caller fault and panics.
  static Tensor from_vec(std::vector<double> data, std::vector<std::size_t> shape, graph::Graph& graph);

  friend bool operator==(const Tensor&, const Tensor&) = default;

 private:
  graph::Graph* graph_;
  std::size_t id_;
};

// The shape known when a node was built; -1 marks a dimension known only at evaluation.
class KnownShape {
 public:
  // Panics on a dimension below -1.
  explicit KnownShape(std::span<const std::int64_t> dims);

  std::span<const std::int64_t> dims() const noexcept { return dims_; }
  bool is_fully_defined() const noexcept { return is_fully_defined_; }

 private:
  SmallVec<std::int64_t, 4> dims_;
  bool is_fully_defined_ = true;
};

// One operand of a node.
struct Input {
  std::size_t id = 0;
  std::size_t selector = 0;
  bool is_mutable = false;
};
using InputList = SmallVec<Input, 2>;

// The owned operation of a node. Operation types without fields share one static
// instance; the others are constructed in their graph's storage and destroyed in place,
// so building a node allocates nothing.
class OpBox {
 public:
  OpBox() = default;
  OpBox(OpBox&& other) noexcept
      : op_(std::exchange(other.op_, nullptr)), placed_(std::exchange(other.placed_, false)) {}
  OpBox& operator=(OpBox&& other) noexcept {
    if (this != &other) {
      if (placed_) destroy();
      op_ = std::exchange(other.op_, nullptr);
      placed_ = std::exchange(other.placed_, false);
    }
    return *this;
  }
  OpBox(const OpBox&) = delete;
  OpBox& operator=(const OpBox&) = delete;
  ~OpBox() {
    if (placed_) destroy();
  }

  // The instance every node of the field-less type O shares; never destroyed, since a
  // thread still building graphs while the process exits may use it.
  template <typename O>
  static OpBox shared() {
    static const O* const instance = new O{};
    return OpBox(instance, false);
  }
  // An operation constructed in storage that outlives the box; the box destroys it.
  static OpBox placed(const op::Op* op) noexcept { return OpBox(op, true); }

  const op::Op* get() const noexcept { return op_; }
  explicit operator bool() const noexcept { return op_ != nullptr; }

 private:
  OpBox(const op::Op* op, bool placed) noexcept : op_(op), placed_(placed) {}
  // Runs the placed operation's destructor; its storage belongs to the graph.
  void destroy() noexcept;

  const op::Op* op_ = nullptr;
  bool placed_ = false;
};

// A node record of a graph.
struct TensorInternal {
  std::optional<std::size_t> shape;  // the node computing this node's shape, when known
  std::optional<variable::VariableID> variable_id;
  InputList inputs;
  std::unique_ptr<InputList> backprop_inputs;  // overrides `inputs` for the gradient pass
  std::optional<KnownShape> known_shape;
  std::size_t id = 0;
  OpBox op;
  std::size_t topo_rank = 0;
  std::optional<std::string_view> placeholder_name;  // must outlive the graph
  bool is_differentiable = true;

  // The operation; a node whose operation is taken out panics.
  const op::Op& get_op() const {
    if (!op) [[unlikely]]
      missing_op();
    return *op.get();
  }

 private:
  [[noreturn]] static void missing_op();
};

// Fills in one node and adds it to a graph.
class TensorBuilder {
 public:
  explicit TensorBuilder(graph::Graph& graph) noexcept : graph_(&graph) {}

  TensorBuilder& set_shape(Tensor shape) {
    require_same_graph(shape);
    node_.shape = shape.id();
    return *this;
  }
  TensorBuilder& set_variable(variable::VariableID id) {
    node_.variable_id = id;
    return *this;
  }
  // Appends an operand (selector 0); it must belong to the builder's graph.
  TensorBuilder& append_input_with_selector(Tensor input, bool is_mutable = false) {
    require_same_graph(input);
    node_.inputs.push_back(Input{input.id(), 0, is_mutable});
    return *this;
  }
  TensorBuilder& set_known_shape(KnownShape shape) {
    node_.known_shape = std::move(shape);
    return *this;
  }
  // The node keeps a view of the name: it must outlive the graph (no temporary string).
  TensorBuilder& set_placeholder_name(std::string_view name) {
    node_.placeholder_name = name;
    return *this;
  }
  template <ketra_autograd::detail::TemporaryString S>
  TensorBuilder& set_placeholder_name(S&& name) = delete;
  TensorBuilder& set_differentiable(bool differentiable) {
    node_.is_differentiable = differentiable;
    return *this;
  }

  template <typename O>
  Tensor build(O op) {
    static_assert(std::is_base_of_v<op::Op, O> && alignof(O) <= alignof(std::max_align_t));
    // Nothing but the vtable pointer: every object of the type is the same.
    if constexpr (sizeof(O) == sizeof(void*) && std::is_default_constructible_v<O>) {
      return build_boxed(OpBox::shared<O>());
    } else {
      return build_boxed(OpBox::placed(new (op_storage(sizeof(O), alignof(O))) O(std::move(op))));
    }
  }

 private:
  Tensor build_boxed(OpBox op);
  // Room for an operation object in the graph's storage.
  void* op_storage(std::size_t size, std::size_t align);
  void require_same_graph(const Tensor& tensor) const {
    if (&tensor.graph() != graph_) [[unlikely]]
      foreign_tensor();
  }
  [[noreturn]] static void foreign_tensor();

  graph::Graph* graph_;
  TensorInternal node_;
};

// Small integer lists (axes, permutations) as constant 1-D tensors.
Tensor as_tensor(std::array<std::int32_t, 1> values, graph::Graph& graph);
Tensor as_tensor(std::array<std::int32_t, 2> values, graph::Graph& graph);

}  // namespace ketra_autograd::tensor
