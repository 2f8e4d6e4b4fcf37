#pragma once
// Operations that rearrange an array without changing its values. Sizes, axes and
// target shapes arrive as double tensors and are read entry by entry, row-major.
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
  std::string_view name() const override { return "ketra_autograd::tensor_ops::array_ops::Shape"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, target shape) -> x's elements in the target shape; one entry -1 is inferred.
class Reshape final : public op::Op {
 public:
  std::string_view name() const override { return "ketra_autograd::tensor_ops::array_ops::Reshape"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, axes) -> x without the listed size-1 axes.
class Squeeze final : public op::Op {
 public:
  std::string_view name() const override { return "ketra_autograd::tensor_ops::array_ops::Squeeze"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// (x, axes) -> x with size-1 axes inserted.
class ExpandDims final : public op::Op {
 public:
  std::string_view name() const override { return "ketra_autograd::tensor_ops::array_ops::ExpandDims"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// x -> the region selected by the slice list.
class Slice final : public op::Op {
 public:
  explicit Slice(SliceList indices) noexcept : indices_(std::move(indices)) {}
  const SliceList& indices() const noexcept { return indices_; }

  std::string_view name() const override { return "ketra_autograd::tensor_ops::array_ops::Slice"; }
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

  std::string_view name() const override { return "ketra_autograd::tensor_ops::array_ops::SliceGrad"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  SliceList indices_;
};

}  // namespace ketra_autograd::tensor_ops::array_ops
