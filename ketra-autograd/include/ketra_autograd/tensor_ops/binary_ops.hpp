#pragma once
// Elementwise arithmetic of two arrays with broadcasting, and the two operations that
// adapt a gradient's shape to its operand's: summing down and broadcasting up.
//
// Arithmetic: a scalar-like operand (0-d, or 1-D of length 1) against one that is not is
// applied in one pass over the other, which keeps its shape; otherwise the operands are
// broadcast against each other, and shapes that do not broadcast give
// IncompatibleShape("Cannot broadcast shapes [2, 3] and [4] for operation AddOp").
// NaN, infinities and -0 follow IEEE 754; nothing is checked.
#include <string_view>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::tensor_ops::binary_ops {

// (a, b) -> a + b. With fewer than two inputs, zeros of shape [1, 1].
class AddOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::binary_ops::AddOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (a, b) -> a - b. Only a 0-d a is mapped over b; a shape-[1] a is broadcast.
class SubOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::binary_ops::SubOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (a, b) -> a * b.
class MulOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::binary_ops::MulOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (a, b) -> a / b. A scalar-like a gives s / v in b's shape (so [1] / 0-d is 0-d); a
// scalar-like divisor s gives v * (1 / s), which may differ from v / s in the last bit.
class DivOp final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::binary_ops::DivOp";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (gy, target shape tensor) -> gy summed over the axes where the target has size 1 and
// reshaped to the target; an axis that neither matches nor sums gives
// IncompatibleShape("MaybeReduceSum: incompatible shapes origshape=[4, 3] gyshape=[2, 3] at dim 0").
class MaybeReduceSum final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::binary_ops::MaybeReduceSum";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, target shape tensor) -> x broadcast to the target in one direction; otherwise
// IncompatibleShape("PreprocessBinOpGradGrad: Can't broadcast.").
class MaybeBroadcast final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::binary_ops::MaybeBroadcast";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Adds a MaybeReduceSum node with inputs (gy, x_shape) whose recorded shape is x_shape.
tensor::Tensor maybe_reduce(tensor::Tensor x_shape, tensor::Tensor gy, graph::Graph& graph);

}  // namespace ketra_autograd::tensor_ops::binary_ops
