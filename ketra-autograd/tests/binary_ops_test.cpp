#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/array_ops.hpp"
#include "ketra_autograd/tensor_ops/binary_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using tensor::Tensor;
using Shape = std::vector<std::size_t>;
using Names = std::vector<std::string>;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

const binary_ops::AddOp add_op;
const binary_ops::SubOp sub_op;
const binary_ops::MulOp mul_op;
const binary_ops::DivOp div_op;

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, OpComputes,
    ::testing::Values(
        ComputeCase{"add_vector_and_scalar", &add_op, {vec({1, 2, 3}), ArrayD::scalar(0.5)}, {3}, {1.5, 2.5, 3.5}},
        ComputeCase{"add_scalar_and_vector", &add_op, {ArrayD::scalar(0.5), vec({1, 2, 3})}, {3}, {1.5, 2.5, 3.5}},
        ComputeCase{"add_one_element_and_scalar_keeps_rank_one", &add_op, {vec({1}), ArrayD::scalar(2)}, {1}, {3}},
        ComputeCase{"add_columns_and_rows",
                    &add_op,
                    {array({2, 1}, {10, 20}), array({1, 3}, {1, 2, 3})},
                    {2, 3},
                    {11, 12, 13, 21, 22, 23}},
        ComputeCase{"add_column_and_vector",
                    &add_op,
                    {array({2, 1}, {10, 20}), vec({1, 2, 3})},
                    {2, 3},
                    {11, 12, 13, 21, 22, 23}},
        ComputeCase{"add_single_input_gives_zeros", &add_op, {vec({4, 5})}, {1, 1}, {0}},
        ComputeCase{"sub_scalar_minus_vector", &sub_op, {ArrayD::scalar(10), vec({1, 2, 3})}, {3}, {9, 8, 7}},
        ComputeCase{"sub_one_element_minuend_broadcasts", &sub_op, {vec({10}), vec({1, 2, 3})}, {3}, {9, 8, 7}},
        ComputeCase{"sub_vector_minus_one_element", &sub_op, {vec({1, 2, 3}), vec({1})}, {3}, {0, 1, 2}},
        ComputeCase{"sub_one_element_minus_scalar_keeps_rank_one", &sub_op, {vec({5}), ArrayD::scalar(2)}, {1}, {3}},
        ComputeCase{"sub_scalars_keep_zero_sign", &sub_op, {ArrayD::scalar(-0.0), ArrayD::scalar(0.0)}, {}, {-0.0}},
        ComputeCase{"mul_one_element_constant_spreads_over_column",
                    &mul_op,
                    {vec({2.5}), vec({1, 2, 3, 4, 5})},
                    {5},
                    {2.5, 5, 7.5, 10, 12.5}},
        ComputeCase{"mul_column_by_one_element_constant", &mul_op, {vec({1, 2}), vec({-3})}, {2}, {-3, -6}},
        ComputeCase{"mul_missing_input_reads_zero", &mul_op, {vec({1, -2})}, {2}, {0, -0.0}},
        ComputeCase{"div_by_scalar_multiplies_by_reciprocal",
                    &div_op,
                    {vec({5, 1, 2, 3}), ArrayD::scalar(3)},
                    {4},
                    {1.6666666666666665, 1.0 / 3.0, 2.0 / 3.0, 1}},
        ComputeCase{"div_one_element_dividend_divides_exactly",
                    &div_op,
                    {vec({5}), ArrayD::scalar(3)},
                    {},
                    {1.6666666666666667}},
        ComputeCase{"div_scalar_by_one_element", &div_op, {ArrayD::scalar(3), vec({5})}, {1}, {0.6}},
        ComputeCase{"div_scalar_by_vector", &div_op, {ArrayD::scalar(3), vec({5, 1, 2, 4})}, {4}, {0.6, 3, 1.5, 0.75}},
        ComputeCase{"div_one_element_by_scalar_gives_0d", &div_op, {vec({6}), ArrayD::scalar(3)}, {}, {2}},
        ComputeCase{"div_by_zeros_follows_ieee",
                    &div_op,
                    {vec({1, -1, 0, nan}), vec({0, 0, 0, 1})},
                    {4},
                    {inf, -inf, nan, nan}},
        ComputeCase{"div_by_scalar_zero", &div_op, {vec({1, -1}), ArrayD::scalar(0)}, {2}, {inf, -inf}},
        ComputeCase{"div_broadcast_divides_exactly",
                    &div_op,
                    {array({2, 1}, {5, 1}), vec({3, 7})},
                    {2, 2},
                    {5.0 / 3.0, 5.0 / 7.0, 1.0 / 3.0, 1.0 / 7.0}}),
    case_name<ComputeCase>);

