#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/dot_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using tensor::Tensor;
using tensor_ops::dense::to_array;
using tensor_ops::dot_ops::MatMul;
using Shape = std::vector<std::size_t>;

struct ProductCase {
  std::string name;
  bool transpose_a = false;
  bool transpose_b = false;
  std::vector<ArrayD> inputs;
  Shape shape;                 // expected on success
  std::vector<double> values;  // expected on success
  std::string error;           // the error's debug text, or empty
};

class MatMulCompute : public ::testing::TestWithParam<ProductCase> {};

TEST_P(MatMulCompute, ProductOrMessage) {
  const ProductCase& c = GetParam();
  const Computed computed = compute(MatMul(c.transpose_a, c.transpose_b), c.inputs);
  if (!c.error.empty()) {
    EXPECT_EQ(computed.error_debug(), c.error);
    EXPECT_TRUE(computed.outputs.empty());
    return;
  }
  ASSERT_TRUE(computed.result) << computed.error_debug();
  ASSERT_EQ(computed.outputs.size(), 1u);
  EXPECT_EQ(shape_of(computed.out()), c.shape);
  EXPECT_EQ(values_of(computed.out()), c.values);
}

// Empty operands whose product would have 2^64 elements.
const ArrayD many_rows = ArrayD::zeros(Shape{std::size_t{1} << 32, 0});
const ArrayD many_columns = ArrayD::zeros(Shape{0, std::size_t{1} << 32});

INSTANTIATE_TEST_SUITE_P(
    Shapes, MatMulCompute,
    ::testing::Values(
        ProductCase{"matrix_by_matrix",
                    false,
                    false,
                    {iota({2, 3}), iota({3, 4})},
                    {2, 4},
                    {20, 23, 26, 29, 56, 68, 80, 92},
                    ""},
        ProductCase{"vector_dot_vector", false, false, {vec({1, 2, 3}), vec({4, 5, 6})}, {1, 1}, {32}, ""},
        ProductCase{"matrix_by_vector", false, false, {iota({2, 3}), vec({1, 1, 1})}, {2, 1}, {3, 12}, ""},
        ProductCase{"vector_by_matrix", false, false, {vec({1, 1}), iota({2, 3})}, {1, 3}, {3, 5, 7}, ""},
        ProductCase{"scalars", false, false, {ArrayD::scalar(3), ArrayD::scalar(-2)}, {1, 1}, {-6}, ""},
        ProductCase{"transposed_left", true, false, {iota({3, 2}), iota({3, 1})}, {2, 1}, {10, 13}, ""},
        ProductCase{"transposed_right", false, true, {iota({1, 3}), iota({2, 3})}, {1, 2}, {5, 14}, ""},
        ProductCase{"both_transposed", true, true, {iota({2, 1}), iota({3, 2})}, {1, 3}, {1, 3, 5}, ""},
        ProductCase{"inner_dimension_zero", false, false, {iota({2, 0}), iota({0, 3})}, {2, 3}, {0, 0, 0, 0, 0, 0}, ""},
        ProductCase{"one_input", false, false, {iota({2, 2})}, {1, 1}, {0}, ""},
        ProductCase{"no_input", false, false, {}, {1, 1}, {0}, ""},
        ProductCase{"empty_rows", false, false, {iota({0, 3}), iota({3, 2})}, {0, 2}, {}, ""}),
    case_name<ProductCase>);

INSTANTIATE_TEST_SUITE_P(
    Failures, MatMulCompute,
    ::testing::Values(
        ProductCase{
            "inner_dimensions_differ",
            false,
            false,
            {iota({2, 3}), iota({2, 3})},
            {},
            {},
            "IncompatibleShape(\"ndarray: inputs 2 × 3 and 2 × 3 are not compatible for matrix multiplication\")"},
        ProductCase{
            "transpose_makes_them_differ",
            true,
            false,
            {iota({2, 3}), iota({3, 2})},
            {},
            {},
            "IncompatibleShape(\"ndarray: inputs 3 × 2 and 3 × 2 are not compatible for matrix multiplication\")"},
        ProductCase{"rank_three_left",
                    false,
                    false,
                    {iota({2, 3, 4}), iota({4, 1})},
                    {},
                    {},
                    "IncompatibleShape(\"lhs input for MatMul must be 0D, 1D, or 2D, got shape: [2, 3, 4]\")"},
        ProductCase{"rank_three_right",
                    false,
                    false,
                    {iota({4}), iota({4, 1, 1})},
                    {},
                    {},
                    "IncompatibleShape(\"rhs input for MatMul must be 0D, 1D, or 2D, got shape: [4, 1, 1]\")"},
        ProductCase{"left_checked_first",
                    false,
                    false,
                    {iota({1, 1, 1}), iota({2, 2, 2})},
                    {},
                    {},
                    "IncompatibleShape(\"lhs input for MatMul must be 0D, 1D, or 2D, got shape: [1, 1, 1]\")"},
        ProductCase{"result_size_overflows",
                    false,
                    false,
                    {many_rows, many_columns},
                    {},
                    {},
                    "IncompatibleShape(\"ndarray: shape 4294967296 × 4294967296 overflows isize\")"}),
    case_name<ProductCase>);

