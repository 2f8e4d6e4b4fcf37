#pragma once
// The non-dominated solutions of one discovery, ordered by complexity, then error.
//
// a dominates b when a.complexity <= b.complexity and a.mse <= b.mse with at least one
// strictly smaller. Members all have finite mse, none dominates another, and no two share
// a complexity with mse closer than 1e-12.
#include <cstddef>
#include <span>
#include <vector>

#include "vorn_core/solution.hpp"

namespace vorn_core::pareto {

using solution::Solution;

class ParetoFront {
 public:
  ParetoFront() = default;

  // One pass in candidate order: non-finite mse and dominated candidates are dropped,
  // members a candidate dominates are removed, and a candidate matching a member's
  // complexity within 1e-12 in mse is dropped (the earlier one stays). Then a stable
  // sort by (complexity, mse).
  static ParetoFront from_candidates(std::vector<Solution> candidates);

  // The min(k, size) members of lowest mse; equal mse keep front order.
  std::vector<const Solution*> pareto_top(std::size_t k) const;
  // The member of smallest mse, the first of equal minima; null for an empty front.
  const Solution* best() const;

  std::span<const Solution> members() const noexcept { return members_; }
  std::size_t size() const noexcept { return members_.size(); }
  bool empty() const noexcept { return members_.empty(); }

 private:
  std::vector<Solution> members_;
};

}  // namespace vorn_core::pareto
