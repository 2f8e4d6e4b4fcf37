#include "ketra_autograd/graph.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/tensor_ops/basic_source_ops.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::graph {

namespace detail {

namespace {

tensor::TensorInternal* allocate_chunk() {
  return static_cast<tensor::TensorInternal*>(
      ::operator new(sizeof(tensor::TensorInternal) * NodeStore::chunk_size));
}

}  // namespace

NodeStore::NodeStore(std::size_t reserved) {
  for (std::size_t room = 0; room < reserved; room += chunk_size) chunks_.push_back(allocate_chunk());
}

NodeStore::~NodeStore() {
  for (std::size_t id = 0; id < size_; ++id) chunks_[id >> chunk_bits][id & (chunk_size - 1)].~TensorInternal();
  for (tensor::TensorInternal* chunk : chunks_) ::operator delete(chunk);
}

void NodeStore::push_back(tensor::TensorInternal&& node) {
  if (size_ == chunks_.size() * chunk_size) chunks_.push_back(allocate_chunk());
  new (&chunks_[size_ >> chunk_bits][size_ & (chunk_size - 1)]) tensor::TensorInternal(std::move(node));
  ++size_;
}

InputIdStore::InputIdStore(std::size_t reserved_nodes) { lists_.reserve(reserved_nodes); }

InputIdStore::~InputIdStore() {
  for (std::uint32_t* block : blocks_) delete[] block;
}

void InputIdStore::push_back(const tensor::InputList& inputs) {
  if (inputs.size() > room_) {
    const std::size_t size = std::max(block_ids, inputs.size());
    std::unique_ptr<std::uint32_t[]> block(new std::uint32_t[size]);
    blocks_.push_back(block.get());
    free_ = block.release();
    room_ = size;
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) free_[i] = static_cast<std::uint32_t>(inputs[i].id);
  lists_.emplace_back(free_, inputs.size());
  free_ += inputs.size();
  room_ -= inputs.size();
}

}  // namespace detail

Graph::Graph(std::size_t reserved) : nodes_(reserved), input_ids_(reserved) {}

std::size_t Graph::install(tensor::TensorInternal&& node) {
  const std::size_t n = nodes_.size();
  if (n == warning_node_count) {
    std::fputs(
        "Too many tensors in this graph: 50000. Use Graph::clear, or move the training loop out of "
        "the `run` block\n",
        stderr);
  } else if (n > max_node_count) {
    support::panic(
        "Maximum graph size exceeded: 500000. Use Graph::clear, or move the training loop out of the "
        "`run` block");
  }
  node.id = n;
  input_ids_.push_back(node.inputs);
  nodes_.push_back(std::move(node));
  return n;
}

void Graph::missing_node(std::size_t id) const {
  support::panic("node id {} is not in a graph of {} nodes", id, nodes_.size());
}

tensor::Tensor Graph::variable_by_id(variable::VariableID id) {
  if (const auto found = variable_map_.find(id); found != variable_map_.end()) {
    return tensor::Tensor(*this, found->second);
  }
  const tensor::Tensor made =
      tensor::TensorBuilder(*this).set_variable(id).build(tensor_ops::basic_source_ops::Variable{});
  variable_map_.emplace(id, made.id());
  return made;
}

tensor::Tensor Context::placeholder(std::string_view name, std::span<const std::int64_t> shape) {
  for (std::size_t id = 0; id < num_nodes(); ++id) {
    const auto& existing = node(id).placeholder_name;
    if (existing && *existing == name) return tensor::Tensor(*this, id);
  }
  return tensor::TensorBuilder(*this)
      .set_known_shape(tensor::KnownShape(shape))
      .set_placeholder_name(name)
      .build(tensor_ops::basic_source_ops::Placeholder{});
}

evaluation::Evaluator Context::evaluator() { return evaluation::Evaluator(*this); }

}  // namespace ketra_autograd::graph
