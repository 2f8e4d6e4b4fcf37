#pragma once
// The numeric cores of polishing, over any model of the constants, so that they can be
// checked against closed-form models without building graphs.
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "vorn_core/loss.hpp"

namespace vorn_core::polish::detail {

// The prediction for a parameter vector, or none when it cannot be evaluated.
using Model = std::function<std::optional<std::vector<double>>(std::span<const double>)>;

struct LmPoint {
  std::vector<double> params;
  std::vector<double> prediction;
};

// Levenberg–Marquardt from `start`, whose prediction is known to give finite residuals.
// Returns the last accepted point (or the start).
LmPoint levenberg_marquardt(LmPoint start, std::span<const double> y, const Model& model, std::size_t max_iter,
                            loss::RobustLoss loss);

// The snap candidates of a constant, in trial order, repeats kept: the rounded integer,
// the named constant, then the fractions of denominators 2, 3, 4 and 6.
std::vector<double> snap_candidates(double c);

// The MSE for a vector of constants, or none when it cannot be evaluated.
using MseOf = std::function<std::optional<double>(std::span<const double>)>;

struct Snapped {
  std::vector<double> values;
  double mse;
};

// Snaps values one after another against the fixed threshold (tol + 1)·base + 1e-12.
// None when nothing snapped or the snapped values cannot be evaluated.
std::optional<Snapped> snap_values(std::vector<double> values, double base, double tol, const MseOf& mse_of);

}  // namespace vorn_core::polish::detail
