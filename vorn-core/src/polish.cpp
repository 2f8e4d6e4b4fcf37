#include "vorn_core/polish.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "detail/forest.hpp"
#include "support/panic.hpp"
#include "tarvex/symreg/constants.hpp"
#include "vorn_core/detail/polish.hpp"
#include "vorn_core/fit.hpp"

namespace vorn_core::polish {

namespace {

constexpr double min_pivot = 1e-14;
constexpr double initial_damping = 0.001;
constexpr double min_damping = 1e-12;
constexpr double damping_decrease = 0.5;
constexpr double damping_increase = 4.0;
constexpr std::size_t attempts_per_iteration = 12;
constexpr double min_damped_diagonal = 1e-12;
constexpr double jacobian_step = 1e-6;

// Sum of (r_i · w_i)^2 from -0.0, in sample order.
double weighted_cost(std::span<const double> r, std::span<const double> w) {
  const std::size_t n = std::min(r.size(), w.size());
  double cost = -0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double rw = r[i] * w[i];
    cost += rw * rw;
  }
  return cost;
}

// The forward-difference Jacobian around p, column-major (column j holds the n entries
// of parameter j); none when a perturbed point cannot be evaluated.
std::optional<std::vector<double>> jacobian(const detail::LmPoint& at, std::size_t n, const detail::Model& model) {
  const std::size_t k = at.params.size();
  std::vector<double> jac(n * k);
  std::vector<double> shifted = at.params;
  for (std::size_t j = 0; j < k; ++j) {
    const double h = jacobian_step * (std::fabs(at.params[j]) + 1.0);
    shifted[j] = at.params[j] + h;
    const std::optional<std::vector<double>> moved = model(shifted);
    shifted[j] = at.params[j];
    if (!moved || moved->size() < n) return std::nullopt;
    for (std::size_t i = 0; i < n; ++i) jac[j * n + i] = ((*moved)[i] - at.prediction[i]) / h;
  }
  return jac;
}

struct NormalEquations {
  Matrix a;
  std::vector<double> gradient;
};

NormalEquations normal_equations(std::span<const double> jac, std::span<const double> r, std::span<const double> w,
                                 std::size_t k) {
  const std::size_t n = r.size();
  NormalEquations eq{Matrix::zeros(k, k), std::vector<double>(k)};
  for (std::size_t j = 0; j < k; ++j) {
    const double* col_j = jac.data() + j * n;
    double g = 0.0;
    for (std::size_t i = 0; i < n; ++i) g += w[i] * w[i] * col_j[i] * r[i];
    eq.gradient[j] = g;
    for (std::size_t l = j; l < k; ++l) {
      const double* col_l = jac.data() + l * n;
      double s = 0.0;
      for (std::size_t i = 0; i < n; ++i) s += w[i] * w[i] * col_j[i] * col_l[i];
      eq.a.at(j, l) = s;
      eq.a.at(l, j) = s;
    }
  }
  return eq;
}

}  // namespace

std::optional<std::vector<double>> residuals(std::span<const double> prediction, std::span<const double> y) {
  const std::size_t n = std::min(prediction.size(), y.size());
  std::vector<double> r(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(prediction[i])) return std::nullopt;
    r[i] = prediction[i] - y[i];
  }
  return r;
}

std::optional<std::vector<double>> solve_dense(Matrix a, std::vector<double> b) {
  const std::size_t n = b.size();
  if (a.rows != n || a.cols != n) {
    support::panic("solve_dense needs a {} x {} matrix, got {} x {}", n, n, a.rows, a.cols);
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    double largest = std::fabs(a.at(c, c));
    for (std::size_t row = c + 1; row < n; ++row) {
      if (std::fabs(a.at(row, c)) > largest) {
        largest = std::fabs(a.at(row, c));
        pivot = row;
      }
    }
    if (!(largest >= min_pivot)) return std::nullopt;
    if (pivot != c) {
      for (std::size_t col = 0; col < n; ++col) std::swap(a.at(c, col), a.at(pivot, col));
      std::swap(b[c], b[pivot]);
    }
    for (std::size_t row = c + 1; row < n; ++row) {
      const double f = a.at(row, c) / a.at(c, c);
      for (std::size_t col = c; col < n; ++col) a.at(row, col) -= f * a.at(c, col);
      b[row] -= f * b[c];
    }
  }
  std::vector<double> x(n);
  for (std::size_t i = n; i-- > 0;) {
    double s = b[i];
    for (std::size_t j = i + 1; j < n; ++j) s -= a.at(i, j) * x[j];
    x[i] = s / a.at(i, i);
  }
  for (double v : x) {
    if (!std::isfinite(v)) return std::nullopt;
  }
  return x;
}

