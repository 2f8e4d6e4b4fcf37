#include "ketra_autograd/gradient.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "ketra_autograd/detail/gradient_rules.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/reduction.hpp"
#include "ketra_autograd/tensor_ops/reduction_ops.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::gradient {

namespace {

using tensor::Tensor;

// Buffers of passes over graphs above this size are not kept for the next pass.
constexpr std::size_t kept_nodes = std::size_t{1} << 12;

[[noreturn]] void missing_record() { support::panic("Operation failed"); }

const tensor::InputList& backprop_inputs(const tensor::TensorInternal& node) {
  return node.backprop_inputs ? *node.backprop_inputs : node.inputs;
}

struct RankedNode {
  std::size_t id;
  std::size_t rank;
};

struct MarkFrame {
  std::size_t id;
  bool expanded;
};

// Buffers of a pass, handed on to the next pass on the thread.
struct PassScratch {
  std::vector<std::uint8_t> is_x;
  std::vector<MarkFrame> stack;
  std::vector<RankedNode> heap;
  // The node being differentiated: its inputs and their gradients.
  std::vector<Tensor> inputs;
  std::vector<std::optional<Tensor>> input_grads;

  bool recycle() noexcept {
    is_x.clear();
    stack.clear();
    heap.clear();
    inputs.clear();
    input_grads.clear();
    return is_x.capacity() <= kept_nodes;
  }
};

// One pass over one graph.
class BackwardPass {
 public:
  BackwardPass(graph::Context& ctx, std::span<const Tensor> xs) : ctx_(ctx), nodes_(ctx.num_nodes()), records_(nodes_) {
    scratch_->is_x.assign(nodes_, 0);
    for (const Tensor& x : xs) {
      if (&x.graph() == &ctx && x.id() < nodes_) scratch_->is_x[x.id()] = 1;
    }
  }

  void mark(std::span<const Tensor> ys);
  void seed(std::span<const Tensor> ys);
  void walk();
  GradientRecords take_records() { return std::move(records_); }

 private:
  bool is_relevant_leaf(std::size_t id) const { return ctx_.node(id).is_differentiable && scratch_->is_x[id] != 0; }
  GradientRecord& record(std::size_t id) {
    GradientRecord* found = records_.find(id);
    if (found == nullptr) missing_record();
    return *found;
  }
  void push(std::size_t id) {
    std::vector<RankedNode>& heap = scratch_->heap;
    heap.push_back(RankedNode{id, ctx_.node(id).topo_rank});
    std::push_heap(heap.begin(), heap.end(), by_rank);
  }
  static bool by_rank(const RankedNode& a, const RankedNode& b) { return a.rank < b.rank; }

  Tensor accumulated(GradientRecord& record);
  void differentiate(std::size_t id, Tensor gy);

  graph::Context& ctx_;
  std::size_t nodes_;  // the graph's size when the pass began
  GradientRecords records_;
  ketra_autograd::detail::Recycled<PassScratch> scratch_;
};

// Depth first with an explicit stack: a node's record is written once all its inputs
// have theirs, so relevance flows up from the xs.
void BackwardPass::mark(std::span<const Tensor> ys) {
  std::vector<MarkFrame>& stack = scratch_->stack;
  for (const Tensor& y : ys) stack.push_back(MarkFrame{y.id(), false});
  while (!stack.empty()) {
    // The top frame's fields are read and written one by one: a copy of the whole frame
    // would wait for the separate stores that wrote it.
    const std::size_t id = stack.back().id;
    const tensor::TensorInternal& node = ctx_.node(id);
    const tensor::InputList& inputs = backprop_inputs(node);
    if (!stack.back().expanded) {
      stack.back().expanded = true;
      for (const tensor::Input& input : inputs) {
        if (records_.find(input.id) != nullptr) continue;
        const tensor::TensorInternal& operand = ctx_.node(input.id);
        if (!operand.inputs.empty() && operand.is_differentiable) {
          stack.push_back(MarkFrame{input.id, false});
        } else {
          records_.insert(input.id, is_relevant_leaf(input.id));
        }
      }
      continue;
    }
    stack.pop_back();
    bool relevant = false;
    if (node.is_differentiable) {
      relevant = scratch_->is_x[id] != 0;
      for (const tensor::Input& input : inputs) relevant = record(input.id).is_relevant || relevant;
    }
    records_.insert(id, relevant);
  }
}

void BackwardPass::seed(std::span<const Tensor> ys) {
  const Tensor one = tensor_ops::scalar(1.0, ctx_);
  for (const Tensor& y : ys) record(y.id()).partial_gradients.push_back(one.id());
  for (const Tensor& y : ys) push(y.id());
}

// One tensor for a record's partials: the only one, or their AddN in arrival order.
Tensor sum_of_partials(const GradientRecord& rec, graph::Graph& graph) {
  if (rec.partial_gradients.size() == 1) return Tensor(graph, rec.partial_gradients[0]);
  std::vector<Tensor> partials;
  partials.reserve(rec.partial_gradients.size());
  for (std::size_t id : rec.partial_gradients) partials.emplace_back(graph, id);
  return tensor_ops::reduction::add_n(partials);
}

// The node's gradient; several partials are replaced by their one sum.
Tensor BackwardPass::accumulated(GradientRecord& rec) {
  const Tensor sum = sum_of_partials(rec, ctx_);
  rec.partial_gradients.clear();
  rec.partial_gradients.push_back(sum.id());
  return sum;
}

void BackwardPass::walk() {
  std::vector<RankedNode>& heap = scratch_->heap;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), by_rank);
    const std::size_t id = heap.back().id;
    heap.pop_back();
    GradientRecord& rec = record(id);
    if (rec.partial_gradients.empty()) continue;
    differentiate(id, accumulated(rec));
  }
}

