#pragma once
// What the system says about the data caches, source by source. Every query answers
// nothing rather than fail; choosing among the answers and falling back is the caller's.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pellum_core::cache_query {

enum class CacheKey : std::uint8_t { L1Data, L2, L3, LineSize };

inline constexpr std::string_view default_sysfs_dir = "/sys/devices/system/cpu/cpu0/cache";

// A size as the system writes it: surrounding white space trimmed, one optional
// leading "+", decimal digits, then an optional binary suffix "K", "M" or "G" (sysfs
// writes "32K"). Nothing for empty text, a lone sign, any other character or a value
// beyond 2^64 − 1. Zero is a valid answer.
std::optional<std::uint64_t> parse_size(std::string_view text);

// The answer of the sysfs cache directory of one processor (its index*/ entries with
// level, type, size and coherency_line_size). The level-1 size and the line size come
// from the level-1 data (or unified) cache; levels 2 and 3 ignore instruction caches.
std::optional<std::uint64_t> sysfs_value(CacheKey key, const std::string& cache_dir = std::string(default_sysfs_dir));

// The C library's sysconf answer; 0 and −1 (its "not known") give nothing.
std::optional<std::uint64_t> sysconf_value(CacheKey key);

// sysfs first, then sysconf.
std::optional<std::uint64_t> os_value(CacheKey key);

struct CpuidRegs {
  std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// The CPUID instruction with a leaf and a sub-leaf, unchecked: the caller asks leaf 0
// (or 0x80000000) for the maximum leaf first.
CpuidRegs cpuid(std::uint32_t leaf, std::uint32_t subleaf) noexcept;

}  // namespace pellum_core::cache_query
