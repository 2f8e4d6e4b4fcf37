// One constant-fitting step as the discovery engine runs it: build the guarded forward
// pass of a depth-3 tree with six constants on 100 rows, its mean squared error, the
// gradients of that loss and one Adam update, all in a fresh graph. Target: 60 µs.
#include <algorithm>
#include <array>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

void training_step(variable::VariableEnvironment& env, const optimizers::adam::Adam& adam,
                   const std::vector<variable::VariableID>& ids, const Problem& p) {
  env.run([&](graph::Context& ctx) {
    const Tensor x0 = ctx.placeholder("vorn_x0", {-1});
    const Tensor ones = ctx.placeholder("vorn_ones", {-1});
    const Tensor y = ctx.placeholder("vorn_y", {-1});
    std::vector<Tensor> params;
    for (variable::VariableID id : ids) params.push_back(ctx.variable_by_id(id));
    const Tensor d = sub(forward(x0, ones, params), y);
    const Tensor loss = tensor_ops::reduction::reduce_mean(mul(d, d), std::array<std::int32_t, 1>{0}, false);
    const std::vector<Tensor> grads = tensor_ops::grad(std::span(&loss, 1), params);
    evaluation::Feeder feeder;
    feeder.push(evaluation::PlaceholderKey::by_id(x0.id()), p.x0)
        .push(evaluation::PlaceholderKey::by_id(ones.id()), p.ones)
        .push(evaluation::PlaceholderKey::by_id(y.id()), p.y);
    adam.update(params, grads, ctx, std::move(feeder));
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int batches = argc > 1 ? std::atoi(argv[1]) : 30;
  constexpr int steps_per_batch = 200;
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

  std::vector<double> per_step;
  for (int b = 0; b < batches; ++b) {
    const auto start = std::chrono::steady_clock::now();
    for (int s = 0; s < steps_per_batch; ++s) training_step(env, adam, ids, p);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    per_step.push_back(seconds / steps_per_batch * 1e6);
  }
  std::sort(per_step.begin(), per_step.end());
  std::printf("training step (depth 3, %zu constants, %zu rows): median %.1f us, best %.1f us (target 60 us)\n",
              constants, rows, per_step[per_step.size() / 2], per_step.front());
  std::printf("c0 after %d steps: %.6f\n", batches * steps_per_batch, (*env.array_cell(ids[0]))[0]);
  return 0;
}
