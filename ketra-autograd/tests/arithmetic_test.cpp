#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/binary_ops.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "ketra_autograd/tensor_ops/reduction.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops::arithmetic;
using namespace ketra_autograd::testing;
using tensor::Tensor;
using tensor_ops::convert_to_tensor;
using tensor_ops::scalar;
using tensor_ops::shape;
using Names = std::vector<std::string>;
using Shape = std::vector<std::size_t>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double largest = std::numeric_limits<double>::max();

// The guarded node eml(a, b) = exp(clip(a, -50, 50)) - ln(clip(b, 1e-12, max)) and the
// mean squared error of c * eml against a target, built on fed columns as a fit builds
// them, against the same formulas written out per element.
TEST(ArithmeticBuilders, GuardedEmlNodeAndSquaredErrorOverColumns) {
  const std::vector<double> a{-100, 0, 1, 100, nan};
  const std::vector<double> b{0, 1, 2.5, -1, nan};
  const std::vector<double> target{1, 2, 3, 4, 5};
  const double c = 1.5;
  std::vector<double> expected_eml, expected_fit;
  double squared = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double guarded_a = std::fmax(std::fmin(a[i], 50.0), -50.0);
    const double guarded_b = std::fmax(std::fmin(b[i], largest), 1e-12);
    expected_eml.push_back(std::exp(guarded_a) - std::log(guarded_b));
    expected_fit.push_back(c * expected_eml.back());
    const double residual = expected_fit.back() - target[i];
    squared += residual * residual;
  }
  const double expected_mse = squared * (1.0 / 5.0);

  graph::run([&](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("a", {-1});
    const Tensor y = ctx.placeholder("b", {-1});
    const Tensor t = ctx.placeholder("target", {-1});
    const Tensor eml = sub(exp(clip(x, -50.0, 50.0)), ln(clip(y, 1e-12, largest)));
    const Tensor constant = tensor_ops::linear_algebra::scalar_mul(tensor_ops::convert_to_tensor(vec({1}), ctx), c);
    const Tensor fit = mul(constant, eml);
    const Tensor residual = sub(fit, t);
    const Tensor mse =
        tensor_ops::reduction::reduce_mean(mul(residual, residual), std::array<std::int32_t, 1>{0}, false);

    const ArrayD fed_a = ArrayD::from_vec(a), fed_b = ArrayD::from_vec(b), fed_t = ArrayD::from_vec(target);
    evaluation::Feeder feeder;
    feeder.push(evaluation::PlaceholderKey::by_name("a"), fed_a)
        .push(evaluation::PlaceholderKey::by_name("b"), fed_b)
        .push(evaluation::PlaceholderKey::by_name("target"), fed_t);
    const auto results = ctx.evaluator().push(eml).push(fit).push(mse).set_feeder(std::move(feeder)).run();
    ASSERT_EQ(results.size(), 3u);
    for (const auto& result : results) ASSERT_TRUE(result.has_value()) << result.error().debug();
    EXPECT_TRUE(same_bits(values_of(*results[0]), expected_eml)) << ::testing::PrintToString(values_of(*results[0]));
    EXPECT_EQ(shape_of(*results[1]), std::vector<std::size_t>{5});
    EXPECT_TRUE(same_bits(values_of(*results[1]), expected_fit));
    EXPECT_EQ(shape_of(*results[2]), std::vector<std::size_t>{});
    EXPECT_TRUE(same_bits(values_of(*results[2]), {expected_mse}));
  });
}

TEST(ArithmeticBuilders, AddShapeNodesInferenceAndOperationInOrder) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = convert_to_tensor(vec({1, 2, 3}), ctx);
    const Tensor b = scalar(2.0, ctx);
    std::size_t first = ctx.num_nodes();
    const Tensor sum = add(a, b);
    EXPECT_EQ(node_names_from(ctx, first), (Names{"Shape", "Shape", "InferBinOpShape", "AddOp"}));
    const auto& record = ctx.node(sum.id());
    ASSERT_TRUE(record.shape.has_value());
    EXPECT_EQ(*record.shape, sum.id() - 1);
    EXPECT_FALSE(record.known_shape.has_value());
    EXPECT_EQ(*Tensor(ctx, *record.shape).eval(ctx), vec({3}));
    EXPECT_EQ(*sum.eval(ctx), vec({3, 4, 5}));

    // An operand with a recorded shape adds no Shape node of its own.
    first = ctx.num_nodes();
    mul(sum, a);
    EXPECT_EQ(node_names_from(ctx, first), (Names{"Shape", "InferBinOpShape", "MulOp"}));
  });
}

TEST(ArithmeticBuilders, RecordedShapeFollowsInferenceNotBroadcasting) {
  graph::run([](graph::Context& ctx) {
    const Tensor column = convert_to_tensor(iota({2, 1}), ctx);
    const Tensor row = convert_to_tensor(iota({1, 3}), ctx);
    const Tensor vector = convert_to_tensor(iota({3}), ctx);
    const Tensor full = sub(column, row);
    EXPECT_EQ(shape_of(*full.eval(ctx)), (Shape{2, 3}));
    EXPECT_EQ(*shape(full).eval(ctx), vec({2, 3}));
    const Tensor mixed = div(column, vector);
    EXPECT_EQ(shape_of(*mixed.eval(ctx)), (Shape{2, 3}));
    EXPECT_FALSE(shape(mixed).eval(ctx).has_value());  // [2, 1] and [3]: ranks differ
  });
}

TEST(ArithmeticBuilders, TensorsOfAnotherGraphPanic) {
  graph::run([](graph::Context& first) {
    const Tensor a = scalar(1.0, first);
    graph::run([&](graph::Context& second) {
      const Tensor b = scalar(2.0, second);
      EXPECT_EQ(panic_message([&] { add(a, b); }), "Detected tensors belonging to different graphs");
      EXPECT_EQ(panic_message([&] { tensor_ops::binary_ops::maybe_reduce(a, b, first); }),
                "Detected tensors belonging to different graphs");
    });
  });
}

}  // namespace
