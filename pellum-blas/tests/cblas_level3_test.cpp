// The exported level-3 functions against long-double references computed from the logical
// matrices, for both layouts, every transposition, side, triangle and diagonal, sizes on
// both sides of every path threshold, and the scalars 0, −0, 1, 2.5 and NaN. Operands sit
// inside larger arrays whose canaries must survive; unreferenced triangles hold NaN, which
// must neither be read nor change.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/number_text.hpp"
#include "test_support.hpp"

namespace pellum_blas::testing {
namespace {

template <typename T>
class CblasLevel3 : public ::testing::Test {};
TYPED_TEST_SUITE(CblasLevel3, ElementTypes, ElementName);

template <typename T>
struct Scalars {
  T alpha, beta;
};

// Every pair of 0, −0, 1, 2.5 and NaN for small problems; a few telling ones for large.
template <typename T>
std::vector<Scalars<T>> scalar_pairs(bool every) {
  if (!every) return {{T{2.5}, T{-0.0}}, {T{1}, T{2.5}}, {T{-0.0}, T{1}}, {nan<T>, T{0}}};
  const T values[] = {T{0}, T{-0.0}, T{1}, T{2.5}, nan<T>};
  std::vector<Scalars<T>> out;
  for (const T alpha : values)
    for (const T beta : values) out.push_back({alpha, beta});
  return out;
}

template <typename T>
std::string scalars_label(Scalars<T> s) {
  return fmt::format("alpha={} beta={}", support::shortest(s.alpha), support::shortest(s.beta));
}

auto everywhere = [](std::size_t, std::size_t) { return true; };

// The stored matrix of an operand that op() turns into rows × cols.
template <typename T>
LayoutMatrix<T> operand(bool row_major, bool transposed, std::size_t rows, std::size_t cols, std::uint32_t seed) {
  LayoutMatrix<T> x(row_major, transposed ? cols : rows, transposed ? rows : cols);
  x.memory.fill_random(seed);
  return x;
}

template <typename T>
T op_at(const LayoutMatrix<T>& x, bool transposed, std::size_t i, std::size_t j) {
  return transposed ? x(j, i) : x(i, j);
}

// C filled at random with a NaN at (0, 0): beta = 0 must drop it, any other beta keep it.
template <typename T>
LayoutMatrix<T> output(bool row_major, std::size_t rows, std::size_t cols, std::uint32_t seed) {
  LayoutMatrix<T> c(row_major, rows, cols);
  c.memory.fill_random(seed);
  if (rows > 0 && cols > 0) c(0, 0) = nan<T>;
  return c;
}

TYPED_TEST(CblasLevel3, GemmMatchesTheReference) {
  using T = TypeParam;
  struct Shape {
    std::size_t m, k, n;
    bool every_scalar;
  };
  // The small path up to 32³, the blocked driver beyond it, the inline loops' 128-wide
  // blocks crossed in rows and depth, and an empty depth.
  const Shape shapes[] = {{1, 1, 1, true},    {3, 2, 5, true},      {32, 32, 32, true},
                          {33, 32, 32, true}, {130, 131, 3, false}, {4, 0, 3, true}};
  for (const bool row : {false, true})
    for (const std::int32_t ta : {CblasNoTrans, CblasTrans, CblasConjTrans})
      for (const std::int32_t tb : {CblasNoTrans, CblasTrans})
        for (const Shape& s : shapes)
          for (const Scalars<T> sc : scalar_pairs<T>(s.every_scalar)) {
            if (s.k == 0 && std::isnan(sc.alpha)) continue;  // no product for alpha to spoil
            SCOPED_TRACE(fmt::format("{} ta={} tb={} m={} k={} n={} {}", row ? "row" : "col", ta, tb, s.m, s.k, s.n,
                                     scalars_label(sc)));
            const bool trans_a = ta != CblasNoTrans, trans_b = tb != CblasNoTrans;
            const LayoutMatrix<T> a = operand<T>(row, trans_a, s.m, s.k, 1);
            const LayoutMatrix<T> b = operand<T>(row, trans_b, s.k, s.n, 2);
            LayoutMatrix<T> c = output<T>(row, s.m, s.n, 3);
            const auto a_before = a.memory.storage, b_before = b.memory.storage;
            const auto ref = reference_product(
                s.m, s.n, s.k, [&](std::size_t i, std::size_t p) { return op_at(a, trans_a, i, p); },
                [&](std::size_t p, std::size_t j) { return op_at(b, trans_b, p, j); }, sc.alpha, sc.beta,
                [&](std::size_t i, std::size_t j) { return c(i, j); });
            Cblas<T>::gemm(c.layout(), ta, tb, static_cast<std::int32_t>(s.m), static_cast<std::int32_t>(s.n),
                           static_cast<std::int32_t>(s.k), sc.alpha, a.data(), a.ld(), b.data(), b.ld(), sc.beta,
                           c.data(), c.ld());
            EXPECT_TRUE(matches(s.m, s.n, c, ref, everywhere));
            EXPECT_TRUE(c.memory.canaries_intact());
            EXPECT_TRUE(same_bits(a.memory.storage, a_before));
            EXPECT_TRUE(same_bits(b.memory.storage, b_before));
          }
}

TYPED_TEST(CblasLevel3, ComplexGemmConjugatesWhereAsked) {
  using T = TypeParam;
  using Z = std::complex<long double>;
  struct Shape {
    std::size_t m, k, n;
  };
  const Shape shapes[] = {{3, 4, 5}, {129, 130, 2}};
  // A stored complex operand, tightly packed, and its stored rows × columns.
  auto make = [](bool t, std::size_t rows, std::size_t cols, std::uint32_t seed) {
    const std::size_t r = t ? cols : rows, c = t ? rows : cols;
    std::vector<T> values = random_values<T>(2 * r * c, seed);
    return std::pair{values, std::pair{r, c}};
  };
  for (const bool row : {false, true})
    for (const std::int32_t ta : {CblasNoTrans, CblasTrans, CblasConjTrans})
      for (const std::int32_t tb : {CblasNoTrans, CblasTrans, CblasConjTrans})
        for (const Shape& s : shapes)
          for (const bool beta_zero : {true, false}) {
            SCOPED_TRACE(fmt::format("{} ta={} tb={} m={} k={} n={} beta_zero={}", row ? "row" : "col", ta, tb, s.m,
                                     s.k, s.n, beta_zero));
            const auto [a, a_shape] = make(ta != CblasNoTrans, s.m, s.k, 4);
            const auto [b, b_shape] = make(tb != CblasNoTrans, s.k, s.n, 5);
            std::vector<T> c = random_values<T>(2 * s.m * s.n, 6);
            c[0] = nan<T>;
            // Element (i, j) of a stored r × c complex matrix, tightly packed.
            auto stored = [row](const std::vector<T>& x, std::pair<std::size_t, std::size_t> shape, std::size_t i,
                                std::size_t j) {
              const std::size_t at = row ? i * shape.second + j : i + j * shape.first;
              return Z(x[2 * at], x[2 * at + 1]);
            };
            auto op = [&](const std::vector<T>& x, std::pair<std::size_t, std::size_t> shape, std::int32_t code,
                          std::size_t i, std::size_t j) {
              if (code == CblasNoTrans) return stored(x, shape, i, j);
              const Z v = stored(x, shape, j, i);
              return code == CblasTrans ? v : std::conj(v);
            };
            const T alpha[2] = {T{1.5}, T{-0.5}};
            const T beta[2] = {beta_zero ? T{0} : T{0.5}, beta_zero ? T{-0.0} : T{2}};
            std::vector<Z> want(s.m * s.n);
            for (std::size_t j = 0; j < s.n; ++j)
              for (std::size_t i = 0; i < s.m; ++i) {
                Z sum = 0;
                for (std::size_t p = 0; p < s.k; ++p) sum += op(a, a_shape, ta, i, p) * op(b, b_shape, tb, p, j);
                const Z old = beta_zero ? Z(0) : Z(beta[0], beta[1]) * stored(c, {s.m, s.n}, i, j);
                want[i + j * s.m] = Z(alpha[0], alpha[1]) * sum + old;
              }
            const auto lead = [row](std::pair<std::size_t, std::size_t> shape) {
              return static_cast<std::int32_t>(row ? shape.second : shape.first);
            };
            Cblas<T>::complex_gemm(row ? CblasRowMajor : CblasColMajor, ta, tb, static_cast<std::int32_t>(s.m),
                                   static_cast<std::int32_t>(s.n), static_cast<std::int32_t>(s.k), alpha, a.data(),
                                   lead(a_shape), b.data(), lead(b_shape), beta, c.data(), lead({s.m, s.n}));
            const long double bound = 8 * (s.k + 2) * std::numeric_limits<T>::epsilon();
            for (std::size_t j = 0; j < s.n; ++j)
              for (std::size_t i = 0; i < s.m; ++i) {
                const Z got = stored(c, {s.m, s.n}, i, j), w = want[i + j * s.m];
                if (std::isnan(w.real())) {
                  ASSERT_TRUE(std::isnan(got.real())) << i << "," << j;
                  continue;
                }
                ASSERT_LE(std::abs(got - w), bound * (1 + std::abs(w)) * s.k) << i << "," << j;
              }
          }
}

// NaN in the triangle of a square x that upper does not name (the diagonal excluded).
template <typename T>
void poison_other_triangle(LayoutMatrix<T>& x, bool upper) {
  const std::size_t n = x.row_major ? x.memory.cols : x.memory.rows;
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < n; ++i)
      if (upper ? i > j : i < j) x(i, j) = nan<T>;
}

// A symmetric order × order matrix stored in the triangle named by upper only.
template <typename T>
LayoutMatrix<T> symmetric_operand(bool row, bool upper, std::size_t order, std::uint32_t seed) {
  LayoutMatrix<T> a(row, order, order);
  a.memory.fill_random(seed);
  poison_other_triangle(a, upper);
  return a;
}

TYPED_TEST(CblasLevel3, SymmMatchesTheReference) {
  using T = TypeParam;
  struct Shape {
    std::size_t m, n;
    bool every_scalar;
  };
  // The operand's order crosses 31/32 on both sides.
  const Shape shapes[] = {{3, 4, true}, {31, 2, true}, {32, 3, false}, {2, 32, false}, {40, 37, false}};
  for (const bool row : {false, true})
    for (const std::int32_t side : {CblasLeft, CblasRight})
      for (const std::int32_t uplo : {CblasUpper, CblasLower})
        for (const Shape& s : shapes)
          for (const Scalars<T> sc : scalar_pairs<T>(s.every_scalar)) {
            SCOPED_TRACE(fmt::format("{} side={} uplo={} m={} n={} {}", row ? "row" : "col", side, uplo, s.m, s.n,
                                     scalars_label(sc)));
            const bool left = side == CblasLeft, upper = uplo == CblasUpper;
            const std::size_t order = left ? s.m : s.n;
            const LayoutMatrix<T> a = symmetric_operand<T>(row, upper, order, 7);
            const LayoutMatrix<T> b = operand<T>(row, false, s.m, s.n, 8);
            LayoutMatrix<T> c = output<T>(row, s.m, s.n, 9);
            const auto a_before = a.memory.storage;
            auto sym = [&](std::size_t i, std::size_t k) { return (i <= k) == upper ? a(i, k) : a(k, i); };
            const auto ref = reference_product(
                s.m, s.n, order, [&](std::size_t i, std::size_t p) { return left ? sym(i, p) : b(i, p); },
                [&](std::size_t p, std::size_t j) { return left ? b(p, j) : sym(p, j); }, sc.alpha, sc.beta,
                [&](std::size_t i, std::size_t j) { return c(i, j); });
            Cblas<T>::symm(c.layout(), side, uplo, static_cast<std::int32_t>(s.m), static_cast<std::int32_t>(s.n),
                           sc.alpha, a.data(), a.ld(), b.data(), b.ld(), sc.beta, c.data(), c.ld());
            EXPECT_TRUE(matches(s.m, s.n, c, ref, everywhere));
            EXPECT_TRUE(c.memory.canaries_intact());
            EXPECT_TRUE(same_bits(a.memory.storage, a_before));
          }
}

// C for a rank update: the triangle not named by upper holds NaN and must keep its bits.
template <typename T>
LayoutMatrix<T> triangle_output(bool row, bool upper, std::size_t n, std::uint32_t seed) {
  LayoutMatrix<T> c = output<T>(row, n, n, seed);
  poison_other_triangle(c, upper);
  return c;
}

TYPED_TEST(CblasLevel3, RankUpdatesMatchTheReferenceAndKeepTheOtherTriangle) {
  using T = TypeParam;
  struct Shape {
    std::size_t n, k;
    bool every_scalar;
  };
  // Order 31/32 and depth 7/8 around the product path, and an empty depth.
  const Shape shapes[] = {{4, 3, true}, {5, 0, true}, {31, 9, false}, {32, 7, false}, {32, 8, false}, {33, 40, false}};
  for (const bool two : {false, true})
    for (const bool row : {false, true})
      for (const std::int32_t uplo : {CblasUpper, CblasLower})
        for (const std::int32_t trans : {CblasNoTrans, CblasTrans, CblasConjTrans})
          for (const Shape& s : shapes)
            for (const Scalars<T> sc : scalar_pairs<T>(s.every_scalar)) {
              if (s.k == 0 && std::isnan(sc.alpha)) continue;
              SCOPED_TRACE(fmt::format("{} {} uplo={} trans={} n={} k={} {}", two ? "syr2k" : "syrk",
                                       row ? "row" : "col", uplo, trans, s.n, s.k, scalars_label(sc)));
              const bool upper = uplo == CblasUpper, t = trans != CblasNoTrans;
              // op(X) is n × k: X itself, or with trans its k × n transpose.
              const LayoutMatrix<T> a = operand<T>(row, t, s.n, s.k, 10);
              const LayoutMatrix<T> b = operand<T>(row, t, s.n, s.k, 11);
              LayoutMatrix<T> c = triangle_output<T>(row, upper, s.n, 12);
              const LayoutMatrix<T> c_before = c;
              // op(A)·op(B)ᵀ + op(B)·op(A)ᵀ as one product of depth 2k.
              auto left = [&](std::size_t i, std::size_t p) {
                return p < s.k ? op_at(a, t, i, p) : op_at(b, t, i, p - s.k);
              };
              auto right = [&](std::size_t p, std::size_t j) {
                if (!two) return op_at(a, t, j, p);
                return p < s.k ? op_at(b, t, j, p) : op_at(a, t, j, p - s.k);
              };
              const auto ref = reference_product(s.n, s.n, two ? 2 * s.k : s.k, left, right, sc.alpha, sc.beta,
                                                 [&](std::size_t i, std::size_t j) { return c(i, j); });
              const auto n = static_cast<std::int32_t>(s.n), k = static_cast<std::int32_t>(s.k);
              if (two)
                Cblas<T>::syr2k(c.layout(), uplo, trans, n, k, sc.alpha, a.data(), a.ld(), b.data(), b.ld(), sc.beta,
                                c.data(), c.ld());
              else
                Cblas<T>::syrk(c.layout(), uplo, trans, n, k, sc.alpha, a.data(), a.ld(), sc.beta, c.data(), c.ld());
              auto in_triangle = [upper](std::size_t i, std::size_t j) { return upper ? i <= j : i >= j; };
              EXPECT_TRUE(matches(s.n, s.n, c, ref, in_triangle));
              for (std::size_t j = 0; j < s.n; ++j)
                for (std::size_t i = 0; i < s.n; ++i) {
                  if (in_triangle(i, j)) continue;
                  ASSERT_TRUE(same_bits(c(i, j), c_before(i, j))) << i << "," << j;
                }
              EXPECT_TRUE(c.memory.canaries_intact());
            }
}

// A triangular operand: the triangle not named by upper is NaN, and so is the diagonal when
// it is unit. The stored triangle is small off the diagonal and the diagonal is at least 1,
// so that solves stay well conditioned at every order.
template <typename T>
LayoutMatrix<T> triangular_operand(bool row, bool upper, bool unit, std::size_t order, std::uint32_t seed) {
  LayoutMatrix<T> a(row, order, order);
  a.memory.fill_random(seed);
  for (std::size_t j = 0; j < order; ++j)
    for (std::size_t i = 0; i < order; ++i)
      a(i, j) = i == j ? (unit ? nan<T> : T(1 + std::fabs(a(i, j)))) : a(i, j) / T(order);
  poison_other_triangle(a, upper);
  return a;
}

struct TriangularCase {
  bool row, left, upper, unit;
  std::int32_t trans;
};

// Both layouts, sides, triangles, diagonals and the three transposition codes.
std::vector<TriangularCase> triangular_cases() {
  std::vector<TriangularCase> out;
  for (const bool row : {false, true})
    for (const bool left : {true, false})
      for (const bool upper : {true, false})
        for (const bool unit : {false, true})
          for (const std::int32_t trans : {CblasNoTrans, CblasTrans, CblasConjTrans})
            out.push_back({row, left, upper, unit, trans});
  return out;
}

std::string triangular_label(const TriangularCase& t, std::size_t m, std::size_t n) {
  return fmt::format("{} {} {} {} trans={} m={} n={}", t.row ? "row" : "col", t.left ? "left" : "right",
                     t.upper ? "upper" : "lower", t.unit ? "unit" : "nonunit", t.trans, m, n);
}

// op(A)(i, k) of the logical triangle, 0 outside it, 1 on a unit diagonal.
template <typename T>
long double triangle_at(const LayoutMatrix<T>& a, const TriangularCase& t, std::size_t i, std::size_t k) {
  const bool transposed = t.trans != CblasNoTrans;
  const std::size_t r = transposed ? k : i, c = transposed ? i : k;
  if (r == c) return t.unit ? 1.0L : a(r, c);
  return (t.upper ? r < c : r > c) ? a(r, c) : 0.0L;
}

TYPED_TEST(CblasLevel3, TrmmMatchesTheReference) {
  using T = TypeParam;
  struct Shape {
    std::size_t order, other;
  };
  // The triangle's order crosses 31/32.
  const Shape shapes[] = {{3, 2}, {31, 3}, {32, 4}, {45, 2}};
  const T alphas[] = {T{0}, T{-0.0}, T{1}, T{2.5}, nan<T>};
  for (const TriangularCase& t : triangular_cases())
    for (const Shape& s : shapes)
      for (const T alpha : alphas) {
        const std::size_t m = t.left ? s.order : s.other, n = t.left ? s.other : s.order;
        SCOPED_TRACE(triangular_label(t, m, n) + " alpha=" + support::shortest(alpha));
        const LayoutMatrix<T> a = triangular_operand<T>(t.row, t.upper, t.unit, s.order, 13);
        LayoutMatrix<T> b = operand<T>(t.row, false, m, n, 14);
        const LayoutMatrix<T> b_before = b;
        const auto ref = reference_product(
            m, n, s.order,
            [&](std::size_t i, std::size_t p) { return t.left ? triangle_at(a, t, i, p) : b_before(i, p); },
            [&](std::size_t p, std::size_t j) { return t.left ? b_before(p, j) : triangle_at(a, t, p, j); }, alpha,
            T{0}, [](std::size_t, std::size_t) { return T{0}; });
        Cblas<T>::trmm(b.layout(), t.left ? CblasLeft : CblasRight, t.upper ? CblasUpper : CblasLower, t.trans,
                       t.unit ? CblasUnit : CblasNonUnit, static_cast<std::int32_t>(m), static_cast<std::int32_t>(n),
                       alpha, a.data(), a.ld(), b.data(), b.ld());
        EXPECT_TRUE(matches(m, n, b, ref, everywhere));
        if (alpha == 0) {  // cleared, not multiplied: +0 whatever the sums
          for (std::size_t j = 0; j < n; ++j)
            for (std::size_t i = 0; i < m; ++i) ASSERT_TRUE(same_bits(b(i, j), T{0}));
        }
        EXPECT_TRUE(b.memory.canaries_intact());
      }
}

// X with op(A)·X = alpha·B (left) or X·op(A) = alpha·B (right), by substitution in long double.
template <typename T>
std::vector<long double> reference_solve(const LayoutMatrix<T>& a, const TriangularCase& t, const LayoutMatrix<T>& b,
                                         std::size_t m, std::size_t n, T alpha) {
  std::vector<long double> x(m * n);
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < m; ++i) x[i + j * m] = static_cast<long double>(alpha) * b(i, j);
  const std::size_t order = t.left ? m : n;
  // op(A) lower on the left, or upper on the right, is solved first index to last.
  const bool op_upper = t.upper != (t.trans != CblasNoTrans);
  const bool forward = t.left ? !op_upper : op_upper;
  for (std::size_t step = 0; step < order; ++step) {
    const std::size_t q = forward ? step : order - 1 - step;
    for (std::size_t r = 0; r < (t.left ? n : m); ++r) {
      long double& v = t.left ? x[q + r * m] : x[r + q * m];
      for (std::size_t p = 0; p < order; ++p) {
        if (p == q || (forward ? p > q : p < q)) continue;
        v -= t.left ? triangle_at(a, t, q, p) * x[p + r * m] : x[r + p * m] * triangle_at(a, t, p, q);
      }
      v /= triangle_at(a, t, q, q);
    }
  }
  return x;
}

