#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/array_ops.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using tensor::Tensor;
using Shape = std::vector<std::size_t>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Whether the record's shape tensor is a Shape node over x.
bool records_shape_of(graph::Context& ctx, const tensor::TensorInternal& record, Tensor x) {
  if (!record.shape) return false;
  const auto& shape_node = ctx.node(*record.shape);
  return shape_node.get_op().name() == "ketra_autograd::tensor_ops::array_ops::Shape" &&
         shape_node.inputs.size() == 1 && shape_node.inputs[0].id == x.id();
}

Tensor ones_like(graph::Context& ctx, Tensor t) {
  const ArrayD value = *t.eval(ctx);
  return convert_to_tensor(ArrayD::from_elem(value.shape(), 1.0), ctx);
}

TEST(Shape, ListsTheDimensions) {
  const array_ops::Shape op;
  const ArrayD of_scalar = compute(op, {ArrayD::scalar(5.0)}).out();
  EXPECT_EQ(shape_of(of_scalar), Shape{0});
  EXPECT_EQ(compute(op, {iota({2, 3})}).out(), vec({2.0, 3.0}));
}

TEST(Shape, BuilderReusesARecordedShapeTensor) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(iota({2, 3}), ctx);
    const Tensor s = shape(x);
    EXPECT_FALSE(ctx.node(s.id()).is_differentiable);
    EXPECT_EQ(*s.eval(ctx), vec({2.0, 3.0}));
    const Tensor target = convert_to_tensor(vec({3.0, 2.0}), ctx);
    const Tensor reshaped = reshape(x, target);
    const std::size_t before = ctx.num_nodes();
    EXPECT_EQ(shape(reshaped), target);
    EXPECT_EQ(ctx.num_nodes(), before);
    EXPECT_TRUE(grads_of(ctx, s, s).at(0) == std::nullopt);
  });
}

struct ReshapeCase {
  const char* name;
  std::vector<double> target;
  Shape expected;     // on success
  const char* error;  // the returned error's debug text, or nullptr
};

class Reshaping : public ::testing::TestWithParam<ReshapeCase> {};

TEST_P(Reshaping, DecodesTheTargetOfATwoByThreeArray) {
  const Computed c = compute(array_ops::Reshape{}, {iota({2, 3}), ArrayD::from_vec(GetParam().target)});
  if (GetParam().error != nullptr) {
    EXPECT_EQ(c.error_debug(), GetParam().error);
    EXPECT_TRUE(c.outputs.empty());
    return;
  }
  ASSERT_TRUE(c.result.has_value());
  EXPECT_EQ(shape_of(c.out()), GetParam().expected);
  EXPECT_EQ(values_of(c.out()), values_of(iota({2, 3})));
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Reshaping,
    ::testing::Values(
        ReshapeCase{"inferred_last", {3, -1}, {3, 2}, nullptr}, ReshapeCase{"inferred_only", {-1}, {6}, nullptr},
        ReshapeCase{"fraction_truncated", {2.9, 3}, {2, 3}, nullptr},
        ReshapeCase{"unit_axes", {1, 6, 1}, {1, 6, 1}, nullptr},
        ReshapeCase{"inferred_first", {-1, 2}, {3, 2}, nullptr},
        ReshapeCase{"inferred_too_small", {4, -1}, {}, R"(IncompatibleShape("reshape failed: [2, 3] vs [4, 1]"))"},
        ReshapeCase{"wrong_count", {4}, {}, R"(IncompatibleShape("reshape failed: [2, 3] vs [4]"))"},
        ReshapeCase{"count_overflows",
                    {1e19, 1e19},
                    {},
                    R"(IncompatibleShape("reshape failed: [2, 3] vs [10000000000000000000, 10000000000000000000]"))"}),
    case_name<ReshapeCase>);

TEST(Reshape, UnreadableTargetsPanic) {
  const auto reshape_panic = [](std::vector<double> target) {
    return panic_message([&] { compute(array_ops::Reshape{}, {iota({2, 3}), ArrayD::from_vec(target)}); });
  };
  EXPECT_EQ(reshape_panic({-1, -1}), "Operation failed");  // the product is 1
  EXPECT_EQ(reshape_panic({-2, 3}), "Operation failed");
  EXPECT_EQ(reshape_panic({std::nan(""), 6}), "Operation failed");
  EXPECT_EQ(reshape_panic({-1, 3e30}), "Operation failed");  // the product leaves the range
  EXPECT_EQ(reshape_panic({-1, 0}),
            "reshape: cannot infer the size of a -1 entry when the other target sizes multiply to zero");
}

