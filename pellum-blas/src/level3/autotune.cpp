#include "pellum_blas/level3/autotune.hpp"

#include <algorithm>

#include "detail/size_math.hpp"
#include "support/panic.hpp"

namespace pellum_blas::level3::autotune {

using pellum_blas::detail::round_down;
using pellum_blas::detail::round_up;
using pellum_blas::detail::saturating_mul;
using pellum_blas::detail::scaled;
using pellum_core::cache_query::CacheKey;
using pellum_core::cache_query::CpuidRegs;

namespace {

constexpr std::size_t size_of_kib = 1024;

std::uint32_t bits(std::uint32_t word, unsigned low, unsigned count) {
  return (word >> low) & ((std::uint32_t{1} << count) - 1);
}

CacheInfo with_fallback_l3(std::size_t l1d, std::size_t l2, std::optional<std::size_t> l3, std::size_t line) {
  return {l1d, l2, l3.value_or(saturating_mul(8, l2)), line};
}

// Leaf 4: one sub-leaf per cache, ended by a cache type of 0.
std::optional<CacheInfo> from_leaf4(const detail::CpuidQuery& cpuid) {
  constexpr std::uint32_t data = 1, unified = 3;
  std::size_t l1d = 0, l2 = 0, line = 0;
  std::optional<std::size_t> l3;
  for (std::uint32_t sub = 0; sub < 16; ++sub) {
    const CpuidRegs r = cpuid(4, sub);
    const std::uint32_t type = bits(r.eax, 0, 5);
    if (type == 0) break;
    const std::size_t line_size = bits(r.ebx, 0, 12) + 1;
    const std::size_t size = saturating_mul(saturating_mul(bits(r.ebx, 22, 10) + 1, bits(r.ebx, 12, 10) + 1), line_size,
                                            std::size_t{r.ecx} + 1);
    switch (bits(r.eax, 5, 3)) {
      case 1:
        if (type == data || type == unified) {
          l1d = size;
          line = line_size;
        }
        break;
      case 2: l2 = size; break;
      case 3: l3 = size; break;
      default: break;
    }
  }
  if (l1d == 0 || l2 == 0) return std::nullopt;
  return with_fallback_l3(l1d, l2, l3, line);
}

// Extended leaf 0x80000006: L2 in KiB, L3 in 512 KiB units.
std::optional<CacheInfo> from_extended_leaf(const detail::CpuidQuery& cpuid) {
  if (cpuid(0x80000000u, 0).eax < 0x80000006u) return std::nullopt;
  const CpuidRegs r = cpuid(0x80000006u, 0);
  const std::size_t l2 = std::size_t{bits(r.ecx, 16, 16)} * size_of_kib;
  if (l2 == 0) return std::nullopt;
  const std::size_t l3_units = bits(r.edx, 18, 14);
  const std::size_t line = bits(r.ecx, 0, 8);
  return with_fallback_l3(default_cache_info.l1d, l2,
                          l3_units != 0 ? std::optional(l3_units * 512 * size_of_kib) : std::nullopt,
                          line != 0 ? line : 64);
}

// The depth bound by the L2 size, per element size.
std::size_t depth_bound(std::size_t l2, std::size_t element_size) {
  struct Row {
    std::size_t min_l2, f32_depth, f64_depth;
  };
  constexpr Row rows[] = {{4194304, 896, 448}, {1048576, 512, 256}, {524288, 384, 192},
                          {262144, 320, 192},  {131072, 192, 96},   {0, 128, 64}};
  for (const Row& row : rows) {
    if (l2 >= row.min_l2) return element_size < 8 ? row.f32_depth : row.f64_depth;
  }
  return 0;  // unreachable: the last row takes every l2
}

// x rounded down to a multiple of `multiple`, then raised to at least `floor`.
std::size_t round_down_at_least(std::size_t x, std::size_t multiple, std::size_t floor) {
  return std::max(round_down(x, multiple), floor);
}

void check_arguments(std::size_t element_size, std::size_t mr, std::size_t nr) {
  if (element_size == 0 || mr == 0 || nr == 0) {
    support::panic("element size and register tile must be non-zero");
  }
}

enum class Shape { Tall, Wide, Deep, Other };

Shape classify(std::size_t m, std::size_t k, std::size_t n) {
  const double dm = static_cast<double>(m), dk = static_cast<double>(k), dn = static_cast<double>(n);
  if (dm > 4 * dk && dm > 4 * dn) return Shape::Tall;
  if (dn > 4 * dm && dn > 4 * dk) return Shape::Wide;
  if (dk > 4 * dm && dk > 4 * dn) return Shape::Deep;
  return Shape::Other;
}

}  // namespace

namespace detail {

CacheInfo cache_info_from_cpuid(const CpuidQuery& cpuid) {
  if (cpuid(0, 0).eax >= 4) {
    if (const auto info = from_leaf4(cpuid)) return *info;
  }
  if (const auto info = from_extended_leaf(cpuid)) return *info;
  return default_cache_info;
}

CacheInfo detect_cache_info(const OsQuery& os, const CpuidQuery& cpuid) {
  const auto l1d = os(CacheKey::L1Data);
  if (!l1d) return cache_info_from_cpuid(cpuid);
  const auto l2 = os(CacheKey::L2);
  // No row block can be cut from an L2 of 0.
  if (!l2 || *l2 == 0) return cache_info_from_cpuid(cpuid);
  return with_fallback_l3(*l1d, *l2, os(CacheKey::L3), os(CacheKey::LineSize).value_or(64));
}

BlockingParams compute_blocking(const CacheInfo& info, std::size_t m, std::size_t k, std::size_t n, std::size_t e,
                                std::size_t mr, std::size_t nr) {
  check_arguments(e, mr, nr);
  const std::size_t l2e = info.l2 <= 262144 ? scaled(info.l2, 3, 4) : scaled(info.l2, 7, 10);
  const std::size_t l3e = scaled(info.l3, 6, 10);
  const std::size_t k_l1 = scaled(info.l1d, 4, 5) / saturating_mul(nr, e);
  const std::size_t kb = depth_bound(info.l2, e);
  const std::size_t k0 = std::max(std::min(kb, k_l1), std::size_t{64});
  const std::size_t am = std::max(info.line / e, mr);
  // At least one tile of rows, even from an L2 too small for the formula.
  const std::size_t mc0 = std::max(round_up(l2e / saturating_mul(k0, e), am), am);
  std::size_t kc = std::max(std::min({kb, k_l1, l2e / saturating_mul(mc0, e)}), std::size_t{64});
  std::size_t mc = round_up(l2e / saturating_mul(kc, e), am);
  std::size_t nc = round_up(l3e / saturating_mul(kc, e), std::max(info.line / e, nr));
  mc = round_down(std::max(std::min(m, mc), mr), mr);
  nc = round_down(std::max(std::min(n, nc), nr), nr);
  kc = std::max(std::min(k, kc), std::size_t{1});
  return {mc, kc, nc};
}

BlockingParams compute_blocking_adaptive(const CacheInfo& info, std::size_t m, std::size_t k, std::size_t n,
                                         std::size_t e, std::size_t mr, std::size_t nr) {
  check_arguments(e, mr, nr);
  const std::size_t al = std::max(info.line / e, std::size_t{1});
  if (saturating_mul(saturating_mul(2, m), k, n) < 100000) {
    return {round_down_at_least(std::min(m, std::size_t{64}), mr, mr), k == 0 ? 1 : std::min(k, std::size_t{128}),
            round_down_at_least(std::min(n, std::size_t{64}), nr, nr)};
  }
  const BlockingParams base = compute_blocking(info, m, k, n, e, mr, nr);
  const std::size_t two_thirds_mc = round_down_at_least(scaled(base.mc, 2, 3), mr, mr);
  const std::size_t two_thirds_nc = round_down_at_least(scaled(base.nc, 2, 3), nr, nr);
  switch (classify(m, k, n)) {
    case Shape::Tall:
      return {round_down_at_least(std::min(m, base.mc + base.mc / 2), std::max(al, mr), mr),
              std::max(std::min(k, std::max(scaled(base.kc, 2, 3), std::size_t{64})), std::size_t{1}), two_thirds_nc};
    case Shape::Wide:
      return {two_thirds_mc, std::max(std::min(k, base.kc), std::size_t{1}),
              round_down_at_least(std::min(n, base.nc + base.nc / 2), std::max(al, nr), nr)};
    case Shape::Deep:
      return {two_thirds_mc,
              std::min(std::max(std::min(k, saturating_mul(2, base.kc)), std::size_t{64}), std::size_t{1024}),
              two_thirds_nc};
    case Shape::Other: break;
  }
  return base;
}

}  // namespace detail

const CacheInfo& cpu_cache_info() {
  static const CacheInfo info = detect_cache_info();
  return info;
}

CacheInfo detect_cache_info() {
  return detail::detect_cache_info(pellum_core::cache_query::os_value, pellum_core::cache_query::cpuid);
}

BlockingParams compute_blocking(std::size_t m, std::size_t k, std::size_t n, std::size_t element_size, std::size_t mr,
                                std::size_t nr) {
  return detail::compute_blocking(cpu_cache_info(), m, k, n, element_size, mr, nr);
}

BlockingParams compute_blocking_adaptive(std::size_t m, std::size_t k, std::size_t n, std::size_t element_size,
                                         std::size_t mr, std::size_t nr) {
  return detail::compute_blocking_adaptive(cpu_cache_info(), m, k, n, element_size, mr, nr);
}

}  // namespace pellum_blas::level3::autotune
