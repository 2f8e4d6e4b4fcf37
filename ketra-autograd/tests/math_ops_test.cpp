#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"
#include "ketra_autograd/tensor_ops/scalar_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using tensor::Tensor;
using Names = std::vector<std::string>;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double largest = std::numeric_limits<double>::max();

const math_ops::Exp exp_op;
const math_ops::Ln ln_op;
const math_ops::NegOp neg_op;
const math_ops::Pow square_op(2.0);
const math_ops::Pow root_op(0.5);
const math_ops::Pow inverse_square_op(-2.0);
const math_ops::Pow zeroth_op(0.0);
const scalar_ops::ScalarMulOp scale_op(2.5);
const math_ops::Equal equal_op;
const math_ops::Greater greater_op;
const math_ops::Maximum max_op;
const math_ops::Minimum min_op;

INSTANTIATE_TEST_SUITE_P(
    Unary, OpComputes,
    ::testing::Values(ComputeCase{"exp", &exp_op, {vec({0, 1})}, {2}, {1, 2.718281828459045}},
                      ComputeCase{"exp_extremes", &exp_op, {vec({710, -inf, nan})}, {3}, {inf, 0, nan}},
                      ComputeCase{"exp_without_input_reads_zero", &exp_op, {}, {}, {1}},
                      ComputeCase{"ln", &ln_op, {vec({1, 0, -1})}, {3}, {0, -inf, nan}},
                      ComputeCase{"ln_keeps_shape", &ln_op, {array({2, 1}, {1, 1})}, {2, 1}, {0, 0}},
                      ComputeCase{
                          "neg_flips_the_sign_bit", &neg_op, {vec({0, -0.0, inf, nan})}, {4}, {-0.0, 0, -inf, nan}},
                      ComputeCase{"pow_square", &square_op, {vec({-3})}, {1}, {9}},
                      ComputeCase{"pow_root_of_negative", &root_op, {vec({-4, 4})}, {2}, {nan, 2}},
                      ComputeCase{"pow_negative_exponent", &inverse_square_op, {vec({2, 0})}, {2}, {0.25, inf}},
                      ComputeCase{"pow_zeroth_of_nan", &zeroth_op, {vec({nan})}, {1}, {1}},
                      ComputeCase{"scalar_mul", &scale_op, {vec({1, 2})}, {2}, {2.5, 5}},
                      ComputeCase{"scalar_mul_0d", &scale_op, {ArrayD::scalar(-2)}, {}, {-5}}),
    case_name<ComputeCase>);

INSTANTIATE_TEST_SUITE_P(
    Comparisons, OpComputes,
    ::testing::Values(
        ComputeCase{"greater_scalar_against_vector", &greater_op, {ArrayD::scalar(2), vec({1, 2, 3})}, {3}, {1, 0, 0}},
        ComputeCase{"greater_vector_against_scalar", &greater_op, {vec({1, 2, 3}), ArrayD::scalar(2)}, {3}, {0, 0, 1}},
        ComputeCase{"greater_nan_is_false", &greater_op, {vec({nan, 1}), vec({0, nan})}, {2}, {0, 0}},
        ComputeCase{"equal_nan_is_false", &equal_op, {vec({nan}), vec({nan})}, {1}, {0}},
        ComputeCase{"equal_zero_signs", &equal_op, {vec({0, 1}), vec({-0.0, 2})}, {2}, {1, 0}},
        ComputeCase{"equal_both_scalar_like_takes_lhs_shape", &equal_op, {ArrayD::scalar(1), vec({1})}, {}, {1}},
        ComputeCase{"equal_one_element_against_0d", &equal_op, {vec({1}), ArrayD::scalar(2)}, {1}, {0}},
        ComputeCase{"maximum_ignores_nan", &max_op, {vec({1, nan, 3}), vec({2, 2, nan})}, {3}, {2, 2, 3}},
        ComputeCase{"minimum_ignores_nan", &min_op, {vec({1, nan, 3}), vec({2, 2, nan})}, {3}, {1, 2, 3}},
        ComputeCase{"maximum_of_two_nans", &max_op, {vec({nan}), vec({nan, nan})}, {2}, {nan, nan}},
        ComputeCase{"maximum_of_equal_zeros_is_rhs", &max_op, {vec({-0.0, 0.0}), vec({0.0, -0.0})}, {2}, {0.0, -0.0}},
        ComputeCase{"minimum_of_equal_zeros_is_rhs", &min_op, {vec({-0.0, 0.0}), vec({0.0, -0.0})}, {2}, {0.0, -0.0}},
        ComputeCase{
            "maximum_with_infinities", &max_op, {vec({-inf, inf, nan}), vec({-1, -inf, -inf})}, {3}, {-1, inf, -inf}},
        ComputeCase{
            "maximum_row_onto_matrix", &max_op, {iota({2, 3}), array({1, 3}, {2, 2, 2})}, {2, 3}, {2, 2, 2, 3, 4, 5}},
        ComputeCase{"minimum_matrix_onto_row_is_lhs_first",
                    &min_op,
                    {array({1, 3}, {2, 2, 2}), iota({2, 3})},
                    {2, 3},
                    {0, 1, 2, 2, 2, 2}},
        ComputeCase{"one_element_against_vector", &max_op, {vec({2}), vec({1, 2, 3, 4})}, {4}, {2, 2, 3, 4}}),
    case_name<ComputeCase>);

