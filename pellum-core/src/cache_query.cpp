#include "pellum_core/cache_query.hpp"

#include <cpuid.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>

namespace pellum_core::cache_query {

namespace {

std::string_view trim(std::string_view text) {
  const auto is_space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

unsigned suffix_shift(char suffix) {
  switch (suffix) {
    case 'K': return 10;
    case 'M': return 20;
    case 'G': return 30;
    default: return 0;
  }
}

// The whole (short) file, or nothing when it cannot be read.
std::optional<std::string> read_small_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  char buffer[256];
  const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return std::string(buffer, got);
}

struct SysfsEntry {
  std::optional<std::uint64_t> level;
  std::string type;
  std::optional<std::uint64_t> size;
  std::optional<std::uint64_t> line;
};

std::optional<SysfsEntry> read_entry(const std::string& dir) {
  const auto level_text = read_small_file(dir + "/level");
  if (!level_text) return std::nullopt;
  SysfsEntry entry;
  entry.level = parse_size(*level_text);
  entry.type = std::string(trim(read_small_file(dir + "/type").value_or("")));
  if (const auto text = read_small_file(dir + "/size")) entry.size = parse_size(*text);
  if (const auto text = read_small_file(dir + "/coherency_line_size")) entry.line = parse_size(*text);
  return entry;
}

bool answers(const SysfsEntry& entry, CacheKey key) {
  if (entry.type == "Instruction") return false;
  switch (key) {
    case CacheKey::L1Data:
    case CacheKey::LineSize: return entry.level == 1u;
    case CacheKey::L2: return entry.level == 2u;
    case CacheKey::L3: return entry.level == 3u;
  }
  return false;
}

}  // namespace

std::optional<std::uint64_t> parse_size(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  unsigned shift = 0;
  if (!text.empty() && suffix_shift(text.back()) != 0) {
    shift = suffix_shift(text.back());
    text.remove_suffix(1);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (__builtin_mul_overflow(value, 10u, &value) ||
        __builtin_add_overflow(value, static_cast<unsigned>(c - '0'), &value)) {
      return std::nullopt;
    }
  }
  if (shift != 0 && value > (UINT64_MAX >> shift)) return std::nullopt;
  return value << shift;
}

std::optional<std::uint64_t> sysfs_value(CacheKey key, const std::string& cache_dir) {
  // Entries are numbered from 0 without gaps; a machine has a handful.
  for (int index = 0; index < 32; ++index) {
    const auto entry = read_entry(cache_dir + "/index" + std::to_string(index));
    if (!entry) break;
    if (!answers(*entry, key)) continue;
    return key == CacheKey::LineSize ? entry->line : entry->size;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> sysconf_value(CacheKey key) {
  int name = _SC_LEVEL1_DCACHE_SIZE;
  switch (key) {
    case CacheKey::L1Data: name = _SC_LEVEL1_DCACHE_SIZE; break;
    case CacheKey::L2: name = _SC_LEVEL2_CACHE_SIZE; break;
    case CacheKey::L3: name = _SC_LEVEL3_CACHE_SIZE; break;
    case CacheKey::LineSize: name = _SC_LEVEL1_DCACHE_LINESIZE; break;
  }
  const long value = ::sysconf(name);
  if (value <= 0) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

std::optional<std::uint64_t> os_value(CacheKey key) {
  if (const auto value = sysfs_value(key)) return value;
  return sysconf_value(key);
}

CpuidRegs cpuid(std::uint32_t leaf, std::uint32_t subleaf) noexcept {
  CpuidRegs regs;
  __cpuid_count(leaf, subleaf, regs.eax, regs.ebx, regs.ecx, regs.edx);
  return regs;
}

}  // namespace pellum_core::cache_query
