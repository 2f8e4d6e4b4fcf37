#include <gtest/gtest.h>

#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/basic_source_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops;
using namespace ketra_autograd::testing;
using tensor::Tensor;

std::vector<std::int64_t> known_dims(graph::Graph& g, Tensor t) {
  const auto& shape = g.node(t.id()).known_shape;
  if (!shape) return {-99};
  return {shape->dims().begin(), shape->dims().end()};
}

TEST(ExternalSource, ComputeCopiesInputZeroOrGivesZero) {
  const auto none = compute(basic_source_ops::Placeholder{}, {});
  ASSERT_TRUE(none.result.has_value());
  EXPECT_EQ(none.out(), ArrayD::scalar(0.0));
  const ArrayD given = vec({4.0, 5.0});
  const auto copied = compute(basic_source_ops::Variable{}, {given});
  ASSERT_EQ(copied.outputs.size(), 1u);
  EXPECT_EQ(copied.out(), given);
}

TEST(ExternalSource, GradientPassesTheArrivingGradient) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor gy = scalar(1.0, ctx);
    const auto grads = grads_of(ctx, x, gy);
    ASSERT_EQ(grads.size(), 1u);
    EXPECT_EQ(grads[0], gy);
  });
}

TEST(Scalar, IsAZeroDimensionalConstant) {
  graph::run([](graph::Context& ctx) {
    const Tensor three = scalar(3.0, ctx);
    EXPECT_EQ(known_dims(ctx, three), std::vector<std::int64_t>{});
    EXPECT_TRUE(ctx.node(three.id()).known_shape->is_fully_defined());
    EXPECT_TRUE(ctx.node(three.id()).is_differentiable);
    EXPECT_EQ(*three.eval(ctx), ArrayD::scalar(3.0));

    const auto grads = grads_of(ctx, three, scalar(1.0, ctx));
    ASSERT_EQ(grads.size(), 1u);
    EXPECT_FALSE(grads[0].has_value());
  });
}

TEST(ConvertToTensor, OwnsItsArrayAndIsNeverDifferentiable) {
  graph::run([](graph::Context& ctx) {
    const Tensor c = convert_to_tensor(iota({2, 3}), ctx);
    EXPECT_EQ(known_dims(ctx, c), (std::vector<std::int64_t>{2, 3}));
    EXPECT_FALSE(ctx.node(c.id()).is_differentiable);
    EXPECT_EQ(*c.eval(ctx), iota({2, 3}));
    EXPECT_EQ(*c.eval(ctx), iota({2, 3}));

    EXPECT_TRUE(grads_of(ctx, c, c).empty());
  });
}

TEST(FromVec, LaysDataOutInTheShape) {
  graph::run([](graph::Context& ctx) {
    const Tensor t = Tensor::from_vec({1.0, 2.0, 3.0, 4.0}, {2, 2}, ctx);
    const ArrayD value = *t.eval(ctx);
    EXPECT_EQ(shape_of(value), (std::vector<std::size_t>{2, 2}));
    EXPECT_EQ(values_of(value), (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
    EXPECT_EQ(values_of(*Tensor::from_vec({1.0, 2.0, 3.0}, {3}, ctx).eval(ctx)), (std::vector<double>{1.0, 2.0, 3.0}));
    EXPECT_FALSE(ctx.node(t.id()).is_differentiable);
    EXPECT_EQ(*Tensor::from_vec({}, {0}, ctx).eval(ctx), ArrayD::zeros(std::vector<std::size_t>{0}));
  });
}

TEST(FromVec, DataThatDoesNotFitTheShapePanics) {
  graph::run([](graph::Context& ctx) {
    EXPECT_EQ(panic_message([&] {
                Tensor::from_vec({1.0, 2.0, 3.0}, {2, 2}, ctx);
              }),
              "Tensor::from_vec: 3 values cannot fill the shape [2, 2]");
    // 2^32 x 2^32 elements must not pass for the empty array that their wrapped product is.
    EXPECT_EQ(panic_message([&] {
                Tensor::from_vec({}, {std::size_t{1} << 32, std::size_t{1} << 32}, ctx);
              }),
              "array shape [4294967296, 4294967296] holds more elements than memory can address");
    EXPECT_EQ(ctx.num_nodes(), 0u);
  });
}

TEST(AsTensor, IntegerListsBecomeVectors) {
  graph::run([](graph::Context& ctx) {
    const Tensor zero = tensor::as_tensor(std::array<std::int32_t, 1>{0}, ctx);
    EXPECT_EQ(*zero.eval(ctx), vec({0.0}));
    const Tensor pair = tensor::as_tensor(std::array<std::int32_t, 2>{1, 0}, ctx);
    EXPECT_EQ(*pair.eval(ctx), vec({1.0, 0.0}));
    EXPECT_EQ(known_dims(ctx, pair), std::vector<std::int64_t>{2});
    EXPECT_FALSE(ctx.node(pair.id()).is_differentiable);
  });
}

}  // namespace