TYPED_TEST(CblasLevel3, TrsmMatchesTheReference) {
  using T = TypeParam;
  struct Shape {
    std::size_t order, other;
  };
  // Direct below 64, 64-wide blocks up to 255, recursive halving from 256 (and an order
  // whose halves are odd); 37 right-hand sides fill whole vector groups of the substitution
  // and leave a tail.
  const Shape shapes[] = {{3, 2}, {40, 37}, {63, 2}, {64, 3}, {255, 2}, {256, 1}, {300, 2}};
  for (const TriangularCase& t : triangular_cases())
    for (const Shape& s : shapes)
      for (const T alpha :
           s.order == 3 ? std::vector<T>{T{0}, T{-0.0}, T{1}, T{2.5}, nan<T>} : std::vector<T>{T{2.5}}) {
        const std::size_t m = t.left ? s.order : s.other, n = t.left ? s.other : s.order;
        SCOPED_TRACE(triangular_label(t, m, n) + " alpha=" + support::shortest(alpha));
        const LayoutMatrix<T> a = triangular_operand<T>(t.row, t.upper, t.unit, s.order, 15);
        LayoutMatrix<T> b = operand<T>(t.row, false, m, n, 16);
        const std::vector<long double> want = reference_solve(a, t, b, m, n, alpha);
        Cblas<T>::trsm(b.layout(), t.left ? CblasLeft : CblasRight, t.upper ? CblasUpper : CblasLower, t.trans,
                       t.unit ? CblasUnit : CblasNonUnit, static_cast<std::int32_t>(m), static_cast<std::int32_t>(n),
                       alpha, a.data(), a.ld(), b.data(), b.ld());
        const long double bound = 16 * (s.order + 2) * std::numeric_limits<T>::epsilon();
        for (std::size_t j = 0; j < n; ++j)
          for (std::size_t i = 0; i < m; ++i) {
            const long double w = want[i + j * m], got = b(i, j);
            if (std::isnan(w))
              ASSERT_TRUE(std::isnan(got)) << i << "," << j;
            else
              ASSERT_LE(std::fabs(got - w), bound * (1 + std::fabs(w))) << i << "," << j;
          }
        EXPECT_TRUE(b.memory.canaries_intact());
      }
}

