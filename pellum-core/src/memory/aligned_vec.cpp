#include "pellum_core/memory/aligned_vec.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/panic.hpp"

namespace pellum_core::memory::aligned_vec::detail {

namespace {

// The largest byte count that can still be rounded up to a whole 64-byte line without
// passing 2^63 - 1.
constexpr std::size_t max_bytes = (std::size_t{1} << 63) - alignment;

[[noreturn]] void allocation_failed(std::size_t bytes) {
  const std::string message = "memory allocation of " + std::to_string(bytes) + " bytes failed\n";
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::abort();
}

}  // namespace

void invalid_layout() { support::panic("Invalid layout: LayoutError"); }

void* allocate_zeroed(std::size_t count, std::size_t size, void*& raw) {
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(count, size, &bytes) || bytes > max_bytes) invalid_layout();
  // calloc hands out fresh pages already zeroed, so large buffers cost no clearing pass;
  // the spare line lets the start move up to the next 64-byte boundary.
  raw = std::calloc(bytes + alignment, 1);
  if (raw == nullptr) allocation_failed(bytes);
  const auto address = reinterpret_cast<std::uintptr_t>(raw);
  return reinterpret_cast<void*>((address + alignment) & ~std::uintptr_t{alignment - 1});
}

void release(void* raw) noexcept { std::free(raw); }

}  // namespace pellum_core::memory::aligned_vec::detail