namespace detail {

LmPoint levenberg_marquardt(LmPoint start, std::span<const double> y, const Model& model, std::size_t max_iter,
                            loss::RobustLoss loss) {
  LmPoint current = std::move(start);
  std::vector<double> r = *residuals(current.prediction, y);
  const std::size_t k = current.params.size();
  double damping = initial_damping;
  for (std::size_t iter = 0; iter < max_iter; ++iter) {
    const std::vector<double> w = loss.irls_weights(r);
    const double cost = weighted_cost(r, w);
    const std::optional<std::vector<double>> jac = jacobian(current, r.size(), model);
    if (!jac) break;
    const NormalEquations eq = normal_equations(*jac, r, w, k);
    std::vector<double> neg_gradient(k);
    for (std::size_t j = 0; j < k; ++j) neg_gradient[j] = -eq.gradient[j];
    bool accepted = false;
    for (std::size_t attempt = 0; attempt < attempts_per_iteration && !accepted; ++attempt) {
      Matrix damped = eq.a;
      for (std::size_t j = 0; j < k; ++j) damped.at(j, j) += damping * std::fmax(eq.a.at(j, j), min_damped_diagonal);
      const std::optional<std::vector<double>> step = solve_dense(std::move(damped), neg_gradient);
      std::optional<std::vector<double>> prediction;
      std::optional<std::vector<double>> moved_r;
      std::vector<double> moved(k);
      if (step) {
        for (std::size_t j = 0; j < k; ++j) moved[j] = current.params[j] + (*step)[j];
        prediction = model(moved);
        if (prediction) moved_r = residuals(*prediction, y);
      }
      if (moved_r && weighted_cost(*moved_r, w) < cost) {
        current = LmPoint{std::move(moved), std::move(*prediction)};
        r = std::move(*moved_r);
        damping = std::fmax(damping * damping_decrease, min_damping);
        accepted = true;
      } else {
        damping *= damping_increase;
      }
    }
    if (!accepted) break;
  }
  return current;
}

std::vector<double> snap_candidates(double c) {
  constexpr double max_integer = 1e6;
  constexpr double max_fraction = 12.0;
  constexpr double closeness = 0.001;
  std::vector<double> out;
  const double integer = std::round(c);
  if (std::fabs(integer) <= max_integer && std::fabs(c - integer) < closeness) out.push_back(integer);
  if (const auto named = tarvex::symreg::constants::snap_to_named_const(c)) {
    out.push_back(tarvex::symreg::constants::value(*named));
  }
  // Each fraction is formed as its own operation (halves and quarters by product, thirds
  // and sixths by quotient), so that 1/3 comes out as the nearest double.
  const auto consider = [&](double fraction) {
    if (std::fabs(fraction) <= max_fraction && std::fabs(c - fraction) < closeness) out.push_back(fraction);
  };
  consider(std::round(2.0 * c) * 0.5);
  consider(std::round(3.0 * c) / 3.0);
  consider(std::round(4.0 * c) * 0.25);
  consider(std::round(6.0 * c) / 6.0);
  return out;
}

std::optional<Snapped> snap_values(std::vector<double> values, double base, double tol, const MseOf& mse_of) {
  const double threshold = (tol + 1.0) * base + 1e-12;
  bool snapped = false;
  std::vector<double> trial = values;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double c = values[i];
    for (const double candidate : snap_candidates(c)) {
      if (candidate == c) continue;
      trial[i] = candidate;
      const std::optional<double> mse = mse_of(trial);
      if (mse && *mse <= threshold) {
        values[i] = candidate;
        snapped = true;
        break;
      }
    }
    trial[i] = values[i];
  }
  if (!snapped) return std::nullopt;
  const std::optional<double> mse = mse_of(values);
  if (!mse) return std::nullopt;
  return Snapped{std::move(values), *mse};
}

}  // namespace detail

namespace {

EmlTree rebuilt(const EmlTree& tree, std::span<const double> values) {
  std::size_t index = 0;
  return EmlTree::from_node(fit::substitute_consts(*tree.root, values, index));
}

std::vector<double> constants_of(const EmlTree& tree) {
  std::vector<double> values;
  fit::collect_consts(*tree.root, values);
  return values;
}

constexpr double unevaluable = std::numeric_limits<double>::infinity();

}  // namespace

std::pair<EmlTree, double> lm_refine(const EmlTree& tree, const DataSet& data, std::size_t max_iter,
                                     loss::RobustLoss loss) {
  const forest::detail::Columns columns(data.x);
  const std::span<const double> y = data.y.data();
  const detail::Model model = [&](std::span<const double> params) -> std::optional<std::vector<double>> {
    const auto prediction = forest::detail::evaluate(rebuilt(tree, params), columns);
    if (!prediction) return std::nullopt;
    return std::vector<double>(prediction->data().begin(), prediction->data().end());
  };
  std::vector<double> start = constants_of(tree);
  std::optional<std::vector<double>> prediction = model(start);
  if (!prediction) return {tree, unevaluable};
  if (start.empty()) return {tree, loss::mean_squared_error(*prediction, y)};
  if (!residuals(*prediction, y)) return {tree, unevaluable};
  const detail::LmPoint best =
      detail::levenberg_marquardt({std::move(start), std::move(*prediction)}, y, model, max_iter, loss);
  return {rebuilt(tree, best.params), loss::mean_squared_error(best.prediction, y)};
}

std::pair<EmlTree, double> snap_constants(const EmlTree& tree, const DataSet& data, double tol) {
  const forest::detail::Columns columns(data.x);
  const std::span<const double> y = data.y.data();
  const auto base = forest::detail::mse_of(tree, columns, y);
  if (!base) return {tree, unevaluable};
  const detail::MseOf mse_of = [&](std::span<const double> values) -> std::optional<double> {
    const auto mse = forest::detail::mse_of(rebuilt(tree, values), columns, y);
    return mse ? std::optional<double>(*mse) : std::nullopt;
  };
  std::optional<detail::Snapped> snapped = detail::snap_values(constants_of(tree), *base, tol, mse_of);
  if (!snapped) return {tree, *base};
  return {rebuilt(tree, snapped->values), snapped->mse};
}

}  // namespace vorn_core::polish
