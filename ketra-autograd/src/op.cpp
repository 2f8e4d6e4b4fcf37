#include "ketra_autograd/op.hpp"

#include "ketra_autograd/graph.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::op {

const ArrayD& ComputeContext::dummy_scalar() noexcept {
  // Never destroyed: a thread still evaluating while the process exits may use it.
  static const ArrayD& dummy = *new ArrayD(ArrayD::scalar(0.0));
  return dummy;
}

namespace {

const tensor::Tensor& entry(std::span<const tensor::Tensor> list, std::size_t i, const char* what) {
  if (i >= list.size()) support::panic("gradient context: {} {} asked for, {} present", what, i, list.size());
  return list[i];
}

}  // namespace

tensor::Tensor GradientContext::output() const { return entry(outputs_, k_, "output"); }
tensor::Tensor GradientContext::output_grad() const { return entry(output_grads_, k_, "output gradient"); }
tensor::Tensor GradientContext::input(std::size_t i) const { return entry(inputs_, i, "input"); }
graph::Graph& GradientContext::graph() const noexcept { return *context_; }

void GradientContext::set_input_grad(std::size_t i, std::optional<tensor::Tensor> gradient) {
  if (input_grads_->size() <= i) input_grads_->resize(i + 1);
  (*input_grads_)[i] = gradient;
}

}  // namespace ketra_autograd::op
