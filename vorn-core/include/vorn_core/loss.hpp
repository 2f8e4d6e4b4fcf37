#pragma once
// Losses of the engine: the mean squared error of a prediction, and the robust losses of
// polishing with their iteratively-reweighted-least-squares weights.
#include <cstdint>
#include <span>
#include <vector>

namespace vorn_core::loss {

// The sum of (prediction - y)^2 over the pairs up to the shorter length, in order from
// -0.0, divided by max(len(y), 1). NaN in, NaN out.
double mean_squared_error(std::span<const double> prediction, std::span<const double> y);

class RobustLoss {
 public:
  enum class Kind : std::uint8_t { LeastSquares = 0, Huber = 1, SoftTrim = 2 };

  static RobustLoss least_squares() noexcept { return {Kind::LeastSquares, 0.0}; }
  // Weight 1 for abs(r) <= delta (and r = 0), else delta / abs(r).
  static RobustLoss huber(double delta) noexcept { return {Kind::Huber, delta}; }
  // Weight 1 / (exp(3 (abs(r) - t)) + 1), t the absolute residual at the rank
  // round((n - 1)(1 - q)) of the sorted absolute residuals, q clamped to [0, 1].
  static RobustLoss soft_trim(double q) noexcept { return {Kind::SoftTrim, q}; }

  Kind kind() const noexcept { return kind_; }
  double parameter() const noexcept { return parameter_; }

  // The square root of the weight of residual r given all residuals, the weight clamped
  // to [0, 1e6] first (a NaN weight counts as 0).
  double irls_weight(std::span<const double> residuals, double r) const;
  // irls_weight of every residual, in order; the soft-trim threshold is found once.
  std::vector<double> irls_weights(std::span<const double> residuals) const;

 private:
  RobustLoss(Kind kind, double parameter) noexcept : kind_(kind), parameter_(parameter) {}

  // The square root of the clamped weight of r, given the soft-trim threshold t.
  double weight_root(double r, double t) const;
  // The soft-trim threshold of the residuals; 0 for other kinds and for none.
  double threshold(std::span<const double> residuals) const;

  Kind kind_;
  double parameter_;
};

}  // namespace vorn_core::loss
