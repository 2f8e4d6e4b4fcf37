#include "ketra_autograd/ndarray.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd {

namespace {

void free_block_memory(detail::Block* block) noexcept {
  if (block->dims != block->inline_dims) delete[] block->dims;
  ::operator delete(static_cast<void*>(block));
}

// Frees the pooled blocks of the class beyond the first `keep` (pooled blocks keep their
// dims inline).
void free_pooled_beyond(detail::BlockPool& pool, std::size_t cls, std::size_t keep) noexcept {
  for (; pool.count[cls] > keep; --pool.count[cls]) {
    ::operator delete(static_cast<void*>(pool.free[cls][pool.count[cls] - 1]));
  }
}

struct PoolReaper {
  PoolReaper() noexcept { detail::block_pool.open = true; }
  ~PoolReaper() {
    detail::BlockPool& pool = detail::block_pool;
    pool.open = false;
    for (std::size_t cls = 0; cls < detail::pooled_classes; ++cls) free_pooled_beyond(pool, cls, 0);
  }
};

// The bytes of the pooled blocks beyond the idle bound of their class.
std::size_t bytes_beyond_idle(const detail::BlockPool& pool) noexcept {
  std::size_t bytes = 0;
  for (std::size_t cls = 0; cls < detail::pooled_classes; ++cls) {
    const std::size_t idle = detail::idle_capacity(cls);
    if (pool.count[cls] > idle) bytes += (pool.count[cls] - idle) << cls;
  }
  return bytes;
}

// Whether an open reuse scope lets the pool keep one more block of the class.
bool scope_has_room(const detail::BlockPool& pool, std::size_t cls) noexcept {
  return detail::pooling && pool.open && pool.open_scopes > 0 && pool.count[cls] < detail::pooled_per_class &&
         bytes_beyond_idle(pool) + (std::size_t{1} << cls) <= detail::scoped_extra_bytes;
}

// Registers the reaper on the thread's first allocation from the heap.
void open_pool() {
  thread_local PoolReaper reaper;
  static_cast<void>(reaper);
}

// Points the block's dims at storage for `rank` axes.
void set_rank(detail::Block& block, std::size_t rank) {
  if (block.dims != block.inline_dims && rank != block.rank) {
    delete[] block.dims;
    block.dims = block.inline_dims;
  }
  if (rank > detail::Block::inline_rank && block.dims == block.inline_dims) block.dims = new std::size_t[rank];
  block.rank = static_cast<std::uint32_t>(rank);
}

}  // namespace

namespace detail {

Block empty_array_block{0, 1, 0, empty_array_block.inline_dims, {0, 0, 0, 0, 0}};

constinit thread_local BlockPool block_pool{};

Block* new_block(std::size_t cls) {
  open_pool();
  Block* block = static_cast<Block*>(::operator new (std::size_t{1} << cls));
  block->dims = block->inline_dims;
  return block;
}

void give_external_dims(Block& block) { block.dims = new std::size_t[block.rank]; }

void release_unpooled(Block* block) noexcept {
  const std::size_t cls = block->size_class;
  if (cls < pooled_classes && (pool_has_room(block_pool, cls) || scope_has_room(block_pool, cls))) {
    if (block->dims != block->inline_dims) {  // a pooled block keeps its dims inline
      delete[] block->dims;
      block->dims = block->inline_dims;
    }
    block_pool.free[cls][block_pool.count[cls]++] = block;
    return;
  }
  free_block_memory(block);
}

void shape_too_large(std::span<const std::size_t> shape) {
  support::panic("array shape {} holds more elements than memory can address", support::debug_list<std::size_t>(shape));
}

void reshape_block(Block& block, std::span<const std::size_t> shape) {
  Dims copy(shape);  // the new shape may alias the old one
  set_rank(block, copy.size());
  for (std::size_t axis = 0; axis < copy.size(); ++axis) block.dims[axis] = copy[axis];
}

}  // namespace detail

ArrayReuseScope::ArrayReuseScope() noexcept { ++detail::block_pool.open_scopes; }

ArrayReuseScope::~ArrayReuseScope() {
  detail::BlockPool& pool = detail::block_pool;
  if (--pool.open_scopes > 0) return;
  for (std::size_t cls = 0; cls < detail::pooled_classes; ++cls) {
    free_pooled_beyond(pool, cls, detail::idle_capacity(cls));
  }
}

std::string ShapeError::debug() const { return "ShapeError/IncompatibleShape: incompatible shapes"; }

Strides contiguous_strides(std::span<const std::size_t> shape) {
  Strides strides(shape.size(), 0);
  std::ptrdiff_t step = 1;
  for (std::size_t axis = shape.size(); axis-- > 0;) {
    strides[axis] = step;
    step *= static_cast<std::ptrdiff_t>(shape[axis]);
  }
  return strides;
}