const array_ops::InferBinOpShape infer_op;

INSTANTIATE_TEST_SUITE_P(
    InferBinOpShape, OpComputes,
    ::testing::Values(ComputeCase{"unknowns_give_way", &infer_op, {vec({-1, 3}), vec({4, -1})}, {2}, {4, 3}},
                      ComputeCase{"both_unknown_keeps_lhs", &infer_op, {vec({-1}), vec({-2})}, {1}, {-1}},
                      ComputeCase{"empty_lhs_gives_rhs", &infer_op, {vec({}), vec({2, 3})}, {2}, {2, 3}},
                      ComputeCase{"one_lhs_gives_rhs_as_it_stands", &infer_op, {vec({1}), vec({-1, 7})}, {2}, {-1, 7}},
                      ComputeCase{"lhs_read_as_one_gives_rhs", &infer_op, {vec({1.9}), vec({2, 3})}, {2}, {2, 3}},
                      ComputeCase{"one_rhs_gives_lhs", &infer_op, {vec({-1, 2}), vec({1})}, {2}, {-1, 2}},
                      ComputeCase{"larger_size_without_check", &infer_op, {vec({3, 1}), vec({4, 5})}, {2}, {4, 5}},
                      ComputeCase{"nan_lhs_gives_known_rhs", &infer_op, {vec({nan, nan}), vec({3, -1})}, {2}, {3, nan}},
                      ComputeCase{"nan_rhs_is_kept", &infer_op, {vec({3, -1}), vec({nan, nan})}, {2}, {nan, nan}}),
    case_name<ComputeCase>);

const binary_ops::MaybeReduceSum reduce_op;
const binary_ops::MaybeBroadcast broadcast_op;

INSTANTIATE_TEST_SUITE_P(
    MaybeReduceSum, OpComputes,
    ::testing::Values(
        ComputeCase{"rows_summed_to_vector", &reduce_op, {iota({2, 3}), vec({3})}, {3}, {3, 5, 7}},
        ComputeCase{"all_summed_to_0d", &reduce_op, {iota({2, 3}), vec({})}, {}, {15}},
        ComputeCase{"all_summed_to_one_element", &reduce_op, {iota({2, 3}), vec({1})}, {1}, {15}},
        ComputeCase{"columns_summed_keeping_rank", &reduce_op, {iota({2, 3}), vec({2, 1})}, {2, 1}, {3, 12}},
        ComputeCase{"outer_and_inner_summed", &reduce_op, {iota({2, 3, 4}), vec({3, 1})}, {3, 1}, {60, 92, 124}},
        ComputeCase{"same_shape_unchanged", &reduce_op, {iota({4}), vec({4})}, {4}, {0, 1, 2, 3}},
        ComputeCase{"leading_one_reshaped_away", &reduce_op, {iota({1, 3}), vec({3})}, {3}, {0, 1, 2}},
        ComputeCase{"one_element_to_0d", &reduce_op, {vec({7}), vec({})}, {}, {7}}),
    case_name<ComputeCase>);

