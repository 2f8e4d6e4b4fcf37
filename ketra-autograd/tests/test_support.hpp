#pragma once
// Helpers shared by the autograd tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::testing {

// A parameterised case's own `name` as its test name (the default is a byte dump of the
// case, different on every build).
template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// The message of the panic that f ends with, or "<no panic>".
template <typename F>
std::string panic_message(F&& f) {
  try {
    f();
  } catch (const support::Panic& panic) {
    return panic.message();
  }
  return "<no panic>";
}

inline ArrayD array(std::initializer_list<std::size_t> shape, std::initializer_list<double> values) {
  return *ArrayD::from_shape_vec(std::span<const std::size_t>(shape.begin(), shape.size()),
                                 std::span<const double>(values.begin(), values.size()));
}

inline ArrayD vec(std::initializer_list<double> values) {
  return ArrayD::from_vec(std::span<const double>(values.begin(), values.size()));
}

// 0, 1, 2, ... laid out in the shape.
inline ArrayD iota(std::initializer_list<std::size_t> shape) {
  ArrayD out = ArrayD::for_overwrite(std::span<const std::size_t>(shape.begin(), shape.size()));
  for (std::size_t i = 0; i < out.len(); ++i) out[i] = static_cast<double>(i);
  return out;
}

// An operation's compute run directly, with its outputs or its error.
struct Computed {
  op::ComputeResult result;
  std::vector<ArrayD> outputs;

  const ArrayD& out() const { return outputs.at(0); }
  std::string error_debug() const { return result ? "<success>" : result.error().debug(); }
};

inline Computed compute(const op::Op& op, const std::vector<ArrayD>& inputs) {
  std::vector<const ArrayD*> views;
  for (const ArrayD& a : inputs) views.push_back(&a);
  ArrayD first;
  std::vector<ArrayD> further;
  op::ComputeContext ctx(views, first, further);
  Computed computed{op.compute(ctx), {}};
  if (ctx.num_outputs() > 0) {
    computed.outputs.push_back(std::move(first));
    for (ArrayD& output : further) computed.outputs.push_back(std::move(output));
  }
  return computed;
}

inline std::vector<std::size_t> shape_of(const ArrayD& a) { return {a.shape().begin(), a.shape().end()}; }
inline std::vector<double> values_of(const ArrayD& a) { return {a.data().begin(), a.data().end()}; }

// Element lists equal bit for bit, except that any NaN matches any NaN (so -0 differs
// from 0, and 1.6666666666666665 from 1.6666666666666667).
inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return std::ranges::equal(a, b, [](double x, double y) {
    return (std::isnan(x) && std::isnan(y)) || std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
  });
}

// The operation names of the nodes from id `first` on, without their module path
// ("Shape", "MulOp", "Pow<f64>").
inline std::vector<std::string> node_names_from(const graph::Graph& graph, std::size_t first) {
  std::vector<std::string> names;
  for (std::size_t id = first; id < graph.num_nodes(); ++id) {
    const std::string_view name = graph.node(id).get_op().name();
    names.emplace_back(name.substr(name.rfind("::") + 2));
  }
  return names;
}

// One computation: the operation on the inputs gives either the shape and elements
// (compared with same_bits) or the error's debug text.
struct ComputeCase {
  std::string name;
  const op::Op* op;
  std::vector<ArrayD> inputs;
  std::vector<std::size_t> shape;
  std::vector<double> values;
  std::string error = {};
};
inline void PrintTo(const ComputeCase& c, std::ostream* os) { *os << c.name; }

inline void expect_computes(const ComputeCase& c) {
  const Computed got = compute(*c.op, c.inputs);
  if (!c.error.empty()) {
    EXPECT_EQ(got.error_debug(), c.error);
    EXPECT_TRUE(got.outputs.empty());
    return;
  }
  ASSERT_TRUE(got.result.has_value()) << got.error_debug();
  ASSERT_EQ(got.outputs.size(), 1u);
  EXPECT_EQ(shape_of(got.out()), c.shape);
  EXPECT_TRUE(same_bits(values_of(got.out()), c.values)) << ::testing::PrintToString(values_of(got.out()));
}

// Uniform values in [low, high) laid out in the shape, the same for the same seed.
inline ArrayD random_array(std::span<const std::size_t> shape, double low, double high, unsigned seed) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(low, high);
  ArrayD out = ArrayD::for_overwrite(shape);
  for (double& v : out.data()) v = uniform(engine);
  return out;
}

// The gradients a node's own grad gives for its inputs, for the arriving gradient gy.
inline std::vector<std::optional<tensor::Tensor>> grads_of(graph::Context& ctx, tensor::Tensor y, tensor::Tensor gy) {
  std::vector<tensor::Tensor> inputs;
  for (const tensor::Input& input : ctx.node(y.id()).inputs) inputs.emplace_back(ctx, input.id);
  const std::vector<tensor::Tensor> outputs{y}, arriving{gy};
  std::vector<std::optional<tensor::Tensor>> grads;
  op::GradientContext gctx(outputs, inputs, ctx, arriving, grads);
  ctx.node(y.id()).get_op().grad(gctx);
  return grads;
}

// A node of the operation over constant inputs.
template <typename O>
tensor::Tensor node_over(graph::Context& ctx, O op, const std::vector<ArrayD>& inputs) {
  tensor::TensorBuilder builder(ctx);
  for (const ArrayD& input : inputs) builder.append_input_with_selector(tensor_ops::convert_to_tensor(input, ctx));
  return builder.build(std::move(op));
}

// Checks, for each input listed in `wrt`, that the gradient the operation's own grad
// builds has the input's shape and agrees with central differences of
// L = sum(gy * op(inputs)) for a random gy, to `tolerance` relative to max(1, |dL/dx|).
template <typename O>
void expect_grads_match_finite_differences(const O& op, const std::vector<ArrayD>& inputs,
                                           std::initializer_list<std::size_t> wrt, double tolerance = 1e-6) {
  const ArrayD y_value = compute(op, inputs).out();
  const ArrayD gy_value = random_array(y_value.shape(), -1.0, 1.0, 7);
  const auto loss = [&](const std::vector<ArrayD>& at) {
    const ArrayD y = compute(op, at).out();
    double sum = 0.0;
    for (std::size_t i = 0; i < y.len(); ++i) sum += gy_value[i] * y[i];
    return sum;
  };
  graph::run([&](graph::Context& ctx) {
    const tensor::Tensor y = node_over(ctx, op, inputs);
    const auto grads = grads_of(ctx, y, tensor_ops::convert_to_tensor(gy_value, ctx));
    for (std::size_t k : wrt) {
      SCOPED_TRACE("input " + std::to_string(k));
      ASSERT_LT(k, grads.size());
      ASSERT_TRUE(grads[k].has_value());
      const auto analytic = grads[k]->eval(ctx);
      ASSERT_TRUE(analytic.has_value()) << analytic.error().debug();
      ASSERT_EQ(shape_of(*analytic), shape_of(inputs[k]));
      for (std::size_t j = 0; j < inputs[k].len(); ++j) {
        const double h = 1e-6 * std::max(1.0, std::abs(inputs[k][j]));
        std::vector<ArrayD> above = inputs, below = inputs;
        above[k][j] += h;
        below[k][j] -= h;
        const double numeric = (loss(above) - loss(below)) / (2.0 * h);
        EXPECT_NEAR((*analytic)[j], numeric, tolerance * std::max(1.0, std::abs(numeric))) << "element " << j;
      }
    }
  });
}

}  // namespace ketra_autograd::testing
