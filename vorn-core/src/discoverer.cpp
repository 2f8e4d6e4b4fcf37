#include "vorn_core/discoverer.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "detail/forest.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "support/panic.hpp"
#include "tarvex/symreg/topology.hpp"
#include "vorn_core/detail/discoverer.hpp"
#include "vorn_core/fit.hpp"
#include "vorn_core/forest.hpp"
#include "vorn_core/polish.hpp"

namespace vorn_core::discoverer {

using tarvex::tree::EmlKind;

namespace {

std::optional<std::pair<double, Solution>> screen_one(const EmlTree& tree, const forest::detail::Columns& columns,
                                                      const DataSet& data) {
  const auto mse = forest::detail::mse_of(tree, columns, data.y.data());
  if (!mse || !std::isfinite(*mse)) return std::nullopt;
  return std::pair<double, Solution>(*mse, Solution::of(tree, *mse));
}

// Whether the lower-cased LaTeX of the solution shows a NaN or an infinity.
bool renders_non_finite(const Solution& solution) {
  std::string latex = solution.latex();
  for (char& ch : latex) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return latex.find("nan") != std::string::npos || latex.find("inf") != std::string::npos;
}

}  // namespace

namespace detail {

std::vector<EmlTree> shapes(std::size_t depth, std::size_t columns) {
  return tarvex::symreg::topology::distinct_topologies(depth, columns, max_shapes);
}

Screening screen(std::span<const EmlTree> shapes, const DataSet& data) {
  const forest::detail::Columns columns(data.x);
  Screening out;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (auto scored = screen_one(shapes[i], columns, data)) {
      out.ranking.push_back({scored->first, i});
      out.candidates.push_back(std::move(scored->second));
    }
  }
  std::stable_sort(out.ranking.begin(), out.ranking.end(),
                   [](const Screened& a, const Screened& b) { return a.mse < b.mse; });
  return out;
}

std::vector<EmlTree> select_for_fitting(std::span<const EmlTree> shapes, std::span<const Screened> ranking) {
  std::vector<EmlTree> selected;
  std::vector<double> constants;
  for (const Screened& entry : ranking) {
    if (selected.size() == max_fit_attempts) break;
    EmlTree tree = EmlTree::from_node(constantize(*shapes[entry.shape].root));
    constants.clear();
    fit::collect_consts(*tree.root, constants);
    if (constants.empty() || constants.size() > max_fitted_constants) continue;
    selected.push_back(std::move(tree));
  }
  return selected;
}

std::optional<Solution> fit_shape(const EmlTree& tree, const DataSet& data, const Discoverer& config) {
  const auto fitted = fit::fit_constants(tree, data, config);
  if (!fitted) return std::nullopt;
  const EmlTree refined =
      polish::lm_refine(fitted->first, data, lm_iterations, loss::RobustLoss::least_squares()).first;
  auto [snapped, mse] = polish::snap_constants(refined, data, snap_tolerance);
  if (!std::isfinite(mse)) return std::nullopt;
  Solution solution = Solution::of(std::move(snapped), mse);
  if (renders_non_finite(solution)) return std::nullopt;
  return solution;
}

}  // namespace detail

std::expected<ParetoFront, error::VornError> Discoverer::fit(const DataSet& data) const {
  if (data.y.len() == 0) return std::unexpected(error::VornError::shape_mismatch("empty dataset"));
  // Arrays as long as the data are made and dropped by the thousand; reused, large data
  // does not map and unmap memory at every step.
  const ketra_autograd::ArrayReuseScope reuse;
  const std::vector<EmlTree> shapes = detail::shapes(effective_depth(max_depth), data.columns());
  detail::Screening screening = detail::screen(shapes, data);
  std::vector<Solution> candidates = std::move(screening.candidates);
  for (const EmlTree& tree : detail::select_for_fitting(shapes, screening.ranking)) {
    if (auto solution = detail::fit_shape(tree, data, *this)) candidates.push_back(std::move(*solution));
  }
  // Members are handed out as code that applies no guards: one whose code would not give
  // the values it was scored by does not enter the front, whichever way it came.
  std::erase_if(candidates, [&](const Solution& s) { return !forest::unguarded_agrees(s.tree, data.x); });
  if (candidates.empty()) {
    return std::unexpected(error::VornError::not_converged("no finite-scoring candidate expression found"));
  }
  return ParetoFront::from_candidates(std::move(candidates));
}

std::optional<std::pair<double, Solution>> eval_one(const EmlTree& tree, const DataSet& data) {
  return screen_one(tree, forest::detail::Columns(data.x), data);
}

std::size_t effective_depth(std::uint64_t max_depth) noexcept {
  if (max_depth == 0) return 1;
  return static_cast<std::size_t>(std::min<std::uint64_t>(max_depth, max_tree_depth));
}

NodePtr constantize(const EmlNode& node) {
  switch (node.kind()) {
    case EmlKind::One: return EmlNode::constant(1.0);
    case EmlKind::Const: return EmlNode::constant(node.value());
    case EmlKind::Var: return EmlNode::var(node.index());
    case EmlKind::Eml: {
      NodePtr left = constantize(*node.left());
      NodePtr right = constantize(*node.right());
      return EmlNode::eml(std::move(left), std::move(right));
    }
  }
  support::panic("unknown EML node kind");
}

}  // namespace vorn_core::discoverer
