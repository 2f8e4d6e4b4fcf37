#pragma once
// Scratch handed from one use to the next on the same thread. A fit builds, evaluates and
// differentiates thousands of small graphs one after another; each finds the buffers of
// the previous one ready instead of allocating and freeing its own.
#include <cstddef>
#include <memory>
#include <vector>

namespace ketra_autograd::detail {

// Whether memory is kept for reuse at all. Under AddressSanitizer nothing is kept: kept
// memory would hide a read through a stale array, tensor or record from it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool pooling = false;
#else
inline constexpr bool pooling = true;
#endif

// Owns a T taken from the thread's spares, or a new one. When dropped it calls
// T::recycle(), which empties the T for the next user and returns whether it is worth
// keeping, and keeps it when so; discard() drops it instead (a T left mid-update).
template <typename T>
class Recycled {
 public:
  Recycled() : item_(take()) {}
  Recycled(Recycled&&) noexcept = default;
  Recycled(const Recycled&) = delete;
  Recycled& operator=(const Recycled&) = delete;
  ~Recycled() {
    if (item_ && item_->recycle()) give(std::move(item_));
  }

  T& operator*() const noexcept { return *item_; }
  T* operator->() const noexcept { return item_.get(); }
  void discard() noexcept { item_.reset(); }

 private:
  // Nested uses (a graph built while another lives) each hold one; more are not kept.
  static constexpr std::size_t kept = 4;

  // Closed once the thread's spares are destroyed, so that a T dropped later in the
  // thread's teardown is freed instead of handed to a dead list.
  struct Spares {
    std::vector<std::unique_ptr<T>> items;
    Spares() { items.reserve(kept); }
    ~Spares() { closed = true; }
  };
  static inline constinit thread_local bool closed = false;
  static Spares& spares() {
    thread_local Spares list;
    return list;
  }

  static std::unique_ptr<T> take() {
    if (!closed && !spares().items.empty()) {
      std::unique_ptr<T> item = std::move(spares().items.back());
      spares().items.pop_back();
      return item;
    }
    return std::make_unique<T>();
  }
  static void give(std::unique_ptr<T> item) noexcept {
    if (pooling && !closed && spares().items.size() < kept) spares().items.push_back(std::move(item));
  }

  std::unique_ptr<T> item_;
};

}  // namespace ketra_autograd::detail
