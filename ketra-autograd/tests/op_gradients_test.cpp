// Each operation's own grad against central finite differences of its compute, on
// random inputs away from kinks and poles.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ketra_autograd/tensor_ops/array_ops.hpp"
#include "ketra_autograd/tensor_ops/binary_ops.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"
#include "ketra_autograd/tensor_ops/reduction_ops.hpp"
#include "ketra_autograd/tensor_ops/scalar_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using Shape = std::vector<std::size_t>;

// Random values in [low, high); each call draws from its own seed.
ArrayD random_in(Shape shape, double low = -2.0, double high = 2.0) {
  static unsigned seed = 1;
  return random_array(shape, low, high, seed++);
}

struct GradCase {
  std::string name;
  std::function<void()> check;
};

class OwnGradient : public ::testing::TestWithParam<GradCase> {};

TEST_P(OwnGradient, MatchesFiniteDifferences) { GetParam().check(); }

template <typename O>
GradCase check(std::string name, O op, std::vector<ArrayD> inputs, std::initializer_list<std::size_t> wrt) {
  std::vector<std::size_t> inputs_to_check(wrt);
  return {std::move(name), [op, inputs = std::move(inputs), inputs_to_check] {
            for (std::size_t k : inputs_to_check) expect_grads_match_finite_differences(op, inputs, {k});
          }};
}

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, OwnGradient,
    ::testing::Values(
        check("add_same_shape", binary_ops::AddOp{}, {random_in({2, 3}), random_in({2, 3})}, {0, 1}),
        check("add_row_onto_matrix", binary_ops::AddOp{}, {random_in({2, 3}), random_in({3})}, {0, 1}),
        check("add_scalar", binary_ops::AddOp{}, {random_in({3}), random_in({})}, {0, 1}),
        check("sub_column_and_row", binary_ops::SubOp{}, {random_in({2, 1}), random_in({1, 3})}, {0, 1}),
        check("sub_from_scalar", binary_ops::SubOp{}, {random_in({}), random_in({4})}, {0, 1}),
        check("mul_row_onto_matrix", binary_ops::MulOp{}, {random_in({2, 3}), random_in({3})}, {0, 1}),
        check("mul_constant_by_column", binary_ops::MulOp{}, {random_in({1}), random_in({5})}, {0, 1}),
        check("div_row_onto_matrix", binary_ops::DivOp{}, {random_in({2, 3}), random_in({3}, 1, 2)}, {0, 1}),
        check("div_by_scalar", binary_ops::DivOp{}, {random_in({4}), random_in({}, 1, 2)}, {0, 1}),
        check("div_scalar_by_vector", binary_ops::DivOp{}, {random_in({}), random_in({4}, 1, 2)}, {0, 1})),
    case_name<GradCase>);

INSTANTIATE_TEST_SUITE_P(
    Elementwise, OwnGradient,
    ::testing::Values(check("exp", math_ops::Exp{}, {random_in({2, 3})}, {0}),
                      check("ln", math_ops::Ln{}, {random_in({5}, 0.5, 3)}, {0}),
                      check("neg", math_ops::NegOp{}, {random_in({3})}, {0}),
                      check("pow_cube", math_ops::Pow(3.0), {random_in({4})}, {0}),
                      check("pow_inverse_root", math_ops::Pow(-0.5), {random_in({4}, 0.5, 3)}, {0}),
                      check("scalar_mul", scalar_ops::ScalarMulOp(-1.75), {random_in({2, 2})}, {0}),
                      check("maximum", math_ops::Maximum{}, {random_in({6}), random_in({6})}, {0, 1}),
                      check("minimum_matrices", math_ops::Minimum{}, {random_in({2, 3}), random_in({2, 3})}, {0, 1}),
                      // The bound's gradient keeps x's shape, so only x is compared.
                      check("maximum_against_bound", math_ops::Maximum{}, {random_in({5}), ArrayD::scalar(0.1)}, {0})),
    case_name<GradCase>);

using reduction_ops::ReduceMean;
using reduction_ops::ReduceProd;
using reduction_ops::ReduceSum;

INSTANTIATE_TEST_SUITE_P(
    Reductions, OwnGradient,
    ::testing::Values(check("sum_rows", ReduceSum(false, false), {random_in({2, 3}), vec({1})}, {0}),
                      check("sum_rows_kept", ReduceSum(true, false), {random_in({2, 3}), vec({1})}, {0}),
                      check("sum_outer_and_inner", ReduceSum(false, false), {random_in({2, 3, 4}), vec({0, 2})}, {0}),
                      check("sum_vector_kept", ReduceSum(true, false), {random_in({3}), vec({0})}, {0}),
                      check("sum_mask", ReduceSum(false, true), {random_in({2, 3}), vec({1, 0})}, {0}),
                      check("mean_of_samples", ReduceMean(false, false), {random_in({5}), vec({0})}, {0}),
                      check("mean_last_axis", ReduceMean(false, false), {random_in({2, 3, 4}), vec({-1})}, {0}),
                      check("mean_columns_kept", ReduceMean(true, false), {random_in({2, 3}), vec({0})}, {0}),
                      check("mean_two_axes", ReduceMean(false, false), {random_in({2, 3, 2}), vec({0, 2})}, {0}),
                      check("prod_rows", ReduceProd(false, false), {random_in({2, 3}, 0.5, 2), vec({1})}, {0}),
                      check("prod_vector_kept", ReduceProd(true, false), {random_in({4}, -2, -0.5), vec({0})}, {0}),
                      check("sum_all", reduction_ops::ReduceSumAll{}, {random_in({2, 3})}, {0}),
                      check("sum_to_scalar", reduction_ops::ReduceSumToScalar{}, {random_in({4})}, {0}),
                      check("spread_to_shape", reduction_ops::ReduceSumToScalarGrad{}, {random_in({}), vec({2, 2})},
                            {0}),
                      check("spread_back_reinserting", reduction_ops::ReduceGradCommon(true, false),
                            {random_in({3}), vec({2, 3}), vec({0})}, {0}),
                      check("spread_back_kept_axes", reduction_ops::ReduceGradCommon(false, false),
                            {random_in({2, 1}), vec({2, 3}), vec({1})}, {0})),
    case_name<GradCase>);

INSTANTIATE_TEST_SUITE_P(
    ShapeAdapters, OwnGradient,
    ::testing::Values(
        check("maybe_reduce_sum", binary_ops::MaybeReduceSum{}, {random_in({2, 3}), vec({3})}, {0}),
        check("maybe_reduce_sum_to_0d", binary_ops::MaybeReduceSum{}, {random_in({2, 2}), vec({})}, {0}),
        check("maybe_broadcast", binary_ops::MaybeBroadcast{}, {random_in({3}), vec({2, 3})}, {0}),
        check("add_n", array_ops::AddN{}, {random_in({2, 2}), random_in({2, 2}), random_in({2, 2})}, {0, 1, 2}),
        check("gather_rows", array_ops::Gather(0, true), {vec({2, 0, 2}), random_in({4, 3})}, {1}),
        // Without normalising, -0.5 reads row 0; the gradient must land there too.
        check("gather_negative_fraction_plain", array_ops::Gather(0, false), {vec({-0.5, 2}), random_in({4, 3})}, {1}),
        check("gather_columns", array_ops::Gather(-1, true), {vec({1, -1}), random_in({2, 3})}, {1})),
    case_name<GradCase>);

}  // namespace
