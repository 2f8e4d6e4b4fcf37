#include "level3/gemm_small.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "support/testing.hpp"
#include "test_support.hpp"

namespace pellum_blas::level3::gemm_small {
namespace {

using pellum_blas::testing::Padded;
using pellum_blas::testing::same_bits;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// The plain triple loop the small path must equal bit for bit: the beta pass, then per
// element an accumulator from +0 over ascending p, then alpha·acc + C.
template <typename T>
Padded<T> triple_loop(const Padded<T>& a, const Padded<T>& b, Padded<T> c, T alpha, T beta) {
  for (std::size_t j = 0; j < c.cols; ++j) {
    for (std::size_t i = 0; i < c.rows; ++i) {
      T& out = c.at(i, j);
      if (beta == T(0)) {
        out = T(0);
      } else if (beta != T(1)) {
        out = out * beta;
      }
      if (alpha == T(0)) continue;
      T acc = T(0);
      for (std::size_t p = 0; p < a.cols; ++p) acc = acc + a.at(i, p) * b.at(p, j);
      out = alpha * acc + out;
    }
  }
  return c;
}

struct SmallCase {
  const char* name;
  std::size_t m, k, n;
};

// Every grouping of C the small path has, with the edges of each.
constexpr SmallCase shapes[] = {
    {"square2_k32", 2, 32, 2},        {"square3_k32", 3, 32, 3},
    {"square3_k33_tiles4", 3, 33, 3}, {"square4_k1", 4, 1, 4},
    {"square4_k5", 4, 5, 4},          {"not_square_2x3", 2, 7, 3},
    {"single_element", 1, 9, 1},      {"tiles4_edges_7x6", 7, 3, 6},
    {"tiles4_full_8x8", 8, 11, 8},    {"tiles8_9x16", 9, 4, 16},
    {"tiles8_16x9", 16, 2, 9},        {"strips_17x6", 17, 5, 6},
    {"strips_40x19", 40, 13, 19},     {"strips_limit_32x32x32", 32, 32, 32},
};

struct ScalarPair {
  const char* name;
  double alpha, beta;
};

constexpr ScalarPair scalars[] = {
    {"plain", 1.0, 1.0},      {"scaled", 2.5, -0.75},     {"beta0", -1.25, 0.0},
    {"beta_neg0", 3.0, -0.0}, {"alpha0_beta2", 0.0, 2.0}, {"alpha_neg0_beta1", -0.0, 1.0},
    {"alpha_nan", nan, 1.0},  {"beta_nan", 1.5, nan},     {"alpha0_beta0", 0.0, 0.0},
};

TEST(GemmSmall, EqualsTripleLoopBitForBit) {
  for (const SmallCase& s : shapes) {
    for (const ScalarPair& sc : scalars) {
      SCOPED_TRACE(std::string(s.name) + " " + sc.name);
      const auto check = [&]<typename T>(T) {
        Padded<T> a(s.m, s.k), b(s.k, s.n), c(s.m, s.n, 4);
        a.fill_random(21);
        b.fill_random(22);
        c.fill_random(23);
        if (sc.beta == 0.0) c.at(s.m - 1, 0) = T(nan);  // must not survive
        const Padded<T> expected = triple_loop(a, b, c, T(sc.alpha), T(sc.beta));
        gemm_small(a.view(), b.view(), c.view_mut(), T(sc.alpha), T(sc.beta));
        EXPECT_TRUE(same_bits(c.storage, expected.storage));
      };
      check(double{});
      check(float{});
    }
  }
}

TEST(GemmSmall, AlphaZeroReadsNeitherAnorB) {
  Padded<double> a(5, 4), b(4, 6), c(5, 6);
  a.fill(nan);
  b.fill(inf);
  c.fill_random(5);
  Padded<double> doubled = c;
  for (double& x : doubled.storage) {
    if (!same_bits(x, pellum_blas::testing::canary<double>)) x = 2 * x;
  }
  gemm_small(a.view(), b.view(), c.view_mut(), 0.0, 2.0);
  EXPECT_TRUE(same_bits(c.storage, doubled.storage));
  // alpha = 0 and beta = 1: C bit for bit unchanged.
  const Padded<double> before = c;
  gemm_small(a.view(), b.view(), c.view_mut(), -0.0, 1.0);
  EXPECT_TRUE(same_bits(c.storage, before.storage));
}

// All-zero operands: NaN·0 is NaN, so a NaN alpha still reaches every element.
TEST(GemmSmall, NanAlphaReachesEveryElement) {
  Padded<float> a(3, 2), b(2, 5), c(3, 5);
  gemm_small(a.view(), b.view(), c.view_mut(), std::numeric_limits<float>::quiet_NaN(), 0.0f);
  for (std::size_t j = 0; j < 5; ++j) {
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(std::isnan(c.at(i, j)));
  }
  EXPECT_TRUE(c.canaries_intact());
}

TEST(GemmSmall, OperandsTooSmallPanicBeforeWriting) {
  Padded<double> a(4, 5), b_short(4, 3), b(5, 3), c_small(3, 3), c(4, 3);
  c_small.fill(1.0);
  EXPECT_EQ(support::testing::panic_message([&] { gemm_small(a.view(), b_short.view(), c.view_mut(), 1.0, 0.0); }),
            "Index out of bounds");
  EXPECT_EQ(support::testing::panic_message([&] { gemm_small(a.view(), b.view(), c_small.view_mut(), 1.0, 0.0); }),
            "Index out of bounds");
  EXPECT_EQ(c_small.at(0, 0), 1.0);
}

}  // namespace
}  // namespace pellum_blas::level3::gemm_small
