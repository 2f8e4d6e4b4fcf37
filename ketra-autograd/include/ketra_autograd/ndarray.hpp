#pragma once
// The n-dimensional array of doubles that every tensor value is: dynamic rank (0-d
// included), contiguous, row-major and owned. Arrays here are small (about a hundred
// elements) and made by the thousand, so each is one recycled allocation holding its
// shape and its elements, and shape lists elsewhere live inline.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ketra_autograd/detail/recycled.hpp"
#include "ketra_autograd/small_vec.hpp"
#include "support/cpu_features.hpp"

namespace ketra_autograd {

using Dims = SmallVec<std::size_t, 4>;
using Strides = SmallVec<std::ptrdiff_t, 4>;

// The error of a reshape or broadcast whose shapes do not fit.
struct ShapeError {
  // "ShapeError/IncompatibleShape: incompatible shapes"
  std::string debug() const;
};

// One axis of a slice: start, optional end (exclusive) and step; negative start and end
// count from the end of the axis.
struct SliceElem {
  std::int64_t start = 0;
  std::optional<std::int64_t> end;
  std::int64_t step = 1;
  friend bool operator==(const SliceElem&, const SliceElem&) = default;
};

namespace detail {

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
  if (shape.size() > Block::inline_rank) [[unlikely]] give_external_dims(*block);
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

// Visits the positions of `shape` in row-major order and hands `visit` the offsets of two
// operands that start at base_a / base_b and move by the given per-axis strides (0 along
// a broadcast axis, negative for a reversed slice).
template <typename Visit>
void walk_strided(std::span<const std::size_t> shape, std::span<const std::ptrdiff_t> strides_a,
                  std::span<const std::ptrdiff_t> strides_b, std::ptrdiff_t base_a,
                  std::ptrdiff_t base_b, Visit&& visit) {
  const std::size_t rank = shape.size();
  for (std::size_t dim : shape) {
    if (dim == 0) return;
  }
  if (rank == 0) {
    visit(base_a, base_b);
    return;
  }
  const std::size_t last = rank - 1;
  const std::size_t inner = shape[last];
  const std::ptrdiff_t step_a = strides_a[last];
  const std::ptrdiff_t step_b = strides_b[last];
  Dims index(rank, 0);
  std::ptrdiff_t off_a = base_a;
  std::ptrdiff_t off_b = base_b;
  while (true) {
    for (std::size_t k = 0; k < inner; ++k) {
      const auto sk = static_cast<std::ptrdiff_t>(k);
      visit(off_a + sk * step_a, off_b + sk * step_b);
    }
    std::size_t axis = last;
    while (true) {
      if (axis == 0) return;
      --axis;
      off_a += strides_a[axis];
      off_b += strides_b[axis];
      if (++index[axis] < shape[axis]) break;
      const auto extent = static_cast<std::ptrdiff_t>(shape[axis]);
      off_a -= strides_a[axis] * extent;
      off_b -= strides_b[axis] * extent;
      index[axis] = 0;
    }
  }
}

[[noreturn]] void shape_too_large(std::span<const std::size_t> shape);

// dst[i] = element(i) for every i < n. Each element is its own few operations on its own
// operands, with no sum or contraction across lanes, so a wider vector unit yields the
// same bits as a narrow one.
template <typename Element>
[[gnu::always_inline]] inline void fill_lanes(double* dst, std::size_t n, Element& element) {
#pragma omp simd
  for (std::size_t i = 0; i < n; ++i) dst[i] = element(i);
}

template <typename Element>
[[gnu::target("avx2"), gnu::noinline]] void fill_lanes_avx2(double* dst, std::size_t n, Element& element) {
  fill_lanes(dst, n, element);
}

// fill_lanes on the widest vectors the processor has.
template <typename Element>
void fill_each(double* dst, std::size_t n, Element&& element) {
  if (support::cpu_features::detected().avx2) {
    fill_lanes_avx2(dst, n, element);
  } else {
    fill_lanes(dst, n, element);
  }
}

}  // namespace detail

// The element count of the shape; nothing when the lengths of its non-zero axes multiply
// beyond detail::max_element_count (a zero axis empties the array, but the other axes
// still bound its strides).
inline std::optional<std::size_t> checked_element_count(std::span<const std::size_t> shape) noexcept {
  std::size_t nonzero = 1;
  bool empty = false;
  for (std::size_t d : shape) {
    if (d == 0) {
      empty = true;
    } else if (__builtin_mul_overflow(nonzero, d, &nonzero) || nonzero > detail::max_element_count) {
      return std::nullopt;
    }
  }
  return empty ? 0 : nonzero;
}

// The element count of the shape. Every array constructor sizes its storage by it, so a
// shape whose count would wrap panics instead of passing for a small array.
inline std::size_t element_count(std::span<const std::size_t> shape) {
  const std::optional<std::size_t> count = checked_element_count(shape);
  if (!count) [[unlikely]] detail::shape_too_large(shape);
  return *count;
}

class ArrayD {
 public:
  // An empty 1-D array (shape [0]); allocates nothing.
  ArrayD() noexcept : block_(detail::empty_block()) {}
  ArrayD(const ArrayD& other);
  ArrayD(ArrayD&& other) noexcept : block_(std::exchange(other.block_, detail::empty_block())) {}
  ArrayD& operator=(const ArrayD& other);
  ArrayD& operator=(ArrayD&& other) noexcept {
    std::swap(block_, other.block_);
    return *this;
  }
  ~ArrayD() {
    if (block_ != detail::empty_block()) detail::release_block(block_);
  }

