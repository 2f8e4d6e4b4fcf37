#include "ketra_autograd/tensor.hpp"

#include <algorithm>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor {

std::vector<std::size_t> Tensor::shape() const {
  const TensorInternal& node = graph_->node(id_);
  std::vector<std::size_t> dims;
  if (!node.known_shape) return dims;
  for (std::int64_t d : node.known_shape->dims()) dims.push_back(d < 0 ? 0 : static_cast<std::size_t>(d));
  return dims;
}

Tensor Tensor::get_backprop_input(std::size_t i) const {
  const TensorInternal& node = graph_->node(id_);
  const InputList& inputs = node.backprop_inputs ? *node.backprop_inputs : node.inputs;
  if (i >= inputs.size()) {
    support::panic("node {} has {} inputs; input {} was asked for", id_, inputs.size(), i);
  }
  return Tensor(*graph_, inputs[i].id);
}

Tensor Tensor::from_vec(std::vector<double> data, std::vector<std::size_t> shape, graph::Graph& graph) {
  auto array = ArrayD::from_shape_vec(shape, data);
  if (!array) {
    support::panic("Tensor::from_vec: {} values cannot fill the shape {}", data.size(),
                   support::debug_list<std::size_t>(shape));
  }
  return tensor_ops::convert_to_tensor(std::move(*array), graph);
}

KnownShape::KnownShape(std::span<const std::int64_t> dims) : dims_(dims) {
  for (std::int64_t d : dims) {
    if (d == -1) {
      is_fully_defined_ = false;
    } else if (d < -1) {
      support::panic("Given shape ({}) contains invalid dim size(s)", support::debug_list<std::int64_t>(dims));
    }
  }
}

void OpBox::destroy() noexcept { op_->~Op(); }

void TensorInternal::missing_op() { support::panic("bad impl: Op is now stolen in gradient.rs"); }

void TensorBuilder::foreign_tensor() { support::panic("Detected tensors belonging to different graphs"); }

void* TensorBuilder::op_storage(std::size_t size, std::size_t align) { return graph_->allocate_op(size, align); }

Tensor TensorBuilder::build_boxed(OpBox op) {
  std::size_t rank = 0;
  for (const Input& input : node_.inputs) rank = std::max(rank, graph_->node(input.id).topo_rank + 1);
  node_.topo_rank = rank;
  node_.op = std::move(op);
  const std::size_t id = graph_->install(std::move(node_));
  return Tensor(*graph_, id);
}

namespace {

Tensor int_list_tensor(std::span<const std::int32_t> values, graph::Graph& graph) {
  SmallVec<double, 2> converted;
  for (std::int32_t v : values) converted.push_back(static_cast<double>(v));
  return tensor_ops::convert_to_tensor(ArrayD::from_vec(converted), graph);
}

}  // namespace

Tensor as_tensor(std::array<std::int32_t, 1> values, graph::Graph& graph) { return int_list_tensor(values, graph); }
Tensor as_tensor(std::array<std::int32_t, 2> values, graph::Graph& graph) { return int_list_tensor(values, graph); }

}  // namespace ketra_autograd::tensor
