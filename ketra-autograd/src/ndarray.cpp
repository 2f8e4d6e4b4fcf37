#include "ketra_autograd/ndarray.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd {

namespace {

// Freed element buffers are kept per thread by power-of-two size class, so the arrays
// that one evaluation drops are what the next one allocates.
constexpr std::size_t pooled_classes = 17;            // up to 2^16 elements
constexpr std::size_t pooled_bytes_per_class = 1 << 20;

struct BufferPool {
  std::array<std::vector<double*>, pooled_classes> free;
  ~BufferPool();
};

thread_local bool pool_alive = false;  // trivially destructible: readable after the pool is gone

BufferPool::~BufferPool() {
  pool_alive = false;
  for (auto& list : free) {
    for (double* p : list) delete[] p;
  }
}

BufferPool& pool() {
  thread_local BufferPool instance;
  pool_alive = true;
  return instance;
}

std::size_t size_class(std::size_t len) { return static_cast<std::size_t>(std::bit_width(len - 1)); }

double* allocate_elements(std::size_t len) {
  const std::size_t cls = size_class(len);
  if (cls < pooled_classes) {
    auto& list = pool().free[cls];
    if (!list.empty()) {
      double* p = list.back();
      list.pop_back();
      return p;
    }
    return new double[std::size_t{1} << cls];
  }
  return new double[len];
}

void release_elements(double* p, std::size_t len) noexcept {
  const std::size_t cls = size_class(len);
  if (cls < pooled_classes && pool_alive) {
    auto& list = pool().free[cls];
    const std::size_t keep = pooled_bytes_per_class / (sizeof(double) << cls);
    if (list.size() < std::max<std::size_t>(keep, 4)) {
      try {
        list.push_back(p);
        return;
      } catch (...) {
        // fall through: an allocation failure only costs the reuse
      }
    }
  }
  delete[] p;
}

}  // namespace

namespace detail {

Buffer::Buffer(std::size_t len) : len_(len) {
  if (len_ > 1) {
    heap_ = allocate_elements(len_);
  } else {
    single_ = 0.0;
  }
}

Buffer::Buffer(const Buffer& other) : Buffer(other.len_) {
  std::copy_n(other.data(), len_, data());
}

Buffer& Buffer::operator=(const Buffer& other) {
  if (this != &other) {
    Buffer copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    release();
    len_ = other.len_;
    if (len_ > 1) {
      heap_ = other.heap_;
      other.len_ = 1;
      other.single_ = 0.0;
    } else {
      single_ = other.single_;
    }
  }
  return *this;
}

void Buffer::release() noexcept {
  if (len_ > 1) release_elements(heap_, len_);
  len_ = 1;
  single_ = 0.0;
}

}  // namespace detail

std::string ShapeError::debug() const { return "ShapeError/IncompatibleShape: incompatible shapes"; }

std::size_t element_count(std::span<const std::size_t> shape) {
  std::size_t n = 1;
  for (std::size_t d : shape) n *= d;
  return n;
}

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

std::optional<Strides> broadcast_strides(std::span<const std::size_t> from,
                                         std::span<const std::size_t> to) {
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

ArrayD ArrayD::scalar(double value) {
  ArrayD out;
  out.data_.data()[0] = value;
  return out;
}

ArrayD ArrayD::for_overwrite(std::span<const std::size_t> shape) {
  ArrayD out;
  out.shape_ = Dims(shape);
  out.data_ = detail::Buffer(element_count(shape));
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

std::string ArrayD::shape_text() const { return support::debug_list<std::size_t>(shape_); }

std::expected<ArrayD, ShapeError> ArrayD::into_shape(std::span<const std::size_t> shape) && {
  if (element_count(shape) != len()) return std::unexpected(ShapeError{});
  shape_ = Dims(shape);
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
  const Strides own = contiguous_strides(shape_);
  Dims shape(rank, 0);
  Strides strides(rank, 0);
  for (std::size_t j = 0; j < rank; ++j) {
    shape[j] = shape_[axes[j]];
    strides[j] = own[axes[j]];
  }
  ArrayD out = for_overwrite(shape);
  const double* src = data_.data();
  double* dst = out.data_.data();
  detail::walk_strided(shape, strides, strides, 0, 0,
                       [&](std::ptrdiff_t at, std::ptrdiff_t) { *dst++ = src[at]; });
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
      support::panic("slice element (start {}, end {}, step {}) does not fit axis {} of length {}",
                     elem.start, elem.end ? std::to_string(*elem.end) : std::string("none"),
                     elem.step, axis, length);
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
  const SliceRegion region = resolve_slice(shape_, slice);
  ArrayD out = for_overwrite(region.shape);
  const double* src = data_.data();
  double* dst = out.data_.data();
  detail::walk_strided(region.shape, region.strides, region.strides, region.base, 0,
                       [&](std::ptrdiff_t at, std::ptrdiff_t) { *dst++ = src[at]; });
  return out;
}

void ArrayD::assign_slice(std::span<const SliceElem> slice, const ArrayD& source) {
  const SliceRegion region = resolve_slice(shape_, slice);
  const std::optional<Strides> from = broadcast_strides(source.shape(), region.shape);
  if (!from) {
    support::panic("an array of shape {} cannot be broadcast to the sliced region of shape {}",
                   source.shape_text(), support::debug_list<std::size_t>(region.shape));
  }
  const double* src = source.data_.data();
  double* dst = data_.data();
  detail::walk_strided(region.shape, region.strides, *from, region.base, 0,
                       [&](std::ptrdiff_t at, std::ptrdiff_t in) { dst[at] = src[in]; });
}

std::expected<ArrayD, ShapeError> ArrayD::broadcast_to(std::span<const std::size_t> shape) const {
  const std::optional<Strides> from = broadcast_strides(shape_, shape);
  if (!from) return std::unexpected(ShapeError{});
  ArrayD out = for_overwrite(shape);
  const double* src = data_.data();
  double* dst = out.data_.data();
  detail::walk_strided(shape, *from, *from, 0, 0,
                       [&](std::ptrdiff_t at, std::ptrdiff_t) { *dst++ = src[at]; });
  return out;
}

void ArrayD::insert_axis(std::size_t position) {
  if (position > ndim()) {
    support::panic("cannot insert an axis at position {} of an array of shape {}", position,
                   shape_text());
  }
  shape_.insert(position, 1);
}

void ArrayD::remove_axis(std::size_t position) {
  if (position >= ndim() || shape_[position] != 1) {
    support::panic("cannot remove axis {} of an array of shape {}: it is not an axis of length 1",
                   position, shape_text());
  }
  shape_.erase(position);
}

ArrayD::AxisSplit ArrayD::axis_split(std::size_t axis) const {
  if (axis >= ndim()) support::panic("cannot fold axis {} of an array of shape {}", axis, shape_text());
  AxisSplit split{1, shape_[axis], 1};
  for (std::size_t i = 0; i < axis; ++i) split.outer *= shape_[i];
  for (std::size_t i = axis + 1; i < ndim(); ++i) split.inner *= shape_[i];
  return split;
}

bool operator==(const ArrayD& a, const ArrayD& b) {
  return a.shape_ == b.shape_ && std::ranges::equal(a.data(), b.data());
}

}  // namespace ketra_autograd
