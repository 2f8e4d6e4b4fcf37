#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/optimizers/adam.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/gradient_descent_ops/adam.hpp"
#include "ketra_autograd/variable.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using optimizers::adam::Adam;
using support::testing::PrintTo;
using tensor::Tensor;
using tensor_ops::gradient_descent_ops::adam::AdamOp;
using variable::VariableEnvironment;
using variable::VariableID;

constexpr double alpha = 0.05, eps = 1e-8, b1 = 0.9, b2 = 0.999;
constexpr const char* ns = "vorn_adam";

const ArrayD& state(const VariableEnvironment& env, VariableID id, char suffix) {
  const auto found = env.namespace_(ns).find(variable::to_string(id) + suffix);
  EXPECT_TRUE(found.has_value()) << suffix;
  return *env.array_cell(*found);
}

// One optimiser step of the variables with constant gradients.
void step(VariableEnvironment& env, const Adam& adam, const std::vector<VariableID>& ids,
          const std::vector<ArrayD>& gradients) {
  env.run([&](graph::Context& ctx) {
    std::vector<Tensor> vars, grads;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      vars.push_back(ctx.variable_by_id(ids[i]));
      grads.push_back(tensor_ops::convert_to_tensor(gradients[i], ctx));
    }
    adam.update(vars, grads, ctx);
  });
}

TEST(Adam, TwoStepsMatchTheGoldenValuesBitForBit) {
  VariableEnvironment env;
  const VariableID c0 = env.slot("c0").set(vec({1.0}));
  const Adam adam(alpha, eps, b1, b2, {c0}, env, ns);

  step(env, adam, {c0}, {vec({2.0})});
  EXPECT_EQ(values_of(state(env, c0, 't')), std::vector<double>{2.0});
  EXPECT_EQ(values_of(state(env, c0, 'm')), std::vector<double>{0.19999999999999996});
  EXPECT_EQ(values_of(state(env, c0, 'v')), std::vector<double>{0.0040000000000000036});
  EXPECT_EQ(values_of(*env.array_cell(c0)), std::vector<double>{0.9627931590846772});

  step(env, adam, {c0}, {vec({2.0})});
  EXPECT_EQ(values_of(state(env, c0, 't')), std::vector<double>{3.0});
  EXPECT_EQ(values_of(state(env, c0, 'm')), std::vector<double>{0.3799999999999999});
  EXPECT_EQ(values_of(state(env, c0, 'v')), std::vector<double>{0.007996000000000007});
  EXPECT_EQ(values_of(*env.array_cell(c0)), std::vector<double>{0.9198700315591873});
}

