#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/reduction.hpp"
#include "ketra_autograd/tensor_ops/reduction_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops;
using namespace ketra_autograd::tensor_ops::reduction_ops;
using namespace ketra_autograd::testing;
using tensor::Tensor;
using Names = std::vector<std::string>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

const ReduceSum sum_op(false, false);
const ReduceSum sum_keep_op(true, false);
const ReduceSum sum_mask_op(false, true);
const ReduceMean mean_op(false, false);
const ReduceMean mean_keep_op(true, false);
const ReduceProd prod_op(false, false);
const ReduceSumAll sum_all_op;
const ReduceSumToScalar sum_to_scalar_op;
const ReduceSumToScalarGrad spread_op;
const ReduceGradCommon reinserting_op(true, false);
const ReduceGradCommon kept_axes_op(false, false);
const ReduceGradCommon reinserting_mask_op(true, true);

ArrayD ones(std::initializer_list<std::size_t> shape) {
  return ArrayD::from_elem(std::span<const std::size_t>(shape.begin(), shape.size()), 1.0);
}

// iota({2, 3, 4}) sums: over axes 0 and 2 to [60, 92, 124]; over axis 2 to
// [6, 22, 38, 54, 70, 86].
INSTANTIATE_TEST_SUITE_P(
    OverAxes, OpComputes,
    ::testing::Values(
        ComputeCase{"mean_of_vector", &mean_op, {vec({1, 2, 3, 4}), vec({0})}, {}, {2.5}},
        ComputeCase{"mean_multiplies_by_reciprocal", &mean_op, {vec({2, 2, 1}), vec({0})}, {}, {1.6666666666666665}},
        ComputeCase{"mean_of_empty_is_nan", &mean_op, {vec({}), vec({0})}, {}, {nan}},
        ComputeCase{"mean_without_axes_copies", &mean_op, {vec({1, 2}), vec({})}, {2}, {1, 2}},
        ComputeCase{"mean_all_axes_kept", &mean_keep_op, {iota({2, 3}), vec({0, 1})}, {1, 1}, {2.5}},
        ComputeCase{"mean_count_rounds_through_single_precision",
                    &mean_op,
                    {ones({4097, 1}), vec({0, 0})},
                    {},
                    {4097.0 * (1.0 / 16785408.0)}},
        ComputeCase{"sum_outer_and_inner_kept", &sum_keep_op, {iota({2, 3, 4}), vec({0, 2})}, {1, 3, 1}, {60, 92, 124}},
        ComputeCase{"sum_outer_and_inner_dropped", &sum_op, {iota({2, 3, 4}), vec({2, 0})}, {3}, {60, 92, 124}},
        ComputeCase{
            "sum_axis_minus_one_is_last", &sum_op, {iota({2, 3, 4}), vec({-1})}, {2, 3}, {6, 22, 38, 54, 70, 86}},
        ComputeCase{"sum_axis_minus_half_truncates_to_one", &sum_op, {iota({2, 3}), vec({-0.5})}, {2}, {3, 12}},
        ComputeCase{"sum_axis_below_minus_rank_reads_zero", &sum_op, {iota({2, 3}), vec({-5})}, {3}, {3, 5, 7}},
        ComputeCase{"sum_axis_nan_reads_zero", &sum_op, {iota({2, 3}), vec({nan})}, {3}, {3, 5, 7}},
        ComputeCase{"sum_duplicate_axis_folds_twice", &sum_op, {iota({2, 3}), vec({0, 0})}, {}, {15}},
        ComputeCase{"sum_one_element_keeps_rank_one", &sum_op, {vec({7}), vec({0})}, {1}, {7}},
        ComputeCase{"sum_0d_unchanged", &sum_op, {ArrayD::scalar(7), vec({0})}, {}, {7}},
        ComputeCase{
            "sum_mask_selects_axes_one_and_three", &sum_mask_op, {iota({1, 2, 1, 2}), vec({0, 1, 0, 1})}, {1, 1}, {6}},
        ComputeCase{"sum_mask_ignores_other_values", &sum_mask_op, {iota({2, 2}), vec({2, 0})}, {2, 2}, {0, 1, 2, 3}},
        ComputeCase{"prod_of_rows", &prod_op, {array({2, 3}, {1, 2, 3, 4, 5, -6}), vec({1})}, {2}, {6, -120}},
        ComputeCase{"prod_0d_unchanged", &prod_op, {ArrayD::scalar(-3), vec({0})}, {}, {-3}},
        ComputeCase{"prod_of_empty_is_one", &prod_op, {vec({}), vec({0})}, {}, {1}}),
    case_name<ComputeCase>);

