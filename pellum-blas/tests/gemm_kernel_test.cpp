#include "pellum_blas/level3/gemm_kernel.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/testing.hpp"
#include "test_support.hpp"

namespace pellum_blas::level3::gemm_kernel {
namespace {

using pellum_blas::testing::same_bits;
using support::testing::PrintTo;

// What each level computes, one depth step at a time, written from the kernels'
// contract rather than from their code.
template <typename T>
T expected_element(KernelLevel level, const std::vector<T>& a, const std::vector<T>& b, Tile tile, std::size_t kc,
                   std::size_t i, std::size_t j, T old_c, T alpha, T beta) {
  const bool fused = level != KernelLevel::Sse42;
  T acc = T(0);
  for (std::size_t p = 0; p < kc; ++p) {
    const T x = a[p * tile.mr + i], y = b[p * tile.nr + j];
    acc = fused ? std::fma(x, y, acc) : acc + x * y;
  }
  if (level == KernelLevel::Scalar) return std::fma(alpha, acc, beta == T(0) ? T(0) : old_c * beta);
  if (!(alpha == T(1))) acc = acc * alpha;
  if (beta == T(0)) return acc;
  if (beta == T(1)) return old_c + acc;
  return fused ? std::fma(beta, old_c, acc) : acc + old_c * beta;
}

struct KernelCase {
  std::string name;
  KernelLevel level;
  bool f64;
};

class MicroKernel : public ::testing::TestWithParam<KernelCase> {
 protected:
  template <typename T>
  void check_all() {
    const KernelLevel level = GetParam().level;
    const Tile tile = tile_for<T>(level);
    const KernelFn<T> kernel = kernel_for<T>(level);
    const T nan = std::numeric_limits<T>::quiet_NaN();
    struct Scalars {
      const char* name;
      T alpha, beta;
    };
    const Scalars scalars[] = {{"alpha1_beta0", 1, 0},    {"alpha1_beta1", 1, 1},   {"general", T(-0.5), T(3)},
                               {"beta_neg0", 2, T(-0.0)}, {"alpha_nan", nan, T(1)}, {"alpha0", 0, T(2.5)}};
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (const std::size_t kc : {1, 2, 3, 4, 5, 7, 8, 9, 17, 40}) {
      for (const Scalars& s : scalars) {
        SCOPED_TRACE("kc=" + std::to_string(kc) + " " + s.name);
        std::vector<T> a(kc * tile.mr), b(kc * tile.nr);
        for (T& x : a) x = T(dist(gen));
        for (T& x : b) x = T(dist(gen));
        // The tile inside a taller array: the rows below it are canaries.
        const std::size_t ldc = tile.mr + 3;
        std::vector<T> c(ldc * tile.nr, testing::canary<T>);
        for (std::size_t j = 0; j < tile.nr; ++j) {
          for (std::size_t i = 0; i < tile.mr; ++i) c[i + j * ldc] = s.beta == T(0) ? nan : T(dist(gen));
        }
        const std::vector<T> old = c;
        kernel(kc, a.data(), b.data(), c.data(), ldc, s.alpha, s.beta);
        for (std::size_t j = 0; j < tile.nr; ++j) {
          for (std::size_t i = 0; i < ldc; ++i) {
            const T want = i < tile.mr
                               ? expected_element(level, a, b, tile, kc, i, j, old[i + j * ldc], s.alpha, s.beta)
                               : testing::canary<T>;
            const T got = c[i + j * ldc];
            ASSERT_TRUE(same_bits(got, want) || (std::isnan(got) && std::isnan(want)))
                << "(" << i << ", " << j << "): " << got << " want " << want;
          }
        }
        // Tiles cut by the edge of C: the valid part bit for bit as the full kernel gives it,
        // nothing written beyond the valid columns or below the tile.
        const std::pair<std::size_t, std::size_t> cuts[] = {{1, 1}, {tile.mr - 1, tile.nr - 1}, {tile.mr, 1}};
        for (const auto& [rows, cols] : cuts) {
          SCOPED_TRACE("edge " + std::to_string(rows) + "x" + std::to_string(cols));
          std::vector<T> cut = old;
          edge_kernel_for<T>(level, rows, cols)(kc, a.data(), b.data(), cut.data(), ldc, s.alpha, s.beta);
          for (std::size_t j = 0; j < tile.nr; ++j) {
            for (std::size_t i = 0; i < ldc; ++i) {
              if (j < cols && i >= rows && i < tile.mr) continue;  // may be written
              const std::size_t at = i + j * ldc;
              const T want = j < cols && i < rows ? c[at] : old[at];
              ASSERT_TRUE(same_bits(cut[at], want) || (std::isnan(cut[at]) && std::isnan(want)))
                  << "(" << i << ", " << j << "): " << cut[at] << " want " << want;
            }
          }
        }
      }
    }
  }

