#include "vorn_core/loss.hpp"

#include <algorithm>
#include <cmath>

#include "support/checked.hpp"

namespace vorn_core::loss {

namespace {

constexpr double max_weight = 1e6;
constexpr double soft_trim_steepness = 3.0;

}  // namespace

double mean_squared_error(std::span<const double> prediction, std::span<const double> y) {
  const std::size_t n = std::min(prediction.size(), y.size());
  double sse = -0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = prediction[i] - y[i];
    sse += d * d;
  }
  return sse / static_cast<double>(std::max<std::size_t>(y.size(), 1));
}

double RobustLoss::threshold(std::span<const double> residuals) const {
  if (kind_ != Kind::SoftTrim || residuals.empty()) return 0.0;
  std::vector<double> sorted(residuals.size());
  std::transform(residuals.begin(), residuals.end(), sorted.begin(), [](double r) { return std::fabs(r); });
  // A total order, so that NaN residuals cannot break the sort; they end up last.
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](double a, double b) { return std::isnan(b) ? !std::isnan(a) : a < b; });
  const double q = std::clamp(parameter_, 0.0, 1.0);
  const double position = std::round(static_cast<double>(sorted.size() - 1) * (1.0 - q));
  const std::size_t index = std::min<std::size_t>(support::truncate_u64(position).value_or(0), sorted.size() - 1);
  return sorted[index];
}

double RobustLoss::weight_root(double r, double t) const {
  double w = 1.0;
  switch (kind_) {
    case Kind::LeastSquares: break;
    case Kind::Huber:
      if (!(r == 0.0 || std::fabs(r) <= parameter_)) w = parameter_ / std::fabs(r);
      break;
    case Kind::SoftTrim: w = 1.0 / (std::exp(soft_trim_steepness * (std::fabs(r) - t)) + 1.0); break;
  }
  return std::sqrt(std::fmin(std::fmax(w, 0.0), max_weight));
}

double RobustLoss::irls_weight(std::span<const double> residuals, double r) const {
  if (kind_ == Kind::SoftTrim && residuals.empty()) return 1.0;
  return weight_root(r, threshold(residuals));
}

std::vector<double> RobustLoss::irls_weights(std::span<const double> residuals) const {
  const double t = threshold(residuals);
  std::vector<double> weights(residuals.size());
  std::transform(residuals.begin(), residuals.end(), weights.begin(), [&](double r) { return weight_root(r, t); });
  return weights;
}

}  // namespace vorn_core::loss