struct PanicCase {
  std::string name;
  const op::Op* op;
  ArrayD a, b;
  std::string message;
};

class ComparisonPanics : public ::testing::TestWithParam<PanicCase> {};

TEST_P(ComparisonPanics, CarryTheOperationsWord) {
  const PanicCase& c = GetParam();
  EXPECT_EQ(panic_message([&] { compute(*c.op, {c.a, c.b}); }), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    RanksAndShapes, ComparisonPanics,
    ::testing::Values(PanicCase{"equal_ranks", &equal_op, iota({2, 3}), iota({3}),
                                "Tensor ranks mismatch: 2(Equal's lhs input) vs 1(Equal's rhs input)"},
                      PanicCase{"greater_ranks", &greater_op, iota({3}), iota({1, 3}),
                                "Tensor ranks mismatch: 1(Greater's lhs input) vs 2(Greater's rhs input)"},
                      PanicCase{"maximum_ranks", &max_op, iota({2, 3}), iota({3}),
                                "Tensor ranks mismatch: 2(Maximum's lhs input) vs 1(Maximum's rhs input)"},
                      PanicCase{"maximum_one_direction_only", &max_op, iota({2, 1}), iota({1, 3}),
                                "Cannot broadcast shapes [2, 1] and [1, 3] for operation Maximum"},
                      PanicCase{"minimum_sizes", &min_op, iota({2}), iota({3}),
                                "Cannot broadcast shapes [2] and [3] for operation Minimum"},
                      PanicCase{"equal_sizes", &equal_op, iota({2}), iota({3}),
                                "Cannot broadcast shapes [2] and [3] for operation Equal"}),
    case_name<PanicCase>);

struct ClipCase {
  std::string name;
  ArrayD x;
  double min, max;
  std::vector<double> expected;
};

class Clip : public ::testing::TestWithParam<ClipCase> {};

TEST_P(Clip, BoundsEveryElementAndKeepsTheShape) {
  graph::run([](graph::Context& ctx) {
    const ClipCase& c = GetParam();
    const Tensor x = convert_to_tensor(c.x, ctx);
    const std::size_t first = ctx.num_nodes();
    const Tensor clipped = arithmetic::clip(x, c.min, c.max);
    EXPECT_EQ(node_names_from(ctx, first), (Names{"Scalar<f64>", "Scalar<f64>", "Minimum", "Maximum"}));
    // max(min(x, upper), lower)
    const auto& minimum = ctx.node(first + 2);
    EXPECT_EQ(minimum.inputs[0].id, x.id());
    EXPECT_EQ(minimum.inputs[1].id, first + 1);
    EXPECT_EQ(ctx.node(clipped.id()).inputs[1].id, first);
    const ArrayD value = *clipped.eval(ctx);
    EXPECT_EQ(shape_of(value), shape_of(c.x));
    EXPECT_TRUE(same_bits(values_of(value), c.expected)) << ::testing::PrintToString(values_of(value));
  });
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, Clip,
    ::testing::Values(ClipCase{"exp_guard", vec({-100, 0, 100, nan}), -50, 50, {-50, 0, 50, 50}},
                      ClipCase{
                          "ln_guard", vec({0, 5e-13, 3, -inf, inf}), 1e-12, largest, {1e-12, 1e-12, 3, 1e-12, largest}},
                      ClipCase{"min_above_max_gives_min", vec({1, nan, -5}), 3, 2, {3, 3, 3}},
                      ClipCase{"one_element_column", vec({nan}), -50, 50, {50}},
                      ClipCase{"matrix", array({2, 2}, {-60, 1, 2, 60}), -50, 50, {-50, 1, 2, 50}}),
    case_name<ClipCase>);

// The gradients of maximum and minimum for gy = 1: gy goes to every operand equal to
// the output.
struct ChoiceCase {
  std::string name;
  bool maximum;
  ArrayD a, b;
  std::vector<double> ga, gb;
};

class ChosenOperandGradient : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChosenOperandGradient, GoesWhereTheOperandWasChosen) {
  graph::run([](graph::Context& ctx) {
    const ChoiceCase& c = GetParam();
    const Tensor a = convert_to_tensor(c.a, ctx);
    const Tensor b = convert_to_tensor(c.b, ctx);
    tensor::TensorBuilder builder(ctx);
    builder.append_input_with_selector(a).append_input_with_selector(b);
    const Tensor y = c.maximum ? builder.build(math_ops::Maximum{}) : builder.build(math_ops::Minimum{});
    const ArrayD ones = ArrayD::from_elem(y.eval(ctx)->shape(), 1.0);
    const auto grads = grads_of(ctx, y, convert_to_tensor(ones, ctx));
    ASSERT_EQ(grads.size(), 2u);
    EXPECT_TRUE(same_bits(values_of(*grads[0]->eval(ctx)), c.ga));
    EXPECT_TRUE(same_bits(values_of(*grads[1]->eval(ctx)), c.gb));
  });
}