std::optional<Dims> broadcast_shape(std::span<const std::size_t> a, std::span<const std::size_t> b) {
  const std::size_t rank = std::max(a.size(), b.size());
  Dims out(rank, 1);
  for (std::size_t j = 0; j < rank; ++j) {
    const std::size_t da = j + a.size() >= rank ? a[j + a.size() - rank] : 1;
    const std::size_t db = j + b.size() >= rank ? b[j + b.size() - rank] : 1;
    if (da == db || db == 1) {
      out[j] = da;
    } else if (da == 1) {
      out[j] = db;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::optional<Strides> broadcast_strides(std::span<const std::size_t> from, std::span<const std::size_t> to) {
  if (from.size() > to.size()) return std::nullopt;
  const Strides own = contiguous_strides(from);
  const std::size_t lead = to.size() - from.size();
  Strides out(to.size(), 0);
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (from[i] == to[lead + i]) {
      out[lead + i] = own[i];
    } else if (from[i] != 1) {
      return std::nullopt;
    }
  }
  return out;
}

ArrayD::ArrayD(const ArrayD& other) : block_(detail::allocate_block(other.len(), other.shape())) {
  std::copy_n(other.block_->elements(), other.len(), block_->elements());
}

ArrayD& ArrayD::operator=(const ArrayD& other) {
  if (this != &other) *this = ArrayD(other);
  return *this;
}

ArrayD ArrayD::scalar(double value) {
  ArrayD out = for_overwrite({});
  out[0] = value;
  return out;
}

ArrayD ArrayD::from_elem(std::span<const std::size_t> shape, double value) {
  ArrayD out = for_overwrite(shape);
  std::ranges::fill(out.data(), value);
  return out;
}

ArrayD ArrayD::zeros(std::span<const std::size_t> shape) { return from_elem(shape, 0.0); }

ArrayD ArrayD::from_vec(std::span<const double> values) {
  const std::size_t len = values.size();
  ArrayD out = for_overwrite(std::span<const std::size_t>(&len, 1));
  std::ranges::copy(values, out.data().begin());
  return out;
}

std::expected<ArrayD, ShapeError> ArrayD::from_shape_vec(std::span<const std::size_t> shape,
                                                         std::span<const double> values) {
  if (element_count(shape) != values.size()) return std::unexpected(ShapeError{});
  ArrayD out = for_overwrite(shape);
  std::ranges::copy(values, out.data().begin());
  return out;
}

void ArrayD::unshare_empty() {
  if (block_ == detail::empty_block()) block_ = detail::allocate_block(0, shape());
}

std::string ArrayD::shape_text() const { return support::debug_list<std::size_t>(shape()); }

std::expected<ArrayD, ShapeError> ArrayD::into_shape(std::span<const std::size_t> shape) && {
  if (element_count(shape) != len()) return std::unexpected(ShapeError{});
  unshare_empty();
  detail::reshape_block(*block_, shape);
  return std::move(*this);
}

ArrayD ArrayD::permuted(std::span<const std::size_t> axes) const {
  const std::size_t rank = ndim();
  std::array<bool, 64> seen{};
  bool valid = axes.size() == rank && rank <= seen.size();
  for (std::size_t i = 0; valid && i < rank; ++i) {
    valid = axes[i] < rank && !seen[axes[i]];
    if (valid) seen[axes[i]] = true;
  }
  if (!valid) {
    support::panic("axes {} are not a permutation of the axes of an array of shape {}",
                   support::debug_list<std::size_t>(axes), shape_text());
  }
  const Strides own = contiguous_strides(this->shape());
  Dims shape(rank, 0);
  Strides strides(rank, 0);
  for (std::size_t j = 0; j < rank; ++j) {
    shape[j] = block_->dims[axes[j]];
    strides[j] = own[axes[j]];
  }
  ArrayD out = for_overwrite(shape);
  const double* src = block_->elements();
  double* dst = out.block_->elements();
  detail::walk_strided(shape, strides, strides, 0, 0, [&](std::ptrdiff_t at, std::ptrdiff_t) { *dst++ = src[at]; });
  return out;
}

namespace {

// The positions one slice selects in an array: the region's shape, the strides that walk
// it in the array's storage, and the offset of its first element.
struct SliceRegion {
  Dims shape;
  Strides strides;
  std::ptrdiff_t base = 0;
};

SliceRegion resolve_slice(std::span<const std::size_t> shape, std::span<const SliceElem> slice) {
  if (slice.size() != shape.size()) {
    support::panic("a slice of {} axes cannot select from an array of shape {}", slice.size(),
                   support::debug_list<std::size_t>(shape));
  }
  const Strides own = contiguous_strides(shape);
  SliceRegion region{Dims(shape.size(), 0), Strides(shape.size(), 0), 0};
  for (std::size_t axis = 0; axis < shape.size(); ++axis) {
    const SliceElem& elem = slice[axis];
    const auto length = static_cast<std::int64_t>(shape[axis]);
    const std::int64_t start = elem.start < 0 ? elem.start + length : elem.start;
    const std::int64_t raw_end = elem.end.value_or(length);
    const std::int64_t end = raw_end < 0 ? raw_end + length : raw_end;
    if (start < 0 || start > length || end < 0 || end > length || elem.step == 0) {
      support::panic("slice element (start {}, end {}, step {}) does not fit axis {} of length {}", elem.start,
                     elem.end ? std::to_string(*elem.end) : std::string("none"), elem.step, axis, length);
    }
    const std::int64_t span = std::max<std::int64_t>(end - start, 0);
    const std::int64_t magnitude = elem.step < 0 ? -elem.step : elem.step;
    const std::int64_t count = (span + magnitude - 1) / magnitude;
    region.shape[axis] = static_cast<std::size_t>(count);
    // A negative step walks the selected range from its end.
    const std::int64_t first = elem.step > 0 ? start : end - 1;
    region.strides[axis] = own[axis] * elem.step;
    if (count > 0) region.base += own[axis] * first;
  }
  return region;
}

}  // namespace

ArrayD ArrayD::sliced(std::span<const SliceElem> slice) const {
  const SliceRegion region = resolve_slice(shape(), slice);
  ArrayD out = for_overwrite(region.shape);
  const double* src = block_->elements();
  double* dst = out.block_->elements();
  detail::walk_strided(region.shape, region.strides, region.strides, region.base, 0,
                       [&](std::ptrdiff_t at, std::ptrdiff_t) { *dst++ = src[at]; });
  return out;
}

void ArrayD::assign_slice(std::span<const SliceElem> slice, const ArrayD& source) {
  const SliceRegion region = resolve_slice(shape(), slice);
  const std::optional<Strides> from = broadcast_strides(source.shape(), region.shape);
  if (!from) {
    support::panic("an array of shape {} cannot be broadcast to the sliced region of shape {}", source.shape_text(),
                   support::debug_list<std::size_t>(region.shape));
  }
  const double* src = source.block_->elements();
  double* dst = block_->elements();
  detail::walk_strided(region.shape, region.strides, *from, region.base, 0,
                       [&](std::ptrdiff_t at, std::ptrdiff_t in) { dst[at] = src[in]; });
}

std::expected<ArrayD, ShapeError> ArrayD::broadcast_to(std::span<const std::size_t> shape) const {
  const std::optional<Strides> from = broadcast_strides(this->shape(), shape);
  if (!from) return std::unexpected(ShapeError{});
  if (len() == 1) return from_elem(shape, (*this)[0]);  // one value everywhere: a plain fill
  ArrayD out = for_overwrite(shape);
  const double* src = block_->elements();
  double* dst = out.block_->elements();
  detail::walk_strided(shape, *from, *from, 0, 0, [&](std::ptrdiff_t at, std::ptrdiff_t) { *dst++ = src[at]; });
  return out;
}

void ArrayD::insert_axis(std::size_t position) {
  if (position > ndim()) {
    support::panic("cannot insert an axis at position {} of an array of shape {}", position, shape_text());
  }
  Dims shape(this->shape());
  shape.insert(position, 1);
  unshare_empty();
  detail::reshape_block(*block_, shape);
}

void ArrayD::remove_axis(std::size_t position) {
  if (position >= ndim() || block_->dims[position] != 1) {
    support::panic("cannot remove axis {} of an array of shape {}: it is not an axis of length 1", position,
                   shape_text());
  }
  Dims shape(this->shape());
  shape.erase(position);
  detail::reshape_block(*block_, shape);
}

ArrayD::AxisSplit ArrayD::axis_split(std::size_t axis) const {
  if (axis >= ndim()) support::panic("cannot fold axis {} of an array of shape {}", axis, shape_text());
  const std::size_t* dims = block_->dims;
  AxisSplit split{1, dims[axis], 1};
  for (std::size_t i = 0; i < axis; ++i) split.outer *= dims[i];
  for (std::size_t i = axis + 1; i < ndim(); ++i) split.inner *= dims[i];
  return split;
}

bool operator==(const ArrayD& a, const ArrayD& b) {
  return same_shape(a.shape(), b.shape()) && std::ranges::equal(a.data(), b.data());
}

}  // namespace ketra_autograd