INSTANTIATE_TEST_SUITE_P(
    MaybeBroadcast, OpComputes,
    ::testing::Values(
        ComputeCase{
            "scalar_fills_target", &broadcast_op, {ArrayD::scalar(2.5), vec({2, 2})}, {2, 2}, {2.5, 2.5, 2.5, 2.5}},
        ComputeCase{"one_element_fills_target", &broadcast_op, {vec({4}), vec({3})}, {3}, {4, 4, 4}},
        ComputeCase{
            "vector_repeated_as_rows", &broadcast_op, {vec({1, 2, 3}), vec({2, 3})}, {2, 3}, {1, 2, 3, 1, 2, 3}},
        ComputeCase{"column_repeated", &broadcast_op, {array({2, 1}, {1, 2}), vec({2, 3})}, {2, 3}, {1, 1, 1, 2, 2, 2}},
        ComputeCase{"same_shape_unchanged", &broadcast_op, {vec({1, 2}), vec({2})}, {2}, {1, 2}}),
    case_name<ComputeCase>);

INSTANTIATE_TEST_SUITE_P(
    BinaryOps, OpFailures,
    ::testing::Values(
        FailureCase{"add_unbroadcastable",
                    make_op<binary_ops::AddOp>(),
                    {iota({2, 3}), iota({4})},
                    R"(IncompatibleShape("Cannot broadcast shapes [2, 3] and [4] for operation AddOp"))"},
        FailureCase{"sub_unbroadcastable",
                    make_op<binary_ops::SubOp>(),
                    {iota({2}), iota({3})},
                    R"(IncompatibleShape("Cannot broadcast shapes [2] and [3] for operation SubOp"))"},
        FailureCase{"mul_unbroadcastable",
                    make_op<binary_ops::MulOp>(),
                    {iota({3, 2}), iota({3})},
                    R"(IncompatibleShape("Cannot broadcast shapes [3, 2] and [3] for operation MulOp"))"},
        FailureCase{"div_unbroadcastable",
                    make_op<binary_ops::DivOp>(),
                    {iota({2}), iota({3})},
                    R"(IncompatibleShape("Cannot broadcast shapes [2] and [3] for operation DivOp"))"},
        FailureCase{"infer_ranks_differ",
                    make_op<array_ops::InferBinOpShape>(),
                    {vec({2, 3}), vec({3})},
                    R"(IncompatibleShape("InferBinOpShape: rank of lhs and rhs must match."))"},
        FailureCase{
            "reduce_mismatched_kept_axis",
            make_op<binary_ops::MaybeReduceSum>(),
            {iota({2, 3}), vec({4, 3})},
            R"(IncompatibleShape("MaybeReduceSum: incompatible shapes origshape=[4, 3] gyshape=[2, 3] at dim 0"))"},
        FailureCase{
            "reduce_size_one_against_empty_axis",
            make_op<binary_ops::MaybeReduceSum>(),
            {iota({0, 3}), vec({1, 3})},
            R"(IncompatibleShape("MaybeReduceSum: incompatible shapes origshape=[1, 3] gyshape=[0, 3] at dim 0"))"},
        FailureCase{"reduce_target_longer_than_gradient",
                    make_op<binary_ops::MaybeReduceSum>(),
                    {iota({3}), vec({1, 3})},
                    R"(IncompatibleShape("MaybeReduceSum: shape conversion failed: origshape=[1, 3] gyshape=[3]"))"},
        FailureCase{"broadcast_mismatched_sizes",
                    make_op<binary_ops::MaybeBroadcast>(),
                    {vec({1, 2}), vec({3})},
                    R"(IncompatibleShape("PreprocessBinOpGradGrad: Can't broadcast."))"},
        FailureCase{"broadcast_never_drops_axes",
                    make_op<binary_ops::MaybeBroadcast>(),
                    {iota({2, 3}), vec({3})},
                    R"(IncompatibleShape("PreprocessBinOpGradGrad: Can't broadcast."))"}),
    case_name<FailureCase>);

// The nodes each operation's own grad builds, in order, for constant operands (which
// carry no recorded shape, so every shape(t) adds a Shape node).
struct GradOrderCase {
  std::string name;
  const op::Op* op;
  Names built;
};

class GradientBuildOrder : public ::testing::TestWithParam<GradOrderCase> {};

TEST_P(GradientBuildOrder, FollowsTheOperation) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = convert_to_tensor(vec({1, 2}), ctx);
    const Tensor b = convert_to_tensor(vec({3, 4}), ctx);
    const Tensor y = tensor::TensorBuilder(ctx).append_input_with_selector(a).append_input_with_selector(b).build(
        binary_ops::AddOp{});  // only its inputs matter to grad
    const Tensor gy = convert_to_tensor(vec({1, 1}), ctx);
    const std::size_t first = ctx.num_nodes();
    std::vector<Tensor> inputs{a, b};
    const std::vector<Tensor> outputs{y}, arriving{gy};
    std::vector<std::optional<Tensor>> grads;
    op::GradientContext gctx(outputs, inputs, ctx, arriving, grads);
    GetParam().op->grad(gctx);
    EXPECT_EQ(node_names_from(ctx, first), GetParam().built);
    ASSERT_EQ(grads.size(), 2u);
    EXPECT_EQ(ctx.node(grads[0]->id()).get_op().name(), "ketra_autograd::tensor_ops::binary_ops::MaybeReduceSum");
    EXPECT_EQ(grads[1]->id() + 1, ctx.num_nodes());
  });
}

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, GradientBuildOrder,
    ::testing::Values(GradOrderCase{"add", &add_op, {"Shape", "Shape", "MaybeReduceSum", "MaybeReduceSum"}},
                      GradOrderCase{"sub_negates_after_reducing",
                                    &sub_op,
                                    {"Shape", "Shape", "MaybeReduceSum", "MaybeReduceSum", "NegOp"}},
                      GradOrderCase{"mul",
                                    &mul_op,
                                    {"Shape", "Shape", "Shape", "Shape", "InferBinOpShape", "MulOp", "Shape", "Shape",
                                     "InferBinOpShape", "MulOp", "MaybeReduceSum", "MaybeReduceSum"}},
                      GradOrderCase{"div",
                                    &div_op,
                                    {"Shape", "Shape",                              // shape(a), shape(b)
                                     "Shape", "Shape", "InferBinOpShape", "DivOp",  // div(gy, b)
                                     "Shape", "NegOp", "Shape", "Pow<f64>",         // neg(a), pow(b, -2)
                                     "InferBinOpShape", "MulOp",                    // the inner product
                                     "Shape", "InferBinOpShape", "MulOp",           // times gy
                                     "MaybeReduceSum", "MaybeReduceSum"}}),
    case_name<GradOrderCase>);

