// A default fit (depth 3, 1000 epochs) on 1000 rows of y = exp(x0) - ln(2.5), on one
// thread: the whole fit, its phases one by one, and the Adam phase against its arithmetic
// floor, the same training written as plain loops (plain_adam.hpp) on the same shapes.
//
// `bench_fit --rows-sweep` instead times the default fit on 1,000, 10,000 and 100,000 rows
// (a few minutes): its time should grow no faster than the rows, and its kernel time and
// page faults show memory mapped and handed back step after step.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "harness.hpp"
#include "plain_adam.hpp"
#include "support/number_text.hpp"
#include "vorn_core/detail/discoverer.hpp"
#include "vorn_core/discoverer.hpp"
#include "vorn_core/fit.hpp"
#include "vorn_core/forest.hpp"
#include "vorn_core/polish.hpp"

namespace {

using namespace vorn_core;
using tarvex::tree::EmlTree;

constexpr std::size_t rows = 1000;

dataset::DataSet make_data(std::size_t count) {
  std::vector<double> xs, ys;
  for (std::size_t i = 0; i < count; ++i) {
    const double v = -2.0 + 4.0 * static_cast<double>(i) / static_cast<double>(count);
    xs.push_back(v);
    ys.push_back(std::exp(v) - std::log(2.5));
  }
  const std::size_t shape[] = {count, 1};
  return *dataset::DataSet::from_arrays(*ketra_autograd::ArrayD::from_shape_vec(shape, xs),
                                        ketra_autograd::ArrayD::from_vec(ys));
}

void print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The fastest of up to five fits, as many as begin within ten seconds.
bench::CallCost fastest_fit(const discoverer::Discoverer& config, const dataset::DataSet& data) {
  bench::CallCost best{};
  double spent = 0.0;
  for (int trial = 0; trial < 5 && spent < 10.0; ++trial) {
    const bench::CallCost cost = bench::cost_of_call([&] { bench::keep(config.fit(data)); });
    if (trial == 0 || cost.seconds < best.seconds) best = cost;
    spent += cost.seconds;
  }
  return best;
}

int rows_sweep() {
  const discoverer::Discoverer config;
  print("default fit on a growing number of rows x 1 column, one thread; fastest of up to 5 fits");
  print("      rows   s per fit  us per row  x 1,000 rows  minor faults  system s  system %");
  double baseline = 0.0;
  for (const std::size_t n : {std::size_t{1000}, std::size_t{10000}, std::size_t{100000}}) {
    const bench::CallCost cost = fastest_fit(config, make_data(n));
    const double per_row = cost.seconds / static_cast<double>(n);
    if (baseline == 0.0) baseline = per_row;
    std::string line = bench::padded(std::to_string(n), 10);
    line += bench::padded(bench::rounded(cost.seconds, 3), 12);
    line += bench::padded(bench::rounded(per_row * 1e6, 3), 12);
    line += bench::padded(bench::rounded(per_row / baseline, 2), 14);
    line += bench::padded(std::to_string(cost.minor_faults), 14);
    line += bench::padded(bench::rounded(cost.system_seconds, 3), 10);
    line += bench::padded(bench::rounded(100.0 * cost.system_seconds / cost.seconds, 1), 10);
    print(line);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--rows-sweep") return rows_sweep();
  const dataset::DataSet data = make_data(rows);
  const discoverer::Discoverer config;
  const std::size_t depth = discoverer::effective_depth(config.max_depth);

  // The phases' inputs, made once as the fit makes them.
  const std::vector<EmlTree> shapes = discoverer::detail::shapes(depth, data.columns());
  const discoverer::detail::Screening screening = discoverer::detail::screen(shapes, data);
  const std::vector<EmlTree> selected = discoverer::detail::select_for_fitting(shapes, screening.ranking);
  std::vector<EmlTree> fitted, refined;
  for (const EmlTree& tree : selected) {
    const auto result = fit::fit_constants(tree, data, config);
    fitted.push_back(result ? result->first : tree);
    refined.push_back(
        polish::lm_refine(fitted.back(), data, discoverer::lm_iterations, loss::RobustLoss::least_squares()).first);
  }

  const auto front = config.fit(data);
  if (!front || front->best() == nullptr || front->best()->pretty() != "eml(x0, 2.500000)") {
    print("the fit did not find eml(x0, 2.500000)");
    return 1;
  }
  print("best: " + front->best()->pretty() + ", mse " + support::shortest(front->best()->mse) + "; " +
        std::to_string(shapes.size()) + " shapes screened, " + std::to_string(selected.size()) + " fitted");

  bench::Report phases("default fit, 1000 rows x 1 column, depth 3, 1000 epochs", "fit");
  phases.add("whole fit (baseline)", bench::seconds_per_call([&] { bench::keep(config.fit(data)); }));
  phases.add("shapes",
             bench::seconds_per_call([&] { bench::keep(discoverer::detail::shapes(depth, data.columns())); }));
  phases.add("screening", bench::seconds_per_call([&] { bench::keep(discoverer::detail::screen(shapes, data)); }));
  phases.add("Adam", bench::seconds_per_call([&] {
               for (const EmlTree& tree : selected) bench::keep(fit::fit_constants(tree, data, config));
             }));
  phases.add(
      "Levenberg-Marquardt", bench::seconds_per_call([&] {
        for (const EmlTree& tree : fitted) {
          bench::keep(polish::lm_refine(tree, data, discoverer::lm_iterations, loss::RobustLoss::least_squares()));
        }
      }));
  phases.add("snapping", bench::seconds_per_call([&] {
               for (const EmlTree& tree : refined)
                 bench::keep(polish::snap_constants(tree, data, discoverer::snap_tolerance));
             }));
  phases.add("unguarded check of the screened shapes", bench::seconds_per_call([&] {
               for (const solution::Solution& s : screening.candidates)
                 bench::keep(forest::unguarded_agrees(s.tree, data.x));
             }));

  std::vector<std::vector<double>> columns(1);
  for (std::size_t r = 0; r < rows; ++r) columns[0].push_back(data.x[r]);
  // Both sides train the same constants the same way; only rounding may part them.
  double largest_gap = 0.0;
  for (std::size_t k = 0; k < selected.size(); ++k) {
    vorn_bench::PlainAdam plain(*selected[k].root, columns, data.y.data(), config.learning_rate);
    plain.train(config.max_epochs);
    std::vector<double> engine;
    fit::collect_consts(*fitted[k].root, engine);
    for (std::size_t i = 0; i < engine.size(); ++i) {
      const double gap = std::fabs(engine[i] - plain.constants()[i]) / (std::fabs(engine[i]) + 1e-300);
      largest_gap = std::max(largest_gap, gap);
    }
  }
  print("largest relative gap between the engine's and the plain loops' trained constants: " +
        support::shortest(largest_gap));
  const std::size_t steps = selected.size() * config.max_epochs;
  bench::Report adam("Adam phase: " + std::to_string(selected.size()) + " shapes x 1000 steps", "step");
  adam.add("plain loops (baseline)", bench::seconds_per_call([&] {
             for (const EmlTree& tree : selected) {
               vorn_bench::PlainAdam plain(*tree.root, columns, data.y.data(), config.learning_rate);
               plain.train(config.max_epochs);
               bench::keep(plain.constants());
             }
           }),
           static_cast<double>(steps));
  adam.add("engine, a fresh graph per step", bench::seconds_per_call([&] {
             for (const EmlTree& tree : selected) bench::keep(fit::fit_constants(tree, data, config));
           }),
           static_cast<double>(steps));
  return 0;
}
