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
  std::vector<const ArrayD*> values;         // the node's value, or null
  std::vector<std::vector<ArrayD>> outputs;  // everything the node's operation appended
  std::vector<std::uint8_t> marks;           // visited by the ordering; 2: last request seen
  std::vector<std::size_t> order;            // inputs before the nodes that use them
  std::vector<std::size_t> fed;              // ids that received a feed
  std::vector<std::pair<std::size_t, std::size_t>> stack;  // (node, next input to visit)
  std::vector<const ArrayD*> args;           // input values of the node being computed

  void fit(std::size_t nodes) {
    if (values.size() >= nodes) return;
    values.resize(nodes, nullptr);
    outputs.resize(nodes);
    marks.resize(nodes, 0);
  }

  // Every touched entry is either in the order, still on the stack (after a panic) or fed.
  void clear() {
    for (std::size_t id : order) {
      values[id] = nullptr;
      marks[id] = 0;
      outputs[id].clear();
    }
    for (const auto& [id, next] : stack) marks[id] = 0;
    for (std::size_t id : fed) values[id] = nullptr;
    order.clear();
    stack.clear();
    fed.clear();
    args.clear();
  }
};

namespace {

// Workspaces for graphs above this size are not kept for reuse.
constexpr std::size_t kept_workspace_nodes = 1 << 16;

std::vector<std::unique_ptr<Workspace>>& free_workspaces() {
  thread_local std::vector<std::unique_ptr<Workspace>> free;
  return free;
}

Workspace* acquire_workspace() {
  auto& free = free_workspaces();
  if (free.empty()) return new Workspace();
  Workspace* ws = free.back().release();
  free.pop_back();
  return ws;
}

void return_workspace(Workspace* ws) noexcept {
  std::unique_ptr<Workspace> owned(ws);
  owned->clear();
  if (owned->values.size() > kept_workspace_nodes) return;
  try {
    free_workspaces().push_back(std::move(owned));
  } catch (...) {
    // dropping the workspace only costs its reuse
  }
}

}  // namespace
}  // namespace detail

Evaluation::Evaluation(graph::Context& ctx) : ctx_(&ctx), ws_(detail::acquire_workspace()) {
  ws_->fit(ctx.num_nodes());
}

Evaluation::~Evaluation() { detail::return_workspace(ws_); }

const ArrayD* Evaluation::value(std::size_t id) const noexcept {
  return id < ws_->values.size() ? ws_->values[id] : nullptr;
}

std::span<ArrayD> Evaluation::outputs(std::size_t id) noexcept {
  if (id >= ws_->outputs.size()) return {};
  return ws_->outputs[id];
}

std::optional<error::EvalError> Evaluation::compute(std::span<const tensor::Tensor> requests,
                                                    std::span<const Feed> feeds) {
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
        return error::EvalError::variable_error("Placeholder not found: " + support::debug_str(feed.key.name));
      }
    }
    // A feed for an id outside the graph is never read.
    if (id < ws_->values.size()) {
      ws_->values[id] = feed.array;  // a later feed for the same node wins
      ws_->fed.push_back(id);
    }
  }
  if (requests.empty()) return std::nullopt;
  order_nodes(requests);
  for (std::size_t id : ws_->order) {
    if (ws_->values[id] == nullptr) compute_node(id);
  }
  return std::nullopt;
}

// Depth-first post-order: the first operand's subtree before the second's, each node once.
void Evaluation::order_nodes(std::span<const tensor::Tensor> requests) {
  auto& marks = ws_->marks;
  auto& stack = ws_->stack;
  const std::size_t count = ctx_->num_nodes();
  const auto visit = [&](std::size_t id) {
    if (id >= count) support::panic("node id {} is not in a graph of {} nodes", id, count);
    if (marks[id]) return;
    marks[id] = 1;
    stack.emplace_back(id, 0);
  };
  for (const tensor::Tensor& request : requests) {
    visit(request.id());
    while (!stack.empty()) {
      const auto [id, next] = stack.back();
      const tensor::InputList& inputs = ctx_->node(id).inputs;
      if (next < inputs.size()) {
        ++stack.back().second;
        visit(inputs[next].id);
      } else {
        ws_->order.push_back(id);
        stack.pop_back();
      }
    }
  }
}

void Evaluation::compute_node(std::size_t id) {
  const tensor::TensorInternal& node = ctx_->node(id);
  if (node.variable_id) {
    // Read in place: nothing writes the environment while an evaluation runs.
    ws_->values[id] = ctx_->env().array_cell(*node.variable_id);
    return;
  }
  if (node.placeholder_name) return;  // unfed
  auto& args = ws_->args;
  args.clear();
  for (const tensor::Input& input : node.inputs) {
    const ArrayD* value = ws_->values[input.id];
    if (value == nullptr) return;
    args.push_back(value);
  }
  std::vector<ArrayD>& outputs = ws_->outputs[id];
  op::ComputeContext compute_ctx(args, outputs);
  if (node.get_op().compute(compute_ctx) && !outputs.empty()) {
    ws_->values[id] = &outputs.front();
  } else {
    outputs.clear();
  }
}

std::vector<EvalResult> Evaluation::first_outputs(std::span<const tensor::Tensor> requests) {
  // Mark the last request of every node: its own output can be moved out, not copied.
  std::vector<bool> last(requests.size(), false);
  for (std::size_t i = requests.size(); i-- > 0;) {
    std::uint8_t& mark = ws_->marks[requests[i].id()];
    last[i] = mark == 1;
    mark = 2;
  }
  std::vector<EvalResult> results;
  results.reserve(requests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const std::size_t id = requests[i].id();
    const ArrayD* value = ws_->values[id];
    if (value == nullptr) {
      results.emplace_back(std::unexpected(error::EvalError::op_error(
          error::OpError::runtime_error(fmt::format("Failed to compute tensor {}", id)))));
    } else if (last[i] && !ws_->outputs[id].empty() && value == &ws_->outputs[id].front()) {
      results.emplace_back(std::move(ws_->outputs[id].front()));
    } else {
      results.emplace_back(*value);
    }
  }
  return results;
}

std::vector<EvalResult> Evaluator::run() && {
  Evaluation evaluation(*ctx_);
  const std::span<const Feed> feeds = feeder_ ? feeder_->feeds() : std::span<const Feed>();
  if (auto unknown = evaluation.compute(buf_, feeds)) {
    std::vector<EvalResult> single;
    single.emplace_back(std::unexpected(std::move(*unknown)));
    return single;
  }
  return evaluation.first_outputs(buf_);
}

EvalResult Evaluator::eval(tensor::Tensor tensor) && {
  buf_.push_back(tensor);
  std::vector<EvalResult> results = std::move(*this).run();
  return std::move(results.front());
}

}  // namespace ketra_autograd::evaluation

namespace ketra_autograd::tensor {

std::expected<ArrayD, error::EvalError> Tensor::eval(graph::Context& ctx) const {
  if (graph_ != static_cast<graph::Graph*>(&ctx)) support::panic("Detected tensors belonging to different graphs");
  return evaluation::Evaluator(ctx).eval(*this);
}

}  // namespace ketra_autograd::tensor
