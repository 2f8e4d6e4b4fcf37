#pragma once
// The optimiser interface: one update node per variable, all evaluated together, and the
// results written back into the variable environment.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::optimizers {

class Optimizer {
 public:
  virtual ~Optimizer() = default;

  // One update node per variable, in the variables' order. Its inputs flagged mutable
  // (Input::is_mutable) are variable nodes whose arrays take its results.
  virtual std::vector<tensor::Tensor> build_update_nodes(std::span<const tensor::Tensor> variables,
                                                         std::span<const tensor::Tensor> gradients,
                                                         graph::Context& ctx) const = 0;
  // For each mutable input of an update node, in input order: the output it takes.
  virtual std::span<const std::size_t> written_outputs() const noexcept = 0;

  // One step: builds the update nodes, evaluates them all in one evaluation with the
  // feeds, and writes the results of every node that evaluated into the environment.
  // A node that fails, or a feed naming no placeholder, leaves its arrays as they were
  // and is not reported. Panics when the counts of variables and gradients differ.
  void update(std::span<const tensor::Tensor> variables, std::span<const tensor::Tensor> gradients, graph::Context& ctx,
              std::optional<evaluation::Feeder> feeder = std::nullopt) const;
};

}  // namespace ketra_autograd::optimizers
