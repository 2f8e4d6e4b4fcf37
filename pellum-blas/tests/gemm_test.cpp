#include "pellum_blas/level3/gemm.hpp"

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/testing.hpp"
#include "test_support.hpp"

namespace pellum_blas::level3::gemm {
namespace {

using gemm_kernel::KernelLevel;
using pellum_blas::testing::Padded;
using pellum_blas::testing::same_bits;
using pellum_blas::testing::ScopedLevel;
using support::testing::panic_message;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Runs the body once for double and once for float.
template <typename F>
void for_both_types(F&& body) {
  {
    SCOPED_TRACE("f64");
    body(double{});
  }
  {
    SCOPED_TRACE("f32");
    body(float{});
  }
}

struct ShapeCase {
  const char* name;
  std::size_t m, k, n;
  std::optional<BlockingParams> blocking;  // nothing: gemm_with_par chooses
};

// C = alpha·A·B + beta·C on random data, checked against the long-double reference;
// C lives inside a larger array whose canaries must survive. For beta = 0 C starts as
// NaN, which must not survive: C is overwritten, never read.
template <typename T>
void expect_matches_reference(const ShapeCase& s, T alpha, T beta, std::uint32_t seed) {
  Padded<T> a(s.m, s.k), b(s.k, s.n), c(s.m, s.n, 5);
  a.fill_random(seed);
  b.fill_random(seed + 1);
  c.fill_random(seed + 2);
  if (beta == T(0)) c.fill(T(nan));
  const auto ref = testing::reference_gemm(a, b, c, alpha, beta);
  if (s.blocking) {
    gemm_with_blocking(a.view(), b.view(), c.view_mut(), alpha, beta, *s.blocking);
  } else {
    gemm_with_par(a.view(), b.view(), c.view_mut(), alpha, beta);
  }
  EXPECT_TRUE(testing::matches_reference(c, ref));
}

class GemmAtLevel : public ::testing::TestWithParam<KernelLevel> {
 protected:
  void SetUp() override {
    if (!level_.forced()) GTEST_SKIP() << "the processor lacks this instruction set";
  }