INSTANTIATE_TEST_SUITE_P(
    WholeArrays, OpComputes,
    ::testing::Values(
        ComputeCase{"sum_all", &sum_all_op, {iota({2, 3})}, {}, {15}},
        ComputeCase{"sum_all_of_empty", &sum_all_op, {vec({})}, {}, {0}},
        ComputeCase{"sum_to_scalar", &sum_to_scalar_op, {vec({0.5, -2})}, {}, {-1.5}},
        ComputeCase{"sum_to_scalar_of_empty", &sum_to_scalar_op, {iota({0, 3})}, {}, {0}},
        ComputeCase{"spread_scalar", &spread_op, {ArrayD::scalar(1.5), vec({2, 2})}, {2, 2}, {1.5, 1.5, 1.5, 1.5}},
        ComputeCase{"spread_first_element", &spread_op, {vec({3, 4}), vec({3})}, {3}, {3, 3, 3}},
        ComputeCase{"spread_unknown_size_reads_zero", &spread_op, {vec({3}), vec({-1, 2})}, {0, 2}, {}}),
    case_name<ComputeCase>);

INSTANTIATE_TEST_SUITE_P(
    ReduceGradCommon, OpComputes,
    ::testing::Values(
        ComputeCase{
            "rows_reinserted", &reinserting_op, {vec({1, 2, 3}), vec({2, 3}), vec({0})}, {2, 3}, {1, 2, 3, 1, 2, 3}},
        ComputeCase{
            "columns_reinserted", &reinserting_op, {vec({1, 2}), vec({2, 3}), vec({1})}, {2, 3}, {1, 1, 1, 2, 2, 2}},
        ComputeCase{"negative_axis_decoded_against_target_rank",
                    &reinserting_op,
                    {vec({1, 2}), vec({2, 3}), vec({-1})},
                    {2, 3},
                    {1, 1, 1, 2, 2, 2}},
        ComputeCase{"scalar_reinserted_everywhere",
                    &reinserting_op,
                    {ArrayD::scalar(4), vec({2, 2}), vec({1, 0})},
                    {2, 2},
                    {4, 4, 4, 4}},
        ComputeCase{
            "mask_axes", &reinserting_mask_op, {vec({1, 2}), vec({2, 3}), vec({0, 1})}, {2, 3}, {1, 1, 1, 2, 2, 2}},
        ComputeCase{"kept_axes_broadcast_directly",
                    &kept_axes_op,
                    {array({2, 1}, {1, 2}), vec({2, 3}), vec({1})},
                    {2, 3},
                    {1, 1, 1, 2, 2, 2}},
        ComputeCase{"kept_axis_of_a_vector_sum", &kept_axes_op, {vec({5}), vec({3}), vec({0})}, {3}, {5, 5, 5}},
        ComputeCase{"same_shape_copied", &reinserting_op, {vec({1, 2}), vec({2}), vec({0})}, {2}, {1, 2}}),
    case_name<ComputeCase>);