TEST(Adam, StateIsNamedAfterTheVariableIdAndFollowsTheLastId) {
  VariableEnvironment env;
  for (int i = 0; i < 13; ++i) env.slot("c" + std::to_string(i)).set(array({2}, {1.0, 2.0}));
  const Adam adam(alpha, eps, b1, b2, {VariableID{12}, VariableID{3}}, env, ns);
  const auto id_of = [&](const char* name) { return env.namespace_(ns).find(name)->value; };
  EXPECT_EQ(id_of("12m"), 13u);
  EXPECT_EQ(id_of("12v"), 14u);
  EXPECT_EQ(id_of("12t"), 15u);
  EXPECT_EQ(id_of("3m"), 16u);
  EXPECT_EQ(values_of(state(env, VariableID{12}, 'm')), (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(shape_of(state(env, VariableID{12}, 't')), std::vector<std::size_t>{1});
  EXPECT_EQ(values_of(state(env, VariableID{12}, 't')), std::vector<double>{1.0});
  EXPECT_EQ(env.namespace_("").variable_ids().size(), 13u);  // the default namespace is untouched

  // A second optimiser over the same id takes the names over with fresh state.
  const Adam again(alpha, eps, b1, b2, {VariableID{12}}, env, ns);
  EXPECT_EQ(id_of("12m"), 19u);
}

TEST(Adam, AnIdWithoutAnArrayPanics) {
  VariableEnvironment env;
  EXPECT_EQ(panic_message([&] { Adam(alpha, eps, b1, b2, {VariableID{0}}, env, ns); }), "variable array not found");
}

TEST(Adam, ZeroGradientLeavesTheVariableAndCountsTheStep) {
  VariableEnvironment env;
  const VariableID c0 = env.slot("c0").set(vec({1.5}));
  const Adam adam(alpha, eps, b1, b2, {c0}, env, ns);
  step(env, adam, {c0}, {vec({0.0})});
  EXPECT_EQ(values_of(*env.array_cell(c0)), std::vector<double>{1.5});
  EXPECT_EQ(values_of(state(env, c0, 'm')), std::vector<double>{0.0});
  EXPECT_EQ(values_of(state(env, c0, 'v')), std::vector<double>{0.0});
  EXPECT_EQ(values_of(state(env, c0, 't')), std::vector<double>{2.0});
}

TEST(Adam, FailedUpdatesStoreNothing) {
  VariableEnvironment env;
  const VariableID c0 = env.slot("c0").set(vec({1.0}));
  const VariableID c1 = env.slot("c1").set(vec({1.0}));
  const Adam adam(alpha, eps, b1, b2, {c0, c1}, env, ns);
  // A step count of two elements fails only its own node.
  *env.array_cell(*env.namespace_(ns).find("0t")) = vec({1.0, 1.0});
  step(env, adam, {c0, c1}, {vec({2.0}), vec({2.0})});
  EXPECT_EQ(values_of(*env.array_cell(c0)), std::vector<double>{1.0});
  EXPECT_EQ(values_of(state(env, c0, 'm')), std::vector<double>{0.0});
  EXPECT_EQ(values_of(state(env, c0, 't')), (std::vector<double>{1.0, 1.0}));
  EXPECT_EQ(values_of(*env.array_cell(c1)), std::vector<double>{0.9627931590846772});

  // A feed naming no placeholder fails the whole evaluation.
  const ArrayD fed = vec({0.0});
  env.run([&](graph::Context& ctx) {
    const Tensor v = ctx.variable_by_id(c1);
    evaluation::Feeder feeder;
    feeder.push(evaluation::PlaceholderKey::by_name("missing"), fed);
    const Tensor g = tensor_ops::convert_to_tensor(vec({2.0}), ctx);
    adam.update(std::span(&v, 1), std::span(&g, 1), ctx, std::move(feeder));
  });
  EXPECT_EQ(values_of(*env.array_cell(c1)), std::vector<double>{0.9627931590846772});
  EXPECT_EQ(values_of(state(env, c1, 't')), std::vector<double>{2.0});
}

TEST(Adam, UpdateRejectsMisuse) {
  VariableEnvironment env;
  const VariableID c0 = env.slot("c0").set(vec({1.0}));
  const Adam adam(alpha, eps, b1, b2, {c0}, env, ns);
  env.run([&](graph::Context& ctx) {
    const Tensor v = ctx.variable_by_id(c0);
    const Tensor g = tensor_ops::scalar(1.0, ctx);
    const std::vector<Tensor> none;
    adam.update(none, none, ctx);  // nothing to do
    EXPECT_EQ(ctx.num_nodes(), 2u);
    EXPECT_EQ(panic_message([&] { adam.update(std::span(&v, 1), none, ctx); }),
              "assertion `left == right` failed\n  left: 1\n right: 0");
    EXPECT_EQ(panic_message([&] { adam.update(std::span(&g, 1), std::span(&g, 1), ctx); }), "Got non-variable tensor");
    graph::run([&](graph::Context& other) {
      const Tensor foreign = tensor_ops::scalar(1.0, other);
      EXPECT_EQ(panic_message([&] { adam.update(std::span(&v, 1), std::span(&foreign, 1), ctx); }),
                "Detected tensors belonging to different graphs");
    });
  });
  EXPECT_EQ(values_of(*env.array_cell(c0)), std::vector<double>{1.0});
}

// AdamOp run directly: the gradient brought to the variable's shape, and the update of
// every element equal to the one-element update with its own adjusted gradient.
struct AdjustCase {
  std::string name;
  ArrayD p, g;
  std::vector<std::size_t> shape;  // of p'
  std::vector<std::size_t> adjusted_shape;
  std::vector<double> adjusted;
};

double one_step(double p, double g) {
  const auto out = compute(AdamOp(alpha, eps, b1, b2), {vec({p}), vec({g}), vec({0.0}), vec({0.0}), vec({1.0})});
  return out.out()[0];
}

class AdamGradientAdjustment : public ::testing::TestWithParam<AdjustCase> {};

TEST_P(AdamGradientAdjustment, ReachesTheVariableShape) {
  const AdjustCase& c = GetParam();
  const ArrayD zeros = ArrayD::zeros(c.p.shape());
  const auto out = compute(AdamOp(alpha, eps, b1, b2), {c.p, c.g, zeros, zeros, vec({1.0})});
  ASSERT_TRUE(out.result) << out.error_debug();
  ASSERT_EQ(out.outputs.size(), 5u);
  EXPECT_EQ(shape_of(out.outputs[1]), c.adjusted_shape);
  EXPECT_EQ(values_of(out.outputs[1]), c.adjusted);
  ASSERT_EQ(shape_of(out.out()), c.shape);
  for (std::size_t k = 0; k < out.out().len(); ++k) {
    const double p = c.p[c.p.len() == 1 ? 0 : k];
    EXPECT_EQ(out.out()[k], one_step(p, c.adjusted[c.adjusted.size() == 1 ? 0 : k])) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, AdamGradientAdjustment,
    ::testing::Values(
        AdjustCase{"sum_into_one", vec({1.0}), vec({1.0, 2.0, 3.0, 4.0}), {1}, {1}, {10.0}},
        AdjustCase{"sum_into_rank0", ArrayD::scalar(1.0), vec({1.0, 2.0}), {}, {}, {3.0}},
        AdjustCase{"column_sums", vec({1.0, 2.0, 3.0}), array({2, 3}, {1, 2, 3, 10, 20, 30}), {3}, {3}, {11, 22, 33}},
        AdjustCase{"blocks_of_a_matrix", array({1, 2}, {0, 0}), vec({1, 2, 3, 4, 5, 6}), {1, 2}, {1, 2}, {9, 12}},
        AdjustCase{
            "same_shape", array({2, 2}, {1, 2, 3, 4}), array({2, 2}, {4, 3, 2, 1}), {2, 2}, {2, 2}, {4, 3, 2, 1}},
        AdjustCase{"scalar_variable_takes_gradient_shape", ArrayD::scalar(1.0), vec({2.0}), {1}, {1}, {2.0}},
        AdjustCase{"one_element_variable_spread", vec({1.0}), array({1, 1}, {2.0}), {1, 1}, {1, 1}, {2.0}},
        AdjustCase{"rank0_gradient_spreads", vec({1.0, 2.0}), ArrayD::scalar(2.0), {2}, {}, {2.0}},
        AdjustCase{"one_element_state_against_rank0_gradient", vec({1.0}), ArrayD::scalar(2.0), {1}, {}, {2.0}}),
    case_name<AdjustCase>);

// Steps from state that tells the orders of the arithmetic apart (p = 1, g = 2 from fresh
// state does not): ((1 − b2)·g)·g against (1 − b2)·g², multiplying by the reciprocal of
// the bias correction against dividing, alpha·(m̂ / d) against (alpha·m̂) / d. Transcribed
// independently in Python's doubles.
TEST(AdamOp, StepsFromNonTrivialState) {
  const struct {
    double p, g, m, v, t, p_next, m_next, v_next;
  } cases[] = {
      {-0.05, -1.75, -0.14, 0.3, 1, -0.0435636707197237, -0.301, 0.3027625},
      {-0.12, -1.85, 0.41, 0, 1, -0.15700572283510988, 0.18400000000000002, 0.0034225000000000037},
      {0.15, -1.96, 0.63, 0.13, 5, 0.1416241693359732, 0.3710000000000001, 0.1337116},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.p);
    const auto out = compute(AdamOp(alpha, eps, b1, b2), {vec({c.p}), vec({c.g}), vec({c.m}), vec({c.v}), vec({c.t})});
    ASSERT_TRUE(out.result) << out.error_debug();
    EXPECT_EQ(values_of(out.outputs.at(0)), std::vector<double>{c.p_next});
    EXPECT_EQ(values_of(out.outputs.at(2)), std::vector<double>{c.m_next});
    EXPECT_EQ(values_of(out.outputs.at(3)), std::vector<double>{c.v_next});
    EXPECT_EQ(values_of(out.outputs.at(4)), std::vector<double>{c.t + 1});
  }
}

TEST(AdamOp, RejectsTooFewInputsAndANonScalarStep) {
  const AdamOp op(alpha, eps, b1, b2);
  const auto four = compute(op, {vec({1.0}), vec({2.0}), vec({0.0}), vec({0.0})});
  EXPECT_EQ(four.error_debug(), "IncompatibleShape(\"AdamOp requires 5 inputs, but got 4\")");
  EXPECT_TRUE(four.outputs.empty());
  const auto two_steps = compute(op, {vec({1.0}), vec({2.0}), vec({0.0}), vec({0.0}), vec({1.0, 1.0})});
  EXPECT_EQ(two_steps.error_debug(), "IncompatibleShape(\"Expected scalar or 1-element array, got shape [2]\")");
  // A rank-0 step count stays rank 0.
  const auto rank0 = compute(op, {vec({1.0}), vec({2.0}), vec({0.0}), vec({0.0}), ArrayD::scalar(1.0)});
  EXPECT_EQ(shape_of(rank0.outputs.at(4)), std::vector<std::size_t>{});
  // Inputs past the fifth are ignored.
  const auto six = compute(op, {vec({1.0}), vec({2.0}), vec({0.0}), vec({0.0}), vec({1.0}), vec({9.0})});
  ASSERT_TRUE(six.result) << six.error_debug();
  EXPECT_EQ(values_of(six.out()), std::vector<double>{0.9627931590846772});
  EXPECT_EQ(panic_message([&] {
              compute(op, {vec({1.0, 2.0}), vec({1.0, 2.0, 3.0}), vec({0.0, 0.0}), vec({0.0, 0.0}), vec({1.0})});
            }),
            "ndarray: could not broadcast array from shape: [3] to: [2]");
}

}  // namespace
