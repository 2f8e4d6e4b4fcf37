#pragma once
// Polishing of fitted constants: Levenberg–Marquardt refinement on the residuals, and
// snapping to integers, named constants and simple fractions. Neither ever fails: a tree
// that cannot be evaluated has the error +infinity.
#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "tarvex/tree.hpp"
#include "vorn_core/dataset.hpp"
#include "vorn_core/loss.hpp"

namespace vorn_core::polish {

using dataset::DataSet;
using tarvex::tree::EmlTree;

// A dense row-major matrix.
struct Matrix {
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::vector<double> data;

  static Matrix zeros(std::size_t rows, std::size_t cols) { return {rows, cols, std::vector<double>(rows * cols)}; }
  double& at(std::size_t r, std::size_t c) noexcept { return data[r * cols + c]; }
  double at(std::size_t r, std::size_t c) const noexcept { return data[r * cols + c]; }
};

// prediction - y over the pairs up to the shorter length; none as soon as a prediction is
// NaN or infinite (the targets are not examined).
std::optional<std::vector<double>> residuals(std::span<const double> prediction, std::span<const double> y);

// Solves a·x = b by Gaussian elimination with partial pivoting (the first largest pivot
// wins). None when a pivot is below 1e-14 or a solution entry is not finite; the empty
// vector for an empty system. a must be len(b) x len(b), else a caller fault (panic).
std::optional<std::vector<double>> solve_dense(Matrix a, std::vector<double> b);

// Refines the tree's constants for at most max_iter iterations, each moving only to a
// point of strictly lower weighted cost. Returns the rebuilt tree (new nodes) and the
// unweighted MSE of its prediction; a tree without constants, or one whose start cannot be
// evaluated, comes back sharing its root, the latter with +infinity.
std::pair<EmlTree, double> lm_refine(const EmlTree& tree, const DataSet& data, std::size_t max_iter,
                                     loss::RobustLoss loss);

// Replaces constants, one after another, by the first candidate (integer, named constant,
// fraction with denominator 2, 3, 4 or 6) whose MSE stays within (tol + 1)·base + 1e-12,
// base being the input's MSE. Returns the input tree (sharing its root) with base when
// nothing snaps or the snapped tree cannot be evaluated, and +infinity when the input
// cannot be evaluated.
std::pair<EmlTree, double> snap_constants(const EmlTree& tree, const DataSet& data, double tol);

}  // namespace vorn_core::polish
