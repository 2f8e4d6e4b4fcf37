#include <gtest/gtest.h>

#include "ketra_autograd/tensor_ops/decomposition_backward.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd::testing;
using namespace ketra_autograd::tensor_ops::decomposition_backward;

TEST(SolveUpperMatrix, ZeroPivotGivesZeroAndIsUsedAbove) {
  EXPECT_EQ(solve_upper_matrix(matrix({{2, 1}, {0, 0}}), matrix({{4}, {3}})), matrix({{2}, {0}}));
}

TEST(SolveUpperMatrix, AgreesWithEigenAndIgnoresTheLowerTriangle) {
  const Matrix t = Matrix(random_matrix(5, 5, 71).triangularView<Eigen::Upper>()) + 2 * Matrix::Identity(5, 5);
  const Matrix b = random_matrix(5, 3, 72);
  const Matrix expected = t.triangularView<Eigen::Upper>().solve(b);
  EXPECT_TRUE(near(solve_upper_matrix(t, b), expected, 1e-14));
  Matrix cluttered = t;
  cluttered.triangularView<Eigen::StrictlyLower>().setConstant(7.0);
  EXPECT_EQ(solve_upper_matrix(cluttered, b), solve_upper_matrix(t, b));
}

TEST(RightSolveLower, AgreesWithEigenAndZeroesColumnsOfZeroPivots) {
  const Matrix lo = Matrix(random_matrix(4, 4, 73).triangularView<Eigen::Lower>()) + 2 * Matrix::Identity(4, 4);
  const Matrix b = random_matrix(3, 4, 74);
  const Matrix x = right_solve_lower(b, lo);
  EXPECT_TRUE(near(x * lo, b, 1e-14));
  Matrix singular = lo;
  singular(2, 2) = 0.0;
  EXPECT_TRUE(right_solve_lower(b, singular).col(2).isZero(0.0));
}

TEST(LuBackward, PermutationIsAppliedLast) {
  const Matrix l = Matrix(random_matrix(3, 3, 75).triangularView<Eigen::StrictlyLower>()) + Matrix::Identity(3, 3);
  const Matrix u = Matrix(random_matrix(3, 3, 76).triangularView<Eigen::Upper>()) + 2 * Matrix::Identity(3, 3);
  const Matrix dl = random_matrix(3, 3, 77);
  const Matrix du = random_matrix(3, 3, 78);
  const Matrix p = matrix({{0, 1, 0}, {0, 0, 1}, {1, 0, 0}});
  EXPECT_TRUE(
      near(lu_backward(p, l, u, dl, du), p.transpose() * lu_backward(Matrix::Identity(3, 3), l, u, dl, du), 1e-15));
}

// Columns of R beyond k = min(rows of R, columns of Q) get a zero gradient.
TEST(QrBackward, ExtraColumnsOfRGetZeros) {
  const Matrix q = Matrix::Identity(2, 2);
  const Matrix r = matrix({{2, 1, 5}, {0, 3, 6}});
  const Matrix dr = random_matrix(2, 3, 79);
  const Matrix da = qr_backward(q, r, Matrix::Zero(2, 2), dr);
  ASSERT_EQ(da.cols(), 3);
  EXPECT_TRUE(da.col(2).isZero(0.0));
  EXPECT_EQ(da.leftCols(2), qr_backward(q, r.leftCols(2), Matrix::Zero(2, 2), dr.leftCols(2)));
}

TEST(TakeRowsAndColumns, CopyLeadingBlocksAndRefuseMore) {
  const Matrix a = matrix({{1, 2, 3}, {4, 5, 6}});
  EXPECT_EQ(take_cols(a, 2), matrix({{1, 2}, {4, 5}}));
  EXPECT_EQ(take_rows(a, 1), matrix({{1, 2, 3}}));
  EXPECT_EQ(take_cols(a, 0).cols(), 0);
  EXPECT_EQ(panic_message([&] { take_cols(a, 4); }), "take_cols: 4 columns of a 2x3 matrix");
  EXPECT_EQ(panic_message([&] { take_rows(a, 3); }), "take_rows: 3 rows of a 2x3 matrix");
}

TEST(DecompositionBackward, ShapesThatDoNotFitPanic) {
  EXPECT_EQ(panic_message([] { solve_upper_matrix(Matrix::Identity(2, 2), Matrix::Zero(3, 1)); }),
            "solve_upper_matrix: b is 3x1, expected 2x1");
  EXPECT_EQ(panic_message([] { cholesky_backward(Matrix::Identity(2, 2), Matrix::Zero(2, 3)); }),
            "cholesky_backward: dl is 2x3, expected 2x2");
}

}  // namespace
