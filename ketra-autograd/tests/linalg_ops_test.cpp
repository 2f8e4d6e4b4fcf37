#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/linalg_ops.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using tensor::Tensor;
using tensor_ops::convert_to_tensor;
using tensor_ops::linalg_ops::DiagOp;
using tensor_ops::linalg_ops::TraceBackwardOp;
using Shape = std::vector<std::size_t>;

TEST(DiagOp, PutsTheVectorOnTheDiagonal) {
  EXPECT_EQ(compute(DiagOp{}, {vec({1, 2, 3})}).out(), array({3, 3}, {1, 0, 0, 0, 2, 0, 0, 0, 3}));
  EXPECT_EQ(shape_of(compute(DiagOp{}, {vec({})}).out()), (Shape{0, 0}));
}

TEST(DiagOp, RefusesOtherRanks) {
  for (const ArrayD& input : {iota({2, 2}), ArrayD::scalar(1)}) {
    const Computed computed = compute(DiagOp{}, {input});
    EXPECT_EQ(computed.error_debug(), "IncompatibleShape(\"Diag op requires a 1D vector input\")");
    EXPECT_TRUE(computed.outputs.empty());
  }
}

TEST(DiagOp, EagerGradientIsTheDiagonalOfASquareGradient) {
  graph::run([](graph::Context& ctx) {
    const Tensor y = tensor_ops::linear_algebra::diag(convert_to_tensor(vec({1, 2}), ctx));
    const auto grads = grads_of(ctx, y, convert_to_tensor(array({2, 2}, {5, 6, 7, 8}), ctx));
    ASSERT_TRUE(grads.at(0).has_value());
    EXPECT_EQ(*grads[0]->eval(ctx), vec({5, 8}));
    EXPECT_EQ(grads_of(ctx, y, convert_to_tensor(iota({2, 3}), ctx)).at(0), std::nullopt);
    EXPECT_EQ(grads_of(ctx, y, convert_to_tensor(vec({1, 2}), ctx)).at(0), std::nullopt);
    EXPECT_EQ(grads_of(ctx, y, ctx.placeholder("unfed", {2, 2})).at(0), std::nullopt);
  });
}

TEST(TraceBackwardOp, SpreadsAOneElementCotangentOverTheDiagonal) {
  const ArrayD expected = array({3, 3}, {2.5, 0, 0, 0, 2.5, 0, 0, 0, 2.5});
  for (const ArrayD& cotangent : {ArrayD::scalar(2.5), vec({2.5}), array({1, 1}, {2.5})}) {
    EXPECT_EQ(compute(TraceBackwardOp{}, {iota({3, 3}), cotangent}).out(), expected) << cotangent.shape_text();
  }
  // A missing cotangent reads as the 0-d dummy 0.0.
  EXPECT_EQ(compute(TraceBackwardOp{}, {iota({2, 2})}).out(), array({2, 2}, {0, 0, 0, 0}));
}

TEST(TraceBackwardOp, MessagesInCheckOrder) {
  const std::string not_square = "IncompatibleShape(\"TraceBackward: input must be a square matrix\")";
  const std::string not_scalar = "IncompatibleShape(\"TraceBackward: cotangent of trace must be a scalar\")";
  EXPECT_EQ(compute(TraceBackwardOp{}, {iota({3, 3}), vec({1, 2})}).error_debug(), not_scalar);
  EXPECT_EQ(compute(TraceBackwardOp{}, {iota({2, 2}), vec({})}).error_debug(), not_scalar);
  EXPECT_EQ(compute(TraceBackwardOp{}, {iota({2, 3}), vec({1, 2})}).error_debug(), not_square);
  EXPECT_EQ(compute(TraceBackwardOp{}, {vec({1}), ArrayD::scalar(1)}).error_debug(), not_square);
}

TEST(TraceBackwardOp, PassesNoGradient) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = convert_to_tensor(iota({2, 2}), ctx);
    const Tensor y = tensor::TensorBuilder(ctx)
                         .append_input_with_selector(a)
                         .append_input_with_selector(tensor_ops::scalar(1.0, ctx))
                         .build(TraceBackwardOp{});
    EXPECT_EQ(grads_of(ctx, y, y), (std::vector<std::optional<Tensor>>{std::nullopt, std::nullopt}));
  });
}

}  // namespace
