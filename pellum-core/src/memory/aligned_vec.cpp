#include "pellum_core/memory/aligned_vec.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/panic.hpp"

namespace pellum_core::memory::aligned_vec::detail {

namespace {

// The largest byte count that can still be rounded up to a whole 64-byte line without
// passing 2^63 - 1.
constexpr std::size_t max_bytes = (std::size_t{1} << 63) - alignment;

// What a thread keeps of its released blocks: enough for the few buffers of one
// level-3 call, bounded so that an idle thread holds at most 16 MiB.
constexpr std::size_t kept_blocks = 4;
constexpr std::size_t max_kept_bytes = std::size_t{4} << 20;

// Plain data, so that it is usable at any point of a thread's life; the reaper below
// frees its blocks when the thread ends and closes it against later releases.
struct KeptBlocks {
  Block blocks[kept_blocks];
  bool open;
};
constinit thread_local KeptBlocks kept{};

struct Reaper {
  Reaper() noexcept { kept.open = true; }
  ~Reaper() {
    kept.open = false;
    for (Block& block : kept.blocks) {
      std::free(block.raw);
      block = {};
    }
  }
};

void* aligned_start(void* raw) {
  const auto address = reinterpret_cast<std::uintptr_t>(raw);
  return reinterpret_cast<void*>((address + alignment) & ~std::uintptr_t{alignment - 1});
}

[[noreturn]] void allocation_failed(std::size_t bytes) {
  const std::string message = "memory allocation of " + std::to_string(bytes) + " bytes failed\n";
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::abort();
}

// The smallest kept block of at least `bytes`, taken out of the cache.
Block take_kept(std::size_t bytes) {
  Block* best = nullptr;
  for (Block& block : kept.blocks) {
    if (block.raw != nullptr && block.bytes >= bytes && (best == nullptr || block.bytes < best->bytes)) best = &block;
  }
  if (best == nullptr) return {};
  const Block taken = *best;
  *best = {};
  return taken;
}

}  // namespace

void invalid_layout() { support::panic("Invalid layout: LayoutError"); }

void* allocate(std::size_t count, std::size_t size, bool zeroed, Block& block) {
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(count, size, &bytes) || bytes > max_bytes) invalid_layout();
  block = take_kept(bytes);
  if (block.raw != nullptr) {
    void* start = aligned_start(block.raw);
    if (zeroed) std::memset(start, 0, bytes);
    return start;
  }
  // calloc hands out fresh pages already zeroed (malloc where nothing needs zeros); the
  // spare line lets the start move up to the next 64-byte boundary.
  block = {zeroed ? std::calloc(bytes + alignment, 1) : std::malloc(bytes + alignment), bytes};
  if (block.raw == nullptr) allocation_failed(bytes);
  return aligned_start(block.raw);
}

void release(Block block) noexcept {
  if (block.raw == nullptr) return;
  if (block.bytes <= max_kept_bytes) {
    static thread_local Reaper reaper;  // registered on the thread's first release
    if (kept.open) {
      // An empty slot, else the smallest kept block if this one is larger.
      Block* slot = &kept.blocks[0];
      for (Block& candidate : kept.blocks) {
        if (candidate.raw == nullptr || candidate.bytes < slot->bytes) slot = &candidate;
        if (candidate.raw == nullptr) break;
      }
      if (slot->raw == nullptr || slot->bytes < block.bytes) {
        std::free(slot->raw);
        *slot = block;
        return;
      }
    }
  }
  std::free(block.raw);
}

}  // namespace pellum_core::memory::aligned_vec::detail
