#include "vorn_core/fit.hpp"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "detail/forest.hpp"
#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/optimizers/adam.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/reduction.hpp"
#include "ketra_autograd/variable.hpp"
#include "support/panic.hpp"
#include "vorn_core/forest.hpp"
#include "vorn_core/silence.hpp"

namespace vorn_core::fit {

namespace arithmetic = ketra_autograd::tensor_ops::arithmetic;
namespace evaluation = ketra_autograd::evaluation;
using ketra_autograd::ArrayD;
using ketra_autograd::graph::Context;
using ketra_autograd::variable::VariableEnvironment;
using ketra_autograd::variable::VariableID;
using tarvex::tree::EmlKind;

namespace {

using Fitted = std::expected<std::pair<EmlTree, double>, error::VornError>;

// One full-batch Adam step on the mean squared error, in the environment's fresh graph.
void training_step(Context& ctx, const EmlNode& root, std::span<const VariableID> ids,
                   const forest::detail::Columns& data, const ArrayD& y,
                   const ketra_autograd::optimizers::adam::Adam& adam) {
  const forest::detail::Columns::Placeholders inputs = data.placeholders(ctx);
  const Tensor target = ctx.placeholder(target_placeholder_name, {-1});
  std::vector<Tensor> params;
  params.reserve(ids.size());
  for (VariableID id : ids) params.push_back(ctx.variable_by_id(id));
  std::size_t counter = 0;
  const Tensor prediction = build_param(root, inputs.columns, inputs.ones, params, counter);
  const Tensor diff = arithmetic::sub(prediction, target);
  const Tensor loss = ketra_autograd::tensor_ops::reduction::reduce_mean(arithmetic::mul(diff, diff),
                                                                         std::array<std::int32_t, 1>{0}, false);
  const std::vector<Tensor> grads = ketra_autograd::tensor_ops::grad(std::span<const Tensor>(&loss, 1), params);
  evaluation::Feeder feeder;
  data.feed(inputs, feeder);
  feeder.push(evaluation::PlaceholderKey::by_id(target.id()), y);
  adam.update(params, grads, ctx, std::move(feeder));
}

// The trained value of each constant: the first element of its variable, NaN when it
// cannot be read.
std::vector<double> read_constants(VariableEnvironment& env, std::span<const VariableID> ids) {
  return env.run([&](Context& ctx) {
    std::vector<double> values;
    values.reserve(ids.size());
    for (VariableID id : ids) {
      const evaluation::EvalResult value = evaluation::Evaluator(ctx).eval(ctx.variable_by_id(id));
      values.push_back(value && value->len() > 0 ? (*value)[0] : std::numeric_limits<double>::quiet_NaN());
    }
    return values;
  });
}

Fitted scored(EmlTree tree, const forest::detail::Columns& data, const ArrayD& y) {
  const auto mse = forest::detail::mse_of(tree, data, y.data());
  if (!mse) return std::unexpected(mse.error());
  return std::pair<EmlTree, double>(std::move(tree), *mse);
}

}  // namespace

Fitted fit_constants(const EmlTree& tree, const dataset::DataSet& data, const discoverer::Discoverer& config) {
  std::vector<double> start;
  collect_consts(*tree.root, start);
  const forest::detail::Columns columns(data.x);
  if (start.empty()) return scored(tree, columns, data.y);

  VariableEnvironment env;
  std::vector<VariableID> ids;
  ids.reserve(start.size());
  for (std::size_t i = 0; i < start.size(); ++i) {
    const double value[] = {start[i]};
    ids.push_back(env.slot(fmt::format("c{}", i)).set(ArrayD::from_vec(value)));
  }
  const ketra_autograd::optimizers::adam::Adam adam(config.learning_rate, adam_eps, adam_b1, adam_b2, ids, env,
                                                    adam_namespace);

  // Declared before the results, so that standard output comes back after they are made.
  const auto silenced = silence::SilenceStdout::make();
  for (std::uint64_t epoch = 0; epoch < config.max_epochs; ++epoch) {
    env.run([&](Context& ctx) { training_step(ctx, *tree.root, ids, columns, data.y, adam); });
  }
  const std::vector<double> trained = read_constants(env, ids);
  for (double v : trained) {
    if (!std::isfinite(v)) {
      return std::unexpected(error::VornError::numerical_instability("fitted constants are non-finite"));
    }
  }
  std::size_t index = 0;
  return scored(EmlTree::from_node(substitute_consts(*tree.root, trained, index)), columns, data.y);
}

void collect_consts(const EmlNode& node, std::vector<double>& out) {
  switch (node.kind()) {
    case EmlKind::Const: out.push_back(node.value()); return;
    case EmlKind::Eml:
      collect_consts(*node.left(), out);
      collect_consts(*node.right(), out);
      return;
    case EmlKind::One:
    case EmlKind::Var: return;
  }
}

NodePtr substitute_consts(const EmlNode& node, std::span<const double> values, std::size_t& index) {
  switch (node.kind()) {
    case EmlKind::One: return EmlNode::one();
    case EmlKind::Var: return EmlNode::var(node.index());
    case EmlKind::Const:
      if (index >= values.size()) {
        support::panic("constant index {} out of range for {} values", index, values.size());
      }
      return EmlNode::constant(values[index++]);
    case EmlKind::Eml: {
      NodePtr left = substitute_consts(*node.left(), values, index);
      NodePtr right = substitute_consts(*node.right(), values, index);
      return EmlNode::eml(std::move(left), std::move(right));
    }
  }
  support::panic("unknown EML node kind");
}

Tensor build_param(const EmlNode& node, std::span<const Tensor> columns, Tensor ones, std::span<const Tensor> params,
                   std::size_t& counter) {
  switch (node.kind()) {
    case EmlKind::One: return ones;
    case EmlKind::Const:
      if (counter >= params.size()) {
        support::panic("constant index {} out of range for {} parameters", counter, params.size());
      }
      return arithmetic::mul(params[counter++], ones);
    case EmlKind::Var: return forest::detail::column(columns, node.index());
    case EmlKind::Eml: {
      const Tensor left = build_param(*node.left(), columns, ones, params, counter);
      const Tensor right = build_param(*node.right(), columns, ones, params, counter);
      return forest::eml_guarded(left, right);
    }
  }
  support::panic("unknown EML node kind");
}

}  // namespace vorn_core::fit
