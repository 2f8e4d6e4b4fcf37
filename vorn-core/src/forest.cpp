#include "vorn_core/forest.hpp"

#include <pthread.h>

#include <cmath>
#include <deque>
#include <mutex>
#include <string>

#include <fmt/format.h>

#include "detail/forest.hpp"
#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "support/panic.hpp"
#include "vorn_core/loss.hpp"

namespace vorn_core::forest {

namespace arithmetic = ketra_autograd::tensor_ops::arithmetic;
namespace evaluation = ketra_autograd::evaluation;
using tarvex::tree::EmlKind;

namespace {

constexpr std::int64_t any_length = -1;

void require_matrix(const ArrayD& x) {
  if (x.ndim() != 2) support::panic("the data matrix must be 2-D, got shape {}", x.shape_text());
}

void require_column(std::size_t index, std::size_t columns) {
  if (index >= columns) support::panic("variable index {} out of range for {} columns", index, columns);
}

// max(min(v, hi), lo) as the graph's clip computes it, so a NaN comes out as hi.
double clip(double v, double lo, double hi) {
  const double capped = v < hi ? v : hi;
  return capped > lo ? capped : lo;
}

// A node's value on one row, as the graph computes it and as the generated code does.
struct Readings {
  double guarded;
  double unguarded;
};

Readings read_row(const EmlNode& node, std::span<const double> row) {
  switch (node.kind()) {
    case EmlKind::One: return {1.0, 1.0};
    case EmlKind::Const: return {node.value(), node.value()};
    case EmlKind::Var: {
      require_column(node.index(), row.size());
      const double value = row[node.index()];
      return {value, value};
    }
    case EmlKind::Eml: {
      const Readings a = read_row(*node.left(), row);
      const Readings b = read_row(*node.right(), row);
      const double grown = std::exp(clip(a.guarded, exp_clip_low, exp_clip_high));
      const double shrunk = std::log(clip(b.guarded, ln_clip_low, ln_clip_high));
      return {grown - shrunk, std::exp(a.unguarded) - std::log(b.unguarded)};
    }
  }
  support::panic("unknown EML node kind");
}

// The names, made under the lock and never destroyed, so that they stay valid even while
// the process exits; a deque never moves its elements when it grows.
constinit std::mutex names_mutex;
constinit std::deque<std::string>* names = nullptr;

// A fork holds the lock, so a child never inherits it from a thread it does not have.
void lock_names() { names_mutex.lock(); }
void unlock_names() { names_mutex.unlock(); }
[[maybe_unused]] const int names_fork_handlers = ::pthread_atfork(lock_names, unlock_names, unlock_names);

}  // namespace

std::string_view col_placeholder_name(std::size_t i) {
  std::lock_guard lock(names_mutex);
  if (names == nullptr) names = new std::deque<std::string>;
  while (names->size() <= i) names->push_back(fmt::format("vorn_x{}", names->size()));
  return (*names)[i];
}

namespace detail {

Columns::Columns(const ArrayD& x) {
  require_matrix(x);
  const std::size_t rows = x.shape()[0];
  const std::size_t count = x.shape()[1];
  const std::size_t shape[] = {rows};
  columns.reserve(count);
  names.reserve(count);
  for (std::size_t j = 0; j < count; ++j) {
    ArrayD column = ArrayD::for_overwrite(shape);
    for (std::size_t r = 0; r < rows; ++r) column[r] = x[r * count + j];
    columns.push_back(std::move(column));
    names.push_back(col_placeholder_name(j));
  }
  ones = ArrayD::from_elem(shape, 1.0);
}

Columns::Placeholders Columns::placeholders(ketra_autograd::graph::Context& ctx) const {
  std::vector<Tensor> tensors;
  tensors.reserve(names.size());
  for (std::string_view name : names) tensors.push_back(ctx.placeholder(name, {any_length}));
  return Placeholders{std::move(tensors), ctx.placeholder(ones_placeholder_name, {any_length})};
}

void Columns::feed(const Placeholders& placeholders, evaluation::Feeder& feeder) const {
  for (std::size_t j = 0; j < columns.size(); ++j) {
    feeder.push(evaluation::PlaceholderKey::by_id(placeholders.columns[j].id()), columns[j]);
  }
  feeder.push(evaluation::PlaceholderKey::by_id(placeholders.ones.id()), ones);
}

Tensor column(std::span<const Tensor> columns, std::size_t index) {
  require_column(index, columns.size());
  return columns[index];
}

std::expected<ArrayD, error::VornError> evaluate(const EmlTree& tree, const Columns& data) {
  evaluation::EvalResult result = ketra_autograd::graph::run([&](ketra_autograd::graph::Context& ctx) {
    const Columns::Placeholders inputs = data.placeholders(ctx);
    const Tensor out = build_forward(*tree.root, inputs.columns, inputs.ones);
    evaluation::Feeder feeder;
    data.feed(inputs, feeder);
    return std::move(evaluation::Evaluator(ctx).push(out).set_feeder(std::move(feeder)).run().front());
  });
  if (!result) return std::unexpected(error::VornError::evaluation(result.error().debug()));
  ArrayD prediction = std::move(*result);
  for (double v : prediction.data()) {
    if (!std::isfinite(v)) {
      return std::unexpected(error::VornError::numerical_instability("forward pass produced non-finite values"));
    }
  }
  const std::size_t flat[] = {prediction.len()};
  return *std::move(prediction).into_shape(flat);
}

std::expected<double, error::VornError> mse_of(const EmlTree& tree, const Columns& data, std::span<const double> y) {
  const auto prediction = evaluate(tree, data);
  if (!prediction) return std::unexpected(prediction.error());
  return loss::mean_squared_error(prediction->data(), y);
}

}  // namespace detail

std::expected<ArrayD, error::VornError> eval_tree(const EmlTree& tree, const ArrayD& x) {
  return detail::evaluate(tree, detail::Columns(x));
}

Tensor eml_guarded(Tensor a, Tensor b) {
  const Tensor exp_arg = arithmetic::clip(a, exp_clip_low, exp_clip_high);
  const Tensor grown = arithmetic::exp(exp_arg);
  const Tensor ln_arg = arithmetic::clip(b, ln_clip_low, ln_clip_high);
  const Tensor shrunk = arithmetic::ln(ln_arg);
  return arithmetic::sub(grown, shrunk);
}

Tensor build_forward(const EmlNode& node, std::span<const Tensor> columns, Tensor ones) {
  switch (node.kind()) {
    case EmlKind::One: return ones;
    case EmlKind::Const: return ketra_autograd::tensor_ops::linear_algebra::scalar_mul(ones, node.value());
    case EmlKind::Var: return detail::column(columns, node.index());
    case EmlKind::Eml: {
      const Tensor left = build_forward(*node.left(), columns, ones);
      const Tensor right = build_forward(*node.right(), columns, ones);
      return eml_guarded(left, right);
    }
  }
  support::panic("unknown EML node kind");
}

bool unguarded_agrees(const EmlTree& tree, const ArrayD& x) {
  require_matrix(x);
  const std::size_t count = x.shape()[1];
  for (std::size_t r = 0; r < x.shape()[0]; ++r) {
    const Readings root = read_row(*tree.root, x.data().subspan(r * count, count));
    // Not finite, or too far from the guarded reading (a NaN compares false).
    if (!(std::fabs(root.unguarded - root.guarded) <= unguarded_tolerance * (1.0 + std::fabs(root.guarded)))) {
      return false;
    }
  }
  return true;
}

}  // namespace vorn_core::forest
