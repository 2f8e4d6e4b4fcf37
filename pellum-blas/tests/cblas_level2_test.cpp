#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/number_text.hpp"
#include "test_support.hpp"

namespace pellum_blas::testing {
namespace {

template <typename T>
class CblasGemv : public ::testing::Test {};
TYPED_TEST_SUITE(CblasGemv, ElementTypes, ElementName);

// y_i <- ((op(A)_ij·alpha)·x_j) + y_i over j ascending, after y <- beta·y, where beta = 0
// writes zeros without reading y.
template <typename T>
std::vector<T> reference_gemv(const LayoutMatrix<T>& a, bool trans, std::size_t m, std::size_t n, T alpha,
                              const std::vector<T>& x, T beta, std::vector<T> y) {
  const std::size_t ny = trans ? n : m, nx = trans ? m : n;
  for (std::size_t i = 0; i < ny; ++i) {
    y[i] = beta == 0 ? T{0} : y[i] * beta;
    for (std::size_t j = 0; j < nx; ++j) y[i] = ((trans ? a(j, i) : a(i, j)) * alpha) * x[j] + y[i];
  }
  return y;
}

// A vector spread into canary-filled storage with the increment (negative: far end first).
template <typename T>
std::vector<T> spread(const std::vector<T>& v, std::int32_t inc) {
  const std::size_t step = std::abs(inc), n = v.size();
  std::vector<T> out(1 + (n - 1) * step + 2, canary<T>);
  for (std::size_t i = 0; i < n; ++i) out[(inc > 0 ? i : n - 1 - i) * step] = v[i];
  return out;
}

TYPED_TEST(CblasGemv, MatchesTheReferenceForEveryLayoutTransposeAndScalar) {
  using T = TypeParam;
  const T scalars[] = {0, -0.0, 1, 2.5, nan<T>};
  struct Shape {
    std::int32_t m, n;
  };
  // 37 × 31: row passes of every vector width, then single rows, each with a column tail.
  const Shape shapes[] = {{1, 1}, {3, 5}, {7, 2}, {37, 31}};
  struct Increments {
    std::int32_t x, y;
  };
  const Increments increments[] = {{1, 1}, {2, -1}, {-3, 2}};
  for (const auto level : all_levels)  // the rows are vectorised per instruction set
    for (const bool row_major : {false, true})
      for (const std::int32_t trans : {CblasNoTrans, CblasTrans, CblasConjTrans})
        for (const Shape shape : shapes)
          for (const Increments inc : increments)
            for (const T alpha : scalars)
              for (const T beta : scalars) {
                SCOPED_TRACE(fmt::format("{} {} trans={} {}x{} inc={},{} alpha={} beta={}", level_name(level),
                                         row_major ? "row" : "col", trans, shape.m, shape.n, inc.x, inc.y,
                                         support::shortest(alpha), support::shortest(beta)));
                const ScopedLevel forced(level);
                if (!forced.forced()) continue;  // the processor lacks it
                const auto m = static_cast<std::size_t>(shape.m), n = static_cast<std::size_t>(shape.n);
                const bool transposed = trans != CblasNoTrans;
                const std::size_t nx = transposed ? m : n, ny = transposed ? n : m;
                LayoutMatrix<T> a(row_major, m, n);
                a.memory.fill_random(11);
                const std::vector<T> x = random_values<T>(nx, 12);
                std::vector<T> y0 = random_values<T>(ny, 13);
                y0[0] = nan<T>;  // beta = 0 must not let it through
                // With alpha = ±0 every term is a zero, and whether this sum stays -0 depends on
                // the terms' signs: a lost sign of alpha shows.
                if (ny > 1) y0[1] = T{-0.0};
                const std::vector<T> a_before = a.memory.storage, x_stored = spread(x, inc.x);
                std::vector<T> y_stored = spread(y0, inc.y);

                Cblas<T>::gemv(a.layout(), trans, shape.m, shape.n, alpha, a.data(), a.ld(), x_stored.data(), inc.x,
                               beta, y_stored.data(), inc.y);

                // Elements and the canaries between them.
                const std::vector<T> expected = reference_gemv(a, transposed, m, n, alpha, x, beta, y0);
                EXPECT_TRUE(same_bits(y_stored, spread(expected, inc.y)));
                EXPECT_TRUE(same_bits(a.memory.storage, a_before));
              }
}

TYPED_TEST(CblasGemv, ZeroIncrementOfYAccumulatesRowAfterRow) {
  using T = TypeParam;
  // With incY = 0 every y_i is one element. A = [h 1; -h 1] (h absorbs a 1), x = (1, 1):
  // row after row gives ((h + 1) - h) + 1 = 1; column after column would give 2.
  const T h = T{1} / std::numeric_limits<T>::epsilon() * 4;
  const T a[4] = {h, -h, 1, 1}, x[2] = {1, 1};
  T y[1] = {nan<T>};
  Cblas<T>::gemv(CblasColMajor, CblasNoTrans, 2, 2, 1, a, 2, x, 1, 0, y, 0);
  EXPECT_EQ(y[0], T{1});
}

TYPED_TEST(CblasGemv, RejectedArgumentsTouchNothing) {
  using T = TypeParam;
  struct Case {
    const char* name;
    std::int32_t layout, m, n, lda;
  };
  const Case cases[] = {
      {"m_zero", CblasColMajor, 0, 2, 2},          {"n_negative", CblasColMajor, 2, -1, 2},
      {"col_lda_below_m", CblasColMajor, 3, 2, 2}, {"row_lda_below_n", CblasRowMajor, 2, 3, 2},
      {"lda_zero", CblasColMajor, 1, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<T> a(16, 1), x(4, 1);
    std::vector<T> y = {nan<T>, 7, nan<T>, 7};
    const std::vector<T> before = y;
    Cblas<T>::gemv(c.layout, CblasNoTrans, c.m, c.n, 1, a.data(), c.lda, x.data(), 1, 0, y.data(), 1);
    EXPECT_TRUE(same_bits(y, before));
  }
}

}  // namespace
}  // namespace pellum_blas::testing