TEST(Reshape, FlattenAndTheGradientRestoreShapes) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(iota({2, 3}), ctx);
    const Tensor flat = flatten(x);
    EXPECT_EQ(*flat.eval(ctx), iota({6}));
    const auto& flat_record = ctx.node(flat.id());
    ASSERT_EQ(flat_record.inputs.size(), 2u);
    EXPECT_EQ(flat_record.shape, flat_record.inputs[1].id);
    EXPECT_EQ(*Tensor(ctx, flat_record.inputs[1].id).eval(ctx), vec({-1.0}));

    const auto grads = grads_of(ctx, flat, convert_to_tensor(iota({6}), ctx));
    ASSERT_EQ(grads.size(), 2u);
    EXPECT_EQ(*grads[0]->eval(ctx), iota({2, 3}));
    EXPECT_FALSE(grads[1].has_value());
  });
}

TEST(Squeeze, RemovesTheListedUnitAxes) {
  const auto squeezed = [](std::vector<double> axes) {
    return shape_of(compute(array_ops::Squeeze{}, {iota({1, 3, 1}), ArrayD::from_vec(axes)}).out());
  };
  EXPECT_EQ(squeezed({2, 0}), Shape{3});
  EXPECT_EQ(squeezed({-1}), (Shape{1, 3}));
  EXPECT_EQ(squeezed({0}), (Shape{3, 1}));
  EXPECT_EQ(squeezed({-1, 0}), Shape{3});  // negative entries count from the end of x's rank
  EXPECT_EQ(squeezed({}), (Shape{1, 3, 1}));
  EXPECT_EQ(values_of(compute(array_ops::Squeeze{}, {iota({1, 3, 1}), vec({0, 2})}).out()),
            (std::vector<double>{0, 1, 2}));
}

TEST(Squeeze, AxesThatCannotBeSqueezedPanic) {
  const auto squeeze_panic = [](std::vector<double> axes) {
    return panic_message([&] { compute(array_ops::Squeeze{}, {iota({1, 3, 1}), ArrayD::from_vec(axes)}); });
  };
  EXPECT_EQ(squeeze_panic({1}), "Can't squeeze a dim whose size != 1");
  EXPECT_EQ(squeeze_panic({3}), "squeeze: axis 3 is out of range for an array of rank 3");
  EXPECT_EQ(squeeze_panic({-4}), "squeeze: axis -4 is out of range for an array of rank 3");
  EXPECT_EQ(squeeze_panic({0, 0}), "squeeze: axis 0 is listed twice");
  EXPECT_EQ(squeeze_panic({2, -1}), "squeeze: axis 2 is listed twice");
  EXPECT_EQ(squeeze_panic({std::numeric_limits<double>::infinity()}), "Operation failed");
}

TEST(ExpandDims, InsertsUnitAxes) {
  const auto expanded = [](std::vector<double> axes) {
    return shape_of(compute(array_ops::ExpandDims{}, {iota({3}), ArrayD::from_vec(axes)}).out());
  };
  EXPECT_EQ(expanded({0, 2}), (Shape{1, 3, 1}));
  EXPECT_EQ(expanded({2, 0}), (Shape{1, 3, 1}));
  EXPECT_EQ(expanded({-1}), (Shape{1, 3}));  // -1 + rank 1 = position 0
  EXPECT_EQ(expanded({1}), (Shape{3, 1}));
  EXPECT_EQ(expanded({0, 0}), (Shape{1, 1, 3}));
  EXPECT_EQ(shape_of(compute(array_ops::ExpandDims{}, {ArrayD::scalar(2.0), vec({0})}).out()), Shape{1});
  // Negative axes count from the end of x's own rank, not of the growing shape.
  EXPECT_EQ(shape_of(compute(array_ops::ExpandDims{}, {iota({2, 3}), vec({-2, -1})}).out()), (Shape{1, 1, 2, 3}));
  EXPECT_EQ(panic_message([] {
              compute(array_ops::ExpandDims{}, {iota({3}), vec({5})});
            }),
            "expand_dims: cannot insert axis 5 into shape [3]");
  EXPECT_EQ(panic_message([] {
              compute(array_ops::ExpandDims{}, {iota({3}), vec({-3})});
            }),
            "expand_dims: cannot insert axis -3 into shape [3]");
}

