#pragma once
// Helpers shared by the autograd tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor.hpp"
#include "ketra_autograd/tensor_ops/detail/dense.hpp"
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

// An operation that, given these inputs, fails with this error's debug text and appends
// nothing (checked by the OpFailures suite; instantiate it beside each operation's tests).
struct FailureCase {
  std::string name;
  std::function<std::shared_ptr<op::Op>()> op;
  std::vector<ArrayD> inputs;
  std::string error;
};
inline void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
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
        return ::testing::AssertionFailure() << "entry (" << i << ", " << j << "): " << actual(i, j) << " vs "
                                             << expected(i, j) << "\nactual:\n" << actual << "\nexpected:\n"
                                             << expected;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// An operation's only output read as a matrix.
inline Matrix out_matrix(const Computed& computed) { return tensor_ops::dense::as_matrix(computed.out()); }

}  // namespace ketra_autograd::testing