  // Every factory from a shape panics when the shape's element count is not addressable
  // (see element_count).
  static ArrayD scalar(double value);
  static ArrayD zeros(std::span<const std::size_t> shape);
  static ArrayD from_elem(std::span<const std::size_t> shape, double value);
  // A 1-D array of the values.
  static ArrayD from_vec(std::span<const double> values);
  // The values laid out row-major in the shape; an error when the counts differ.
  static std::expected<ArrayD, ShapeError> from_shape_vec(std::span<const std::size_t> shape,
                                                          std::span<const double> values);
  // An array of the shape whose elements the caller overwrites before reading them.
  static ArrayD for_overwrite(std::span<const std::size_t> shape) {
    return ArrayD(detail::allocate_block(element_count(shape), shape));
  }

  std::span<const std::size_t> shape() const noexcept { return {block_->dims, block_->rank}; }
  std::size_t ndim() const noexcept { return block_->rank; }
  std::size_t len() const noexcept { return block_->len; }
  std::span<double> data() noexcept { return {block_->elements(), block_->len}; }
  std::span<const double> data() const noexcept { return {block_->elements(), block_->len}; }
  double operator[](std::size_t flat) const noexcept { return block_->elements()[flat]; }
  double& operator[](std::size_t flat) noexcept { return block_->elements()[flat]; }
  // Rank 0, or rank 1 of length 1.
  bool is_scalar_like() const noexcept { return ndim() == 0 || (ndim() == 1 && block_->dims[0] == 1); }
  // "[2, 3]", "[]".
  std::string shape_text() const;

  // The same elements in another shape of equal element count; panics like the factories.
  std::expected<ArrayD, ShapeError> into_shape(std::span<const std::size_t> shape) &&;
  // A copy whose axis j is this array's axis axes[j]; axes must be a permutation.
  ArrayD permuted(std::span<const std::size_t> axes) const;
  // A copy of the region selected by one slice element per axis.
  ArrayD sliced(std::span<const SliceElem> slice) const;
  // Writes `source`, broadcast to the region's shape, into the region of the slice.
  void assign_slice(std::span<const SliceElem> slice, const ArrayD& source);
  // A copy stretched to `shape` by the broadcasting rule.
  std::expected<ArrayD, ShapeError> broadcast_to(std::span<const std::size_t> shape) const;
  void insert_axis(std::size_t position);
  // Removes an axis of length 1.
  void remove_axis(std::size_t position);

  template <typename F>
  ArrayD map(F&& f) const {
    ArrayD out = for_overwrite(shape());
    const double* in = block_->elements();
    detail::fill_each(out.block_->elements(), len(), [&](std::size_t i) { return f(in[i]); });
    return out;
  }

  // Folds the lanes along `axis` in index order; the result lacks that axis.
  template <typename F>
  ArrayD fold_axis(std::size_t axis, double init, F&& f) const {
    const auto [outer, length, inner] = axis_split(axis);
    Dims kept;
    for (std::size_t i = 0; i < ndim(); ++i) {
      if (i != axis) kept.push_back(block_->dims[i]);
    }
    ArrayD out = from_elem(kept, init);
    const double* in = block_->elements();
    double* dst = out.block_->elements();
    if (inner == 1) {
      // One lane per result: a running value in a register instead of a store and reload
      // per element, in the same order.
      for (std::size_t o = 0; o < outer; ++o) {
        double acc = dst[o];
        for (std::size_t k = 0; k < length; ++k) acc = f(acc, in[o * length + k]);
        dst[o] = acc;
      }
      return out;
    }
    for (std::size_t o = 0; o < outer; ++o) {
      double* row = dst + o * inner;
      for (std::size_t k = 0; k < length; ++k) {
        const double* lane = in + (o * length + k) * inner;
        for (std::size_t i = 0; i < inner; ++i) row[i] = f(row[i], lane[i]);
      }
    }
    return out;
  }