TEST(SqueezeAndExpandDims, GradientsUndoEachOther) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(iota({1, 3, 1}), ctx);
    const Tensor axes = convert_to_tensor(vec({0, 2}), ctx);
    const Tensor squeezed = squeeze(x, axes);
    EXPECT_EQ(*squeezed.eval(ctx), iota({3}));
    const auto back = grads_of(ctx, squeezed, convert_to_tensor(iota({3}), ctx));
    EXPECT_EQ(*back.at(0)->eval(ctx), iota({1, 3, 1}));
    EXPECT_FALSE(back.at(1).has_value());

    const Tensor expanded = expand_dims(squeezed, axes);
    EXPECT_EQ(*expanded.eval(ctx), iota({1, 3, 1}));
    const auto down = grads_of(ctx, expanded, x);
    EXPECT_EQ(*down.at(0)->eval(ctx), iota({3}));
    EXPECT_FALSE(down.at(1).has_value());
  });
}

TEST(Transpose, PermutesAxesOrTheirInverse) {
  const ArrayD x = iota({2, 3, 4});
  const Computed forward = compute(math_ops::Transpose(false), {x, vec({1, 2, 0})});
  EXPECT_EQ(shape_of(forward.out()), (Shape{3, 4, 2}));
  EXPECT_EQ(forward.out(), x.permuted(Shape{1, 2, 0}));
  const Computed inverse = compute(math_ops::Transpose(true), {x, vec({1, 2, 0})});
  EXPECT_EQ(shape_of(inverse.out()), (Shape{4, 2, 3}));
  EXPECT_EQ(inverse.out(), x.permuted(Shape{2, 0, 1}));
  // Applying a permutation and then its inverse gives x back.
  EXPECT_EQ(compute(math_ops::Transpose(true), {forward.out(), vec({1, 2, 0})}).out(), x);
}

TEST(Transpose, MismatchedOrInvalidPermutations) {
  EXPECT_EQ(compute(math_ops::Transpose(false), {iota({2, 3}), vec({0, 1, 2})}).error_debug(),
            R"(IncompatibleShape("transpose: inputs's ndim and axes's length must match"))");
  EXPECT_EQ(panic_message([] {
              compute(math_ops::Transpose(false), {iota({2, 3}), vec({0, 0})});
            }),
            "axes [0, 0] are not a permutation of the axes of an array of shape [2, 3]");
  EXPECT_EQ(panic_message([] {
              compute(math_ops::Transpose(true), {iota({2, 3}), vec({0, 0})});
            }),
            "axes [1, 2] are not a permutation of the axes of an array of shape [2, 3]");
  EXPECT_EQ(panic_message([] {
              compute(math_ops::Transpose(true), {iota({2, 3}), vec({2, 0})});
            }),
            "transpose: permutation entry 2 is out of range for 2 axes");
  EXPECT_EQ(panic_message([] {
              compute(math_ops::Transpose(false), {iota({2, 3}), vec({-1, 0})});
            }),
            "Operation failed");
}

TEST(Transpose, GradientRestoresTheInputShape) {
  for (bool invert : {false, true}) {
    graph::run([invert](graph::Context& ctx) {
      const Tensor x = convert_to_tensor(iota({2, 3, 4}), ctx);
      const Tensor perm = convert_to_tensor(vec({1, 2, 0}), ctx);
      const Tensor y = tensor::TensorBuilder(ctx).append_input_with_selector(x).append_input_with_selector(perm).build(
          math_ops::Transpose(invert));
      const Tensor gy = convert_to_tensor(*y.eval(ctx), ctx);  // y itself: the gradient must give x back
      const auto grads = grads_of(ctx, y, gy);
      ASSERT_EQ(grads.size(), 2u);
      EXPECT_FALSE(grads[1].has_value());
      EXPECT_EQ(*grads[0]->eval(ctx), iota({2, 3, 4}));
      const auto& record = ctx.node(grads[0]->id());
      EXPECT_TRUE(records_shape_of(ctx, record, x));
      EXPECT_EQ(record.inputs[1].id, perm.id());
    });
  }
}

