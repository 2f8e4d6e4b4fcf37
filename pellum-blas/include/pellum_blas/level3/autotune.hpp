#pragma once
// Block sizes of the GEMM driver from the processor's data caches. The cache record is
// probed once per process, on the first call that needs it: the operating system first
// (sysfs, then sysconf), then CPUID, then fixed defaults, so a record always exists.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "pellum_core/cache_query.hpp"

namespace pellum_blas::level3::autotune {

// Bytes of the level-1 data, level-2 and level-3 caches, and of a cache line.
struct CacheInfo {
  std::size_t l1d = 0;
  std::size_t l2 = 0;
  std::size_t l3 = 0;
  std::size_t line = 0;
  friend bool operator==(const CacheInfo&, const CacheInfo&) = default;
};

inline constexpr CacheInfo default_cache_info{32768, 262144, 8388608, 64};

// Rows of A and C per row block, depth per block, columns of B and C per column block;
// all non-zero.
struct BlockingParams {
  std::size_t mc = 0;
  std::size_t kc = 0;
  std::size_t nc = 0;
  friend bool operator==(const BlockingParams&, const BlockingParams&) = default;
};

// The process-wide record, probed on first use (thread-safe) and never changed after.
const CacheInfo& cpu_cache_info();

// Runs the probe against the real system.
CacheInfo detect_cache_info();

// Block sizes for A of m × k and B of k × n with elements of `element_size` bytes and a
// register tile of mr × nr, from the cache formula: a B micro-panel fits in L1, an A
// block in L2, a B block in L3; then fitted to the problem. Overflow-free for every
// input; mc, kc and nc are never 0 (kc is 1 for k = 0).
BlockingParams compute_blocking(std::size_t m, std::size_t k, std::size_t n, std::size_t element_size, std::size_t mr,
                                std::size_t nr);

// compute_blocking, except for small problems (2·m·k·n < 100000: blocks of at most 64
// rows and columns and 128 deep) and strongly non-square shapes (one dimension more
// than four times each other one: tall, wide or deep), whose blocks it reshapes.
BlockingParams compute_blocking_adaptive(std::size_t m, std::size_t k, std::size_t n, std::size_t element_size,
                                         std::size_t mr, std::size_t nr);

namespace detail {

using OsQuery = std::function<std::optional<std::uint64_t>(pellum_core::cache_query::CacheKey)>;
using CpuidQuery = std::function<pellum_core::cache_query::CpuidRegs(std::uint32_t leaf, std::uint32_t subleaf)>;

// The probe over injected sources. The level-1 and level-2 answers must both exist
// (an L2 of 0, which containers report, counts as no answer), otherwise every value
// comes from CPUID; a missing L3 becomes 8·l2 and a missing line size 64.
CacheInfo detect_cache_info(const OsQuery& os, const CpuidQuery& cpuid);

// CPUID leaf 4 (deterministic cache parameters), else extended leaf 0x80000006, else
// the defaults.
CacheInfo cache_info_from_cpuid(const CpuidQuery& cpuid);

BlockingParams compute_blocking(const CacheInfo& info, std::size_t m, std::size_t k, std::size_t n,
                                std::size_t element_size, std::size_t mr, std::size_t nr);
BlockingParams compute_blocking_adaptive(const CacheInfo& info, std::size_t m, std::size_t k, std::size_t n,
                                         std::size_t element_size, std::size_t mr, std::size_t nr);

}  // namespace detail

}  // namespace pellum_blas::level3::autotune
