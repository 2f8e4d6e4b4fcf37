#pragma once
// Helpers shared by the autograd tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/detail/dense.hpp"
#include "ketra_autograd/testing.hpp"
#include "support/testing.hpp"

namespace ketra_autograd::testing {

// The helpers every library's tests share; the printer is the one gtest finds for the
// cases below.
using support::testing::case_name;
using support::testing::panic_message;
using support::testing::PrintTo;

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

// A case named after an operation is named by its type without module path, other
// characters than letters and digits folded to single underscores ("Scalar<f64>" names
// it Scalar_f64); a case of no name is "unnamed".
template <typename Case>
std::string operation_case_name(const ::testing::TestParamInfo<Case>& info) {
  std::string_view path = info.param.name;
  if (const std::size_t colons = path.rfind("::"); colons != std::string_view::npos) path.remove_prefix(colons + 2);
  std::string name;
  for (char c : path) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  if (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "unnamed" : name;
}

// An operation that, given these inputs, succeeds with one output of this shape and
// these elements, compared with same_bits (checked by the OpComputes suite; instantiate
// it beside each operation's tests, and its failures in OpFailures).
struct ComputeCase {
  std::string name;
  const op::Op* op;
  std::vector<ArrayD> inputs;
  std::vector<std::size_t> shape;
  std::vector<double> values;
};
class OpComputes : public ::testing::TestWithParam<ComputeCase> {};

// Uniform values in [low, high) laid out in the shape, the same for the same seed.
inline ArrayD random_array(std::span<const std::size_t> shape, double low, double high, unsigned seed) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(low, high);
  ArrayD out = ArrayD::for_overwrite(shape);
  for (double& v : out.data()) v = uniform(engine);
  return out;
}

// An operation that, given these inputs, fails with this error's debug text and appends
// nothing (checked by the OpFailures suite; instantiate it beside each operation's tests).
struct FailureCase {
  std::string name;
  std::function<std::shared_ptr<op::Op>()> op;
  std::vector<ArrayD> inputs;
  std::string error;
};
class OpFailures : public ::testing::TestWithParam<FailureCase> {};

template <typename Op, typename... Args>
std::function<std::shared_ptr<op::Op>()> make_op(Args... args) {
  return [=] { return std::make_shared<Op>(args...); };
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

// Dense matrices for the linear-algebra tests, which use Eigen as their oracle.
using Matrix = tensor_ops::dense::Matrix;
using Index = tensor_ops::dense::Index;

inline Matrix matrix(std::initializer_list<std::initializer_list<double>> rows) {
  Matrix m(static_cast<Index>(rows.size()), rows.size() == 0 ? 0 : static_cast<Index>(rows.begin()->size()));
  Index i = 0;
  for (const auto& row : rows) {
    Index j = 0;
    for (double v : row) m(i, j++) = v;
    ++i;
  }
  return m;
}

// Entries uniform in [-1, 1], the same for the same seed.
inline Matrix random_matrix(Index rows, Index cols, unsigned seed) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  Matrix m(rows, cols);
  for (Index i = 0; i < rows; ++i) {
    for (Index j = 0; j < cols; ++j) m(i, j) = uniform(engine);
  }
  return m;
}

// M·Mᵀ + n·I: symmetric, eigenvalues at least n.
inline Matrix random_spd(Index n, unsigned seed) {
  const Matrix m = random_matrix(n, n, seed);
  return m * m.transpose() + static_cast<double>(n) * Matrix::Identity(n, n);
}

// Σ g ∘ m: the scalar loss whose gradient with respect to m is g.
inline double contract(const Matrix& g, const Matrix& m) { return g.cwiseProduct(m).sum(); }

enum class Directions : std::uint8_t {
  Entries,    // ∂f/∂a_ij
  Symmetric,  // for f defined on symmetric matrices: along e_ij + e_ji (e_ii on the diagonal)
};

// The derivatives of f at a by central differences, a kept symmetric along symmetric
// directions.
template <typename F>
Matrix central_differences(F&& f, const Matrix& a, Directions directions = Directions::Entries, double h = 1e-6) {
  Matrix grad(a.rows(), a.cols());
  for (Index i = 0; i < a.rows(); ++i) {
    for (Index j = 0; j < a.cols(); ++j) {
      const auto moved = [&](double step) {
        Matrix m = a;
        m(i, j) += step;
        if (directions == Directions::Symmetric && i != j) m(j, i) += step;
        return m;
      };
      grad(i, j) = (f(moved(h)) - f(moved(-h))) / (2.0 * h);
    }
  }
  return grad;
}

// A gradient g read along the symmetric directions of symmetric_central_differences.
inline Matrix along_symmetric_directions(const Matrix& g) {
  Matrix out = g + g.transpose();
  out.diagonal() = g.diagonal();
  return out;
}

// Every entry within tolerance·max(1, |expected|) of its expected value.
inline ::testing::AssertionResult near(const Matrix& actual, const Matrix& expected, double tolerance) {
  if (actual.rows() != expected.rows() || actual.cols() != expected.cols()) {
    return ::testing::AssertionFailure() << "shape " << actual.rows() << "x" << actual.cols() << " vs "
                                         << expected.rows() << "x" << expected.cols();
  }
  for (Index i = 0; i < actual.rows(); ++i) {
    for (Index j = 0; j < actual.cols(); ++j) {
      const double bound = tolerance * std::fmax(1.0, std::abs(expected(i, j)));
      if (!(std::abs(actual(i, j) - expected(i, j)) <= bound)) {
        return ::testing::AssertionFailure()
               << "entry (" << i << ", " << j << "): " << actual(i, j) << " vs " << expected(i, j) << "\nactual:\n"
               << actual << "\nexpected:\n"
               << expected;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// An operation's only output read as a matrix.
inline Matrix out_matrix(const Computed& computed) { return tensor_ops::dense::as_matrix(computed.out()); }

}  // namespace ketra_autograd::testing