struct SliceBuilderCase {
  const char* name;
  std::int64_t start, end;
  std::vector<double> expected;  // from [10, 11, 12, 13]
};

class SliceBuilder : public ::testing::TestWithParam<SliceBuilderCase> {};

TEST_P(SliceBuilder, EndsFollowTheInclusiveRule) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(vec({10, 11, 12, 13}), ctx);
    const std::vector<std::int64_t> starts{GetParam().start}, ends{GetParam().end};
    EXPECT_EQ(values_of(*slice(x, starts, ends).eval(ctx)), GetParam().expected);
  });
}

INSTANTIATE_TEST_SUITE_P(Ends, SliceBuilder,
                         ::testing::Values(SliceBuilderCase{"minus_one_runs_to_the_end", 1, -1, {11, 12, 13}},
                                           SliceBuilderCase{"minus_two_includes_its_element", 0, -2, {10, 11, 12}},
                                           SliceBuilderCase{"positive_is_exclusive", 0, 2, {10, 11}},
                                           SliceBuilderCase{"negative_start_and_end", -3, -3, {11}},
                                           SliceBuilderCase{"empty_range", 2, 2, {}}),
                         case_name<SliceBuilderCase>);

TEST(Slice, OutOfRangeOrMismatchedListsPanic) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(vec({10, 11, 12, 13}), ctx);
    const std::vector<std::int64_t> five{5}, minus_one{-1}, zero{0}, pair{0, 0};
    EXPECT_EQ(panic_message([&] { slice(x, five, minus_one).eval(ctx); }),
              "slice element (start 5, end none, step 1) does not fit axis 0 of length 4");
    EXPECT_EQ(panic_message([&] {
                slice(x, pair, std::vector<std::int64_t>{-1, -1}).eval(ctx);
              }),
              "a slice of 2 axes cannot select from an array of shape [4]");
    EXPECT_EQ(panic_message([&] { slice(x, pair, minus_one); }), "slice: 2 starts and 1 ends do not pair up");
  });
}

TEST(SliceGrad, PlacesTheGradientInTheSlicedRegion) {
  const array_ops::SliceList from_one{SliceElem{1, std::nullopt, 1}};
  const array_ops::SliceGrad op(from_one);
  EXPECT_EQ(compute(op, {iota({4}), vec({5, 6, 7})}).out(), vec({0, 5, 6, 7}));
  EXPECT_EQ(compute(op, {iota({4}), ArrayD::scalar(2.0)}).out(), vec({0, 2, 2, 2}));
  EXPECT_EQ(panic_message([&] {
              compute(op, {iota({4}), vec({1, 2})});
            }),
            "an array of shape [2] cannot be broadcast to the sliced region of shape [3]");
}

TEST(Slice, GradientIsASliceGradNode) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(vec({10, 11, 12, 13}), ctx);
    const std::vector<std::int64_t> starts{1}, ends{-1};
    const Tensor y = slice(x, starts, ends);
    const auto grads = grads_of(ctx, y, convert_to_tensor(vec({5, 6, 7}), ctx));
    ASSERT_EQ(grads.size(), 1u);
    const auto& record = ctx.node(grads[0]->id());
    EXPECT_EQ(record.get_op().name(), "ketra_autograd::tensor_ops::array_ops::SliceGrad");
    EXPECT_EQ(record.inputs[0].id, x.id());
    EXPECT_TRUE(records_shape_of(ctx, record, x));
    EXPECT_EQ(*grads[0]->eval(ctx), vec({0, 5, 6, 7}));
    const auto none = grads_of(ctx, *grads[0], ones_like(ctx, *grads[0]));
    ASSERT_EQ(none.size(), 2u);
    EXPECT_FALSE(none[0].has_value());
    EXPECT_FALSE(none[1].has_value());
  });
}

