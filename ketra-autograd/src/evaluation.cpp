#include "ketra_autograd/evaluation.hpp"

#include <memory>
#include <utility>

#include <fmt/format.h>

#include "ketra_autograd/op.hpp"
#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::evaluation {

namespace detail {

// Scratch of one evaluation, indexed by node id. Entries are cleared after use, so a
// workspace is handed from one evaluation to the next instead of being reallocated.
struct Workspace {
  struct Slot {
    const ArrayD* value = nullptr;  // the node's value: its first output, a feed, a variable
    ArrayD first_output;
  };
  std::vector<Slot> slots;
  // Outputs beyond the first, of the few operations that append several: side by side,
  // each node's in one run that further_runs locates.
  std::vector<ArrayD> further_outputs;
  struct FurtherRun {
    std::size_t id, begin, count;
  };
  std::vector<FurtherRun> further_runs;
  std::vector<ArrayD> appended;  // outputs beyond the first of the running compute
  // Readers not yet computed (+1 for a requested node); nonzero exactly for the nodes
  // the ordering has reached.
  std::vector<std::uint32_t> pending_uses;
  std::vector<std::uint8_t> last_request;  // set only while picking each node's last request
  std::vector<std::size_t> order;          // inputs before the nodes that use them
  std::vector<std::size_t> fed;            // ids that received a feed
  struct Frame {
    const std::uint32_t* next;  // the node's inputs not yet walked
    const std::uint32_t* end;
    std::size_t id;
  };
  std::vector<Frame> stack;
  std::vector<const ArrayD*> args;  // input values of a node with many inputs

  void fit(std::size_t nodes) {
    if (slots.size() >= nodes) return;
    slots.resize(nodes);
    pending_uses.resize(nodes, 0);
    last_request.resize(nodes, 0);
  }

  // After a normal end every touched entry is in the order or fed. (A workspace left by a
  // panic is discarded instead.) Workspaces for graphs above 65536 nodes are not kept.
  bool recycle() noexcept {
    for (std::size_t id : order) {
      slots[id].value = nullptr;
      slots[id].first_output = ArrayD();
      pending_uses[id] = 0;
    }
    for (std::size_t id : fed) slots[id].value = nullptr;
    order.clear();
    fed.clear();
    further_outputs.clear();
    further_runs.clear();
    appended.clear();
    return slots.size() <= std::size_t{1} << 16;
  }
};

}  // namespace detail

Evaluation::Evaluation(graph::Context& ctx) : ctx_(&ctx) {}

Evaluation::~Evaluation() {
  if (!clean_) ws_.discard();
}

void Evaluation::require_own(const tensor::Tensor& tensor) const {
  if (&tensor.graph() != static_cast<const graph::Graph*>(ctx_)) {
    support::panic("Detected tensors belonging to different graphs");
  }
}

void Evaluation::require_values() const {
  if (taken_) support::panic("the values of this evaluation were taken by take_first_outputs");
}

const ArrayD* Evaluation::value(std::size_t id) const {
  require_values();
  return id < ws_->slots.size() ? ws_->slots[id].value : nullptr;
}

const ArrayD* NodeOutputs::operator[](std::size_t i) const {
  if (i >= size()) support::panic("output {} of a node with {} outputs was asked for", i, size());
  return i == 0 ? first_ : &further_[i - 1];
}

NodeOutputs Evaluation::outputs(std::size_t id) const {
  require_values();
  if (id >= ws_->slots.size() || ws_->slots[id].value != &ws_->slots[id].first_output) return {};
  for (const detail::Workspace::FurtherRun& run : ws_->further_runs) {
    if (run.id == id)
      return {ws_->slots[id].first_output, std::span(ws_->further_outputs).subspan(run.begin, run.count)};
  }
  return {ws_->slots[id].first_output, {}};
}