void BackwardPass::differentiate(std::size_t id, Tensor gy) {
  // The record never moves, so the operation can be held while rules add nodes; the
  // input list is copied since builders grow the graph's tables.
  const tensor::TensorInternal& node = ctx_.node(id);
  const op::Op& op = node.get_op();
  std::vector<Tensor>& inputs = scratch_->inputs;
  std::vector<std::optional<Tensor>>& input_grads = scratch_->input_grads;
  inputs.clear();
  for (const tensor::Input& input : backprop_inputs(node)) inputs.emplace_back(ctx_, input.id);
  const Tensor y(ctx_, id);
  const detail::RuleChoice choice = detail::rule_for(op.name());
  input_grads.clear();
  if (choice.rule == detail::GradRule::OwnGrad) {
    op::GradientContext grad_ctx(std::span(&y, 1), inputs, ctx_, std::span(&gy, 1), input_grads);
    op.grad(grad_ctx);
  } else {
    // A name rule serves one input at a time, so inputs that would drop the result get
    // no nodes built for them.
    const detail::RuleSite site{ctx_, op, y, gy, inputs};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      input_grads.push_back(record(inputs[i].id()).is_relevant ? detail::apply_rule(choice, site, i) : std::nullopt);
    }
  }
  for (std::size_t j = 0; j < inputs.size() && j < input_grads.size(); ++j) {
    if (!input_grads[j]) continue;
    if (&input_grads[j]->graph() != &ctx_) support::panic("Detected tensors belonging to different graphs");
    const std::size_t input_id = inputs[j].id();
    GradientRecord& target = record(input_id);
    if (!target.is_relevant) continue;
    target.partial_gradients.push_back(input_grads[j]->id());
    if (target.partial_gradients.size() == 1 && !ctx_.node(input_id).inputs.empty()) push(input_id);
  }
}

// The gradient of an x the ys do not depend on: x·0, which is NaN where x is not finite.
Tensor unrelated(const Tensor& x, graph::Graph& ys_graph) {
  return tensor_ops::arithmetic::mul(x, tensor_ops::scalar(0.0, ys_graph));
}

// Zeros of x's known shape, for an x that every rule on the way passed nothing.
Tensor zeros_like_known(const Tensor& x) { return tensor_ops::convert_to_tensor(ArrayD::zeros(x.shape()), x.graph()); }

}  // namespace

bool detail::RecordList::recycle() noexcept {
  records.clear();
  return records.capacity() <= kept_nodes;
}

GradientRecords compute_gradients(std::span<const Tensor> ys, std::span<const Tensor> xs, graph::Context& ctx) {
  BackwardPass pass(ctx, xs);
  pass.mark(ys);
  pass.seed(ys);
  pass.walk();
  return pass.take_records();
}

}  // namespace ketra_autograd::gradient

namespace ketra_autograd::tensor_ops {

std::vector<Tensor> grad(std::span<const Tensor> ys, std::span<const Tensor> xs) {
  if (ys.empty()) support::panic("index out of bounds: the len is 0 but the index is 0");
  // Every graph is a context's: the run functions create nothing else.
  graph::Context& ctx = static_cast<graph::Context&>(ys.front().graph());
  // The gradient is that of the sum of all elements of all ys.
  std::vector<Tensor> sums;
  sums.reserve(ys.size());
  for (const Tensor& y : ys) {
    sums.push_back(tensor::TensorBuilder(ctx).append_input_with_selector(y).build(reduction_ops::ReduceSumAll{}));
  }
  gradient::GradientRecords records = gradient::compute_gradients(sums, xs, ctx);
  std::vector<Tensor> results;
  results.reserve(xs.size());
  for (const Tensor& x : xs) {
    const gradient::GradientRecord* record = records.find(x, ctx);
    if (record == nullptr || !record->is_relevant) {
      results.push_back(gradient::unrelated(x, ctx));
    } else if (record->partial_gradients.empty()) {
      results.push_back(gradient::zeros_like_known(x));
    } else {
      results.push_back(gradient::sum_of_partials(*record, ctx));
    }
  }
  return results;
}

}  // namespace ketra_autograd::tensor_ops