  void SetUp() override {
    if (!supports(GetParam().level)) GTEST_SKIP() << "the processor lacks this instruction set";
  }
};

TEST_P(MicroKernel, MatchesItsMultiplyAddFormAndTouchesOnlyTheTile) {
  if (GetParam().f64) {
    check_all<double>();
  } else {
    check_all<float>();
  }
}

std::vector<KernelCase> kernel_cases() {
  std::vector<KernelCase> cases;
  for (const KernelLevel level : testing::all_levels) {
    cases.push_back({testing::level_name(level) + "_f64", level, true});
    cases.push_back({testing::level_name(level) + "_f32", level, false});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Levels, MicroKernel, ::testing::ValuesIn(kernel_cases()),
                         support::testing::case_name<KernelCase>);

TEST(KernelDispatch, ForcingFollowsTheProcessor) {
  EXPECT_TRUE(supports(KernelLevel::Scalar));
  EXPECT_TRUE(supports(detected_level()));
  // Each level against the compiler's own reading of the processor.
  __builtin_cpu_init();
  EXPECT_EQ(supports(KernelLevel::Avx512), __builtin_cpu_supports("avx512f") != 0);
  EXPECT_EQ(supports(KernelLevel::Avx2), __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"));
  EXPECT_EQ(supports(KernelLevel::Sse42), __builtin_cpu_supports("sse4.2") != 0);
  // The best level the processor has is the one chosen.
  const auto best = std::find_if(std::rbegin(testing::all_levels), std::rend(testing::all_levels),
                                 [](KernelLevel level) { return supports(level); });
  EXPECT_EQ(detected_level(), *best);
  for (const KernelLevel level : testing::all_levels) {
    SCOPED_TRACE(testing::level_name(level));
    const bool possible = supports(level);
    EXPECT_EQ(detail::force_level(level), possible);
    EXPECT_EQ(active_level(), possible ? level : detected_level());
    detail::force_level(std::nullopt);
    EXPECT_EQ(active_level(), detected_level());
  }
}

TEST(KernelDispatch, MicroKernelUsesTheActiveLevel) {
  // A kernel of another level would write a tile of another shape: fewer elements leave
  // NaN behind, more overwrite the canaries after the tile.
  for (const KernelLevel level : testing::all_levels) {
    testing::ScopedLevel forced(level);
    if (!forced.forced()) continue;
    SCOPED_TRACE(testing::level_name(level));
    const Tile tile = tile_for<double>(level);
    std::vector<double> a(max_tile_elements, 1.0), b(max_tile_elements, 2.0);
    std::vector<double> c(max_tile_elements, testing::canary<double>);
    std::fill_n(c.begin(), tile.mr * tile.nr, std::nan(""));
    micro_kernel<double>(1, a.data(), b.data(), c.data(), tile.mr, 1.0, 0.0);
    for (std::size_t e = 0; e < c.size(); ++e) {
      EXPECT_EQ(c[e], e < tile.mr * tile.nr ? 2.0 : testing::canary<double>) << e;
    }
  }
}

}  // namespace
}  // namespace pellum_blas::level3::gemm_kernel
