#pragma once
// The n-dimensional array of doubles that every tensor value is: dynamic rank (0-d
// included), contiguous, row-major and owned. Arrays here are small (about a hundred
// elements) and made by the thousand, so each is one recycled allocation holding its
// shape and its elements, and shape lists elsewhere live inline.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ketra_autograd/detail/array_loops.hpp"
#include "ketra_autograd/detail/array_storage.hpp"
#include "ketra_autograd/small_vec.hpp"

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
  if (!count) [[unlikely]]
    detail::shape_too_large(shape);
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
std::optional<Strides> broadcast_strides(std::span<const std::size_t> from, std::span<const std::size_t> to);

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
  detail::walk_strided(shape, *sa, *sb, 0, 0,
                       [&](std::ptrdiff_t ia, std::ptrdiff_t ib) { *dst++ = f(pa[ia], pb[ib]); });
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
