#pragma once
// Reverse-mode construction of gradients: nodes computing d(sum of ys)/dx are added to
// the graph of the ys; nothing is computed until they are evaluated.
#include <cstddef>
#include <span>
#include <vector>

#include "ketra_autograd/detail/recycled.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/small_vec.hpp"
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::gradient {

// What the pass knows of one node it reached from the ys.
struct GradientRecord {
  SmallVec<std::size_t, 2> partial_gradients;  // node ids, in order of arrival
  bool is_relevant = false;                    // differentiable, and an x or fed by a relevant input
  bool reached = false;
};

namespace detail {

// The record list of a pass, handed on to the next pass on the thread.
struct RecordList {
  std::vector<GradientRecord> records;
  bool recycle() noexcept;
};

}  // namespace detail

// The records of one pass, indexed by node id.
class GradientRecords {
 public:
  explicit GradientRecords(std::size_t nodes) { list_->records.resize(nodes); }

  // The record of a reached node; null for a node the pass never reached, one of
  // another graph, or one added after the pass began.
  const GradientRecord* find(const tensor::Tensor& tensor, const graph::Graph& graph) const noexcept {
    const std::vector<GradientRecord>& records = list_->records;
    if (&tensor.graph() != &graph || tensor.id() >= records.size() || !records[tensor.id()].reached) return nullptr;
    return &records[tensor.id()];
  }
  GradientRecord* find(std::size_t id) noexcept {
    std::vector<GradientRecord>& records = list_->records;
    return id < records.size() && records[id].reached ? &records[id] : nullptr;
  }
  // Gives the node a record without partials, replacing any it had.
  void insert(std::size_t id, bool is_relevant) {
    GradientRecord& record = list_->records[id];
    record.partial_gradients.clear();
    record.is_relevant = is_relevant;
    record.reached = true;
  }

 private:
  ketra_autograd::detail::Recycled<detail::RecordList> list_;
};

// Marks the nodes between the ys and the xs, seeds every y with one shared scalar 1.0
// and walks the marked nodes in decreasing topological rank, each node once, building
// its inputs' gradients by the rules chosen from its operation's name. Partials arriving
// at a node are summed by one AddN in arrival order. Panics with "Operation failed" on a
// record that must exist and does not (impossible for graphs made by the builders).
GradientRecords compute_gradients(std::span<const tensor::Tensor> ys, std::span<const tensor::Tensor> xs,
                                  graph::Context& ctx);

}  // namespace ketra_autograd::gradient