const array_ops::AddN add_n_op;
const array_ops::Gather gather_op(0, false);
const array_ops::Gather gather_normalizing_op(0, true);
const array_ops::Gather gather_columns_op(1, false);
const array_ops::Gather gather_last_axis_op(-1, true);
const array_ops::GatherGrad scatter_op(0, true);
const array_ops::GatherGrad scatter_plain_op(0, false);
const array_ops::GatherGrad scatter_columns_op(1, false);

INSTANTIATE_TEST_SUITE_P(AddN, OpComputes,
                         ::testing::Values(ComputeCase{"one_input_copied", &add_n_op, {vec({1, 2})}, {2}, {1, 2}},
                                           ComputeCase{"two_broadcast_both_ways",
                                                       &add_n_op,
                                                       {iota({3}), array({2, 1}, {10, 20})},
                                                       {2, 3},
                                                       {10, 11, 12, 20, 21, 22}},
                                           ComputeCase{"three_onto_the_first_sum",
                                                       &add_n_op,
                                                       {iota({2, 3}), vec({1, 1, 1}), vec({10})},
                                                       {2, 3},
                                                       {11, 12, 13, 14, 15, 16}}),
                         case_name<ComputeCase>);

// params iota({3, 2}) is [[0, 1], [2, 3], [4, 5]].
INSTANTIATE_TEST_SUITE_P(
    Gather, OpComputes,
    ::testing::Values(
        ComputeCase{"shape_vector_entries", &gather_op, {vec({0, 2}), vec({2, 3, 4})}, {2}, {2, 4}},
        ComputeCase{"negative_counts_from_the_end", &gather_normalizing_op, {vec({-1}), vec({2, 3, 4})}, {1}, {4}},
        ComputeCase{"nan_normalized_to_zero", &gather_normalizing_op, {vec({nan, -3}), vec({2, 3, 4})}, {2}, {2, 2}},
        ComputeCase{"0d_index_drops_the_axis", &gather_op, {ArrayD::scalar(1), vec({2, 3, 4})}, {}, {3}},
        ComputeCase{"fraction_truncated", &gather_op, {vec({1.7}), vec({2, 3, 4})}, {1}, {3}},
        ComputeCase{"matrix_indices_on_rows",
                    &gather_op,
                    {array({2, 2}, {0, 2, 1, 0}), iota({3, 2})},
                    {2, 2, 2},
                    {0, 1, 4, 5, 2, 3, 0, 1}},
        ComputeCase{"columns", &gather_columns_op, {vec({1}), iota({3, 2})}, {3, 1}, {1, 3, 5}},
        ComputeCase{"negative_axis", &gather_last_axis_op, {vec({0, -1}), iota({3, 2})}, {3, 2}, {0, 1, 2, 3, 4, 5}}),
    case_name<ComputeCase>);

INSTANTIATE_TEST_SUITE_P(
    GatherGrad, OpComputes,
    ::testing::Values(
        ComputeCase{
            "repeated_indices_accumulate", &scatter_op, {vec({0, 0, 2}), iota({3}), vec({1, 2, 3})}, {3}, {3, 0, 3}},
        ComputeCase{
            "row_placed", &scatter_op, {vec({2}), iota({3, 2}), array({1, 2}, {5, 6})}, {3, 2}, {0, 0, 0, 0, 5, 6}},
        ComputeCase{"negative_index_from_the_end", &scatter_op, {vec({-1}), iota({3}), vec({4})}, {3}, {0, 0, 4}},
        // Written where Gather reads: -0.5 + 4 and -1.5 + 4 truncated; NaN and -4 + 3 as 0.
        ComputeCase{"negative_fractions", &scatter_op, {vec({-0.5, -1.5}), iota({4}), vec({1, 2})}, {4}, {0, 0, 2, 1}},
        ComputeCase{
            "unreadable_and_below_the_axis", &scatter_op, {vec({nan, -4}), iota({3}), vec({1, 2})}, {3}, {3, 0, 0}},
        ComputeCase{"fraction_truncated_without_normalizing",
                    &scatter_plain_op,
                    {vec({-0.5}), iota({3}), vec({4})},
                    {3},
                    {4, 0, 0}},
        ComputeCase{"matrix_indices",
                    &scatter_op,
                    {array({2, 2}, {0, 1, 1, 2}), iota({3}), array({2, 2}, {1, 2, 3, 4})},
                    {3},
                    {1, 5, 4}},
        ComputeCase{"columns",
                    &scatter_columns_op,
                    {vec({2, 0}), iota({2, 3}), array({2, 2}, {1, 2, 3, 4})},
                    {2, 3},
                    {2, 0, 1, 4, 0, 3}}),
    case_name<ComputeCase>);

