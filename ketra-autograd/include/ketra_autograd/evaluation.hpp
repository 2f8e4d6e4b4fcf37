#pragma once
// Evaluation of requested tensors: the nodes they depend on are ordered inputs-first and
// computed once each, with placeholders taking fed arrays and variables the environment's
// current arrays.
#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "ketra_autograd/detail/borrowed_name.hpp"
#include "ketra_autograd/detail/recycled.hpp"
#include "ketra_autograd/error.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/small_vec.hpp"
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::evaluation {

// A feed names its node by placeholder name or directly by node id.
struct PlaceholderKey {
  enum class Kind : std::uint8_t { Name, ID };

  // The key keeps a view of the name: it must outlive the evaluation (no temporary string).
  static PlaceholderKey by_name(std::string_view name) noexcept { return {Kind::Name, name, 0}; }
  template <ketra_autograd::detail::TemporaryString S>
  static PlaceholderKey by_name(S&& name) = delete;
  static PlaceholderKey by_id(std::size_t id) noexcept { return {Kind::ID, {}, id}; }

  Kind kind;
  std::string_view name;
  std::size_t id;
};

// A fed array; the caller keeps it alive until the evaluation ends.
struct Feed {
  PlaceholderKey key;
  const ArrayD* array;
};

class Feeder {
 public:
  // Keeps the array's address: the array must outlive the evaluation, so temporaries are refused.
  Feeder& push(PlaceholderKey key, const ArrayD& array) {
    feeds_.push_back(Feed{key, &array});
    return *this;
  }
  Feeder& push(PlaceholderKey key, const ArrayD&& array) = delete;
  std::span<const Feed> feeds() const noexcept { return feeds_; }

 private:
  SmallVec<Feed, 4> feeds_;  // a step's few feeds stay off the heap
};

using EvalResult = std::expected<ArrayD, error::EvalError>;

// The outputs of one computed node in the order its operation appended them; empty for a
// node without any. Valid while its evaluation keeps its values.
class NodeOutputs {
 public:
  NodeOutputs() = default;
  NodeOutputs(const ArrayD& first, std::span<const ArrayD> further) noexcept : first_(&first), further_(further) {}

  std::size_t size() const noexcept { return first_ == nullptr ? 0 : 1 + further_.size(); }
  bool empty() const noexcept { return first_ == nullptr; }
  // Output i; panics when there is no output i.
  const ArrayD* operator[](std::size_t i) const;

 private:
  const ArrayD* first_ = nullptr;
  std::span<const ArrayD> further_;
};

namespace detail {
struct Workspace;
}

// One evaluation over a context's graph. A node's value is its first output. Every output
// of a requested node stays available until the evaluation is dropped or its values are
// taken; values of other nodes are released once the last node reading them is computed.
// A tensor of another graph panics with "Detected tensors belonging to different graphs".
class Evaluation {
 public:
  explicit Evaluation(graph::Context& ctx);
  Evaluation(const Evaluation&) = delete;
  Evaluation& operator=(const Evaluation&) = delete;
  ~Evaluation();

  // Computes the nodes the requested tensors depend on. Returns the error of a feed whose
  // name no placeholder has; nothing is computed then.
  std::optional<error::EvalError> compute(std::span<const tensor::Tensor> requests, std::span<const Feed> feeds);
  // The value of a requested node, or null when it got none. Panics once the values are taken.
  const ArrayD* value(std::size_t id) const;
  // All outputs a requested node's operation appended (empty for fed, variable and failed
  // nodes, and for nodes this evaluation did not compute). Panics once the values are taken.
  NodeOutputs outputs(std::size_t id) const;
  // One result per request: a copy of the node's value, or "Failed to compute tensor {id}"
  // (also for a node this evaluation did not compute). Panics once the values are taken.
  std::vector<EvalResult> first_outputs(std::span<const tensor::Tensor> requests);
  // The same results with each value moved out of its last request instead of copied;
  // value, outputs and the results panic afterwards.
  std::vector<EvalResult> take_first_outputs(std::span<const tensor::Tensor> requests);

 private:
  void order_nodes(std::span<const tensor::Tensor> requests);
  void compute_node(std::size_t id, std::span<const std::uint32_t> inputs);
  // Releases the values of the inputs that no later node reads.
  void release_spent(std::span<const std::uint32_t> inputs);
  void require_own(const tensor::Tensor& tensor) const;
  void require_values() const;
  // One result per request; with `take`, the last request of a computed node moves its value out.
  std::vector<EvalResult> results(std::span<const tensor::Tensor> requests, bool take);
  std::vector<bool> last_requests(std::span<const tensor::Tensor> requests);

  graph::Context* ctx_;
  ketra_autograd::detail::Recycled<detail::Workspace> ws_;
  bool clean_ = true;   // false while computing: a panic leaves the workspace unusable
  bool taken_ = false;  // the values were moved out by take_first_outputs
};

class Evaluator {
 public:
  explicit Evaluator(graph::Context& ctx) noexcept : ctx_(&ctx) {}

  Evaluator& push(tensor::Tensor tensor) {
    buf_.push_back(tensor);
    return *this;
  }
  Evaluator& set_feeder(Feeder feeder) {
    feeder_ = std::move(feeder);
    return *this;
  }
  // One result per requested tensor, in request order; a single VariableError when a
  // feed names an unknown placeholder.
  std::vector<EvalResult> run();
  // The result of the tensor appended to the requests (its own when there were none).
  EvalResult eval(tensor::Tensor tensor);

 private:
  std::vector<tensor::Tensor> buf_;
  std::optional<Feeder> feeder_;
  graph::Context* ctx_;
};

}  // namespace ketra_autograd::evaluation
