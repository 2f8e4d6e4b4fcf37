// The level-3 routines called directly: their statuses, which path a size takes (seen
// through behaviour that differs between the paths), and what a singular solve leaves.
#include <cmath>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "pellum_blas/level3/symm.hpp"
#include "pellum_blas/level3/syr2k.hpp"
#include "pellum_blas/level3/syrk.hpp"
#include "pellum_blas/level3/trmm.hpp"
#include "pellum_blas/level3/trsm/generic.hpp"
#include "support/testing.hpp"
#include "test_support.hpp"

namespace pellum_blas::testing {
namespace {

using level3::symm::symm;
using level3::syr2k::syr2k;
using level3::syrk::syrk;
using level3::trmm::trmm_in_place;
using level3::trsm::generic::trsm_in_place;
using level3::trsm::generic::trsm_naive_submatrix;
using level3::trsm::generic::trsm_naive_submatrix_right;

template <typename T>
class Level3Routines : public ::testing::Test {};
TYPED_TEST_SUITE(Level3Routines, ElementTypes, ElementName);

template <typename T>
Padded<T> random_matrix(std::size_t rows, std::size_t cols, std::uint32_t seed) {
  Padded<T> x(rows, cols);
  x.fill_random(seed);
  return x;
}

std::string status_name(const BlasStatus& status) {
  if (status) return "success";
  switch (status.error()) {
    case BlasError::NotSquare: return "NotSquare";
    case BlasError::DimensionMismatch: return "DimensionMismatch";
    case BlasError::Singular: return "Singular";
  }
  return "unknown";
}

// The status by name; a refused call must have left `out` as `before`, which it holds again
// afterwards.
template <typename T>
void expect_status(const BlasStatus& status, const char* expected, Padded<T>& out, const std::vector<T>& before) {
  EXPECT_EQ(status_name(status), expected);
  if (!status) {
    EXPECT_TRUE(same_bits(out.storage, before));
  }
  out.storage = before;
}

TYPED_TEST(Level3Routines, ShapeChecksComeFirstAndTouchNothing) {
  using T = TypeParam;
  struct Case {
    const char* name;
    std::size_t a_rows, a_cols, b_rows, b_cols, c_rows, c_cols;
    bool right;
    const char *symm, *trmm, *trsm;  // statuses; B (trmm, trsm) is the c shape
  };
  const Case cases[] = {
      {"a_not_square", 3, 4, 3, 5, 3, 5, false, "NotSquare", "NotSquare", "NotSquare"},
      {"left_order_vs_rows", 3, 3, 4, 5, 4, 5, false, "DimensionMismatch", "DimensionMismatch", "DimensionMismatch"},
      {"right_order_vs_cols", 5, 5, 5, 4, 5, 4, true, "DimensionMismatch", "DimensionMismatch", "DimensionMismatch"},
      {"b_unlike_c", 3, 3, 3, 4, 3, 5, false, "DimensionMismatch", "success", "success"},
      {"fits", 3, 3, 3, 5, 3, 5, false, "success", "success", "success"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Padded<T> a = random_matrix<T>(c.a_rows, c.a_cols, 1), b = random_matrix<T>(c.b_rows, c.b_cols, 2);
    Padded<T> out = random_matrix<T>(c.c_rows, c.c_cols, 3);
    const std::vector<T> before = out.storage;
    expect_status(symm(c.right, true, a.view(), b.view(), out.view_mut(), T{1}, T{1}), c.symm, out, before);
    expect_status(trmm_in_place(c.right, true, false, false, a.view(), out.view_mut(), T{2}), c.trmm, out, before);
    expect_status(trsm_in_place(c.right, true, false, false, a.view(), out.view_mut()), c.trsm, out, before);
  }
}

TYPED_TEST(Level3Routines, RankUpdateShapeChecks) {
  using T = TypeParam;
  struct Case {
    const char* name;
    std::size_t a_rows, a_cols, b_rows, b_cols, n_rows, n_cols;
    bool trans;
    const char *syrk, *syr2k;
  };
  const Case cases[] = {
      {"c_not_square_before_anything", 9, 9, 9, 9, 3, 4, false, "NotSquare", "NotSquare"},
      {"a_rows_vs_order", 4, 3, 5, 3, 5, 5, false, "DimensionMismatch", "DimensionMismatch"},
      {"b_depth_differs", 5, 3, 5, 4, 5, 5, false, "success", "DimensionMismatch"},
      {"trans_a_cols_vs_order", 3, 4, 3, 5, 5, 5, true, "DimensionMismatch", "DimensionMismatch"},
      {"trans_b_depth_differs", 3, 5, 4, 5, 5, 5, true, "success", "DimensionMismatch"},
      {"empty_order", 0, 3, 0, 3, 0, 0, false, "success", "success"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Padded<T> a = random_matrix<T>(c.a_rows, c.a_cols, 1), b = random_matrix<T>(c.b_rows, c.b_cols, 2);
    Padded<T> out = random_matrix<T>(c.n_rows, c.n_cols, 3);
    const std::vector<T> before = out.storage;
    expect_status(syrk(true, c.trans, a.view(), out.view_mut(), T{1}, T{1}), c.syrk, out, before);
    expect_status(syr2k(false, c.trans, a.view(), b.view(), out.view_mut(), T{1}, T{1}), c.syr2k, out, before);
  }
}

// With alpha = 0 and beta = 1 the direct loops of the rank updates touch nothing, so a −0
// in C keeps its sign; the product path merges beta·C + T with T = +0 and turns it into +0.
TYPED_TEST(Level3Routines, RankUpdatesTakeTheProductPathFromOrder32AndDepth8) {
  using T = TypeParam;
  struct Case {
    std::size_t n, k;
    bool product;
  };
  const Case cases[] = {{31, 1000, false}, {32, 7, false}, {32, 8, true}, {40, 9, true}};
  for (const Case& c : cases)
    for (const bool two : {false, true}) {
      SCOPED_TRACE(fmt::format("{} n={} k={}", two ? "syr2k" : "syrk", c.n, c.k));
      const Padded<T> a = random_matrix<T>(c.n, c.k, 1);
      Padded<T> out = random_matrix<T>(c.n, c.n, 2);
      out.at(0, 0) = T{-0.0};
      const BlasStatus status = two ? syr2k(false, false, a.view(), a.view(), out.view_mut(), T{0}, T{1})
                                    : syrk(false, false, a.view(), out.view_mut(), T{0}, T{1});
      ASSERT_TRUE(status);
      EXPECT_TRUE(same_bits(out.at(0, 0), c.product ? T{0} : T{-0.0}));
    }
}

// Order 31 sums directly, and alpha = 0 still forms the sums (NaN in B reaches C); order
// 32 hands a product of 32·32·1 to the GEMM driver's small path, which skips A·B for
// alpha = 0.
TYPED_TEST(Level3Routines, SymmSumsDirectlyUpToOrder31) {
  using T = TypeParam;
  for (const std::size_t order : {31u, 32u}) {
    SCOPED_TRACE(order);
    const Padded<T> a = random_matrix<T>(order, order, 1);
    Padded<T> b = random_matrix<T>(order, 1, 2);
    b.at(order - 1, 0) = nan<T>;
    Padded<T> c = random_matrix<T>(order, 1, 3);
    ASSERT_TRUE(symm(false, true, a.view(), b.view(), c.view_mut(), T{0}, T{1}));
    EXPECT_EQ(std::isnan(c.at(0, 0)), order == 31);
  }
}

// An infinity in B, op(A) upper on the left: the direct kernels start row 1's sum at k = 1
// and never meet it; the product path multiplies it by the zero T(1, 0) and gets NaN.
TYPED_TEST(Level3Routines, TrmmExpandsTheTriangleFromOrder32) {
  using T = TypeParam;
  for (const std::size_t order : {31u, 32u}) {
    SCOPED_TRACE(order);
    Padded<T> a = random_matrix<T>(order, order, 1);
    for (std::size_t j = 0; j < order; ++j)
      for (std::size_t i = j + 1; i < order; ++i) a.at(i, j) = nan<T>;  // never read
    Padded<T> b = random_matrix<T>(order, 2, 2);
    b.at(0, 1) = inf<T>;
    ASSERT_TRUE(trmm_in_place(false, true, false, false, a.view(), b.view_mut(), T{1}));
    EXPECT_EQ(std::isnan(b.at(1, 1)), order == 32);
    EXPECT_FALSE(std::isnan(b.at(1, 0)));
  }
}

TYPED_TEST(Level3Routines, TrmmWithZeroAlphaClearsWithoutReading) {
  using T = TypeParam;
  for (const std::size_t order : {3u, 40u}) {
    SCOPED_TRACE(order);
    Padded<T> a(order, order), b(4, order);
    a.fill(nan<T>);
    b.fill(nan<T>);
    b.at(1, 1) = -inf<T>;
    ASSERT_TRUE(trmm_in_place(true, false, true, false, a.view(), b.view_mut(), T{-0.0}));
    for (std::size_t j = 0; j < order; ++j)
      for (std::size_t i = 0; i < 4; ++i) EXPECT_TRUE(same_bits(b.at(i, j), T{0}));
    EXPECT_TRUE(b.canaries_intact());
  }
}

// Lower-triangular A on the left, solved top down, with a zero on the diagonal at `zero`.
template <typename T>
struct SingularSolve {
  Padded<T> a, b, b_before;
  std::size_t order;
  BlasStatus status;

  SingularSolve(std::size_t n, std::size_t zero, std::size_t cols) : a(n, n), b(n, cols), b_before(n, cols), order(n) {
    a.fill_random(1);
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t i = 0; i < n; ++i) {
        if (i < j)
          a.at(i, j) = nan<T>;  // the unnamed triangle
        else if (i == j)
          a.at(i, j) = 2;
        else
          a.at(i, j) = a.at(i, j) / T(n);
      }
    a.at(zero, zero) = T{-0.0};
    b.fill_random(2);
    b_before = b;
    status = trsm_in_place(false, false, false, false, a.view(), b.view_mut());
  }
  // Rows [0, rows) of column 0 hold the solution: each is its substitution step over the
  // rows above it.
  bool column0_solved_up_to(std::size_t rows) const {
    for (std::size_t i = 0; i < rows; ++i)
      if (!near(b.at(i, 0), (b_before.at(i, 0) - folded(i, 0, i)) / a.at(i, i))) return false;
    return true;
  }
  // Rows [row0, row1) of column j hold their right-hand side less the terms of rows [0, solved).
  bool updated_from(std::size_t solved, std::size_t row0, std::size_t row1, std::size_t j) const {
    for (std::size_t i = row0; i < row1; ++i)
      if (!near(b.at(i, j), b_before.at(i, j) - folded(i, j, solved))) return false;
    return true;
  }
  long double folded(std::size_t i, std::size_t j, std::size_t rows) const {
    long double s = 0;
    for (std::size_t k = 0; k < rows; ++k) s += static_cast<long double>(a.at(i, k)) * b.at(k, j);
    return s;
  }
  static bool near(long double x, long double y) { return std::fabs(x - y) <= 1e-4L * (1 + std::fabs(y)); }
  bool unchanged(std::size_t row0, std::size_t row1, std::size_t col0, std::size_t col1) const {
    for (std::size_t j = col0; j < col1; ++j)
      for (std::size_t i = row0; i < row1; ++i)
        if (!same_bits(b.at(i, j), b_before.at(i, j))) return false;
    return true;
  }
};

TYPED_TEST(Level3Routines, SingularSolveStopsAtTheFirstZeroInSolvingOrder) {
  using T = TypeParam;
  // Direct (40) and blocked (100): the zero at row 10 is met in column 0 first.
  for (const std::size_t n : {40u, 100u}) {
    SCOPED_TRACE(n);
    const SingularSolve<T> s(n, 10, 3);
    EXPECT_EQ(status_name(s.status), "Singular");
    EXPECT_TRUE(s.column0_solved_up_to(10));
    EXPECT_TRUE(s.unchanged(10, n, 0, 1));
    EXPECT_TRUE(s.unchanged(0, n, 1, 3));
  }
  // Blocked (200): blocks [0, 64) and [64, 128) are solved and folded into rows 128..199 of
  // every column; inside the third block, column 0 is solved down to row 149.
  const SingularSolve<T> s(200, 150, 3);
  EXPECT_EQ(status_name(s.status), "Singular");
  EXPECT_TRUE(s.column0_solved_up_to(150));
  EXPECT_TRUE(s.updated_from(128, 150, 200, 0));
  for (const std::size_t j : {1u, 2u}) EXPECT_TRUE(s.updated_from(128, 128, 200, j));
}

// Order 255 walks 64-wide blocks and folds each into every later row at once; order 256
// halves first, so a failure in the first half leaves the second half's rows untouched.
TYPED_TEST(Level3Routines, SolveHalvesRecursivelyFromOrder256) {
  using T = TypeParam;
  for (const std::size_t n : {255u, 256u}) {
    SCOPED_TRACE(n);
    const SingularSolve<T> s(n, 100, 2);
    EXPECT_EQ(status_name(s.status), "Singular");
    EXPECT_TRUE(s.column0_solved_up_to(100));
    // Both fold the solved block [0, 64) into rows 64..127 before failing at row 100.
    EXPECT_TRUE(s.updated_from(64, 100, 128, 0));
    EXPECT_TRUE(s.updated_from(64, 64, 128, 1));
    if (n == 255) {
      EXPECT_TRUE(s.updated_from(64, 128, n, 0));
      EXPECT_TRUE(s.updated_from(64, 128, n, 1));
    } else {
      EXPECT_TRUE(s.unchanged(128, n, 0, 2));
    }
  }
}

TYPED_TEST(Level3Routines, DiagonalZeroNaNAndUnit) {
  using T = TypeParam;
  for (const bool right : {false, true}) {
    SCOPED_TRACE(right ? "right" : "left");
    Padded<T> a(2, 2), b(2, 2);
    a.at(0, 0) = 2;
    a.at(1, 1) = T{-0.0};
    a.at(0, 1) = 1;
    a.at(1, 0) = nan<T>;  // unnamed triangle of an upper A
    b.fill(4);
    const std::vector<T> before = b.storage;
    EXPECT_EQ(status_name(trsm_in_place(right, true, false, false, a.view(), b.view_mut())), "Singular");
    // The unit diagonal is never read: -0 and NaN there change nothing.
    b.storage = before;
    a.at(0, 0) = nan<T>;
    ASSERT_TRUE(trsm_in_place(right, true, false, true, a.view(), b.view_mut()));
    // Left, per column: x1 = 4, x0 = 4 − 1·4. Right, per row: x0 = 4, x1 = 4 − 4·1.
    const std::vector<T> unit_solution = right ? std::vector<T>{4, 4, 0, 0} : std::vector<T>{0, 4, 0, 4};
    EXPECT_TRUE(same_bits(std::vector<T>{b.at(0, 0), b.at(1, 0), b.at(0, 1), b.at(1, 1)}, unit_solution));
    // A NaN on a stored diagonal is no zero: the solve goes on and spreads it. Left, row 1
    // divides by it first and row 0 uses row 1; right, column 0 (divided by 2, then 2)
    // comes first and only column 1 meets it.
    b.storage = before;
    a.at(0, 0) = 2;
    a.at(1, 1) = nan<T>;
    ASSERT_TRUE(trsm_in_place(right, true, false, false, a.view(), b.view_mut()));
    EXPECT_EQ(std::isnan(b.at(0, 0)), !right);
    EXPECT_TRUE(std::isnan(b.at(0, 1)));
  }
}

// Null pointers stand for operands that must not be read.
TYPED_TEST(Level3Routines, EmptyProblemsSucceedWithoutReading) {
  using T = TypeParam;
  const MatRef<T> unread(nullptr, 3, 3, 3);
  EXPECT_TRUE(symm(false, true, unread, MatRef<T>(nullptr, 3, 0, 3), MatMut<T>(nullptr, 3, 0, 3), T{1}, T{1}));
  EXPECT_TRUE(trmm_in_place(true, true, false, false, unread, MatMut<T>(nullptr, 0, 3, 1), T{1}));
  const MatRef<T> nowhere(nullptr, 0, 0, 1);
  EXPECT_TRUE(trsm_in_place(false, true, false, false, nowhere, MatMut<T>(nullptr, 0, 4, 1)));
  const Padded<T> a = random_matrix<T>(7, 7, 1);
  EXPECT_TRUE(trsm_in_place(false, true, false, false, a.view(), MatMut<T>(nullptr, 7, 0, 7)));
  EXPECT_TRUE(trsm_naive_submatrix(true, false, false, nowhere, MatMut<T>(nullptr, 0, 0, 1), 3, 3, 5));
  EXPECT_TRUE(trsm_naive_submatrix(true, false, false, nowhere, MatMut<T>(nullptr, 0, 0, 1), 0, 4, 0));
  EXPECT_TRUE(trsm_naive_submatrix_right(true, false, false, nowhere, MatMut<T>(nullptr, 0, 0, 1), 5, 2, 2));
}

// The direct kernels and the blocked solves take sizes of their own; sizes beyond the views
// are refused before any memory is touched.
TYPED_TEST(Level3Routines, ExtentsBeyondTheViewsPanic) {
  using T = TypeParam;
  using level3::trmm::trmm_left_naive;
  using level3::trmm::trmm_right_naive;
  using level3::trsm::generic::trsm_blocked;
  using level3::trsm::generic::trsm_recursive;
  Padded<T> a = random_matrix<T>(4, 4, 1), b = random_matrix<T>(4, 3, 2), wide = random_matrix<T>(70, 70, 3);
  struct Case {
    const char* name;
    std::function<void()> call;
    const char* message;
  };
  const Case cases[] = {
      {"left_block_past_a", [&] { trsm_naive_submatrix(true, false, false, a.view(), b.view_mut(), 2, 5, 3); },
       "Index out of bounds"},
      {"left_columns_past_b", [&] { trsm_naive_submatrix(true, false, false, a.view(), b.view_mut(), 0, 4, 4); },
       "Index out of bounds"},
      {"right_rows_past_b", [&] { trsm_naive_submatrix_right(true, false, false, a.view(), b.view_mut(), 5, 0, 3); },
       "Index out of bounds"},
      {"left_block_wider_than_64",
       [&] { trsm_naive_submatrix(true, false, false, wide.view(), wide.view_mut(), 0, 65, 1); },
       "trsm_naive_submatrix: a block of 65 rows exceeds 64"},
      {"blocked_order_past_b", [&] { trsm_blocked(false, true, false, false, a.view(), b.view_mut(), 4, 4); },
       "Index out of bounds"},
      {"recursive_order_past_a", [&] { trsm_recursive(true, true, false, false, a.view(), b.view_mut(), 4, 5); },
       "Index out of bounds"},
      {"trmm_left_past_a", [&] { trmm_left_naive(true, false, false, a.view(), b.view_mut(), 5, 3, T{1}); },
       "Index out of bounds"},
      {"trmm_right_past_b", [&] { trmm_right_naive(true, false, false, a.view(), b.view_mut(), 4, 4, T{1}); },
       "Index out of bounds"},
  };
  const std::vector<T> before = b.storage;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(support::testing::panic_message(c.call), c.message);
    EXPECT_TRUE(same_bits(b.storage, before));
  }
}

}  // namespace
}  // namespace pellum_blas::testing