TEST(MaybeReduceSum, GradientsAreEachOthersAdapters) {
  graph::run([](graph::Context& ctx) {
    const Tensor gy = convert_to_tensor(iota({2, 3}), ctx);
    const Tensor target = convert_to_tensor(vec({3}), ctx);
    const Tensor reduced = binary_ops::maybe_reduce(target, gy, ctx);
    const auto& record = ctx.node(reduced.id());
    EXPECT_EQ(record.shape, target.id());
    EXPECT_EQ(record.inputs[0].id, gy.id());
    EXPECT_EQ(record.inputs[1].id, target.id());
    EXPECT_EQ(*reduced.eval(ctx), vec({3, 5, 7}));

    // Back up: the [3] gradient of the reduction is broadcast to gy's [2, 3].
    const auto up = grads_of(ctx, reduced, convert_to_tensor(vec({1, 2, 3}), ctx));
    ASSERT_EQ(up.size(), 2u);
    EXPECT_FALSE(up[1].has_value());
    EXPECT_EQ(ctx.node(up[0]->id()).get_op().name(), "ketra_autograd::tensor_ops::binary_ops::MaybeBroadcast");
    EXPECT_EQ(*up[0]->eval(ctx), array({2, 3}, {1, 2, 3, 1, 2, 3}));

    // And down again: the broadcast's gradient sums the rows back.
    const auto down = grads_of(ctx, *up[0], gy);
    ASSERT_EQ(down.size(), 2u);
    EXPECT_FALSE(down[1].has_value());
    EXPECT_EQ(*down[0]->eval(ctx), vec({3, 5, 7}));
  });
}

}  // namespace
