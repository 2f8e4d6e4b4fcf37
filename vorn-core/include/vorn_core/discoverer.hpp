#pragma once
// The discovery driver: every tree shape up to the configured depth is scored on the
// data, the constants of the best-scoring shapes are fitted, polished and snapped, and the
// non-dominated results form a Pareto front.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <utility>

#include "tarvex/tree.hpp"
#include "vorn_core/dataset.hpp"
#include "vorn_core/error.hpp"
#include "vorn_core/pareto.hpp"
#include "vorn_core/solution.hpp"

namespace vorn_core::discoverer {

using dataset::DataSet;
using pareto::ParetoFront;
using solution::Solution;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;

// At most this many distinct shapes are screened.
inline constexpr std::size_t max_shapes = 512;
// At most this many shapes enter constant fitting; shapes with no or more than
// max_fitted_constants constants do not count.
inline constexpr std::size_t max_fit_attempts = 24;
inline constexpr std::size_t max_fitted_constants = 6;
inline constexpr std::size_t max_tree_depth = 3;
inline constexpr std::size_t lm_iterations = 40;
inline constexpr double snap_tolerance = 0.02;

// The configuration of a discovery, read-only during a fit. Only max_depth, max_epochs and
// learning_rate are read; the other fields are kept for the caller. No field is range
// checked.
struct Discoverer {
  std::uint64_t population = 256;
  std::uint64_t max_depth = 3;      // 0 reads as 1, above 3 as 3
  std::uint64_t max_epochs = 1000;  // Adam steps per fitted shape
  double learning_rate = 0.05;
  std::uint64_t seed = 0;
  std::uint64_t top_k = 5;
  double lambda_complexity = 0.001;
  double lambda_sparsity = 0.001;
  double lambda_parsimony = 0.001;
  double fixed_real_1 = 2.0;
  double fixed_real_2 = 0.1;
  bool fixed_flag_1 = false;
  bool fixed_flag_2 = true;

  // ShapeMismatch "empty dataset" for an empty y; NotConverged "no finite-scoring
  // candidate expression found" when no shape scores finitely. Failures of single shapes
  // only remove their candidates, as does a candidate whose tree read unguarded strays
  // from its scored predictions (forest::unguarded_agrees). Deterministic.
  std::expected<ParetoFront, error::VornError> fit(const DataSet& data) const;
};

// The depth a fit enumerates for a max_depth setting: 1 to 3.
std::size_t effective_depth(std::uint64_t max_depth) noexcept;

// The screening of one shape: its MSE and a solution sharing the tree; none when it
// cannot be evaluated or its MSE is not finite.
std::optional<std::pair<double, Solution>> eval_one(const EmlTree& tree, const DataSet& data);

// A copy of the tree, every node newly made, in which each leaf 1 is a constant 1.0.
NodePtr constantize(const EmlNode& node);

}  // namespace vorn_core::discoverer
