#include "pellum_blas/level3/autotune.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace pellum_blas::level3::autotune {

void PrintTo(const BlockingParams& p, std::ostream* os) { *os << "(" << p.mc << ", " << p.kc << ", " << p.nc << ")"; }
void PrintTo(const CacheInfo& c, std::ostream* os) {
  *os << "{" << c.l1d << ", " << c.l2 << ", " << c.l3 << ", " << c.line << "}";
}

namespace {

using pellum_core::cache_query::CacheKey;
using pellum_core::cache_query::CpuidRegs;

struct BlockingCase {
  const char* name;
  std::size_t m, k, n, element_size, mr, nr;
  BlockingParams expected;
};

TEST(ComputeBlockingAdaptive, WorkedValuesWithDefaultRecord) {
  const BlockingCase cases[] = {
      {"f64_square_1000", 1000, 1000, 1000, 8, 8, 6, {128, 192, 996}},
      {"f32_square_1000", 1000, 1000, 1000, 4, 8, 8, {160, 307, 1000}},
      {"f64_tall", 4000, 100, 200, 8, 8, 6, {192, 66, 132}},
      {"f64_deep", 100, 5000, 100, 8, 8, 6, {64, 384, 60}},
      {"f64_wide", 100, 100, 5000, 8, 8, 6, {64, 100, 4912}},
      {"f64_small_problem", 512, 1, 1, 8, 8, 6, {64, 1, 6}},
      {"small_problem_empty_depth", 700, 0, 3, 8, 16, 6, {64, 1, 6}},
      // 2·m·k·n = 99840 is still small; 2·m·k·n = 100800 is not.
      {"small_problem_edge", 48, 40, 26, 8, 8, 6, {48, 40, 24}},
      {"first_not_small", 48, 42, 25, 8, 8, 6, {48, 42, 24}},
  };
  for (const BlockingCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(detail::compute_blocking_adaptive(default_cache_info, c.m, c.k, c.n, c.element_size, c.mr, c.nr),
              c.expected);
  }
  // The square case is none of tall, wide or deep: the cache formula unchanged.
  EXPECT_EQ(detail::compute_blocking(default_cache_info, 1000, 1000, 1000, 8, 8, 6), (BlockingParams{128, 192, 996}));
}

TEST(ComputeBlocking, L2SizeRowsAndEffectiveShare) {
  // l2 = 256 KiB exactly: three quarters for A and the 256 KiB row of depths (192 / 320);
  // one byte more switches to seven tenths.
  CacheInfo info = default_cache_info;
  EXPECT_EQ(detail::compute_blocking(info, 4096, 4096, 4096, 8, 8, 6).kc, 192u);
  EXPECT_EQ(detail::compute_blocking(info, 4096, 4096, 4096, 4, 8, 8).kc, 307u);
  // One byte less: the 128 KiB row, depth bound 96; 256 rows of depth 96 overfill 3/4 of
  // L2 by a byte, so the depth drops to 95.
  info.l2 = 262143;
  EXPECT_EQ(detail::compute_blocking(info, 4096, 4096, 4096, 8, 8, 6), (BlockingParams{264, 95, 4092}));
  // One byte more: 7/10 of L2 for A.
  info.l2 = 262145;
  EXPECT_EQ(detail::compute_blocking(info, 4096, 4096, 4096, 8, 8, 6), (BlockingParams{120, 191, 3294}));
}

TEST(ComputeBlocking, DegenerateRecordsStillGiveUsableBlocks) {
  const CacheInfo records[] = {
      {32768, 1, 8388608, 64},                   // an L2 too small for the formula
      {0, 262144, 0, 0},                         // zero L1, L3 and line
      {SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX},  // sizes that overflow any product
  };
  for (const CacheInfo& info : records) {
    SCOPED_TRACE(std::to_string(info.l1d) + "/" + std::to_string(info.l2));
    for (const std::size_t dim : {std::size_t{1}, std::size_t{777}, std::size_t{1} << 40}) {
      const BlockingParams p = detail::compute_blocking_adaptive(info, dim, dim, dim, 8, 16, 6);
      EXPECT_GT(p.mc, 0u);
      EXPECT_GT(p.kc, 0u);
      EXPECT_GT(p.nc, 0u);
      EXPECT_EQ(p.mc % 16, 0u);
      EXPECT_EQ(p.nc % 6, 0u);
    }
  }
}

TEST(ComputeBlockingAdaptive, HugeDimensionsAreNotSmall) {
  // 2·m·k·n wraps to 0 in 64 bits for m = k = n = 2^22; it must not read as small.
  const std::size_t d = std::size_t{1} << 22;
  EXPECT_EQ(detail::compute_blocking_adaptive(default_cache_info, d, d, d, 8, 8, 6),
            detail::compute_blocking(default_cache_info, d, d, d, 8, 8, 6));
}

// Answers of the operating system by key; missing keys fail.
detail::OsQuery os_answers(std::map<CacheKey, std::uint64_t> answers) {
  return [answers = std::move(answers)](CacheKey key) -> std::optional<std::uint64_t> {
    const auto it = answers.find(key);
    if (it == answers.end()) return std::nullopt;
    return it->second;
  };
}

// A processor described by its CPUID registers; absent leaves answer zeros.
detail::CpuidQuery cpuid_table(std::map<std::pair<std::uint32_t, std::uint32_t>, CpuidRegs> table) {
  return [table = std::move(table)](std::uint32_t leaf, std::uint32_t sub) {
    const auto it = table.find({leaf, sub});
    return it == table.end() ? CpuidRegs{} : it->second;
  };
}

// Leaf 4 sub-leaf registers for a cache: ways, partitions, line size, sets.
CpuidRegs leaf4(std::uint32_t type, std::uint32_t level, std::uint32_t ways, std::uint32_t line, std::uint32_t sets) {
  return {type | level << 5, (line - 1) | 0u << 12 | (ways - 1) << 22, sets - 1, 0};
}

// A processor with a 48 KiB L1D, 32 KiB L1I, 2 MiB L2 and 36 MiB L3 in leaf 4.
detail::CpuidQuery leaf4_processor() {
  return cpuid_table({{{0, 0}, {0x20, 0, 0, 0}},
                      {{4, 0}, leaf4(1, 1, 12, 64, 64)},
                      {{4, 1}, leaf4(2, 1, 8, 64, 64)},
                      {{4, 2}, leaf4(3, 2, 16, 64, 2048)},
                      {{4, 3}, leaf4(3, 3, 12, 64, 49152)}});
}

TEST(DetectCacheInfo, OperatingSystemAnswers) {
  const auto cpuid = leaf4_processor();
  const CacheInfo full{49152, 1310720, 31457280, 128};
  EXPECT_EQ(detail::detect_cache_info(os_answers({{CacheKey::L1Data, 49152},
                                                  {CacheKey::L2, 1310720},
                                                  {CacheKey::L3, 31457280},
                                                  {CacheKey::LineSize, 128}}),
                                      cpuid),
            full);
  // Missing L3 and line size: 8·l2 and 64.
  EXPECT_EQ(detail::detect_cache_info(os_answers({{CacheKey::L1Data, 32768}, {CacheKey::L2, 524288}}), cpuid),
            (CacheInfo{32768, 524288, 4194304, 64}));
  // A zero L1 or L3 is accepted as the system's answer.
  EXPECT_EQ(
      detail::detect_cache_info(os_answers({{CacheKey::L1Data, 0}, {CacheKey::L2, 524288}, {CacheKey::L3, 0}}), cpuid),
      (CacheInfo{0, 524288, 0, 64}));
}

TEST(DetectCacheInfo, MissingL1OrUnusableL2GoesToCpuid) {
  const CacheInfo from_leaf4{49152, 2097152, 37748736, 64};
  const auto cpuid = leaf4_processor();
  EXPECT_EQ(detail::detect_cache_info(os_answers({{CacheKey::L2, 524288}, {CacheKey::L3, 1}}), cpuid), from_leaf4);
  EXPECT_EQ(detail::detect_cache_info(os_answers({{CacheKey::L1Data, 32768}}), cpuid), from_leaf4);
  // Containers report an L2 of 0: no row block could be cut from it.
  EXPECT_EQ(
      detail::detect_cache_info(os_answers({{CacheKey::L1Data, 32768}, {CacheKey::L2, 0}, {CacheKey::L3, 8}}), cpuid),
      from_leaf4);
}

TEST(CacheInfoFromCpuid, Leaf4) {
  EXPECT_EQ(detail::cache_info_from_cpuid(leaf4_processor()), (CacheInfo{49152, 2097152, 37748736, 64}));
  // Without a level-3 entry the L3 is 8·l2; a later entry of one level overwrites.
  const auto no_l3 = cpuid_table({{{0, 0}, {4, 0, 0, 0}},
                                  {{4, 0}, leaf4(1, 1, 8, 64, 64)},
                                  {{4, 1}, leaf4(3, 2, 8, 64, 512)},
                                  {{4, 2}, leaf4(3, 2, 8, 64, 1024)}});
  EXPECT_EQ(detail::cache_info_from_cpuid(no_l3), (CacheInfo{32768, 524288, 4194304, 64}));
}

TEST(CacheInfoFromCpuid, ExtendedLeafAndDefaults) {
  // Leaf 4 lists no L2: the extended leaf answers (1024 KiB L2, 16 × 512 KiB L3, 64-byte lines).
  const auto extended = cpuid_table({{{0, 0}, {4, 0, 0, 0}},
                                     {{4, 0}, leaf4(1, 1, 8, 64, 64)},
                                     {{0x80000000u, 0}, {0x80000008u, 0, 0, 0}},
                                     {{0x80000006u, 0}, {0, 0, 1024u << 16 | 64u, 16u << 18}}});
  EXPECT_EQ(detail::cache_info_from_cpuid(extended), (CacheInfo{32768, 1048576, 8388608, 64}));
  // Zero line size and L3 fields fall back to 64 and 8·l2.
  const auto sparse =
      cpuid_table({{{0x80000000u, 0}, {0x80000006u, 0, 0, 0}}, {{0x80000006u, 0}, {0, 0, 256u << 16, 0}}});
  EXPECT_EQ(detail::cache_info_from_cpuid(sparse), (CacheInfo{32768, 262144, 2097152, 64}));
  // Neither leaf 4 with an L2 nor the extended leaf: the defaults.
  const auto bare = cpuid_table(
      {{{0, 0}, {4, 0, 0, 0}}, {{4, 0}, leaf4(1, 1, 8, 64, 64)}, {{0x80000000u, 0}, {0x80000005u, 0, 0, 0}}});
  EXPECT_EQ(detail::cache_info_from_cpuid(bare), default_cache_info);
  EXPECT_EQ(detail::cache_info_from_cpuid(cpuid_table({})), default_cache_info);
}

TEST(CpuCacheInfo, ProbedRecordIsUsable) {
  // Whatever the machine reports, the record has a usable L2 and stays the same.
  const CacheInfo& info = cpu_cache_info();
  EXPECT_GT(info.l2, 0u);
  EXPECT_EQ(&info, &cpu_cache_info());
}

}  // namespace
}  // namespace pellum_blas::level3::autotune
