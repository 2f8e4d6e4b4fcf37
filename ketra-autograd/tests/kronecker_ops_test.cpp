#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/kronecker_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using tensor::Tensor;
using tensor_ops::dense::to_array;
using tensor_ops::kronecker_ops::KroneckerGradOp;

// kron(a, b): block (i, j) is a[i][j]·b.
Matrix kron(const Matrix& a, const Matrix& b) {
  Matrix out(a.rows() * b.rows(), a.cols() * b.cols());
  for (Index i = 0; i < a.rows(); ++i) {
    for (Index j = 0; j < a.cols(); ++j) out.block(i * b.rows(), j * b.cols(), b.rows(), b.cols()) = a(i, j) * b;
  }
  return out;
}

TEST(KroneckerGradOp, GoldenSides) {
  const ArrayD a = array({1, 2}, {1, 2});
  const ArrayD b = array({2, 1}, {3, 4});
  const ArrayD gy = array({2, 2}, {1, 0, 0, 1});
  EXPECT_EQ(compute(KroneckerGradOp(0), {gy, a, b}).out(), array({1, 2}, {3, 4}));
  EXPECT_EQ(compute(KroneckerGradOp(1), {gy, a, b}).out(), array({2, 1}, {1, 2}));
}

TEST(KroneckerGradOp, ScalarCotangentSumsTheOtherFactor) {
  const ArrayD b = array({2, 2}, {1, 2, 3, 4.5});
  EXPECT_EQ(compute(KroneckerGradOp(0), {ArrayD::scalar(1), iota({2, 2}), b}).out(),
            array({2, 2}, {10.5, 10.5, 10.5, 10.5}));
}

TEST(KroneckerGradOp, EmptyOtherFactorGivesZeros) {
  const ArrayD empty_b = ArrayD::zeros(std::vector<std::size_t>{0, 3});
  const ArrayD gy = ArrayD::zeros(std::vector<std::size_t>{0, 6});
  EXPECT_EQ(compute(KroneckerGradOp(0), {gy, iota({2, 2}), empty_b}).out(), array({2, 2}, {0, 0, 0, 0}));
}

// Both sides against central differences of Σ G ∘ kron(A, B).
TEST(KroneckerGradOp, MatchesFiniteDifferences) {
  const Matrix a = random_matrix(3, 2, 21);
  const Matrix b = random_matrix(2, 4, 22);
  const Matrix g = random_matrix(6, 8, 23);
  const Matrix da = central_differences([&](const Matrix& x) { return contract(g, kron(x, b)); }, a);
  const Matrix db = central_differences([&](const Matrix& x) { return contract(g, kron(a, x)); }, b);
  const std::vector<ArrayD> inputs{to_array(g), to_array(a), to_array(b)};
  EXPECT_TRUE(near(out_matrix(compute(KroneckerGradOp(0), inputs)), da, 1e-8));
  EXPECT_TRUE(near(out_matrix(compute(KroneckerGradOp(1), inputs)), db, 1e-8));
  EXPECT_TRUE(near(out_matrix(compute(KroneckerGradOp(7), inputs)), db, 1e-8));
}

TEST(KroneckerGradOp, LargerCotangentIsReadFromItsCorner) {
  const Matrix a = random_matrix(2, 2, 24);
  const Matrix b = random_matrix(1, 2, 25);
  Matrix padded = random_matrix(3, 5, 26);
  const Matrix g = padded.topLeftCorner(2, 4);
  EXPECT_EQ(compute(KroneckerGradOp(0), {to_array(padded), to_array(a), to_array(b)}).out(),
            compute(KroneckerGradOp(0), {to_array(g), to_array(a), to_array(b)}).out());
}

const std::string not_matrices = "IncompatibleShape(\"KroneckerGradOp requires 2D matrices\")";
const std::string bad_gy = "IncompatibleShape(\"KroneckerGradOp: gy must be 2D or scalar\")";

INSTANTIATE_TEST_SUITE_P(
    Kronecker, OpFailures,
    ::testing::Values(
        FailureCase{"vector_a", make_op<KroneckerGradOp>(0), {iota({2, 2}), vec({1, 2}), iota({1, 1})}, not_matrices},
        FailureCase{"vector_a_before_vector_gy",
                    make_op<KroneckerGradOp>(0),
                    {vec({1}), vec({1, 2}), iota({1, 1})},
                    not_matrices},
        FailureCase{"missing_b", make_op<KroneckerGradOp>(0), {iota({2, 2}), iota({2, 2})}, not_matrices},
        FailureCase{"vector_gy", make_op<KroneckerGradOp>(0), {vec({1, 2, 3, 4}), iota({2, 2}), iota({1, 1})}, bad_gy},
        FailureCase{
            "one_element_vector_gy", make_op<KroneckerGradOp>(0), {vec({1}), iota({1, 1}), iota({1, 1})}, bad_gy},
        FailureCase{"gy_too_few_rows",
                    make_op<KroneckerGradOp>(0),
                    {iota({3, 4}), iota({2, 2}), iota({2, 2})},
                    "IncompatibleShape(\"KroneckerGradOp: gy of shape [3, 4] does not cover kron(A, B) for A of "
                    "shape [2, 2] and B of shape [2, 2]\")"},
        FailureCase{"gy_too_few_columns",
                    make_op<KroneckerGradOp>(0),
                    {iota({4, 3}), iota({2, 2}), iota({2, 2})},
                    "IncompatibleShape(\"KroneckerGradOp: gy of shape [4, 3] does not cover kron(A, B) for A of "
                    "shape [2, 2] and B of shape [2, 2]\")"}),
    case_name<FailureCase>);

TEST(KroneckerGradOp, NamesBySideAndPassesNoGradient) {
  EXPECT_EQ(KroneckerGradOp(0).name(), "KroneckerGradA");
  EXPECT_EQ(KroneckerGradOp(1).name(), "KroneckerGradB");
  EXPECT_EQ(KroneckerGradOp(2).name(), "KroneckerGradB");
  EXPECT_FALSE(KroneckerGradOp(0).as_any().has_value());
  graph::run([](graph::Context& ctx) {
    tensor::TensorBuilder builder(ctx);
    for (int i = 0; i < 3; ++i) builder.append_input_with_selector(tensor_ops::convert_to_tensor(iota({1, 1}), ctx));
    const Tensor y = builder.build(KroneckerGradOp(1));
    EXPECT_EQ(grads_of(ctx, y, y), (std::vector<std::optional<Tensor>>(3)));
  });
}

}  // namespace
