#pragma once
// Operations that rearrange or select array elements, the shape inference of binary
// operations and the n-ary sum. Sizes, axes, indices and target shapes arrive as double
// tensors and are read entry by entry, row-major.
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/small_vec.hpp"

namespace ketra_autograd::tensor_ops::array_ops {

// One slice element per axis of the sliced array.
using SliceList = SmallVec<SliceElem, 2>;

// x -> the 1-D array of x's dimensions.
class Shape final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::Shape";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, target shape) -> x's elements in the target shape; one entry -1 is inferred.
class Reshape final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::Reshape";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, axes) -> x without the listed size-1 axes.
class Squeeze final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::Squeeze";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, axes) -> x with size-1 axes inserted.
class ExpandDims final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::ExpandDims";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// x -> the region selected by the slice list.
class Slice final : public op::Op {
 public:
  explicit Slice(SliceList indices) noexcept : indices_(std::move(indices)) {}
  const SliceList& indices() const noexcept { return indices_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::Slice";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
  std::optional<op::AnyOp> as_any() const override { return op::AnyOp::of(*this); }

 private:
  SliceList indices_;
};

// (x, gy) -> zeros of x's shape with gy written into the sliced region.
class SliceGrad final : public op::Op {
 public:
  explicit SliceGrad(SliceList indices) noexcept : indices_(std::move(indices)) {}
  const SliceList& indices() const noexcept { return indices_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::SliceGrad";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  SliceList indices_;
};

// (lhs shape, rhs shape) -> the shape a binary operation's result will have, read from
// two shape tensors (negative entries: unknown sizes). An empty or [1] side yields the
// other side's tensor as it stands; otherwise entry i is the larger size, an unknown
// size giving way to a known one, with no compatibility check ([3] and [4] give [4]).
// Sides of different lengths give
// IncompatibleShape("InferBinOpShape: rank of lhs and rhs must match.").
class InferBinOpShape final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::InferBinOpShape";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x0, x1, ...) -> their sum: the first two broadcast against each other, every later
// one broadcast onto that sum's shape. No inputs, or shapes that do not broadcast, panic.
class AddN final : public op::Op {
 public:
  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::AddN";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (indices, params) -> the sub-arrays of params at the indices along `axis` (negative:
// counted from the end of params' rank). Output shape: params' dimensions before the
// axis, the indices' shape, params' dimensions after it. Index entries are truncated;
// with normalize_negative_indices a negative entry counts from the end of the axis and
// an unreadable one (NaN) reads as 0, without it an unreadable entry panics with
// "Invalid index value". An axis or index out of range panics.
class Gather final : public op::Op {
 public:
  Gather(std::int64_t axis, bool normalize_negative_indices) noexcept
      : axis_(axis), normalize_negative_indices_(normalize_negative_indices) {}
  std::int64_t axis() const noexcept { return axis_; }
  bool normalize_negative_indices() const noexcept { return normalize_negative_indices_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::Gather";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  std::int64_t axis_;
  bool normalize_negative_indices_;
};

// (indices, params, gy) -> zeros of params' shape with each sub-array of gy added at the
// position along `axis` that Gather, with the same normalize_negative_indices, read it
// from: indices are read, and refused, exactly as Gather reads them. Repeated indices
// accumulate; gy of another element count panics with "Operation failed".
class GatherGrad final : public op::Op {
 public:
  GatherGrad(std::int64_t axis, bool normalize_negative_indices) noexcept
      : axis_(axis), normalize_negative_indices_(normalize_negative_indices) {}
  std::int64_t axis() const noexcept { return axis_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::array_ops::GatherGrad";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  std::int64_t axis_;
  bool normalize_negative_indices_;
};

}  // namespace ketra_autograd::tensor_ops::array_ops
