#include "ketra_autograd/optimizers/adam.hpp"

#include <string>

#include "ketra_autograd/tensor_ops/gradient_descent_ops/adam.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::optimizers::adam {

namespace {

using tensor_ops::gradient_descent_ops::adam::AdamOp;

// "12m", "12v", "12t": the first and second moment and the step count of variable 12.
std::string state_name(variable::VariableID id, char suffix) { return variable::to_string(id) + suffix; }

}  // namespace

Adam::Adam(double alpha, double eps, double b1, double b2, std::vector<variable::VariableID> ids,
           variable::VariableEnvironment& env, std::string_view ns)
    : alpha_(alpha), eps_(eps), b1_(b1), b2_(b2), namespace_(ns) {
  const variable::VariableNamespaceMut state = env.namespace_mut(ns);
  for (const variable::VariableID id : ids) {
    const ArrayD* array = env.array_cell(id);
    if (array == nullptr) support::panic("variable array not found");
    ArrayD m = ArrayD::zeros(array->shape());
    ArrayD v = ArrayD::zeros(array->shape());
    constexpr std::size_t one[] = {1};
    state.slot(state_name(id, 'm')).set(std::move(m));
    state.slot(state_name(id, 'v')).set(std::move(v));
    state.slot(state_name(id, 't')).set(ArrayD::from_elem(one, 1.0));
  }
}

std::vector<tensor::Tensor> Adam::build_update_nodes(std::span<const tensor::Tensor> variables,
                                                     std::span<const tensor::Tensor> gradients,
                                                     graph::Context& ctx) const {
  const variable::VariableNamespace state = ctx.env().namespace_(namespace_);
  std::vector<tensor::Tensor> nodes;
  nodes.reserve(variables.size());
  for (std::size_t i = 0; i < variables.size(); ++i) {
    const auto id = variables[i].graph().node(variables[i].id()).variable_id;
    if (!id) support::panic("Got non-variable tensor");
    const tensor::Tensor m = ctx.variable_by_name(state_name(*id, 'm'), state);
    const tensor::Tensor v = ctx.variable_by_name(state_name(*id, 'v'), state);
    const tensor::Tensor t = ctx.variable_by_name(state_name(*id, 't'), state);
    constexpr bool written = true;
    nodes.push_back(tensor::TensorBuilder(ctx)
                        .append_input_with_selector(variables[i], written)
                        .append_input_with_selector(gradients[i], !written)
                        .append_input_with_selector(m, written)
                        .append_input_with_selector(v, written)
                        .append_input_with_selector(t, written)
                        .build(AdamOp(alpha_, eps_, b1_, b2_)));
  }
  return nodes;
}

}  // namespace ketra_autograd::optimizers::adam