std::optional<error::EvalError> Evaluation::compute(std::span<const tensor::Tensor> requests,
                                                    std::span<const Feed> feeds) {
  clean_ = false;
  ws_->fit(ctx_->num_nodes());  // the graph may have grown since the evaluation was made
  for (const Feed& feed : feeds) {
    std::size_t id = feed.key.id;
    if (feed.key.kind == PlaceholderKey::Kind::Name) {
      id = ctx_->num_nodes();
      for (std::size_t candidate = 0; candidate < ctx_->num_nodes(); ++candidate) {
        const auto& name = ctx_->node(candidate).placeholder_name;
        if (name && *name == feed.key.name) {
          id = candidate;
          break;
        }
      }
      if (id == ctx_->num_nodes()) {
        clean_ = true;
        return error::EvalError::variable_error("Placeholder not found: " + support::debug_str(feed.key.name));
      }
    }
    // A feed for an id outside the graph is never read.
    if (id < ws_->slots.size()) {
      ws_->slots[id].value = feed.array;  // a later feed for the same node wins
      ws_->fed.push_back(id);
    }
  }
  if (!requests.empty()) {
    order_nodes(requests);
    for (std::size_t id : ws_->order) {
      const std::span<const std::uint32_t> inputs = ctx_->input_ids(id);
      if (ws_->slots[id].value == nullptr) compute_node(id, inputs);
      release_spent(inputs);
    }
  }
  clean_ = true;
  return std::nullopt;
}

// An intermediate value nobody will read again goes back to the buffer pool at once, so
// the arrays of one evaluation stay few and warm in cache.
void Evaluation::release_spent(std::span<const std::uint32_t> inputs) {
  for (std::uint32_t input : inputs) {
    if (--ws_->pending_uses[input] > 0) continue;
    detail::Workspace::Slot& slot = ws_->slots[input];
    if (slot.value != &slot.first_output) continue;  // fed, variable or without value
    slot.value = nullptr;
    slot.first_output = ArrayD();
  }
}

// Depth-first post-order: the first operand's subtree before the second's, each node
// once. Walking past an input edge counts one pending reader of that input, so a nonzero
// count also marks a node as reached. The current frame stays in locals; only the frames
// of its ancestors are on the stack.
void Evaluation::order_nodes(std::span<const tensor::Tensor> requests) {
  auto& uses = ws_->pending_uses;
  auto& stack = ws_->stack;
  stack.clear();
  for (const tensor::Tensor& request : requests) {
    require_own(request);
    std::size_t id = request.id();
    if (id >= ctx_->num_nodes()) support::panic("node id {} is not in a graph of {} nodes", id, ctx_->num_nodes());
    if (uses[id]++ > 0) continue;  // a requested value is kept to the end
    std::span<const std::uint32_t> inputs = ctx_->input_ids(id);
    const std::uint32_t* next = inputs.data();
    const std::uint32_t* end = next + inputs.size();
    while (true) {
      while (next != end) {
        const std::uint32_t input = *next++;
        if (uses[input]++ > 0) continue;
        stack.push_back({next, end, id});
        id = input;
        inputs = ctx_->input_ids(id);
        next = inputs.data();
        end = next + inputs.size();
      }
      ws_->order.push_back(id);
      if (stack.empty()) break;
      const detail::Workspace::Frame& parent = stack.back();
      next = parent.next;
      end = parent.end;
      id = parent.id;
      stack.pop_back();
    }
  }
}

