#pragma once
// A vector of trivially copyable values that keeps up to N of them inline. Shapes, axis
// lists and input lists are built thousands of times per fit and almost always short,
// so they should not touch the heap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <type_traits>

namespace ketra_autograd {

template <typename T, std::size_t N>
class SmallVec {
  static_assert(std::is_trivially_copyable_v<T>, "SmallVec copies its values bytewise");
  static_assert(N > 0);

 public:
  SmallVec() noexcept {}
  SmallVec(std::initializer_list<T> values) { assign(values.begin(), values.size()); }
  explicit SmallVec(std::span<const T> values) { assign(values.data(), values.size()); }
  SmallVec(std::size_t count, T value) {
    reserve(count);
    std::fill_n(data(), count, value);
    size_ = static_cast<std::uint32_t>(count);
  }

  SmallVec(const SmallVec& other) { assign(other.data(), other.size()); }
  SmallVec(SmallVec&& other) noexcept { steal(other); }
  SmallVec& operator=(const SmallVec& other) {
    if (this != &other) {
      size_ = 0;
      assign(other.data(), other.size());
    }
    return *this;
  }
  SmallVec& operator=(SmallVec&& other) noexcept {
    if (this != &other) {
      release();
      steal(other);
    }
    return *this;
  }
  ~SmallVec() { release(); }

  T* data() noexcept { return on_heap() ? heap_ : inline_; }
  const T* data() const noexcept { return on_heap() ? heap_ : inline_; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* begin() noexcept { return data(); }
  T* end() noexcept { return data() + size_; }
  const T* begin() const noexcept { return data(); }
  const T* end() const noexcept { return data() + size_; }
  T& operator[](std::size_t i) noexcept { return data()[i]; }
  const T& operator[](std::size_t i) const noexcept { return data()[i]; }
  T& back() noexcept { return data()[size_ - 1]; }
  operator std::span<const T>() const noexcept { return {data(), size_}; }
  std::span<const T> span() const noexcept { return {data(), size_}; }

  void push_back(T value) {
    if (size_ == capacity_) reserve(std::size_t{capacity_} * 2);
    data()[size_++] = value;
  }
  void insert(std::size_t pos, T value) {
    push_back(value);
    std::rotate(begin() + pos, end() - 1, end());
  }
  void erase(std::size_t pos) {
    T* items = data();
    for (std::size_t i = pos + 1; i < size_; ++i) items[i - 1] = items[i];
    --size_;
  }
  void clear() noexcept { size_ = 0; }

  friend bool operator==(const SmallVec& a, const SmallVec& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  bool on_heap() const noexcept { return capacity_ > N; }

  void reserve(std::size_t wanted) {
    if (wanted <= capacity_) return;
    T* grown = new T[wanted];
    if (size_ > 0) std::memcpy(grown, data(), size_ * sizeof(T));
    release();
    heap_ = grown;
    capacity_ = static_cast<std::uint32_t>(wanted);
  }
  void assign(const T* values, std::size_t count) {
    reserve(count);
    T* dst = data();
    for (std::size_t i = 0; i < count; ++i) dst[i] = values[i];
    size_ = static_cast<std::uint32_t>(count);
  }
  // Element-sized copies: a block copy of values just written element by element would
  // stall on store forwarding.
  void steal(SmallVec& other) noexcept {
    size_ = other.size_;
    capacity_ = other.capacity_;
    if (other.on_heap()) {
      heap_ = other.heap_;
    } else {
      for (std::uint32_t i = 0; i < size_; ++i) inline_[i] = other.inline_[i];
    }
    other.size_ = 0;
    other.capacity_ = N;
  }
  void release() noexcept {
    if (on_heap()) delete[] heap_;
    capacity_ = N;
  }

  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = N;
  union {
    T inline_[N];
    T* heap_;
  };
};

}  // namespace ketra_autograd
