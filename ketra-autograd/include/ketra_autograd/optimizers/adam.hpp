#pragma once
// The Adam optimiser. Its state lives in the variable environment, in its own namespace:
// for a variable of id 12, "12m" and "12v" (zeros of the variable's shape) and "12t"
// (the step count [1.0]), so that it survives from one step's graph to the next.
#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "ketra_autograd/optimizers/optimizer.hpp"
#include "ketra_autograd/variable.hpp"

namespace ketra_autograd::optimizers::adam {

class Adam final : public Optimizer {
 public:
  // Creates the state of each variable, in list order (m, v, t each). A name already
  // present in the namespace now names the new state. Panics with "variable array not
  // found" for an id without an array. The namespace must outlive the optimiser.
  Adam(double alpha, double eps, double b1, double b2, std::vector<variable::VariableID> ids,
       variable::VariableEnvironment& env, std::string_view ns);

  // Panics with "Got non-variable tensor" for a tensor that is not a variable node, with
  // the name lookup's message for missing state, and with "Detected tensors belonging to
  // different graphs".
  std::vector<tensor::Tensor> build_update_nodes(std::span<const tensor::Tensor> variables,
                                                 std::span<const tensor::Tensor> gradients,
                                                 graph::Context& ctx) const override;
  // p, m, v, t take p', m', v', t'.
  std::span<const std::size_t> written_outputs() const noexcept override { return written_; }

  double alpha() const noexcept { return alpha_; }
  std::string_view namespace_name() const noexcept { return namespace_; }

 private:
  static constexpr std::array<std::size_t, 4> written_{0, 2, 3, 4};

  double alpha_, eps_, b1_, b2_;
  std::string_view namespace_;
};

}  // namespace ketra_autograd::optimizers::adam