void Evaluation::compute_node(std::size_t id, std::span<const std::uint32_t> inputs) {
  const tensor::TensorInternal& node = ctx_->node(id);
  auto& slots = ws_->slots;
  if (node.variable_id) {
    // Read in place: nothing writes the environment while an evaluation runs.
    slots[id].value = ctx_->env().array_cell(*node.variable_id);
    return;
  }
  if (node.placeholder_name) return;  // unfed
  // Input values: on the stack for the usual few inputs.
  constexpr std::size_t few = 8;
  const ArrayD* few_args[few];
  if (inputs.size() > few) ws_->args.resize(inputs.size());
  const ArrayD** args = inputs.size() > few ? ws_->args.data() : few_args;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    args[i] = slots[inputs[i]].value;
    if (args[i] == nullptr) return;
  }
  ArrayD& first = slots[id].first_output;
  std::vector<ArrayD>& further = ws_->appended;
  further.clear();
  op::ComputeContext compute_ctx(std::span<const ArrayD* const>(args, inputs.size()), first, further);
  if (!node.get_op().compute(compute_ctx) || compute_ctx.num_outputs() == 0) {
    first = ArrayD();  // outputs appended before a failure are dropped
    return;
  }
  slots[id].value = &first;
  if (further.empty()) return;
  ws_->further_runs.push_back({id, ws_->further_outputs.size(), further.size()});
  for (ArrayD& output : further) ws_->further_outputs.push_back(std::move(output));
}

std::vector<EvalResult> Evaluation::first_outputs(std::span<const tensor::Tensor> requests) {
  return results(requests, false);
}

std::vector<EvalResult> Evaluation::take_first_outputs(std::span<const tensor::Tensor> requests) {
  std::vector<EvalResult> taken = results(requests, true);
  taken_ = true;
  return taken;
}

// The workspace marks stay set only inside this call, whatever ids the requests hold.
std::vector<bool> Evaluation::last_requests(std::span<const tensor::Tensor> requests) {
  std::vector<std::uint8_t>& seen = ws_->last_request;
  std::vector<bool> last(requests.size(), false);
  for (std::size_t i = requests.size(); i-- > 0;) {
    const std::size_t id = requests[i].id();
    if (id >= seen.size()) continue;  // not computed here: nothing to move
    last[i] = seen[id] == 0;
    seen[id] = 1;
  }
  for (const tensor::Tensor& request : requests) {
    if (request.id() < seen.size()) seen[request.id()] = 0;
  }
  return last;
}

std::vector<EvalResult> Evaluation::results(std::span<const tensor::Tensor> requests, bool take) {
  require_values();
  for (const tensor::Tensor& request : requests) require_own(request);
  const std::vector<bool> movable = take ? last_requests(requests) : std::vector<bool>(requests.size(), false);
  std::vector<EvalResult> results;
  results.reserve(requests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const std::size_t id = requests[i].id();
    const ArrayD* value = id < ws_->slots.size() ? ws_->slots[id].value : nullptr;
    if (value == nullptr) {
      results.emplace_back(std::unexpected(
          error::EvalError::op_error(error::OpError::runtime_error(fmt::format("Failed to compute tensor {}", id)))));
    } else if (movable[i] && value == &ws_->slots[id].first_output) {
      results.emplace_back(std::move(ws_->slots[id].first_output));
    } else {
      results.emplace_back(*value);
    }
  }
  return results;
}

std::vector<EvalResult> Evaluator::run() {
  Evaluation evaluation(*ctx_);
  const std::span<const Feed> feeds = feeder_ ? feeder_->feeds() : std::span<const Feed>();
  if (auto unknown = evaluation.compute(buf_, feeds)) {
    std::vector<EvalResult> single;
    single.emplace_back(std::unexpected(std::move(*unknown)));
    return single;
  }
  return evaluation.take_first_outputs(buf_);
}

EvalResult Evaluator::eval(tensor::Tensor tensor) {
  buf_.push_back(tensor);
  std::vector<EvalResult> results = run();
  return std::move(results.front());
}

}  // namespace ketra_autograd::evaluation

namespace ketra_autograd::tensor {

std::expected<ArrayD, error::EvalError> Tensor::eval(graph::Context& ctx) const {
  return evaluation::Evaluator(ctx).eval(*this);  // the evaluation refuses another graph's tensor
}

}  // namespace ketra_autograd::tensor
