#pragma once
// The interface of every operation, the context through which compute reads its inputs
// and hands back its outputs, and the context through which grad builds gradients.
#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "ketra_autograd/error.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::op {

class ComputeContext;
class GradientContext;

// An operation seen as a value of a known type, for the few operations whose fields the
// gradient pass reads.
class AnyOp {
 public:
  template <typename T>
  static AnyOp of(const T& op) noexcept {
    return AnyOp(typeid(T), &op);
  }
  // The operation as a T, or null when it is of another type.
  template <typename T>
  const T* downcast() const noexcept {
    return *type_ == typeid(T) ? static_cast<const T*>(op_) : nullptr;
  }

 private:
  AnyOp(const std::type_info& type, const void* op) noexcept : type_(&type), op_(op) {}

  const std::type_info* type_;
  const void* op_;
};

using ComputeResult = std::expected<void, error::OpError>;

class Op {
 public:
  virtual ~Op() = default;
  // The full type path, e.g. "ketra_autograd::tensor_ops::array_ops::Reshape"; kept once, in `op_name`.
  virtual std::string_view name() const = 0;
  // Appends the outputs on success; the first output is the node's value.
  virtual ComputeResult compute(ComputeContext& ctx) const = 0;
  // Sets one optional gradient tensor per input.
  virtual void grad(GradientContext& ctx) const = 0;
  // Only operations whose fields the gradient pass reads answer with themselves.
  virtual std::optional<AnyOp> as_any() const { return std::nullopt; }
};

// What compute sees: read-only views of its input values, in input order, and where its
// outputs go: the first to `first`, any further ones to `further`. Inputs are not copied.
class ComputeContext {
 public:
  ComputeContext(std::span<const ArrayD* const> inputs, ArrayD& first, std::vector<ArrayD>& further) noexcept
      : inputs_(inputs), first_(&first), further_(&further) {}

  // Input i, or the process-wide 0-d 0.0 when the node has no input i.
  const ArrayD& input(std::size_t i) const noexcept { return i < inputs_.size() ? *inputs_[i] : dummy_scalar(); }
  std::span<const ArrayD* const> inputs() const noexcept { return inputs_; }
  std::size_t num_inputs() const noexcept { return inputs_.size(); }
  void append_output(ArrayD output) {
    if (has_first_) {
      further_->push_back(std::move(output));
    } else {
      *first_ = std::move(output);
      has_first_ = true;
    }
  }
  std::size_t num_outputs() const noexcept { return has_first_ ? 1 + further_->size() : 0; }

  // The shared read-only 0-d array holding 0.0 (DUMMY_SCALAR), created on first use.
  static const ArrayD& dummy_scalar() noexcept;

 private:
  std::span<const ArrayD* const> inputs_;
  ArrayD* first_;
  std::vector<ArrayD>* further_;
  bool has_first_ = false;
};

// What grad sees: the node's output and input tensors, the gradients arriving at the
// outputs, the context to build nodes in, and the input gradients being filled.
class GradientContext {
 public:
  GradientContext(std::span<const tensor::Tensor> outputs, std::span<const tensor::Tensor> inputs,
                  graph::Context& context, std::span<const tensor::Tensor> output_grads,
                  std::vector<std::optional<tensor::Tensor>>& input_grads, std::size_t k = 0) noexcept
      : outputs_(outputs),
        inputs_(inputs),
        context_(&context),
        output_grads_(output_grads),
        input_grads_(&input_grads),
        k_(k) {}

  // y: output k of the node.
  tensor::Tensor output() const;
  // gy: the gradient arriving at output k.
  tensor::Tensor output_grad() const;
  // Input i of the node; panics when the node has no input i.
  tensor::Tensor input(std::size_t i) const;
  std::size_t num_inputs() const noexcept { return inputs_.size(); }
  graph::Context& context() const noexcept { return *context_; }
  graph::Graph& graph() const noexcept;
  // Sets the gradient of input i, first filling missing lower entries with none.
  void set_input_grad(std::size_t i, std::optional<tensor::Tensor> gradient);

 private:
  std::span<const tensor::Tensor> outputs_;
  std::span<const tensor::Tensor> inputs_;
  graph::Context* context_;
  std::span<const tensor::Tensor> output_grads_;
  std::vector<std::optional<tensor::Tensor>>* input_grads_;
  std::size_t k_;
};

}  // namespace ketra_autograd::op
