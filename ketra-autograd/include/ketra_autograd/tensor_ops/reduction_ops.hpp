#pragma once
// Reductions over axes and over whole arrays, and the operations that spread a reduced
// gradient back over the reduced input's shape. None returns an error: violated
// invariants (an axis at or beyond the rank, an unreadable or unbroadcastable gradient)
// panic.
//
// Axes arrive as a double tensor: with sparse_axes clear an index list (negative entries
// count from the end; see ndarray_ext::normalize_negative_axes), with it set a mask of
// 1.0 entries (ndarray_ext::sparse_to_dense).
#include <string_view>

#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::reduction_ops {

// The folding shared by ReduceSum and ReduceMean: x summed over the axes, folding from
// the largest axis down, each sum starting at 0.0 and adding in index order. A
// scalar-like x or an empty axes list gives a copy of x (shape [1] stays [1]); keep_dims
// puts a size-1 axis back where each one was folded.
ArrayD compute_reduce_sum(const ArrayD& x, Dims axes, bool keep_dims);

// The flags and axis decoding common to the reductions over axes: inputs (x, axes).
class AxisReduction : public op::Op {
 public:
  AxisReduction(bool keep_dims, bool sparse_axes) noexcept : keep_dims_(keep_dims), sparse_axes_(sparse_axes) {}
  bool keep_dims() const noexcept { return keep_dims_; }
  bool sparse_axes() const noexcept { return sparse_axes_; }

 protected:
  Dims decode_axes(const ArrayD& axes, std::size_t rank) const;
  // ReduceGradCommon(gy, shape(x), axes): gy spread back over x's shape.
  tensor::Tensor spread_back(op::GradientContext& ctx, tensor::Tensor gy) const;

 private:
  bool keep_dims_;
  bool sparse_axes_;
};

// (x, axes) -> the sum of x over the axes.
class ReduceSum final : public AxisReduction {
 public:
  using AxisReduction::AxisReduction;
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::reduction_ops::ReduceSum";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, axes) -> the sum times 1 / count, the count of reduced elements multiplied up in
// single precision (exact up to 2^24); an empty reduced axis gives NaN.
class ReduceMean final : public AxisReduction {
 public:
  using AxisReduction::AxisReduction;
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::reduction_ops::ReduceMean";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, axes) -> the product of x over the axes, folded like the sum from 1.0.
class ReduceProd final : public AxisReduction {
 public:
  using AxisReduction::AxisReduction;
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::reduction_ops::ReduceProd";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// x -> the 0-d sum of all elements, in index order (0.0 when x is empty).
class ReduceSumAll final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::reduction_ops::ReduceSumAll";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// x -> the 0-d sum of all elements, in index order (0.0 when x is empty).
class ReduceSumToScalar final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::reduction_ops::ReduceSumToScalar";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (gy, shape tensor) -> an array of that shape filled with gy's first element. An empty
// gy gives IncompatibleShape: there is no value to spread.
class ReduceSumToScalarGrad final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::reduction_ops::ReduceSumToScalarGrad";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (gy, x's shape tensor, axes) -> gy broadcast back to x's shape. With reinsert_axes
// (the reduction dropped its axes) size-1 axes are first put back at the reduced
// positions, decoded against x's rank; without it gy still has them and is broadcast as
// it is. A gy that cannot be laid out so panics with "Operation failed".
class ReduceGradCommon final : public op::Op {
 public:
  ReduceGradCommon(bool reinsert_axes, bool sparse_axes) noexcept
      : reinsert_axes_(reinsert_axes), sparse_axes_(sparse_axes) {}
  bool reinsert_axes() const noexcept { return reinsert_axes_; }
  bool sparse_axes() const noexcept { return sparse_axes_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::reduction_ops::ReduceGradCommon";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  bool reinsert_axes_;
  bool sparse_axes_;
};

}  // namespace ketra_autograd::tensor_ops::reduction_ops
