#pragma once
// The operations of placeholder and variable nodes. The evaluator gives such nodes their
// values from feeds and from the environment; the shared compute only runs when one is
// computed like an ordinary operation.
#include <string_view>

#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::basic_source_ops {

class ExternalSource : public op::Op {
 public:
  // A copy of input 0, or a 0-d 0.0 without inputs.
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  // The arriving gradient passes to input 0.
  void grad(op::GradientContext& ctx) const override;
};

class Placeholder final : public ExternalSource {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::basic_source_ops::Placeholder";
  std::string_view name() const override { return op_name; }
};

class Variable final : public ExternalSource {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::basic_source_ops::Variable";
  std::string_view name() const override { return op_name; }
};

}  // namespace ketra_autograd::tensor_ops::basic_source_ops
