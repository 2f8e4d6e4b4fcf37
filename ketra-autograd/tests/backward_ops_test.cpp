#include <gtest/gtest.h>

#include <Eigen/Cholesky>
#include <Eigen/QR>
#include <Eigen/SVD>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/decomposition_ops/backward_ops.hpp"
#include "ketra_autograd/tensor_ops/decomposition_ops/detail/backward_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using namespace ketra_autograd::tensor_ops::decomposition_ops::backward_ops;
using support::testing::PrintTo;
using tensor_ops::dense::to_array;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double epsilon = std::numeric_limits<double>::epsilon();
const double r2 = 1 / std::sqrt(2.0);

ArrayD diagonal(double a, double b) { return array({2, 2}, {a, 0, 0, b}); }

// ---- One-sided Jacobi SVD ----

struct SvdGolden {
  std::string name;
  Matrix a;
  std::vector<double> s;
  Matrix u;
  Matrix vt;
};

class SvdJacobiGolden : public ::testing::TestWithParam<SvdGolden> {};

TEST_P(SvdJacobiGolden, Factors) {
  const SvdGolden& c = GetParam();
  const SvdFactors f = svd_jacobi_f64(c.a);
  EXPECT_EQ(f.s, c.s);
  EXPECT_EQ(f.u, c.u);
  EXPECT_EQ(f.vt, c.vt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SvdJacobiGolden,
    ::testing::Values(
        // Orthogonal columns are not rotated: their norms, sorted descending.
        SvdGolden{
            "orthogonal_columns", matrix({{0, 3}, {2, 0}}), {3, 2}, matrix({{1, 0}, {0, 1}}), matrix({{0, 1}, {1, 0}})},
        SvdGolden{"equal_norms_keep_column_order",
                  matrix({{0, 2}, {2, 0}}),
                  {2, 2},
                  matrix({{0, 1}, {1, 0}}),
                  matrix({{1, 0}, {0, 1}})},
        SvdGolden{"zero_column",
                  matrix({{1, 0}, {1, 0}}),
                  {std::sqrt(2.0), 0},
                  matrix({{r2, 0}, {r2, 0}}),
                  matrix({{1, 0}, {0, 1}})},
        SvdGolden{"wide_keeps_largest_norms",
                  matrix({{1, 0, 0}, {0, 0, 3}}),
                  {3, 1},
                  matrix({{0, 1}, {1, 0}}),
                  matrix({{0, 0, 1}, {1, 0, 0}})},
        SvdGolden{"one_by_one_negative", matrix({{-3}}), {3}, matrix({{-1}}), matrix({{1}})},
        SvdGolden{"one_by_one_negligible", matrix({{1e-301}}), {1e-301}, matrix({{0}}), matrix({{1}})},
        SvdGolden{"no_rows", Matrix(0, 3), {}, Matrix(0, 0), Matrix(0, 3)},
        SvdGolden{"no_columns", Matrix(3, 0), {}, Matrix(3, 0), Matrix(0, 0)}),
    case_name<SvdGolden>);

// A = U·diag(S)·Vt with orthonormal U columns and Vt rows, S as Eigen finds it.
TEST(SvdJacobi, ReconstructsLikeEigen) {
  const struct {
    const char* name;
    Index m, n;
  } shapes[] = {{"square", 6, 6}, {"tall", 8, 3},   {"wide", 3, 8},
                {"row", 1, 5},    {"column", 5, 1}, {"order_20", 20, 20}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const Matrix a = random_matrix(shape.m, shape.n, 51);
    const SvdFactors f = svd_jacobi_f64(a);
    const Index k = std::min(shape.m, shape.n);
    const Eigen::VectorXd s = Eigen::Map<const Eigen::VectorXd>(f.s.data(), k);
    EXPECT_TRUE(near(f.u * s.asDiagonal() * f.vt, a, 1e-14));
    EXPECT_TRUE(near(f.u.transpose() * f.u, Matrix::Identity(k, k), 1e-14));
    EXPECT_TRUE(near(f.vt * f.vt.transpose(), Matrix::Identity(k, k), 1e-14));
    const Eigen::JacobiSVD<Eigen::MatrixXd> oracle{Eigen::MatrixXd(a)};
    EXPECT_TRUE(near(s, oracle.singularValues(), 1e-14));
  }
}

// Squares of entries near 1e±160 would overflow or underflow; the factors of 2^±600·A are
// exactly those of A.
TEST(SvdJacobi, ExtremeScalesGiveTheFactorsOfTheUnscaledMatrix) {
  const Matrix a = random_matrix(5, 3, 56);
  const SvdFactors f = svd_jacobi_f64(a);
  for (int exponent : {-600, 600}) {
    SCOPED_TRACE(exponent);
    const SvdFactors scaled = svd_jacobi_f64(a.unaryExpr([exponent](double x) { return std::ldexp(x, exponent); }));
    EXPECT_EQ(scaled.u, f.u);
    EXPECT_EQ(scaled.vt, f.vt);
    for (std::size_t i = 0; i < f.s.size(); ++i) EXPECT_EQ(scaled.s[i], std::ldexp(f.s[i], exponent));
  }
}

TEST(SvdJacobi, NaNRunsThroughWithoutFailing) {
  const SvdFactors f = svd_jacobi_f64(matrix({{1, nan}, {0, 1}}));
  ASSERT_EQ(f.s.size(), 2u);
  EXPECT_TRUE(std::isnan(f.s[0]) && std::isnan(f.s[1]));
}

// ---- SVD backward ----

const std::string degenerate =
    "Other(\"SVD backward: repeated/degenerate singular values make the U/V gradient mathematically undefined; "
    "refusing to fabricate a gradient\")";

TEST(SVDBackward, SingularValueGradientIsUDiagVt) {
  // Repeated singular values are fine for S: 2·I has U = Vt = I.
  EXPECT_EQ(compute(SVDBackwardOp(1), {diagonal(2, 2), vec({1, 2})}).out(), diagonal(1, 2));
  const Matrix a = random_matrix(4, 3, 52);
  const SvdFactors f = svd_jacobi_f64(a);
  const Computed computed = compute(SVDBackwardOp(1), {to_array(a), vec({0.5, -1, 2})});
  EXPECT_TRUE(near(out_matrix(computed), f.u * Eigen::Vector3d(0.5, -1, 2).asDiagonal() * f.vt, 1e-15));
}

TEST(SVDBackward, DegeneracyToleranceScalesWithTheLargestValue) {
  const struct {
    const char* name;
    double a, b;
    bool refused;
  } cases[] = {
      {"3_gap_1e-8", 3, 3 + 1e-8, true},                                                 // tolerance 3e-7
      {"half_gap_2e-7", 0.5, 0.5 + 2e-7, false},                                         // tolerance stays 1e-7 below 1
      {"half_gap_5e-8", 0.5, 0.5 + 5e-8, true},  {"4_gap_3.9e-7", 4, 4 + 3.9e-7, true},  // tolerance 4e-7
      {"4_gap_4.1e-7", 4, 4 + 4.1e-7, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::uint64_t component : {0, 2}) {
      const Computed computed = compute(SVDBackwardOp(component), {diagonal(c.a, c.b), iota({2, 2})});
      EXPECT_EQ(computed.result ? "" : computed.error_debug(), c.refused ? degenerate : "");
    }
    EXPECT_TRUE(compute(SVDBackwardOp(1), {diagonal(c.a, c.b), vec({1, 1})}).result);
  }
}

TEST(SVDBackward, GradientsAreCutOrPaddedToTheirFactor) {
  const Matrix a = random_matrix(3, 3, 53);
  const Matrix g = random_matrix(3, 5, 54);
  EXPECT_EQ(compute(SVDBackwardOp(0), {to_array(a), to_array(g)}).out(),
            compute(SVDBackwardOp(0), {to_array(a), to_array(g.leftCols(3))}).out());
  EXPECT_EQ(compute(SVDBackwardOp(1), {to_array(a), vec({1, 2})}).out(),
            compute(SVDBackwardOp(1), {to_array(a), vec({1, 2, 0})}).out());
}

TEST(SVDBackward, OneByOne) {
  EXPECT_EQ(compute(SVDBackwardOp(1), {array({1, 1}, {-2}), vec({5})}).out(), array({1, 1}, {-5}));
  EXPECT_EQ(compute(SVDBackwardOp(0), {array({1, 1}, {-2}), iota({1, 1})}).out(), array({1, 1}, {0}));
  EXPECT_EQ(compute(SVDBackwardOp(2), {array({1, 1}, {-2}), array({1, 1}, {7})}).out(), array({1, 1}, {0}));
}

TEST(SVDBackward, ZeroSingularValueOfATallMatrixIsNotInverted) {
  const ArrayD a = array({3, 2}, {1, 0, 2, 0, 2, 0});
  const Computed computed = compute(SVDBackwardOp(0), {a, iota({3, 2})});
  ASSERT_TRUE(computed.result) << computed.error_debug();
  EXPECT_TRUE(out_matrix(computed).allFinite());
}

struct SvdScaleCase {
  std::string name;
  Matrix a, du, expected;
};

class SVDBackwardScale : public ::testing::TestWithParam<SvdScaleCase> {};

// The U gradient wherever the singular values lie, its gap and inversion thresholds
// relative to the largest. Nonzero expected values are central differences of a 60-digit
// SVD; zeros are where a threshold cuts the term. Compared relative to the largest entry.
TEST_P(SVDBackwardScale, MatchesFiniteDifferences) {
  const SvdScaleCase& c = GetParam();
  const Computed computed = compute(SVDBackwardOp(0), {to_array(c.a), to_array(c.du)});
  ASSERT_TRUE(computed.result) << computed.error_debug();
  const double unit = c.expected.isZero(0.0) ? 1.0 : c.expected.cwiseAbs().maxCoeff();
  EXPECT_TRUE(near(out_matrix(computed) / unit, c.expected / unit, 1e-12));
}

const Matrix e01 = matrix({{0, 1}, {0, 0}});
const Matrix e12 = matrix({{0, 0, 0}, {0, 0, 1}, {0, 0, 0}});
const Matrix e21 = matrix({{0, 0}, {0, 0}, {0, 1}});

INSTANTIATE_TEST_SUITE_P(
    Cases, SVDBackwardScale,
    ::testing::Values(
        SvdScaleCase{"tiny", matrix({{1e-6, 0}, {0, 5e-7}}), e01,
                     matrix({{0, -666666.66666666667}, {-1333333.3333333333, 0}})},
        SvdScaleCase{"huge", matrix({{3e155, 0}, {0, 1e155}}), e01, matrix({{0, -1.25e-156}, {-3.75e-156, 0}})},
        // Relative gaps of squares 3e-12 and 8e-14 against the threshold 1e-12.
        SvdScaleCase{"gap_above_threshold", Matrix(Eigen::Vector3d(1, 2e-6, 1e-6).asDiagonal()), e12,
                     matrix({{0, 0, 0}, {0, 0, -333333.33333333333}, {0, -666666.66666666667, 0}})},
        SvdScaleCase{"gap_below_threshold", Matrix(Eigen::Vector3d(1, 3e-7, 1e-7).asDiagonal()), e12,
                     Matrix::Zero(3, 3)},
        // Relative singular values 5e-12 and 5e-13 against the inversion threshold 1e-12.
        SvdScaleCase{"inverted", matrix({{1, 0}, {0, 5e-12}, {0, 0}}), e21, matrix({{0, 0}, {0, 0}, {0, 2e11}})},
        SvdScaleCase{"not_inverted", matrix({{1, 0}, {0, 5e-13}, {0, 0}}), e21, Matrix::Zero(3, 2)},
        SvdScaleCase{"tiny_inverted", matrix({{1e-6, 0}, {0, 5e-18}, {0, 0}}), e21,
                     matrix({{0, 0}, {0, 0}, {0, 2e17}})}),
    case_name<SvdScaleCase>);

// Σ_r w_r · c_rᵀ·B·c_r over the columns c_r: unchanged when a column flips its sign, so it
// is a function of A whichever signs an SVD picks. Its gradient is (B + Bᵀ)·C·diag(w).
double weighted_quadratic(const Matrix& columns, const Matrix& b, const Eigen::VectorXd& w) {
  return (columns.transpose() * b * columns).diagonal().dot(w);
}

struct SvdShape {
  std::string name;
  Index m, n;
  std::uint64_t component;
};

class SVDBackwardGradient : public ::testing::TestWithParam<SvdShape> {};

// Against central differences of a sign-invariant loss of Eigen's thin SVD.
TEST_P(SVDBackwardGradient, MatchesFiniteDifferences) {
  const SvdShape& c = GetParam();
  const Index k = std::min(c.m, c.n);
  const Matrix a = random_matrix(c.m, c.n, 55);
  const Eigen::VectorXd w = Eigen::VectorXd::LinSpaced(k, 1.0, 2.0);
  const Matrix b = random_matrix(c.component == 0 ? c.m : c.n, c.component == 0 ? c.m : c.n, 56);
  const auto loss = [&](const Matrix& x) {
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(Eigen::MatrixXd(x), Eigen::ComputeThinU | Eigen::ComputeThinV);
    if (c.component == 1) return svd.singularValues().dot(w);
    return weighted_quadratic(c.component == 0 ? Matrix(svd.matrixU()) : Matrix(svd.matrixV()), b, w);
  };
  const SvdFactors f = svd_jacobi_f64(a);
  ArrayD g;
  if (c.component == 1) {
    g = ArrayD::from_vec(std::span<const double>(w.data(), static_cast<std::size_t>(k)));
  } else if (c.component == 0) {
    g = to_array((b + b.transpose()) * f.u * w.asDiagonal());
  } else {
    g = to_array(((b + b.transpose()) * f.vt.transpose() * w.asDiagonal()).transpose());
  }
  const Computed computed = compute(SVDBackwardOp(c.component), {to_array(a), g});
  ASSERT_TRUE(computed.result) << computed.error_debug();
  EXPECT_TRUE(near(out_matrix(computed), central_differences(loss, a), 1e-7));
}

INSTANTIATE_TEST_SUITE_P(Shapes, SVDBackwardGradient,
                         ::testing::Values(SvdShape{"square_u", 4, 4, 0}, SvdShape{"square_s", 4, 4, 1},
                                           SvdShape{"square_vt", 4, 4, 2}, SvdShape{"tall_u", 5, 3, 0},
                                           SvdShape{"tall_s", 5, 3, 1}, SvdShape{"tall_vt", 5, 3, 2},
                                           SvdShape{"wide_u", 3, 5, 0}, SvdShape{"wide_s", 3, 5, 1},
                                           SvdShape{"wide_vt", 3, 5, 2}),
                         case_name<SvdShape>);

// ---- Cholesky ----

TEST(CholeskyLower, GoldenAndLowerTriangleOnly) {
  EXPECT_TRUE(near(*cholesky_lower(matrix({{4, 2}, {2, 3}})), matrix({{2, 0}, {1, std::sqrt(2.0)}}), 1e-15));
  EXPECT_EQ(*cholesky_lower(matrix({{4, 99}, {2, 3}})), *cholesky_lower(matrix({{4, 2}, {2, 3}})));
  EXPECT_TRUE(std::isnan((*cholesky_lower(matrix({{nan}})))(0, 0)));
}

TEST(CholeskyBackward, MatchesFiniteDifferences) {
  const Matrix a = random_spd(4, 57);
  const Matrix g = random_matrix(4, 4, 58);
  const auto loss = [&](const Matrix& x) { return contract(g, Matrix(Eigen::LLT<Matrix>(x).matrixL())); };
  const Matrix da = out_matrix(compute(CholeskyBackwardOp{}, {to_array(a), to_array(g)}));
  EXPECT_TRUE(near(along_symmetric_directions(da), central_differences(loss, a, Directions::Symmetric), 1e-7));
  // The upper triangle of A is not read.
  Matrix skewed = a;
  skewed(0, 3) += 5;
  EXPECT_EQ(compute(CholeskyBackwardOp{}, {to_array(skewed), to_array(g)}).out(), to_array(da));
}

TEST(CholeskyBackward, SmallOrders) {
  EXPECT_EQ(compute(CholeskyBackwardOp{}, {array({1, 1}, {4}), array({1, 1}, {3})}).out(), array({1, 1}, {0.75}));
  const ArrayD empty = ArrayD::zeros(std::vector<std::size_t>{0, 0});
  EXPECT_EQ(shape_of(compute(CholeskyBackwardOp{}, {empty, empty}).out()), (std::vector<std::size_t>{0, 0}));
}

// ---- LU ----

// Doolittle's formulas: u_ij = a_ij − Σ_{p<i} l_ip·u_pj, l_ji = (a_ji − Σ_{p<i} l_jp·u_pi) / u_ii.
std::pair<Matrix, Matrix> doolittle(const Matrix& a) {
  const Index n = a.rows();
  Matrix l = Matrix::Identity(n, n);
  Matrix u = Matrix::Zero(n, n);
  for (Index i = 0; i < n; ++i) {
    for (Index j = i; j < n; ++j) u(i, j) = a(i, j) - l.row(i).head(i).dot(u.col(j).head(i));
    for (Index j = i + 1; j < n; ++j) l(j, i) = (a(j, i) - l.row(j).head(i).dot(u.col(i).head(i))) / u(i, i);
  }
  return {l, u};
}

TEST(LuWithoutPivoting, Goldens) {
  const LuFactors f = lu_without_pivoting(matrix({{2, 1}, {4, 3}}));
  EXPECT_EQ(f.l, matrix({{1, 0}, {2, 1}}));
  EXPECT_EQ(f.u, matrix({{2, 1}, {0, 1}}));
  const LuFactors skipped = lu_without_pivoting(matrix({{0, 1}, {1, 0}}));
  EXPECT_EQ(skipped.l, Matrix::Identity(2, 2));
  EXPECT_EQ(skipped.u, matrix({{0, 1}, {0, 0}}));
  // A pivot at or below machine epsilon is skipped; one above it eliminates.
  for (double pivot : {1e-17, epsilon, 2 * epsilon}) {
    SCOPED_TRACE(pivot);
    const double factor = pivot > epsilon ? 1 / pivot : 0;
    EXPECT_EQ(lu_without_pivoting(matrix({{pivot, 1}, {1, 1}})).l, matrix({{1, 0}, {factor, 1}}));
  }
}

TEST(LUExtractBackward, AtTheIdentityPicksTriangles) {
  const Matrix g = matrix({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  const ArrayD identity = to_array(Matrix::Identity(3, 3));
  EXPECT_EQ(out_matrix(compute(LUExtractBackwardOp(1), {identity, to_array(g)})),
            matrix({{0, 0, 0}, {4, 0, 0}, {7, 8, 0}}));
  EXPECT_EQ(out_matrix(compute(LUExtractBackwardOp(2), {identity, to_array(g)})),
            matrix({{1, 2, 3}, {0, 5, 6}, {0, 0, 9}}));
}

TEST(LUExtractBackward, MatchesFiniteDifferences) {
  const Matrix a = random_matrix(4, 4, 59) + 3 * Matrix::Identity(4, 4);
  const Matrix gl = random_matrix(4, 4, 60);
  const Matrix gu = random_matrix(4, 4, 61);
  const auto loss = [&](const Matrix& x) {
    const auto [l, u] = doolittle(x);
    return contract(gl, l) + contract(gu, u);
  };
  const Matrix da = out_matrix(compute(LUExtractBackwardOp(1), {to_array(a), to_array(gl)})) +
                    out_matrix(compute(LUExtractBackwardOp(2), {to_array(a), to_array(gu)}));
  EXPECT_TRUE(near(da, central_differences(loss, a), 1e-7));
}

TEST(LUExtractBackward, EmptyMatrix) {
  const ArrayD empty = ArrayD::zeros(std::vector<std::size_t>{0, 0});
  EXPECT_EQ(shape_of(compute(LUExtractBackwardOp(2), {empty, empty}).out()), (std::vector<std::size_t>{0, 0}));
}

// ---- QR ----

// Householder QR normalised to a positive diagonal of R, which makes it unique.
std::pair<Matrix, Matrix> householder_qr(const Matrix& a) {
  const Eigen::HouseholderQR<Eigen::MatrixXd> qr{Eigen::MatrixXd(a)};
  const Eigen::MatrixXd r = qr.matrixQR().triangularView<Eigen::Upper>();
  const Eigen::VectorXd signs = r.diagonal().unaryExpr([](double d) { return d < 0 ? -1.0 : 1.0; });
  return {Eigen::MatrixXd(qr.householderQ()) * signs.asDiagonal(), signs.asDiagonal() * r};
}

TEST(QrGramSchmidt, DependentColumnStaysUnnormalised) {
  const QrFactors f = qr_gram_schmidt(matrix({{1, 3}, {0, 0}}));
  EXPECT_EQ(f.q, matrix({{1, 0}, {0, 0}}));
  EXPECT_EQ(f.r, matrix({{1, 3}, {0, 0}}));
  // A residual norm at or below machine epsilon is kept as it is; one above it is normalised.
  for (double residual : {1e-17, epsilon, 2 * epsilon}) {
    SCOPED_TRACE(residual);
    const double kept = residual > epsilon ? 1 : residual;
    EXPECT_EQ(qr_gram_schmidt(matrix({{1, 1}, {0, residual}})).q, matrix({{1, 0}, {0, kept}}));
  }
}

TEST(QRExtractBackward, AtTheIdentityClosedForms) {
  const double a = 1.5, b = -2, c = 4, d = 0.25;
  const ArrayD g = array({2, 2}, {a, b, c, d});
  const ArrayD identity = to_array(Matrix::Identity(2, 2));
  EXPECT_EQ(out_matrix(compute(QRExtractBackwardOp(0), {identity, g})), matrix({{0, 0}, {c - b, 0}}));
  EXPECT_EQ(out_matrix(compute(QRExtractBackwardOp(1), {identity, g})), matrix({{a, b}, {b, d}}));
}

TEST(QRExtractBackward, MatchesFiniteDifferences) {
  const Matrix a = random_matrix(4, 4, 62) + 2 * Matrix::Identity(4, 4);
  const Matrix gq = random_matrix(4, 4, 63);
  const Matrix gr = random_matrix(4, 4, 64).triangularView<Eigen::Upper>();
  const auto loss = [&](const Matrix& x) {
    const auto [q, r] = householder_qr(x);
    return contract(gq, q) + contract(gr, r);
  };
  const Matrix da = out_matrix(compute(QRExtractBackwardOp(0), {to_array(a), to_array(gq)})) +
                    out_matrix(compute(QRExtractBackwardOp(1), {to_array(a), to_array(gr)}));
  EXPECT_TRUE(near(da, central_differences(loss, a), 1e-7));
}

TEST(QRExtractBackward, MissingRowsOfTheGradientAreZero) {
  const Matrix a = random_matrix(3, 3, 65) + 2 * Matrix::Identity(3, 3);
  Matrix g = random_matrix(3, 3, 66);
  const ArrayD short_g = to_array(g.topRows(2));
  g.row(2).setZero();
  for (std::uint64_t component : {0, 1}) {
    EXPECT_EQ(compute(QRExtractBackwardOp(component), {to_array(a), short_g}).out(),
              compute(QRExtractBackwardOp(component), {to_array(a), to_array(g)}).out());
  }
}

// ---- Messages of the decomposition gradients, in check order ----

const ArrayD repeated = diagonal(2, 2);

INSTANTIATE_TEST_SUITE_P(
    Svd, OpFailures,
    ::testing::Values(
        FailureCase{"svd_vector_a",
                    make_op<SVDBackwardOp>(0),
                    {vec({1, 2}), iota({2, 1})},
                    "IncompatibleShape(\"SVDBackward: A must be 2D\")"},
        FailureCase{
            "svd_missing_inputs", make_op<SVDBackwardOp>(1), {}, "IncompatibleShape(\"SVDBackward: A must be 2D\")"},
        FailureCase{"svd_degenerate_before_gradient_rank", make_op<SVDBackwardOp>(0), {repeated, vec({1})}, degenerate},
        FailureCase{
            "svd_degenerate_before_invalid_component", make_op<SVDBackwardOp>(3), {repeated, iota({2, 2})}, degenerate},
        FailureCase{"svd_vector_du",
                    make_op<SVDBackwardOp>(0),
                    {diagonal(1, 2), vec({1})},
                    "IncompatibleShape(\"SVDBackward: dU must be 2D\")"},
        FailureCase{"svd_missing_du",
                    make_op<SVDBackwardOp>(0),
                    {diagonal(1, 2)},
                    "IncompatibleShape(\"SVDBackward: dU must be 2D\")"},
        FailureCase{"svd_matrix_ds",
                    make_op<SVDBackwardOp>(1),
                    {diagonal(1, 2), iota({2, 1})},
                    "IncompatibleShape(\"SVDBackward: dS must be 1D\")"},
        FailureCase{"svd_vector_dvt",
                    make_op<SVDBackwardOp>(2),
                    {diagonal(1, 2), vec({1})},
                    "IncompatibleShape(\"SVDBackward: dVt must be 2D\")"},
        FailureCase{"svd_invalid_component",
                    make_op<SVDBackwardOp>(3),
                    {diagonal(1, 2), iota({2, 2})},
                    "IncompatibleShape(\"SVDBackward: invalid component\")"}),
    case_name<FailureCase>);

INSTANTIATE_TEST_SUITE_P(
    Cholesky, OpFailures,
    ::testing::Values(FailureCase{"cholesky_vector_a",
                                  make_op<CholeskyBackwardOp>(),
                                  {vec({1}), vec({1})},
                                  "IncompatibleShape(\"CholeskyBackward: A must be 2D\")"},
                      FailureCase{"cholesky_vector_dl",
                                  make_op<CholeskyBackwardOp>(),
                                  {iota({2, 2}), vec({1})},
                                  "IncompatibleShape(\"CholeskyBackward: dL must be 2D\")"},
                      FailureCase{"cholesky_missing_dl",
                                  make_op<CholeskyBackwardOp>(),
                                  {iota({2, 2})},
                                  "IncompatibleShape(\"CholeskyBackward: dL must be 2D\")"},
                      FailureCase{"cholesky_not_square",
                                  make_op<CholeskyBackwardOp>(),
                                  {iota({2, 3}), iota({2, 3})},
                                  "IncompatibleShape(\"CholeskyBackward: A must be square, got shape [2, 3]\")"},
                      FailureCase{
                          "cholesky_dl_of_another_shape",
                          make_op<CholeskyBackwardOp>(),
                          {array({2, 2}, {1, 2, 2, 1}), iota({3, 3})},
                          "IncompatibleShape(\"CholeskyBackward: dL shape [3, 3] does not match A shape [2, 2]\")"},
                      FailureCase{"cholesky_indefinite",
                                  make_op<CholeskyBackwardOp>(),
                                  {array({2, 2}, {1, 2, 2, 1}), iota({2, 2})},
                                  "Other(\"CholeskyBackward: matrix not positive definite\")"},
                      FailureCase{"cholesky_zero_pivot",
                                  make_op<CholeskyBackwardOp>(),
                                  {array({1, 1}, {0}), iota({1, 1})},
                                  "Other(\"CholeskyBackward: matrix not positive definite\")"}),
    case_name<FailureCase>);

INSTANTIATE_TEST_SUITE_P(
    LuQr, OpFailures,
    ::testing::Values(
        FailureCase{"lu_vector_a",
                    make_op<LUExtractBackwardOp>(1),
                    {vec({1}), vec({1})},
                    "IncompatibleShape(\"LUExtractBackward: A must be 2D\")"},
        FailureCase{"lu_vector_g",
                    make_op<LUExtractBackwardOp>(1),
                    {iota({2, 2}), vec({1})},
                    "IncompatibleShape(\"LUExtractBackward: dG must be 2D\")"},
        FailureCase{"lu_not_square",
                    make_op<LUExtractBackwardOp>(1),
                    {iota({3, 2}), iota({3, 2})},
                    "IncompatibleShape(\"LUExtractBackward: A must be square, got shape [3, 2]\")"},
        FailureCase{"lu_g_of_another_shape",
                    make_op<LUExtractBackwardOp>(2),
                    {iota({2, 2}), iota({2, 3})},
                    "IncompatibleShape(\"LUExtractBackward: dG shape [2, 3] does not match A shape [2, 2]\")"},
        FailureCase{"lu_component_0",
                    make_op<LUExtractBackwardOp>(0),
                    {iota({2, 2}), iota({2, 2})},
                    "IncompatibleShape(\"LUExtractBackward: invalid component\")"},
        FailureCase{"lu_component_3",
                    make_op<LUExtractBackwardOp>(3),
                    {iota({2, 2}), iota({2, 2})},
                    "IncompatibleShape(\"LUExtractBackward: invalid component\")"},
        FailureCase{"qr_vector_a",
                    make_op<QRExtractBackwardOp>(0),
                    {vec({1}), iota({1, 1})},
                    "IncompatibleShape(\"QRExtractBackward: A must be 2D\")"},
        FailureCase{"qr_missing_g",
                    make_op<QRExtractBackwardOp>(0),
                    {iota({2, 2})},
                    "IncompatibleShape(\"QRExtractBackward: dG must be 2D\")"},
        FailureCase{"qr_not_square",
                    make_op<QRExtractBackwardOp>(0),
                    {iota({3, 2}), iota({3, 3})},
                    "IncompatibleShape(\"QRExtractBackward: A must be square, got shape [3, 2]\")"},
        FailureCase{"qr_component_2",
                    make_op<QRExtractBackwardOp>(2),
                    {iota({2, 2}), iota({2, 2})},
                    "IncompatibleShape(\"QRExtractBackward: invalid component\")"},
        FailureCase{"qr_dq_too_wide",
                    make_op<QRExtractBackwardOp>(0),
                    {iota({2, 2}), iota({2, 3})},
                    "IncompatibleShape(\"QRExtractBackward: dG of shape [2, 3] has more columns than Q's 2\")"},
        FailureCase{"qr_dr_too_narrow",
                    make_op<QRExtractBackwardOp>(1),
                    {iota({2, 2}), iota({2, 1})},
                    "IncompatibleShape(\"QRExtractBackward: dG of shape [2, 1] has fewer columns than R's 2\")"}),
    case_name<FailureCase>);

TEST(DecompositionGradients, NamesAndNoGradient) {
  const std::pair<std::shared_ptr<op::Op>, const char*> cases[] = {
      {std::make_shared<SVDBackwardOp>(0), "SVDBackward"},
      {std::make_shared<CholeskyBackwardOp>(),
       "ketra_autograd::tensor_ops::decomposition_ops::backward_ops::CholeskyBackwardOp"},
      {std::make_shared<LUExtractBackwardOp>(1),
       "ketra_autograd::tensor_ops::decomposition_ops::backward_ops::LUExtractBackwardOp"},
      {std::make_shared<QRExtractBackwardOp>(0),
       "ketra_autograd::tensor_ops::decomposition_ops::backward_ops::QRExtractBackwardOp"},
  };
  for (const auto& [op, name] : cases) {
    EXPECT_EQ(op->name(), name);
    EXPECT_TRUE(op->as_any().has_value());
  }
  EXPECT_EQ(SVDBackwardOp(2).as_any()->downcast<SVDBackwardOp>()->component(), 2u);
  graph::run([](graph::Context& ctx) {
    const tensor::Tensor a = tensor_ops::convert_to_tensor(iota({1, 1}), ctx);
    const tensor::Tensor y =
        tensor::TensorBuilder(ctx).append_input_with_selector(a).append_input_with_selector(a).build(
            QRExtractBackwardOp(1));
    EXPECT_EQ(grads_of(ctx, y, y), (std::vector<std::optional<tensor::Tensor>>(2)));
  });
}

}  // namespace