INSTANTIATE_TEST_SUITE_P(
    Reductions, OpFailures,
    ::testing::Values(FailureCase{
        "spread_of_empty_gradient",
        make_op<ReduceSumToScalarGrad>(),
        {vec({}), vec({2})},
        R"(IncompatibleShape("ReduceSumToScalarGrad: the gradient of shape [0] has no value to spread"))"}),
    case_name<FailureCase>);

TEST(ReduceGradCommon, GradientsThatCannotBeLaidOutPanic) {
  EXPECT_EQ(panic_message([] { compute(kept_axes_op, {vec({1, 2}), vec({3}), vec({0})}); }), "Operation failed");
  EXPECT_EQ(panic_message([] {
              compute(reinserting_op, {vec({1, 2}), vec({2, 3}), vec({0})});
            }),
            "Operation failed");  // [1, 2] does not stretch to [2, 3]
  EXPECT_EQ(panic_message([] {
              compute(reinserting_op, {vec({1, 2}), vec({2, 1, 1, 1}), vec({3})});
            }),
            "ReduceGradCommon: cannot insert axis 3 into shape [2]");
}

TEST(Reductions, AxesAtOrBeyondTheRankPanic) {
  EXPECT_EQ(panic_message([] {
              compute(mean_op, {iota({2, 3}), vec({2})});
            }),
            "ReduceMean: axis 2 is out of range for an array of shape [2, 3]");
  EXPECT_EQ(panic_message([] {
              compute(sum_op, {iota({2, 3}), vec({2})});
            }),
            "cannot fold axis 2 of an array of shape [2, 3]");
}

TEST(ReduceMean, GradientDividesBySampleCount) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(vec({1, 2, 3, 4}), ctx);
    const std::size_t first = ctx.num_nodes();
    const Tensor mean = reduction::reduce_mean(x, std::array<std::int32_t, 1>{0}, false);
    EXPECT_EQ(node_names_from(ctx, first), (Names{"ConvertToTensor<f64>", "ReduceMean"}));
    EXPECT_FALSE(ctx.node(mean.id()).shape.has_value());
    EXPECT_EQ(*mean.eval(ctx), ArrayD::scalar(2.5));

    const std::size_t before_grad = ctx.num_nodes();
    const auto grads = grads_of(ctx, mean, scalar(1.0, ctx));
    EXPECT_EQ(node_names_from(ctx, before_grad + 1),
              (Names{"Shape", "ReduceGradCommon", "Shape", "Gather", "ConvertToTensor<f64>", "ReduceProd", "Shape",
                     "Shape", "InferBinOpShape", "DivOp"}));
    ASSERT_EQ(grads.size(), 2u);
    EXPECT_FALSE(grads[1].has_value());
    EXPECT_EQ(*grads[0]->eval(ctx), vec({0.25, 0.25, 0.25, 0.25}));
  });
}

TEST(AddNBuilder, OneTensorAddsNoNodeAndMoreAddOne) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = convert_to_tensor(iota({2, 3}), ctx);
    const Tensor b = convert_to_tensor(vec({1, 1, 1}), ctx);
    const std::size_t first = ctx.num_nodes();
    const std::vector<Tensor> one{a};
    EXPECT_EQ(reduction::add_n(one), a);
    EXPECT_EQ(ctx.num_nodes(), first);

    const std::vector<Tensor> three{a, b, b};
    const Tensor sum = reduction::add_n(three);
    EXPECT_EQ(node_names_from(ctx, first), (Names{"Shape", "AddN"}));
    const auto& record = ctx.node(sum.id());
    ASSERT_EQ(record.inputs.size(), 3u);
    EXPECT_EQ(record.inputs[2].id, b.id());
    EXPECT_EQ(record.shape, first);
    EXPECT_EQ(*sum.eval(ctx), array({2, 3}, {2, 3, 4, 5, 6, 7}));

    EXPECT_EQ(panic_message([] { reduction::add_n({}); }), "assertion `left != right` failed\n  left: 0\n right: 0");
  });
}

}  // namespace
