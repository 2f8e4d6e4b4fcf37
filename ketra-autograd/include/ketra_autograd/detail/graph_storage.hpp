#pragma once
// The storage behind a graph: node records, the arena of operation objects and input id
// lists, and the index from variables to their nodes. The graph hands it on to the next
// graph on the thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ketra_autograd/small_vec.hpp"
#include "ketra_autograd/tensor.hpp"
#include "ketra_autograd/variable_id.hpp"

namespace ketra_autograd::graph::detail {

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

}  // namespace ketra_autograd::graph::detail