// Arguments outside the interface's domain leave every output as it was, and so do empty
// problems.
TYPED_TEST(CblasLevel3, RejectedArgumentsTouchNothing) {
  using T = TypeParam;
  using Api = Cblas<T>;
  constexpr std::int32_t col = CblasColMajor, row = CblasRowMajor, N = CblasNoTrans, Tr = CblasTrans;
  constexpr std::int32_t L = CblasLeft, R = CblasRight, U = CblasUpper, Lo = CblasLower;
  std::vector<T> a = random_values<T>(64, 1), b = random_values<T>(64, 2), c = random_values<T>(64, 3);
  const T one[2] = {1, 0};
  struct Case {
    const char* name;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"gemm_negative_k", [&] { Api::gemm(col, N, N, 2, 2, -1, 1, a.data(), 2, b.data(), 2, 0, c.data(), 2); }},
      {"gemm_lda_below_m", [&] { Api::gemm(col, N, N, 3, 2, 2, 1, a.data(), 2, b.data(), 2, 0, c.data(), 3); }},
      {"gemm_trans_lda_below_k", [&] { Api::gemm(col, Tr, N, 2, 2, 3, 1, a.data(), 2, b.data(), 3, 0, c.data(), 2); }},
      {"gemm_row_ldb_below_n", [&] { Api::gemm(row, N, N, 2, 3, 2, 1, a.data(), 2, b.data(), 2, 0, c.data(), 3); }},
      {"gemm_ldc_below_m", [&] { Api::gemm(col, N, Tr, 3, 2, 2, 1, a.data(), 3, b.data(), 2, 0, c.data(), 2); }},
      {"gemm_m_zero", [&] { Api::gemm(col, N, N, 0, 2, 2, 1, a.data(), 1, b.data(), 2, 0, c.data(), 1); }},
      {"complex_gemm_negative_k",
       [&] { Api::complex_gemm(col, N, N, 2, 2, -1, one, a.data(), 2, b.data(), 2, one, c.data(), 2); }},
      {"complex_gemm_m_zero_null_scalars",
       [&] { Api::complex_gemm(col, N, N, 0, 2, 2, nullptr, nullptr, 1, nullptr, 1, nullptr, nullptr, 1); }},
      {"complex_gemm_ldc_below_m",
       [&] { Api::complex_gemm(col, N, N, 3, 2, 2, one, a.data(), 3, b.data(), 2, one, c.data(), 2); }},
      {"symm_lda_below_order", [&] { Api::symm(col, L, U, 3, 2, 1, a.data(), 2, b.data(), 3, 0, c.data(), 3); }},
      {"symm_row_ldc_below_n", [&] { Api::symm(row, R, U, 2, 3, 1, a.data(), 3, b.data(), 3, 0, c.data(), 2); }},
      {"syrk_negative_k", [&] { Api::syrk(col, U, N, 2, -1, 1, a.data(), 2, 0, c.data(), 2); }},
      {"syrk_lda_below_n", [&] { Api::syrk(col, U, N, 3, 2, 1, a.data(), 2, 0, c.data(), 3); }},
      {"syrk_row_lda_below_k", [&] { Api::syrk(row, Lo, N, 2, 3, 1, a.data(), 2, 0, c.data(), 2); }},
      {"syrk_n_zero", [&] { Api::syrk(col, U, N, 0, -1, 1, a.data(), 1, 0, c.data(), 1); }},
      {"syr2k_ldb_below_k", [&] { Api::syr2k(col, U, Tr, 2, 3, 1, a.data(), 3, b.data(), 2, 0, c.data(), 2); }},
      {"trmm_ldb_below_m", [&] { Api::trmm(col, L, U, N, CblasNonUnit, 3, 2, 2, a.data(), 3, c.data(), 2); }},
      {"trmm_row_lda_below_order", [&] { Api::trmm(row, R, U, N, CblasNonUnit, 2, 3, 2, a.data(), 2, c.data(), 3); }},
      {"trsm_lda_below_order", [&] { Api::trsm(col, L, Lo, Tr, CblasUnit, 3, 2, 2, a.data(), 2, c.data(), 3); }},
      {"trsm_n_zero", [&] { Api::trsm(col, L, Lo, N, CblasUnit, 3, 0, 2, a.data(), 3, c.data(), 3); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::vector<T> a0 = a, b0 = b, c0 = c;
    k.call();
    EXPECT_TRUE(same_bits(a, a0));
    EXPECT_TRUE(same_bits(b, b0));
    EXPECT_TRUE(same_bits(c, c0));
  }
}

// With an empty depth, beta = 0 writes zeros over anything C held, on the driver's path
// (no transposition) and on the inline loops alike.
TYPED_TEST(CblasLevel3, GemmWithEmptyDepthAndZeroBetaClearsC) {
  using T = TypeParam;
  for (const std::int32_t ta : {CblasNoTrans, CblasTrans}) {
    SCOPED_TRACE(ta);
    std::vector<T> c = {nan<T>, -inf<T>, T{-0.0}, 5};
    const T none[1] = {nan<T>};
    Cblas<T>::gemm(CblasColMajor, ta, CblasNoTrans, 2, 2, 0, 1, none, 2, none, 1, T{-0.0}, c.data(), 2);
    EXPECT_TRUE(same_bits(c, std::vector<T>(4, T{0})));
    std::vector<T> z = {nan<T>, nan<T>, 1, 2};
    const T one[2] = {1, 0}, zero[2] = {0, 0};
    Cblas<T>::complex_gemm(CblasColMajor, ta, CblasNoTrans, 1, 2, 0, one, none, 1, none, 1, zero, z.data(), 1);
    EXPECT_TRUE(same_bits(z, std::vector<T>(4, T{0})));
  }
}

// Values other than the tested one of each enumeration read as its alternative: Layout 0
// as column-major, Side 0 as right, Uplo 0 as lower, Diag 0 as unit, TransA 0 (and 367,
// which differs from "not transposed" by 256) as transposed.
TYPED_TEST(CblasLevel3, UnknownEnumerationValuesReadAsTheAlternative) {
  using T = TypeParam;
  const std::vector<T> a = random_values<T>(9, 4), b0 = random_values<T>(6, 5);
  struct Case {
    const char* name;
    std::int32_t layout, side, uplo, trans, diag;                      // the odd call
    std::int32_t std_layout, std_side, std_uplo, std_trans, std_diag;  // its standard twin
  };
  const Case cases[] = {
      {"layout_0", 0, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, CblasColMajor, CblasLeft, CblasUpper,
       CblasNoTrans, CblasNonUnit},
      {"side_0", CblasColMajor, 0, CblasUpper, CblasNoTrans, CblasNonUnit, CblasColMajor, CblasRight, CblasUpper,
       CblasNoTrans, CblasNonUnit},
      {"uplo_0", CblasColMajor, CblasLeft, 0, CblasNoTrans, CblasNonUnit, CblasColMajor, CblasLeft, CblasLower,
       CblasNoTrans, CblasNonUnit},
      {"diag_0", CblasColMajor, CblasLeft, CblasUpper, CblasNoTrans, 0, CblasColMajor, CblasLeft, CblasUpper,
       CblasNoTrans, CblasUnit},
      {"trans_0", CblasColMajor, CblasLeft, CblasUpper, 0, CblasNonUnit, CblasColMajor, CblasLeft, CblasUpper,
       CblasTrans, CblasNonUnit},
      {"trans_367", CblasColMajor, CblasLeft, CblasUpper, 367, CblasNonUnit, CblasColMajor, CblasLeft, CblasUpper,
       CblasTrans, CblasNonUnit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // B is 3 × 3 so that either side fits; its first two columns and rows are random.
    std::vector<T> odd(9, T{1}), standard(9, T{1});
    std::copy(b0.begin(), b0.end(), odd.begin());
    std::copy(b0.begin(), b0.end(), standard.begin());
    Cblas<T>::trmm(c.layout, c.side, c.uplo, c.trans, c.diag, 3, 3, T{2}, a.data(), 3, odd.data(), 3);
    Cblas<T>::trmm(c.std_layout, c.std_side, c.std_uplo, c.std_trans, c.std_diag, 3, 3, T{2}, a.data(), 3,
                   standard.data(), 3);
    EXPECT_TRUE(same_bits(odd, standard));
    EXPECT_FALSE(same_bits(odd, std::vector<T>(9, T{1})));
  }
}

// The hand-vectorised loops (the inline GEMM's register tile, the substitution of the
// direct solve) give the same bits under every instruction set, tails included.
TYPED_TEST(CblasLevel3, EveryKernelLevelGivesTheSameBits) {
  using T = TypeParam;
  const LayoutMatrix<T> a = operand<T>(false, true, 37, 41, 17), b = operand<T>(false, false, 41, 19, 18);
  const LayoutMatrix<T> tri = triangular_operand<T>(false, true, false, 50, 19);
  const LayoutMatrix<T> left_b = operand<T>(false, false, 50, 37, 20), right_b = operand<T>(false, false, 37, 50, 21);
  auto run = [&] {
    LayoutMatrix<T> c = output<T>(false, 37, 19, 22), x = left_b, y = right_b;
    Cblas<T>::gemm(CblasColMajor, CblasTrans, CblasNoTrans, 37, 19, 41, T{1.5}, a.data(), a.ld(), b.data(), b.ld(),
                   T{0.5}, c.data(), c.ld());
    Cblas<T>::trsm(CblasColMajor, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, 50, 37, T{1}, tri.data(), tri.ld(),
                   x.data(), x.ld());
    Cblas<T>::trsm(CblasColMajor, CblasRight, CblasUpper, CblasTrans, CblasNonUnit, 37, 50, T{1}, tri.data(), tri.ld(),
                   y.data(), y.ld());
    std::vector<T> out = c.memory.storage;
    out.insert(out.end(), x.memory.storage.begin(), x.memory.storage.end());
    out.insert(out.end(), y.memory.storage.begin(), y.memory.storage.end());
    return out;
  };
  std::vector<T> baseline;
  {
    const ScopedLevel scalar(level3::gemm_kernel::KernelLevel::Scalar);
    baseline = run();
  }
  for (const auto level : all_levels) {
    SCOPED_TRACE(level_name(level));
    const ScopedLevel forced(level);
    if (!forced.forced()) continue;  // the processor lacks it
    EXPECT_TRUE(same_bits(run(), baseline));
  }
}

// Calls on disjoint outputs from several threads at once give what one thread gives.
TYPED_TEST(CblasLevel3, ConcurrentCallsOnDisjointOutputsAgree) {
  using T = TypeParam;
  const LayoutMatrix<T> a = triangular_operand<T>(false, false, false, 70, 23);
  const LayoutMatrix<T> b = operand<T>(false, false, 70, 9, 24);
  auto solve_and_multiply = [&] {
    LayoutMatrix<T> x = b, c = output<T>(false, 70, 9, 25);
    Cblas<T>::trsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasNonUnit, 70, 9, T{1}, a.data(), a.ld(),
                   x.data(), x.ld());
    Cblas<T>::gemm(CblasColMajor, CblasTrans, CblasNoTrans, 70, 9, 70, T{1}, a.data(), a.ld(), x.data(), x.ld(), T{0},
                   c.data(), c.ld());
    return c.memory.storage;
  };
  const std::vector<T> expected = solve_and_multiply();
  std::vector<std::vector<T>> results(4);
  std::vector<std::thread> threads;
  for (auto& result : results) threads.emplace_back([&] { result = solve_and_multiply(); });
  for (std::thread& t : threads) t.join();
  for (const auto& result : results) EXPECT_TRUE(same_bits(result, expected));
}

// A panic inside an exported function never unwinds into its C caller: the message and
// the reason go to standard error and the process aborts. A symmetric operand of order
// 2^31 − 1 needs a full copy beyond the allocation limit, refused before anything is read.
TEST(CblasDeathTest, APanicEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::int32_t huge = 2147483647;
  const double none[1] = {0};
  double out[1] = {0};
  EXPECT_DEATH(cblas_dsymm(CblasColMajor, CblasLeft, CblasUpper, huge, 1, 1.0, none, huge, none, huge, 0.0, out, huge),
               "Invalid layout: LayoutError\npanic in a function that cannot unwind");
}

}  // namespace
}  // namespace pellum_blas::testing
