// One constant-fitting step as the discovery engine runs it: build the guarded forward
// pass of a depth-3 tree with six constants on 100 rows, its mean squared error, the
// gradients of that loss and one Adam update, all in a fresh graph. Target: 60 µs per
// step. The baseline is the forward pass and loss alone, built and evaluated.
#include <array>
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "harness.hpp"
#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/optimizers/adam.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/reduction.hpp"
#include "ketra_autograd/variable.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops::arithmetic;
using tensor::Tensor;

constexpr std::size_t rows = 100;
constexpr std::size_t constants = 6;

Tensor eml(Tensor a, Tensor b) { return sub(exp(clip(a, -50.0, 50.0)), ln(clip(b, 1e-12, DBL_MAX))); }

// eml(eml(eml(c0, x0), eml(c1, c2)), eml(eml(c3, x0), eml(c4, c5)))
Tensor forward(Tensor x0, Tensor ones, const std::vector<Tensor>& c) {
  const auto k = [&](std::size_t i) { return mul(c[i], ones); };
  return eml(eml(eml(k(0), x0), eml(k(1), k(2))), eml(eml(k(3), x0), eml(k(4), k(5))));
}

struct Problem {
  ArrayD x0, ones, y;
};

std::vector<Tensor> variables(graph::Context& ctx, const std::vector<variable::VariableID>& ids) {
  std::vector<Tensor> params;
  for (variable::VariableID id : ids) params.push_back(ctx.variable_by_id(id));
  return params;
}

Tensor mean_squared_error(Tensor prediction, Tensor y) {
  const Tensor d = sub(prediction, y);
  return tensor_ops::reduction::reduce_mean(mul(d, d), std::array<std::int32_t, 1>{0}, false);
}

// Placeholders, parameters and the loss of one step's graph.
struct StepGraph {
  Tensor x0, ones, y;
  std::vector<Tensor> params;
  Tensor loss;

  StepGraph(graph::Context& ctx, const std::vector<variable::VariableID>& ids)
      : x0(ctx.placeholder("vorn_x0", {-1})),
        ones(ctx.placeholder("vorn_ones", {-1})),
        y(ctx.placeholder("vorn_y", {-1})),
        params(variables(ctx, ids)),
        loss(mean_squared_error(forward(x0, ones, params), y)) {}
  evaluation::Feeder feeds(const Problem& p) const {
    evaluation::Feeder feeder;
    feeder.push(evaluation::PlaceholderKey::by_id(x0.id()), p.x0)
        .push(evaluation::PlaceholderKey::by_id(ones.id()), p.ones)
        .push(evaluation::PlaceholderKey::by_id(y.id()), p.y);
    return feeder;
  }
};

}  // namespace

int main() {
  Problem p{ArrayD::zeros(std::array<std::size_t, 1>{rows}), ArrayD::from_elem(std::array<std::size_t, 1>{rows}, 1.0),
            ArrayD::zeros(std::array<std::size_t, 1>{rows})};
  for (std::size_t r = 0; r < rows; ++r) {
    p.x0[r] = 0.1 + 1.9 * static_cast<double>(r) / rows;
    p.y[r] = std::exp(0.5 * p.x0[r]) - std::log(p.x0[r] + 1.0);
  }
  variable::VariableEnvironment env;
  std::vector<variable::VariableID> ids;
  for (std::size_t i = 0; i < constants; ++i) {
    ids.push_back(env.slot("c" + std::to_string(i)).set(ArrayD::from_elem(std::array<std::size_t, 1>{1}, 1.0)));
  }
  const optimizers::adam::Adam adam(0.05, 1e-8, 0.9, 0.999, ids, env, "vorn_adam");

  bench::Report report("one training step: depth 3, 6 constants, 100 rows (target 60 us)", "step");
  report.add("forward pass and loss (baseline)", bench::seconds_per_call([&] {
               env.run([&](graph::Context& ctx) {
                 const StepGraph step(ctx, ids);
                 bench::keep(ctx.evaluator().set_feeder(step.feeds(p)).eval(step.loss));
               });
             }));
  report.add("forward, gradients and Adam update", bench::seconds_per_call([&] {
               env.run([&](graph::Context& ctx) {
                 const StepGraph step(ctx, ids);
                 const std::vector<Tensor> grads = tensor_ops::grad(std::span(&step.loss, 1), step.params);
                 adam.update(step.params, grads, ctx, step.feeds(p));
               });
             }));
  return 0;
}
