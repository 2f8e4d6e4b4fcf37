#pragma once
// Constant sources: a 0-d scalar and an owned array.
#include <string_view>
#include <utility>

#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/op.hpp"

namespace ketra_autograd::tensor_ops::const_gen_ops {

class Scalar final : public op::Op {
 public:
  explicit Scalar(double value) noexcept : value_(value) {}
  double value() const noexcept { return value_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::const_gen_ops::Scalar<f64>";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  double value_;
};

class ConvertToTensor final : public op::Op {
 public:
  explicit ConvertToTensor(ArrayD array) noexcept : array_(std::move(array)) {}
  const ArrayD& array() const noexcept { return array_; }

  static constexpr std::string_view op_name = "ketra_autograd::tensor_ops::const_gen_ops::ConvertToTensor<f64>";
  std::string_view name() const override { return op_name; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

 private:
  ArrayD array_;
};

}  // namespace ketra_autograd::tensor_ops::const_gen_ops
