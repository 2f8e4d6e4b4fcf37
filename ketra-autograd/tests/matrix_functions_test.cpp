#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/detail/matrix_functions.hpp"
#include "ketra_autograd/tensor_ops/matrix_functions.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using namespace ketra_autograd::tensor_ops::matrix_functions;
using support::testing::PrintTo;
using tensor_ops::dense::to_array;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// f(a) = V·diag(f(λ))·Vᵀ of a symmetric a, by Eigen's own eigensolver.
Matrix spectral(const Matrix& a, const std::function<double(double)>& f) {
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(Eigen::MatrixXd(a), Eigen::ComputeEigenvectors);
  const Eigen::MatrixXd& v = solver.eigenvectors();
  return v * solver.eigenvalues().unaryExpr(f).asDiagonal() * v.transpose();
}

Matrix apply(const op::Op& op, const Matrix& a, const Matrix& g) {
  const Computed computed = compute(op, {to_array(a), to_array(g)});
  EXPECT_TRUE(computed.result) << computed.error_debug();
  return computed.result ? out_matrix(computed) : Matrix();
}

TEST(IsSymmetric, RelativeMeasure) {
  const struct {
    const char* name;
    Matrix a;
    bool symmetric;
  } cases[] = {
      {"symmetric", matrix({{1, 2}, {2, 1}}), true},
      {"asymmetry_4.5e-8", matrix({{1, 2}, {2.0000001, 1}}), false},
      {"asymmetry_4.5e-10", matrix({{1, 2}, {2 + 1e-9, 1}}), true},
      {"relative_at_large_scale", matrix({{1e6, 2e6}, {2e6 + 1e-3, 1e6}}), true},
      {"absolute_below_tiny_norm", matrix({{0, 1e-301}, {0, 0}}), true},
      {"not_square", Matrix::Zero(2, 3), false},
      {"empty", Matrix(0, 0), true},
      {"zero", Matrix::Zero(3, 3), true},
      {"nan", matrix({{1, nan}, {nan, 1}}), false},
      {"nan_on_the_diagonal_only", matrix({{nan, 0}, {0, 1}}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_symmetric_f64(c.a), c.symmetric);
  }
}

TEST(MatmulF64, PlainProductAndEmptyInnerDimension) {
  const Matrix a = random_matrix(3, 4, 31);
  const Matrix b = random_matrix(4, 2, 32);
  EXPECT_TRUE(near(matmul_f64(a, b), a * b, 1e-15));
  EXPECT_EQ(matmul_f64(Matrix(2, 0), Matrix(0, 3)), Matrix::Zero(2, 3));
  EXPECT_EQ(transpose_f64(a), Matrix(a.transpose()));
}

TEST(JacobiEigh, TwoByTwoGolden) {
  const Eigenpairs e = jacobi_eigh(matrix({{2, 1}, {1, 2}}));
  EXPECT_EQ(e.values, (std::vector<double>{1, 3}));
  const double r = 1 / std::sqrt(2.0);
  EXPECT_TRUE(near(e.vectors, matrix({{r, r}, {-r, r}}), 1e-15));
}

TEST(JacobiEigh, DiagonalAndTrivialInputsAreNotRotated) {
  const Eigenpairs diagonal = jacobi_eigh(matrix({{5, 0}, {0, 1}}));
  EXPECT_EQ(diagonal.values, (std::vector<double>{5, 1}));
  EXPECT_EQ(diagonal.vectors, Matrix::Identity(2, 2));
  const Eigenpairs one = jacobi_eigh(matrix({{-4}}));
  EXPECT_EQ(one.values, std::vector<double>{-4});
  EXPECT_EQ(one.vectors, Matrix::Identity(1, 1));
  EXPECT_TRUE(jacobi_eigh(Matrix(0, 0)).values.empty());
  EXPECT_EQ(jacobi_eigh(Matrix::Zero(3, 3)).vectors, Matrix::Identity(3, 3));
}

// A·V = V·Λ with V orthogonal, and the eigenvalues Eigen finds.
void expect_eigenpairs_of(const Matrix& a, double tolerance) {
  const Eigenpairs e = jacobi_eigh(a);
  const Eigen::VectorXd lambda =
      Eigen::Map<const Eigen::VectorXd>(e.values.data(), static_cast<Index>(e.values.size()));
  const double scale = a.cwiseAbs().maxCoeff();
  EXPECT_TRUE(near(a * e.vectors / scale, e.vectors * lambda.asDiagonal() / scale, tolerance));
  EXPECT_TRUE(near(e.vectors.transpose() * e.vectors, Matrix::Identity(a.rows(), a.rows()), tolerance));
  Eigen::VectorXd sorted = lambda;
  std::sort(sorted.begin(), sorted.end());
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> oracle{Eigen::MatrixXd(a)};
  EXPECT_TRUE(near(sorted / scale, oracle.eigenvalues() / scale, tolerance));
}

TEST(JacobiEigh, AgreesWithEigenOnRandomSymmetricMatrices) {
  for (Index n : {3, 8, 20}) {
    SCOPED_TRACE(n);
    const Matrix m = random_matrix(n, n, 33 + static_cast<unsigned>(n));
    expect_eigenpairs_of(m + m.transpose(), 1e-13);
  }
}

// The stop test is relative: a matrix of small scale is rotated like its scaled-up copy
// instead of being returned unrotated because its off-diagonal entries are small.
TEST(JacobiEigh, SmallScaleMatricesAreRotated) {
  for (double scale : {1e-20, 1e-150, 1e150}) {
    SCOPED_TRACE(scale);
    const Eigenpairs e = jacobi_eigh(scale * matrix({{2, 1}, {1, 2}}));
    EXPECT_NEAR(e.values[0] / scale, 1.0, 1e-15);
    EXPECT_NEAR(e.values[1] / scale, 3.0, 1e-15);
    const Matrix m = random_matrix(6, 6, 34);
    expect_eigenpairs_of(scale * (m + m.transpose()), 1e-13);
  }
}

TEST(LogmDaleckiiKrein, Goldens) {
  const Matrix g = matrix({{1, 2}, {3, 4}});
  EXPECT_TRUE(near(logm_daleckii_krein(Matrix::Identity(2, 2), g), g, 1e-15));
  const Matrix off = logm_daleckii_krein(matrix({{1, 0}, {0, std::exp(1.0)}}), matrix({{0, 1}, {1, 0}}));
  EXPECT_NEAR(off(0, 1), 0.5819767068693265, 1e-15);
  EXPECT_NEAR(off(1, 0), 0.5819767068693265, 1e-15);
  EXPECT_EQ(off(0, 0), 0.0);
  // Eigenvalues clamped to the smallest normal double: ln stays finite at 0 and below.
  const Matrix clamped = logm_daleckii_krein(matrix({{0, 0}, {0, -1}}), Matrix::Identity(2, 2));
  EXPECT_EQ(clamped(0, 0), 1 / std::numeric_limits<double>::min());
}

TEST(PowmSpectralBackward, Goldens) {
  EXPECT_TRUE(
      near(powm_spectral_backward(matrix({{1, 0}, {0, 3}}), Matrix::Ones(2, 2), 2.0), matrix({{2, 4}, {4, 6}}), 1e-15));
  // An asymmetric G: the gradient of Σ G ∘ A² is A·G + G·A, not its transpose.
  EXPECT_TRUE(near(powm_spectral_backward(matrix({{2, 1}, {1, 2}}), matrix({{0, 1}, {0, 0}}), 2.0),
                   matrix({{1, 4}, {0, 1}}), 1e-14));
  // p·λ^(p−1) is not taken at an eigenvalue of exactly 0.
  const Matrix at_zero = powm_spectral_backward(matrix({{0, 0}, {0, 4}}), Matrix::Identity(2, 2), 0.5);
  EXPECT_EQ(at_zero(0, 0), 0.0);
  EXPECT_EQ(at_zero(1, 1), 0.25);
  // A negative eigenvalue with a non-integer power follows pow into NaN.
  EXPECT_TRUE(std::isnan(powm_spectral_backward(matrix({{-1, 0}, {0, 4}}), Matrix::Identity(2, 2), 0.5)(0, 0)));
}

TEST(SqrtmSpd, GoldensAndRefusals) {
  EXPECT_TRUE(near(*sqrtm_spd_f64(4 * Matrix::Identity(2, 2)), 2 * Matrix::Identity(2, 2), 1e-15));
  EXPECT_EQ(sqrtm_spd_f64(Matrix(0, 0))->size(), 0);
  EXPECT_EQ(sqrtm_spd_f64(matrix({{1, 0}, {0, -1}})).error().debug(),
            "Other(\"sqrtm backward: non-positive eigenvalue -1.000000e0; input must be SPD\")");
  EXPECT_EQ(sqrtm_spd_f64(matrix({{0.001, 0}, {0, 0}})).error().debug(),
            "Other(\"sqrtm backward: non-positive eigenvalue 0.000000e0; input must be SPD\")");
  EXPECT_EQ(sqrtm_spd_f64(Matrix::Ones(2, 3)).error().debug(),
            "Other(\"sqrtm backward: input matrix is not symmetric\")");
}

TEST(SolveSylvesterLocal, SolvesRectangularSystems) {
  const Matrix a = random_spd(3, 35);
  const Matrix b = random_spd(2, 36);
  const Matrix c = random_matrix(3, 2, 37);
  const Matrix x = *solve_sylvester_local(a, b, c);
  EXPECT_TRUE(near(a * x + x * b, c, 1e-13));
  EXPECT_EQ(solve_sylvester_local(Matrix::Zero(2, 2), Matrix::Zero(1, 1), Matrix::Ones(2, 1)).error().debug(),
            "Other(\"Sylvester: singular coefficient matrix\")");
}

TEST(MatrixSqrtBackward, GoldenAtFourTimesIdentity) {
  EXPECT_TRUE(near(apply(MatrixSqrtBackwardOp{}, 4 * Matrix::Identity(2, 2), Matrix::Identity(2, 2)),
                   0.25 * Matrix::Identity(2, 2), 1e-15));
}

struct GradientCase {
  std::string name;
  std::function<std::shared_ptr<op::Op>()> op;
  std::function<double(double)> f;
  Index n;
};

class SpectralGradients : public ::testing::TestWithParam<GradientCase> {};

// Against central differences of Σ G ∘ f(A) along symmetric directions, with f(A) from
// Eigen's eigensolver; G is not symmetric.
TEST_P(SpectralGradients, MatchFiniteDifferences) {
  const GradientCase& c = GetParam();
  const Matrix a = random_spd(c.n, 41);
  const Matrix g = random_matrix(c.n, c.n, 42);
  const Matrix expected =
      central_differences([&](const Matrix& x) { return contract(g, spectral(x, c.f)); }, a, Directions::Symmetric);
  EXPECT_TRUE(near(along_symmetric_directions(apply(*c.op(), a, g)), expected, 1e-7));
}

INSTANTIATE_TEST_SUITE_P(
    Functions, SpectralGradients,
    ::testing::Values(GradientCase{"log", [] { return std::make_shared<MatrixLogBackwardOp>(); },
                                   [](double x) { return std::log(x); }, 4},
                      GradientCase{"power_1_7", [] { return std::make_shared<MatrixPowBackwardOp>(1.7); },
                                   [](double x) { return std::pow(x, 1.7); }, 4},
                      GradientCase{"power_minus_half", [] { return std::make_shared<MatrixPowBackwardOp>(-0.5); },
                                   [](double x) { return std::pow(x, -0.5); }, 5},
                      GradientCase{"cube", [] { return std::make_shared<MatrixPowBackwardOp>(3.0); },
                                   [](double x) { return x * x * x; }, 3},
                      GradientCase{"sqrt_dense_sylvester", [] { return std::make_shared<MatrixSqrtBackwardOp>(); },
                                   [](double x) { return std::sqrt(x); }, 4},
                      GradientCase{"sqrt_spectral", [] { return std::make_shared<MatrixSqrtBackwardOp>(); },
                                   [](double x) { return std::sqrt(x); }, dense_sylvester_max_order + 2}),
    case_name<GradientCase>);

// Either side of the threshold, the square-root gradient is the dense Sylvester solution.
TEST(MatrixSqrtBackward, SpectralPathEqualsTheDenseSolve) {
  for (Index n : {dense_sylvester_max_order, dense_sylvester_max_order + 1}) {
    SCOPED_TRACE(n);
    const Matrix a = random_spd(n, 43);
    const Matrix g = random_matrix(n, n, 44);
    const Matrix s = *sqrtm_spd_f64(a);
    EXPECT_TRUE(near(apply(MatrixSqrtBackwardOp{}, a, g), *solve_sylvester_local(s, s, g), 1e-12));
  }
}

// n = 64 would need a 4096×4097 dense system (134 MB, minutes of elimination).
TEST(MatrixSqrtBackward, LargeMatricesSolveSpectrally) {
  const Index n = 64;
  const Matrix a = random_spd(n, 45);
  const Matrix g = random_matrix(n, n, 46);
  const Matrix x = apply(MatrixSqrtBackwardOp{}, a, g);
  const Matrix s = *sqrtm_spd_f64(a);
  EXPECT_TRUE(near(s * x + x * s, g, 1e-10));
}

const auto log_op = make_op<MatrixLogBackwardOp>();
const auto pow_op = make_op<MatrixPowBackwardOp>(2.0);
const auto sqrt_op = make_op<MatrixSqrtBackwardOp>();
const ArrayD upper_triangular = array({2, 2}, {1, 2, 0, 1});

INSTANTIATE_TEST_SUITE_P(
    MatrixFunctions, OpFailures,
    ::testing::Values(
        FailureCase{"log_vector_a_before_vector_g",
                    log_op,
                    {vec({1, 2}), vec({1})},
                    "IncompatibleShape(\"MatrixLogBackward: A must be 2D\")"},
        FailureCase{"pow_missing_inputs", pow_op, {}, "IncompatibleShape(\"MatrixPowBackward: A must be 2D\")"},
        FailureCase{"sqrt_vector_a",
                    sqrt_op,
                    {vec({4}), iota({1, 1})},
                    "IncompatibleShape(\"MatrixSqrtBackward: A must be 2D\")"},
        FailureCase{"log_vector_g",
                    log_op,
                    {iota({2, 2}), vec({1})},
                    "IncompatibleShape(\"MatrixLogBackward: dB must be 2D\")"},
        FailureCase{"pow_missing_g", pow_op, {iota({2, 2})}, "IncompatibleShape(\"MatrixPowBackward: dB must be 2D\")"},
        FailureCase{"sqrt_vector_g",
                    sqrt_op,
                    {iota({2, 2}), vec({1})},
                    "IncompatibleShape(\"MatrixSqrtBackward: dS must be 2D\")"},
        FailureCase{"log_g_of_another_shape",
                    log_op,
                    {upper_triangular, iota({2, 3})},
                    "IncompatibleShape(\"MatrixLogBackward: dB shape [2, 3] does not match A shape [2, 2]\")"},
        FailureCase{"sqrt_g_of_another_shape",
                    sqrt_op,
                    {iota({3, 3}), iota({2, 2})},
                    "IncompatibleShape(\"MatrixSqrtBackward: dS shape [2, 2] does not match A shape [3, 3]\")"},
        FailureCase{"log_not_symmetric",
                    log_op,
                    {upper_triangular, iota({2, 2})},
                    "Other(\"logm backward: spectral VJP requires a symmetric input; non-symmetric matrix-log gradient "
                    "is not implemented\")"},
        FailureCase{"pow_not_square",
                    pow_op,
                    {iota({2, 3}), iota({2, 3})},
                    "Other(\"powm backward: spectral VJP requires a symmetric input; non-symmetric matrix-power "
                    "gradient is not implemented\")"},
        FailureCase{"sqrt_not_symmetric",
                    sqrt_op,
                    {upper_triangular, iota({2, 2})},
                    "Other(\"sqrtm backward: input matrix is not symmetric\")"},
        FailureCase{"sqrt_negative_eigenvalue",
                    sqrt_op,
                    {array({2, 2}, {1, 0, 0, -1}), iota({2, 2})},
                    "Other(\"sqrtm backward: non-positive eigenvalue -1.000000e0; input must be SPD\")"}),
    case_name<FailureCase>);

TEST(MatrixFunctionGradients, NamesAndNoGradient) {
  EXPECT_EQ(MatrixLogBackwardOp{}.name(), "MatrixLogBackward");
  EXPECT_EQ(MatrixPowBackwardOp(2.5).name(), "MatrixPowBackward");
  EXPECT_EQ(MatrixSqrtBackwardOp{}.name(), "MatrixSqrtBackward");
  const MatrixPowBackwardOp power(2.5);
  ASSERT_TRUE(power.as_any().has_value());
  EXPECT_EQ(power.as_any()->downcast<MatrixPowBackwardOp>()->p(), 2.5);
  graph::run([](graph::Context& ctx) {
    const tensor::Tensor a = tensor_ops::convert_to_tensor(iota({1, 1}), ctx);
    const tensor::Tensor y =
        tensor::TensorBuilder(ctx).append_input_with_selector(a).append_input_with_selector(a).build(
            MatrixSqrtBackwardOp{});
    EXPECT_EQ(grads_of(ctx, y, y), (std::vector<std::optional<tensor::Tensor>>(2)));
  });
}

}  // namespace
