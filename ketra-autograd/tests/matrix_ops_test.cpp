#include <gtest/gtest.h>

#include <Eigen/LU>
#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "ketra_autograd/tensor_ops/matrix_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using tensor::Tensor;
using tensor_ops::convert_to_tensor;
using tensor_ops::dense::as_matrix;
using tensor_ops::dense::to_array;
using tensor_ops::matrix_ops::MatrixInverseOp;

constexpr const char* not_square = "IncompatibleShape(\"Matrix inverse requires square matrix\")";
constexpr const char* singular = "IncompatibleShape(\"Matrix is singular\")";

struct InverseCase {
  std::string name;
  ArrayD input;
  Matrix expected;    // on success
  const char* error;  // the error's debug text, or nullptr
};

class MatrixInverseCases : public ::testing::TestWithParam<InverseCase> {};

TEST_P(MatrixInverseCases, InverseOrMessage) {
  const InverseCase& c = GetParam();
  const Computed computed = compute(MatrixInverseOp{}, {c.input});
  if (c.error != nullptr) {
    EXPECT_EQ(computed.error_debug(), c.error);
    EXPECT_TRUE(computed.outputs.empty());
    return;
  }
  ASSERT_TRUE(computed.result) << computed.error_debug();
  EXPECT_TRUE(near(out_matrix(computed), c.expected, 1e-15));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MatrixInverseCases,
    ::testing::Values(
        InverseCase{"no_row_swap", array({2, 2}, {4, 7, 2, 6}), matrix({{0.6, -0.7}, {-0.2, 0.4}}), nullptr},
        InverseCase{"row_swap", array({2, 2}, {0, 1, 1, 0}), matrix({{0, 1}, {1, 0}}), nullptr},
        InverseCase{"pivot_just_above_epsilon", array({2, 2}, {2.3e-16, 0, 0, 1}), matrix({{1 / 2.3e-16, 0}, {0, 1}}),
                    nullptr},
        InverseCase{"empty", ArrayD::zeros(std::vector<std::size_t>{0, 0}), Matrix(0, 0), nullptr},
        InverseCase{"rank_deficient", array({2, 2}, {1, 2, 2, 4}), {}, singular},
        InverseCase{"tiny_entries_absolute_threshold", array({2, 2}, {1e-17, 1e-17, 1e-17, 1e-17}), {}, singular},
        InverseCase{"pivot_just_below_epsilon", array({2, 2}, {2.2e-16, 0, 0, 1}), {}, singular},
        InverseCase{"not_square", iota({2, 3}), {}, not_square}, InverseCase{"vector", vec({1, 2}), {}, not_square},
        InverseCase{"scalar_missing_input", ArrayD::scalar(0), {}, not_square}),
    case_name<InverseCase>);

TEST(MatrixInverse, AgreesWithEigenOnARandomMatrix) {
  const Matrix a = random_matrix(6, 6, 11) + 3.0 * Matrix::Identity(6, 6);
  EXPECT_TRUE(near(out_matrix(compute(MatrixInverseOp{}, {to_array(a)})), a.inverse(), 1e-13));
}

TEST(MatrixInverse, NaNPropagatesWithoutFailing) {
  const Computed computed = compute(MatrixInverseOp{}, {array({2, 2}, {1, std::nan(""), 0, 1})});
  ASSERT_TRUE(computed.result) << computed.error_debug();
  EXPECT_TRUE(std::isnan(computed.out()[1]));
}

// The eager gradient is a constant holding −Yᵀ·G·Yᵀ, the derivative of Σ G ∘ A⁻¹.
TEST(MatrixInverse, EagerGradientMatchesFiniteDifferences) {
  const Matrix a = random_matrix(4, 4, 12) + 2.0 * Matrix::Identity(4, 4);
  const Matrix g = random_matrix(4, 4, 13);
  const Matrix expected = central_differences([&](const Matrix& x) { return contract(g, x.inverse()); }, a);
  graph::run([&](graph::Context& ctx) {
    const Tensor y = tensor_ops::linear_algebra::matrix_inverse(convert_to_tensor(to_array(a), ctx));
    const auto grads = grads_of(ctx, y, convert_to_tensor(to_array(g), ctx));
    ASSERT_EQ(grads.size(), 1u);
    ASSERT_TRUE(grads[0].has_value());
    EXPECT_EQ(ctx.node(grads[0]->id()).get_op().name(),
              "ketra_autograd::tensor_ops::const_gen_ops::ConvertToTensor<f64>");
    EXPECT_TRUE(near(as_matrix(*grads[0]->eval(ctx)), expected, 1e-7));
  });
}

TEST(MatrixInverse, NoEagerGradientWhenItCannotBeFormed) {
  graph::run([](graph::Context& ctx) {
    const Tensor y = tensor_ops::linear_algebra::matrix_inverse(convert_to_tensor(array({2, 2}, {2, 0, 0, 4}), ctx));
    // gy of another shape than Y: the product cannot be formed.
    EXPECT_EQ(grads_of(ctx, y, convert_to_tensor(iota({2, 3}), ctx)).at(0), std::nullopt);
    EXPECT_EQ(grads_of(ctx, y, convert_to_tensor(vec({1, 1}), ctx)).at(0), std::nullopt);
    // Y that cannot be evaluated without a feed.
    const Tensor fed = tensor_ops::linear_algebra::matrix_inverse(ctx.placeholder("a", {2, 2}));
    EXPECT_EQ(grads_of(ctx, fed, convert_to_tensor(iota({2, 2}), ctx)).at(0), std::nullopt);
  });
}

}  // namespace