 private:
  ScopedLevel level_{GetParam()};
};

TEST_P(GemmAtLevel, ShapesAcrossThresholds) {
  const ShapeCase cases[] = {
      {"small_path_limit_32x32x32", 32, 32, 32, std::nullopt},
      {"blocked_from_33x32x32", 33, 32, 32, std::nullopt},
      {"edge_tiles_37x29x41", 37, 29, 41, std::nullopt},
      {"single_column", 300, 120, 1, std::nullopt},
      {"single_row", 1, 130, 300, std::nullopt},
      {"depth_one", 70, 1, 500, std::nullopt},
      // Small blocks: several depth, column and row blocks, each with cut edges.
      {"many_blocks", 45, 31, 38, BlockingParams{20, 9, 14}},
      {"blocks_of_one_tile_depth", 33, 40, 17, BlockingParams{16, 1, 6}},
      {"fixed_blocks_511", 511, 9, 13, std::nullopt},
      {"adaptive_blocks_512", 512, 9, 13, std::nullopt},
  };
  for (const ShapeCase& s : cases) {
    SCOPED_TRACE(s.name);
    for_both_types([&]<typename T>(T) { expect_matches_reference<T>(s, T(2.5), T(-1.5), 7); });
  }
}

struct ScalarCase {
  const char* name;
  double value;
};

constexpr ScalarCase scalars[] = {{"0", 0.0}, {"neg0", -0.0}, {"1", 1.0}, {"2.5", 2.5}, {"nan", nan}};

TEST_P(GemmAtLevel, AlphaBetaCombinations) {
  // One shape on the small path and one on the blocked path with cut edge tiles; beta = 0
  // also shows that neither path reads C then.
  static_assert(37 * 35 * 29 > small_gemm_limit);
  const ShapeCase shapes[] = {{"small", 9, 5, 16, std::nullopt}, {"blocked", 37, 35, 29, std::nullopt}};
  for (const ShapeCase& s : shapes) {
    for (const ScalarCase& alpha : scalars) {
      for (const ScalarCase& beta : scalars) {
        SCOPED_TRACE(std::string(s.name) + " alpha=" + alpha.name + " beta=" + beta.name);
        for_both_types([&]<typename T>(T) { expect_matches_reference<T>(s, T(alpha.value), T(beta.value), 11); });
      }
    }
  }
}

// Without a shortcut for alpha = 0 the blocked path still forms A·B, so a NaN in A
// reaches the row it sits in; the small path does not read A at all. This also tells
// which path a product took.
TEST_P(GemmAtLevel, AlphaZeroWithNanInA) {
  for_both_types([&]<typename T>(T) {
    // m·n·k = 32768 is the last product of the small path.
    for (const ShapeCase& s : {ShapeCase{"small_32x32x32", 32, 32, 32, std::nullopt},
                               ShapeCase{"blocked_33x32x32", 33, 32, 32, std::nullopt}}) {
      SCOPED_TRACE(s.name);
      Padded<T> a(s.m, s.k), b(s.k, s.n), c(s.m, s.n);
      a.fill_random(3);
      b.fill_random(4);
      c.fill(T(1));
      a.at(2, 5) = T(nan);
      gemm_with_par(a.view(), b.view(), c.view_mut(), T(0), T(2));
      const bool blocked = s.m * s.n * s.k > small_gemm_limit;
      EXPECT_EQ(std::isnan(c.at(2, 3)), blocked);
      EXPECT_EQ(c.at(3, 3), T(2));
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Levels, GemmAtLevel, ::testing::ValuesIn(testing::all_levels),
                         ::testing::PrintToStringParamName());

TEST(Gemm, EmptyResultLeavesCUntouched) {
  for (const ShapeCase& s :
       {ShapeCase{"no_rows", 0, 6, 5, std::nullopt}, ShapeCase{"no_columns", 4, 6, 0, std::nullopt},
        ShapeCase{"nothing", 0, 0, 0, std::nullopt}}) {
    SCOPED_TRACE(s.name);
    Padded<double> a(s.m, s.k), b(s.k, s.n), c(s.m, s.n);
    a.fill(nan);
    gemm_with_par(a.view(), b.view(), c.view_mut(), nan, 0.0);
    EXPECT_TRUE(c.canaries_intact());
  }
}

TEST(Gemm, DepthZeroAppliesOnlyBeta) {
  const double old[] = {nan, -inf, -0.0, 3.0};
  struct Case {
    const char* name;
    double beta;
    double expected[4];
  };
  const Case cases[] = {
      {"beta_0_writes_zeros", 0.0, {0.0, 0.0, 0.0, 0.0}},
      {"beta_neg0_writes_zeros", -0.0, {0.0, 0.0, 0.0, 0.0}},
      {"beta_1_leaves_c", 1.0, {nan, -inf, -0.0, 3.0}},
      {"beta_2_doubles", 2.0, {nan, -inf, -0.0, 6.0}},
      {"beta_nan", nan, {nan, nan, nan, nan}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    Padded<double> a(2, 0), b(0, 2), c(2, 2);
    for (int e = 0; e < 4; ++e) c.at(e % 2, e / 2) = old[e];
    gemm_with_par(a.view(), b.view(), c.view_mut(), 5.0, t.beta);
    for (int e = 0; e < 4; ++e)
      EXPECT_TRUE(same_bits(c.at(e % 2, e / 2), t.expected[e]) ||
                  (std::isnan(t.expected[e]) && std::isnan(c.at(e % 2, e / 2))))
          << e;
    EXPECT_TRUE(c.canaries_intact());
  }
}

TEST(Gemm, ShapeMismatchPanics) {
  Padded<double> a(3, 4), b(5, 2), b_ok(4, 2), c(3, 2), c_rows(2, 2), c_cols(3, 3);
  EXPECT_EQ(panic_message([&] { gemm_with_par(a.view(), b.view(), c.view_mut(), 1.0, 0.0); }),
            "A.ncols must equal B.nrows: 4 != 5");
  EXPECT_EQ(panic_message([&] { gemm_with_par(a.view(), b_ok.view(), c_rows.view_mut(), 1.0, 0.0); }),
            "C.nrows must equal A.nrows: 2 != 3");
  EXPECT_EQ(panic_message([&] { gemm_with_par(a.view(), b_ok.view(), c_cols.view_mut(), 1.0, 0.0); }),
            "C.ncols must equal B.ncols: 3 != 2");
  EXPECT_TRUE(c.canaries_intact() && c_rows.canaries_intact() && c_cols.canaries_intact());
}

TEST(Gemm, ZeroBlockSizePanics) {
  Padded<float> a(40, 40), b(40, 40), c(40, 40);
  EXPECT_EQ(panic_message([&] {
              gemm_with_blocking(a.view(), b.view(), c.view_mut(), 1.0f, 0.0f, {16, 0, 16});
            }),
            "block sizes must be non-zero");
}

TEST(ParBlocking, FixedBelow512AdaptiveFrom512) {
  using gemm_kernel::tile_for;
  // Fixed sizes: nc is 2048 cut to whole tiles of NR.
  EXPECT_EQ(detail::par_blocking<double>(511, 511, 511, tile_for<double>(KernelLevel::Avx2)),
            (BlockingParams{576, 448, 2046}));
  EXPECT_EQ(detail::par_blocking<double>(511, 511, 511, tile_for<double>(KernelLevel::Sse42)),
            (BlockingParams{576, 448, 2048}));
  EXPECT_EQ(detail::par_blocking<double>(100, 3, 7, tile_for<double>(KernelLevel::Scalar)),
            (BlockingParams{576, 448, 2048}));
  EXPECT_EQ(detail::par_blocking<float>(511, 511, 511, tile_for<float>(KernelLevel::Avx512)),
            (BlockingParams{576, 896, 2048}));
  // One dimension of 512 hands the choice to the cache formula.
  const gemm_kernel::Tile tile = tile_for<double>(KernelLevel::Avx2);
  for (const auto& [m, k, n] : {std::tuple{512, 1, 1}, std::tuple{1, 512, 1}, std::tuple{1, 1, 512}}) {
    EXPECT_EQ(detail::par_blocking<double>(m, k, n, tile),
              autotune::compute_blocking_adaptive(m, k, n, 8, tile.mr, tile.nr));
  }
}

// An independent oracle on a product large enough for the cache-derived blocks.
TEST(Gemm, AgreesWithEigenOnLargeProduct) {
  for_both_types([&]<typename T>(T) {
    using Matrix = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>;
    const Matrix a = Matrix::Random(530, 300), b = Matrix::Random(300, 270);
    Matrix c = Matrix::Random(530, 270);
    const Matrix expected = T(0.75) * (a * b) + T(-2) * c;
    gemm_with_par<T>({a.data(), 530, 300, 530}, {b.data(), 300, 270, 300}, {c.data(), 530, 270, 530}, T(0.75), T(-2));
    const T tolerance = 700 * std::numeric_limits<T>::epsilon() * 4;
    EXPECT_LE((c - expected).cwiseAbs().maxCoeff(), tolerance);
  });
}

TEST(Gemm, ConcurrentCallsOnSeparateOutputs) {
  // The first calls race to probe the caches and detect the processor; every thread must
  // get the single-threaded result bit for bit.
  Padded<double> a(520, 40), b(40, 30), expected(520, 30);
  a.fill_random(8);
  b.fill_random(9);
  std::vector<Padded<double>> outputs(4, expected);
  std::vector<std::thread> threads;
  for (Padded<double>& c : outputs) {
    threads.emplace_back([&] { gemm_with_par(a.view(), b.view(), c.view_mut(), 1.5, 0.0); });
  }
  for (std::thread& thread : threads) thread.join();
  gemm_with_par(a.view(), b.view(), expected.view_mut(), 1.5, 0.0);
  for (const Padded<double>& c : outputs) {
    for (std::size_t e = 0; e < c.storage.size(); ++e) ASSERT_TRUE(same_bits(c.storage[e], expected.storage[e])) << e;
  }
}

}  // namespace
}  // namespace pellum_blas::level3::gemm
