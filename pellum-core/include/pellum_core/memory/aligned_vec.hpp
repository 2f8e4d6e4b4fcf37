#pragma once
// The heap buffer of every temporary of the dense kernels: zero-initialised, 64-byte
// aligned, owned, never resized or shared. Released memory is kept by its thread for
// reuse (at most 4 blocks of at most 4 MiB each), so that a product called in a loop
// does not map and fault in fresh pages on every call.
#include <cstddef>
#include <span>
#include <utility>

namespace pellum_core::memory::aligned_vec {

inline constexpr std::size_t alignment = 64;

// Elements of T in one 64-byte line: 8 for double, 16 for float.
template <typename T>
inline constexpr std::size_t elements_per_line = alignment / sizeof(T);

// The column stride of a matrix copy of `rows` rows: rows rounded up to a whole line
// (order 9 gives 16 for both double and float; order 17 gives 24 for double, 32 for
// float). Panics "Invalid layout: LayoutError" when the rounding overflows.
template <typename T>
std::size_t padded_stride(std::size_t rows);

namespace detail {
// Memory as the allocator handed it out: the block to free and its usable bytes from the
// first 64-byte boundary.
struct Block {
  void* raw = nullptr;
  std::size_t bytes = 0;
};
// Allocates `count` elements of `size` bytes aligned to 64, all bits clear if `zeroed`,
// from the thread's kept blocks or the system; returns the aligned address and stores the
// block. Panics "Invalid layout: LayoutError" when count·size overflows or reaches
// 2^63 − 63 bytes; an allocation the system refuses writes "memory allocation of N bytes
// failed" and aborts.
void* allocate(std::size_t count, std::size_t size, bool zeroed, Block& block);
// Keeps the block for the thread's next allocations or frees it; nothing for no block.
void release(Block block) noexcept;
[[noreturn]] void invalid_layout();
}  // namespace detail

template <typename T>
class AlignedVec {
 public:
  // Empty: nothing allocated, data() a non-null, aligned placeholder.
  AlignedVec() noexcept = default;

  // n elements, all bits clear (+0.0). zeros_in(0) allocates nothing.
  static AlignedVec zeros_in(std::size_t n) { return allocated(n, true); }

  // n elements of unspecified value, for scratch whose every element is written before it
  // is read; the clearing is skipped. for_overwrite(0) allocates nothing.
  static AlignedVec for_overwrite(std::size_t n) { return allocated(n, false); }

  AlignedVec(const AlignedVec&) = delete;
  AlignedVec& operator=(const AlignedVec&) = delete;
  AlignedVec(AlignedVec&& other) noexcept { swap(other); }
  AlignedVec& operator=(AlignedVec&& other) noexcept {
    AlignedVec(std::move(other)).swap(*this);
    return *this;
  }
  ~AlignedVec() { detail::release(block_); }

  T* data() noexcept { return ptr_; }
  const T* data() const noexcept { return ptr_; }
  std::size_t len() const noexcept { return len_; }
  std::size_t capacity() const noexcept { return cap_; }
  std::span<T> as_slice() noexcept { return {ptr_, len_}; }
  std::span<const T> as_slice() const noexcept { return {ptr_, len_}; }

 private:
  static AlignedVec allocated(std::size_t n, bool zeroed) {
    AlignedVec out;
    if (n == 0) return out;
    out.ptr_ = static_cast<T*>(detail::allocate(n, sizeof(T), zeroed, out.block_));
    out.len_ = out.cap_ = n;
    return out;
  }
  void swap(AlignedVec& other) noexcept {
    std::swap(ptr_, other.ptr_);
    std::swap(len_, other.len_);
    std::swap(cap_, other.cap_);
    std::swap(block_, other.block_);
  }

  // A dangling but aligned placeholder while nothing is allocated.
  T* ptr_ = reinterpret_cast<T*>(alignment);
  std::size_t len_ = 0;
  std::size_t cap_ = 0;
  detail::Block block_;
};

template <typename T>
std::size_t padded_stride(std::size_t rows) {
  constexpr std::size_t unit = elements_per_line<T>;
  static_assert(unit * sizeof(T) == alignment, "an element size must divide a line");
  const std::size_t lines = rows / unit + (rows % unit != 0);
  if (lines > static_cast<std::size_t>(-1) / unit) detail::invalid_layout();
  return lines * unit;
}

}  // namespace pellum_core::memory::aligned_vec