  friend bool operator==(const ArrayD& a, const ArrayD& b);

 private:
  explicit ArrayD(detail::Block* block) noexcept : block_(block) {}

  struct AxisSplit {
    std::size_t outer, length, inner;
  };
  AxisSplit axis_split(std::size_t axis) const;
  // Gives the array a block of its own before its shape is changed in place.
  void unshare_empty();

  detail::Block* block_;
};

// Held by a loop that makes and drops arrays of many thousand elements over and over (a
// fit on large data): while one is open on a thread, the arrays the thread frees are kept
// for reuse up to detail::scoped_extra_bytes beyond its idle bound; when the outermost
// one closes, the thread frees what exceeds the idle bound. Closes on the thread it opened.
class ArrayReuseScope {
 public:
  ArrayReuseScope() noexcept;
  ~ArrayReuseScope();
  ArrayReuseScope(const ArrayReuseScope&) = delete;
  ArrayReuseScope& operator=(const ArrayReuseScope&) = delete;
};

// Row-major strides of a contiguous array of the shape.
Strides contiguous_strides(std::span<const std::size_t> shape);
// The shape two shapes broadcast to (trailing axes aligned, size 1 stretched), if any.
std::optional<Dims> broadcast_shape(std::span<const std::size_t> a, std::span<const std::size_t> b);
// Strides that read an array of shape `from` as if it had the broadcast shape `to`.
std::optional<Strides> broadcast_strides(std::span<const std::size_t> from,
                                         std::span<const std::size_t> to);

inline bool same_shape(std::span<const std::size_t> a, std::span<const std::size_t> b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

namespace detail {

// An array of the shape whose element i is element(i).
template <typename Element>
ArrayD filled(std::span<const std::size_t> shape, Element&& element) {
  ArrayD out = ArrayD::for_overwrite(shape);
  fill_each(out.data().data(), out.len(), element);
  return out;
}

}  // namespace detail

// f(a element, b element) with both operands stretched to `shape` by the broadcasting
// rule; nothing when either cannot be stretched to it. Operands already laid out like
// the result, and one-element operands against such an operand, take a plain loop.
template <typename F>
std::optional<ArrayD> zip_in_shape(const ArrayD& a, const ArrayD& b, std::span<const std::size_t> shape, F&& f) {
  const double* pa = a.data().data();
  const double* pb = b.data().data();
  if (same_shape(a.shape(), shape) && same_shape(b.shape(), shape)) {
    return detail::filled(shape, [&](std::size_t i) { return f(pa[i], pb[i]); });
  }
  const std::optional<Strides> sa = broadcast_strides(a.shape(), shape);
  const std::optional<Strides> sb = broadcast_strides(b.shape(), shape);
  if (!sa || !sb) return std::nullopt;
  const std::size_t count = element_count(shape);
  if (a.len() == 1 && b.len() == count) {
    const double s = pa[0];
    return detail::filled(shape, [&](std::size_t i) { return f(s, pb[i]); });
  }
  if (b.len() == 1 && a.len() == count) {
    const double s = pb[0];
    return detail::filled(shape, [&](std::size_t i) { return f(pa[i], s); });
  }
  ArrayD out = ArrayD::for_overwrite(shape);
  double* dst = out.data().data();
  detail::walk_strided(shape, *sa, *sb, 0, 0, [&](std::ptrdiff_t ia, std::ptrdiff_t ib) {
    *dst++ = f(pa[ia], pb[ib]);
  });
  return out;
}

// f applied to the elements of a and b paired by broadcasting.
template <typename F>
std::expected<ArrayD, ShapeError> zip_with(const ArrayD& a, const ArrayD& b, F&& f) {
  if (same_shape(a.shape(), b.shape())) {
    const double* pa = a.data().data();
    const double* pb = b.data().data();
    return detail::filled(a.shape(), [&](std::size_t i) { return f(pa[i], pb[i]); });
  }
  const std::optional<Dims> shape = broadcast_shape(a.shape(), b.shape());
  if (!shape) return std::unexpected(ShapeError{});
  return *zip_in_shape(a, b, *shape, f);
}

}  // namespace ketra_autograd
