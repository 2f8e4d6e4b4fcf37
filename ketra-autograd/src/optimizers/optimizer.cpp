#include "ketra_autograd/optimizers/optimizer.hpp"

#include "support/panic.hpp"

namespace ketra_autograd::optimizers {

namespace {

using WrittenArrays = SmallVec<ArrayD*, 4>;

// The environment arrays that a node's mutable inputs stand for; empty when one of them
// is not a variable with an array.
WrittenArrays written_arrays(const graph::Context& ctx, std::size_t node_id) {
  WrittenArrays arrays;
  for (const tensor::Input& input : ctx.node(node_id).inputs) {
    if (!input.is_mutable) continue;
    const auto& variable_id = ctx.node(input.id).variable_id;
    ArrayD* array = variable_id ? ctx.env().array_cell(*variable_id) : nullptr;
    if (array == nullptr) return {};
    arrays.push_back(array);
  }
  return arrays;
}

}  // namespace

void Optimizer::update(std::span<const tensor::Tensor> variables, std::span<const tensor::Tensor> gradients,
                       graph::Context& ctx, std::optional<evaluation::Feeder> feeder) const {
  if (variables.size() != gradients.size()) support::assertion_failed("==", variables.size(), gradients.size());
  const std::vector<tensor::Tensor> nodes = build_update_nodes(variables, gradients, ctx);
  evaluation::Evaluation evaluation(ctx);
  const std::span<const evaluation::Feed> feeds = feeder ? feeder->feeds() : std::span<const evaluation::Feed>();
  if (evaluation.compute(nodes, feeds)) return;  // a feed named no placeholder
  const std::span<const std::size_t> taken = written_outputs();
  for (const tensor::Tensor& node : nodes) {
    const evaluation::NodeOutputs outputs = evaluation.outputs(node.id());
    const WrittenArrays targets = written_arrays(ctx, node.id());
    if (outputs.empty() || targets.size() != taken.size()) continue;
    for (std::size_t k = 0; k < taken.size(); ++k) *targets[k] = *outputs[taken[k]];
  }
}

}  // namespace ketra_autograd::optimizers
