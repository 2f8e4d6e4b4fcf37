#include "ketra_autograd/graph.hpp"

#include <algorithm>
#include <bit>
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
  return static_cast<tensor::TensorInternal*>(::operator new(sizeof(tensor::TensorInternal) * NodeStore::chunk_size));
}

// Storage of graphs above these sizes is freed rather than kept for the next graph (a
// chunk of records is about 55 KiB).
constexpr std::size_t kept_records = std::size_t{1} << 12;
constexpr std::size_t kept_arena_bytes = std::size_t{1} << 20;

}  // namespace

NodeStore::~NodeStore() {
  clear();
  for (tensor::TensorInternal* chunk : chunks_) ::operator delete(chunk);
}

void NodeStore::reserve(std::size_t records) {
  while (capacity() < records) chunks_.push_back(allocate_chunk());
}

void NodeStore::push_back(tensor::TensorInternal&& node) {
  if (size_ == capacity()) chunks_.push_back(allocate_chunk());
  new (&chunks_[size_ >> chunk_bits][size_ & (chunk_size - 1)]) tensor::TensorInternal(std::move(node));
  ++size_;
}

void NodeStore::clear() noexcept {
  for (std::size_t id = 0; id < size_; ++id) chunks_[id >> chunk_bits][id & (chunk_size - 1)].~TensorInternal();
  size_ = 0;
}

void Arena::advance(std::size_t size) {
  std::size_t next = blocks_.empty() ? 0 : current_ + 1;
  while (next < blocks_.size() && blocks_[next].size < size) ++next;
  if (next == blocks_.size()) {
    const std::size_t bytes = std::max(block_bytes, size);
    blocks_.push_back(Block{std::make_unique_for_overwrite<std::byte[]>(bytes), bytes});
    capacity_ += bytes;
  }
  current_ = next;
  used_ = 0;
}

void Arena::clear() noexcept {
  current_ = 0;
  used_ = 0;
}

std::size_t VariableIndex::home(std::size_t key) const noexcept {
  // Fibonacci hashing: consecutive ids land far apart.
  return (key * 0x9e3779b97f4a7c15ULL) >> (64 - std::countr_zero(slots_.size()));
}

std::optional<std::size_t> VariableIndex::find(variable::VariableID id) const noexcept {
  if (count_ == 0) return std::nullopt;
  const std::size_t key = id.value + 1;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = home(key);; at = (at + 1) & mask) {
    if (slots_[at].key == key) return slots_[at].node;
    if (slots_[at].key == 0) return std::nullopt;
  }
}

void VariableIndex::insert(variable::VariableID id, std::size_t node) {
  if (2 * (count_ + 1) > slots_.size()) grow();
  const std::size_t key = id.value + 1;
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = home(key);
  while (slots_[at].key != 0) at = (at + 1) & mask;
  slots_[at] = Slot{key, node};
  ++count_;
}

void VariableIndex::grow() {
  std::vector<Slot> old(std::max<std::size_t>(16, 2 * slots_.size()));
  old.swap(slots_);
  count_ = 0;
  for (const Slot& slot : old) {
    if (slot.key != 0) insert(variable::VariableID{slot.key - 1}, slot.node);
  }
}

void VariableIndex::clear() noexcept {
  if (count_ == 0) return;
  std::fill(slots_.begin(), slots_.end(), Slot{});
  count_ = 0;
}

bool GraphStorage::recycle() noexcept {
  nodes.clear();
  input_ids.clear();
  arena.clear();
  variables.clear();
  return nodes.capacity() <= kept_records && arena.capacity() <= kept_arena_bytes;
}

}  // namespace detail

Graph::Graph(std::size_t reserved) {
  nodes_.reserve(reserved);
  storage_->input_ids.reserve(reserved);
}

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
  record_input_ids(node.inputs);
  nodes_.push_back(std::move(node));
  return n;
}

void Graph::record_input_ids(const tensor::InputList& inputs) {
  auto* ids = static_cast<std::uint32_t*>(
      storage_->arena.allocate(inputs.size() * sizeof(std::uint32_t), alignof(std::uint32_t)));
  for (std::size_t i = 0; i < inputs.size(); ++i) ids[i] = static_cast<std::uint32_t>(inputs[i].id);
  storage_->input_ids.emplace_back(ids, inputs.size());
}

void Graph::missing_node(std::size_t id) const {
  support::panic("node id {} is not in a graph of {} nodes", id, nodes_.size());
}

tensor::Tensor Graph::variable_by_id(variable::VariableID id) {
  if (const std::optional<std::size_t> found = storage_->variables.find(id)) return tensor::Tensor(*this, *found);
  const tensor::Tensor made =
      tensor::TensorBuilder(*this).set_variable(id).build(tensor_ops::basic_source_ops::Variable{});
  storage_->variables.insert(id, made.id());
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
