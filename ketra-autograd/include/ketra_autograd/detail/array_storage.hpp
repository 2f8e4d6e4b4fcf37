#pragma once
// The storage behind an array, and the per-thread pool that recycles it.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ketra_autograd/detail/recycled.hpp"

namespace ketra_autograd::detail {

// One array in one allocation: this header, then the elements. Blocks are recycled per
// thread by power-of-two size, so an evaluation mostly reuses the arrays the previous
// node dropped, and moving an array moves one pointer.
struct Block {
  static constexpr std::size_t inline_rank = 5;

  std::size_t len;
  std::uint32_t rank;
  std::uint32_t size_class;
  std::size_t* dims;  // inline_dims, or a separate array beyond inline_rank axes
  std::size_t inline_dims[inline_rank];

  double* elements() noexcept { return reinterpret_cast<double*>(this + 1); }
  const double* elements() const noexcept { return reinterpret_cast<const double*>(this + 1); }
};
static_assert(sizeof(Block) == 64);

// Freed blocks are kept per thread by power-of-two size class. The pool is trivially
// destructible, so it stays usable while other thread-local objects are torn down; a
// reaper empties it when the thread ends and stops further pooling.
inline constexpr std::size_t pooled_per_class = 64;
// Large blocks are kept in fewer numbers, so that an idle thread holds at most about 1 MiB
// per size class (8 MiB in all) instead of 64 blocks of every size it ever used.
inline constexpr std::size_t pooled_bytes_per_class = std::size_t{1} << 20;
// While an ArrayReuseScope is open, the thread keeps up to this many bytes more, of any
// size class: arrays as long as the data then come back step after step of a fit instead
// of being mapped afresh and handed back to the system each time.
inline constexpr std::size_t scoped_extra_bytes = std::size_t{256} << 20;
inline constexpr std::size_t pooled_classes = std::bit_width(scoped_extra_bytes);  // up to 256 MiB
struct BlockPool {
  Block* free[pooled_classes][pooled_per_class];
  std::size_t count[pooled_classes];
  std::size_t open_scopes;
  bool open;  // true once the reaper is registered, false before and after it
};
inline constexpr std::size_t idle_capacity(std::size_t cls) noexcept {
  const std::size_t capacity = pooled_bytes_per_class >> cls;
  return capacity < pooled_per_class ? capacity : pooled_per_class;
}
// Room within the idle bound; the out-of-line release also looks at the scoped allowance.
inline bool pool_has_room(const BlockPool& pool, std::size_t cls) noexcept {
  return pooling && pool.open && pool.count[cls] < idle_capacity(cls);
}
extern constinit thread_local BlockPool block_pool;

// The most elements an array may hold: its block must have a power-of-two size class
// that a machine word can hold.
inline constexpr std::size_t max_element_count = ((std::size_t{1} << 63) - sizeof(Block)) / sizeof(double);

// Needs len <= max_element_count.
inline std::size_t size_class(std::size_t len) noexcept {
  return static_cast<std::size_t>(std::bit_width(sizeof(Block) + len * sizeof(double) - 1));
}

// The rare paths: a block from the heap, external dims, a block the pool cannot take.
Block* new_block(std::size_t cls);
void give_external_dims(Block& block);
void release_unpooled(Block* block) noexcept;

inline Block* allocate_block(std::size_t len, std::span<const std::size_t> shape) {
  const std::size_t cls = size_class(len);
  Block* block = cls < pooled_classes && block_pool.count[cls] > 0 ? block_pool.free[cls][--block_pool.count[cls]]
                                                                   : new_block(cls);
  block->len = len;
  block->size_class = static_cast<std::uint32_t>(cls);
  block->rank = static_cast<std::uint32_t>(shape.size());
  if (shape.size() > Block::inline_rank) [[unlikely]]
    give_external_dims(*block);
  for (std::size_t axis = 0; axis < shape.size(); ++axis) block->dims[axis] = shape[axis];
  return block;
}

inline void release_block(Block* block) noexcept {
  const std::size_t cls = block->size_class;
  if (cls < pooled_classes && pool_has_room(block_pool, cls) && block->dims == block->inline_dims) [[likely]] {
    block_pool.free[cls][block_pool.count[cls]++] = block;
    return;
  }
  release_unpooled(block);
}
// The block of every empty array (shape [0]); shared, never written, never released.
extern Block empty_array_block;
inline Block* empty_block() noexcept { return &empty_array_block; }
// Replaces the block's shape by one of the same element count.
void reshape_block(Block& block, std::span<const std::size_t> shape);

// Panics, naming the shape: its element count exceeds max_element_count.
[[noreturn]] void shape_too_large(std::span<const std::size_t> shape);

}  // namespace ketra_autograd::detail