TEST(MatMul, AgreesWithEigenOnRandomOperands) {
  const Matrix a = random_matrix(7, 5, 1);
  const Matrix b = random_matrix(5, 9, 2);
  const Computed computed = compute(MatMul(false, false), {to_array(a), to_array(b)});
  EXPECT_TRUE(near(out_matrix(computed), a * b, 1e-14));
}

TEST(MatMul, ShapeErrorTextNamesAllFourDimensions) {
  EXPECT_EQ(tensor_ops::dot_ops::dotshape_error(1, 2, 3, 4),
            "ndarray: inputs 1 × 2 and 3 × 4 are not compatible for matrix multiplication");
  EXPECT_EQ(tensor_ops::dot_ops::dotshape_error(std::size_t{1} << 32, 7, 7, std::size_t{1} << 31),
            "ndarray: shape 4294967296 × 2147483648 overflows isize");
}

TEST(MatMul, NameAndTypeTest) {
  const MatMul op(true, false);
  EXPECT_EQ(op.name(), "ketra_autograd::tensor_ops::dot_ops::MatMul");
  const auto any = op.as_any();
  ASSERT_TRUE(any.has_value());
  ASSERT_NE(any->downcast<MatMul>(), nullptr);
  EXPECT_TRUE(any->downcast<MatMul>()->transpose_a());
  EXPECT_FALSE(any->downcast<MatMul>()->transpose_b());
}

// C = op(A)·op(B) for every combination of flags: the products grad builds, evaluated,
// against central differences of Σ G ∘ C.
class MatMulGradient : public ::testing::TestWithParam<std::pair<bool, bool>> {};

TEST_P(MatMulGradient, MatchesFiniteDifferences) {
  const auto [ta, tb] = GetParam();
  const Matrix a = random_matrix(ta ? 4 : 3, ta ? 3 : 4, 3);
  const Matrix b = random_matrix(tb ? 2 : 4, tb ? 4 : 2, 4);
  const Matrix g = random_matrix(3, 2, 5);
  const auto op_of = [](const Matrix& m, bool t) -> Matrix { return t ? Matrix(m.transpose()) : m; };
  const Matrix expected_a =
      central_differences([&](const Matrix& x) { return contract(g, op_of(x, ta) * op_of(b, tb)); }, a);
  const Matrix expected_b =
      central_differences([&](const Matrix& x) { return contract(g, op_of(a, ta) * op_of(x, tb)); }, b);
  graph::run([&](graph::Context& ctx) {
    const Tensor ta_node = tensor_ops::convert_to_tensor(to_array(a), ctx);
    const Tensor tb_node = tensor_ops::convert_to_tensor(to_array(b), ctx);
    const Tensor y =
        tensor::TensorBuilder(ctx).append_input_with_selector(ta_node).append_input_with_selector(tb_node).build(
            MatMul(ta, tb));
    const auto grads = grads_of(ctx, y, tensor_ops::convert_to_tensor(to_array(g), ctx));
    ASSERT_EQ(grads.size(), 2u);
    for (const auto& grad : grads) {
      ASSERT_TRUE(grad.has_value());
      EXPECT_EQ(ctx.node(grad->id()).get_op().name(), "ketra_autograd::tensor_ops::dot_ops::MatMul");
    }
    const Matrix expected[] = {expected_a, expected_b};
    for (std::size_t k = 0; k < 2; ++k) {
      const auto value = grads[k]->eval(ctx);
      ASSERT_TRUE(value.has_value()) << value.error().debug();
      ASSERT_EQ(value->ndim(), 2u);
      EXPECT_TRUE(near(tensor_ops::dense::as_matrix(*value), expected[k], 1e-8)) << "input " << k;
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Flags, MatMulGradient,
                         ::testing::Values(std::pair{false, false}, std::pair{true, false}, std::pair{false, true},
                                           std::pair{true, true}),
                         [](const auto& info) {
                           return std::string(info.param.first ? "transposed" : "plain") + "_times_" +
                                  (info.param.second ? "transposed" : "plain");
                         });

}  // namespace