TEST(GatherAndAddN, ViolatedInvariantsPanic) {
  EXPECT_EQ(panic_message([] { compute(add_n_op, {}); }), "internal error: entered unreachable code");
  EXPECT_EQ(panic_message([] {
              compute(add_n_op, {iota({3}), iota({3}), iota({2, 3})});
            }),
            "AddN: cannot broadcast input 2 of shape [2, 3] to the sum's shape [3]");
  EXPECT_EQ(panic_message([] { compute(gather_op, {vec({-1}), vec({2, 3, 4})}); }), "Invalid index value");
  EXPECT_EQ(panic_message([] { compute(gather_op, {vec({nan}), vec({2, 3, 4})}); }), "Invalid index value");
  EXPECT_EQ(panic_message([] {
              compute(gather_op, {vec({3}), vec({2, 3, 4})});
            }),
            "Gather: index 3 is out of range for an axis of length 3");
  EXPECT_EQ(panic_message([] {
              compute(gather_columns_op, {vec({0}), vec({2, 3, 4})});
            }),
            "Gather: axis 1 is out of range for an array of rank 1");
  EXPECT_EQ(panic_message([] { compute(scatter_op, {vec({0, 1}), iota({3}), vec({1})}); }), "Operation failed");
  EXPECT_EQ(panic_message([] { compute(scatter_plain_op, {vec({-1}), iota({3}), vec({1})}); }), "Invalid index value");
  EXPECT_EQ(panic_message([] {
              compute(scatter_op, {vec({3}), iota({3}), vec({1})});
            }),
            "GatherGrad: index 3 is out of range for an axis of length 3");
}

TEST(Gather, GradientScattersBackIntoTheParameters) {
  graph::run([](graph::Context& ctx) {
    const Tensor params = convert_to_tensor(iota({3, 2}), ctx);
    const Tensor indices = convert_to_tensor(vec({2, 2, 0}), ctx);
    const Tensor gathered = gather_common(params, indices, 0);
    const auto& record = ctx.node(gathered.id());
    ASSERT_EQ(record.inputs.size(), 2u);
    EXPECT_EQ(record.inputs[0].id, indices.id());
    EXPECT_EQ(record.inputs[1].id, params.id());
    EXPECT_EQ(*gathered.eval(ctx), array({3, 2}, {4, 5, 4, 5, 0, 1}));

    const auto grads = grads_of(ctx, gathered, convert_to_tensor(ArrayD::from_elem(Shape{3, 2}, 1.0), ctx));
    ASSERT_EQ(grads.size(), 2u);
    EXPECT_FALSE(grads[0].has_value());
    EXPECT_TRUE(records_shape_of(ctx, ctx.node(grads[1]->id()), params));
    EXPECT_EQ(*grads[1]->eval(ctx), array({3, 2}, {1, 1, 0, 0, 2, 2}));
    const auto none = grads_of(ctx, *grads[1], params);
    ASSERT_EQ(none.size(), 3u);
    EXPECT_FALSE(none[0] || none[1] || none[2]);
  });
}

TEST(AddN, GradientIsTheSameTensorForEveryInput) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = convert_to_tensor(iota({2, 3}), ctx);
    const Tensor b = convert_to_tensor(vec({1, 1, 1}), ctx);
    const Tensor sum =
        tensor::TensorBuilder(ctx).append_input_with_selector(a).append_input_with_selector(b).build(array_ops::AddN{});
    const Tensor gy = convert_to_tensor(iota({2, 3}), ctx);
    const std::size_t before = ctx.num_nodes();
    const auto grads = grads_of(ctx, sum, gy);
    ASSERT_EQ(grads.size(), 2u);
    EXPECT_EQ(grads[0], gy);
    EXPECT_EQ(grads[1], gy);  // not reduced to b's shape
    EXPECT_EQ(ctx.num_nodes(), before);
  });
}

}  // namespace