INSTANTIATE_TEST_SUITE_P(
    TiesAndNaN, ChosenOperandGradient,
    ::testing::Values(ChoiceCase{"maximum_with_nans", true, vec({1, nan, 3}), vec({2, 2, nan}), {0, 0, 1}, {1, 1, 0}},
                      ChoiceCase{"minimum_with_nans", false, vec({5, nan, 3}), vec({2, 2, nan}), {0, 0, 1}, {1, 1, 0}},
                      ChoiceCase{"tie_feeds_both", true, vec({4}), vec({4}), {1}, {1}},
                      ChoiceCase{"both_nan_feeds_neither", false, vec({nan}), vec({nan}), {0}, {0}},
                      ChoiceCase{
                          "scalar_bound_gets_full_shape", true, vec({-60, 0}), ArrayD::scalar(-50), {0, 1}, {1, 0}}),
    case_name<ChoiceCase>);

// The nodes each unary builder adds, in order, over a constant (no recorded shape).
struct BuilderCase {
  std::string name;
  std::function<Tensor(Tensor)> build;
  Names added;
};

class UnaryBuilders : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(UnaryBuilders, RecordTheOperandsShape) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(vec({1, 2}), ctx);
    const std::size_t first = ctx.num_nodes();
    const Tensor y = GetParam().build(x);
    EXPECT_EQ(node_names_from(ctx, first), GetParam().added);
    const auto& record = ctx.node(y.id());
    EXPECT_EQ(record.shape, first);
    EXPECT_EQ(record.inputs.size(), 1u);
    EXPECT_FALSE(record.known_shape.has_value());
    // A second operation on y reuses y's recorded shape.
    const std::size_t before = ctx.num_nodes();
    GetParam().build(y);
    EXPECT_EQ(ctx.num_nodes(), before + 1);
  });
}

INSTANTIATE_TEST_SUITE_P(
    NodeOrder, UnaryBuilders,
    ::testing::Values(BuilderCase{"exp", [](Tensor x) { return arithmetic::exp(x); }, {"Shape", "Exp"}},
                      BuilderCase{"ln", [](Tensor x) { return arithmetic::ln(x); }, {"Shape", "Ln"}},
                      BuilderCase{"neg", [](Tensor x) { return arithmetic::neg(x); }, {"Shape", "NegOp"}},
                      BuilderCase{"pow", [](Tensor x) { return arithmetic::pow(x, 3.0); }, {"Shape", "Pow<f64>"}},
                      BuilderCase{"scalar_mul",
                                  [](Tensor x) { return linear_algebra::scalar_mul(x, 2.0); },
                                  {"Shape", "ScalarMulOp<f64>"}}),
    case_name<BuilderCase>);

TEST(UnaryGradients, PowAndScalarMulAtKnownPoints) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(vec({3}), ctx);
    const Tensor one = convert_to_tensor(vec({1}), ctx);
    const auto square = grads_of(ctx, arithmetic::pow(x, 2.0), one);
    EXPECT_EQ(*square.at(0)->eval(ctx), vec({6}));
    const Tensor scaled = linear_algebra::scalar_mul(convert_to_tensor(vec({1, 2}), ctx), 2.5);
    const auto by_factor = grads_of(ctx, scaled, convert_to_tensor(vec({1, -2}), ctx));
    EXPECT_EQ(*by_factor.at(0)->eval(ctx), vec({2.5, -5}));
    EXPECT_EQ(ctx.node(by_factor[0]->id()).get_op().name(), "ketra_autograd::tensor_ops::scalar_ops::ScalarMulOp<f64>");
  });
}

TEST(ComparisonGradients, AreNone) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = convert_to_tensor(vec({1, 2}), ctx);
    for (const Tensor y : {arithmetic::equal(a, a), arithmetic::greater(a, a)}) {
      const std::size_t before = ctx.num_nodes();
      const auto grads = grads_of(ctx, y, a);
      ASSERT_EQ(grads.size(), 2u);
      EXPECT_FALSE(grads[0].has_value());
      EXPECT_FALSE(grads[1].has_value());
      EXPECT_EQ(ctx.num_nodes(), before);
      EXPECT_FALSE(ctx.node(y.id()).shape.has_value());
    }
  });
}

TEST(ScalarMulOp, AnswersAsAnyWithItsFactor) {
  const scalar_ops::ScalarMulOp op(-1.5);
  const auto any = op.as_any();
  ASSERT_TRUE(any.has_value());
  ASSERT_EQ(any->downcast<scalar_ops::ScalarMulOp>(), &op);
  EXPECT_EQ(any->downcast<scalar_ops::ScalarMulOp>()->factor(), -1.5);
  EXPECT_FALSE(math_ops::Pow(2.0).as_any().has_value());
}

}  // namespace
