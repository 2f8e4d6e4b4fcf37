// Cost of the graph engine itself: building and evaluating a graph of about 300 nodes on
// 100-element arrays, against the same arithmetic written as plain loops.
//
// Elementwise arithmetic operations are not part of the graph core, so this file defines
// two minimal ones of its own.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"

namespace {

using namespace ketra_autograd;
using tensor::Tensor;

// a + b, or a scaled by a scalar-like b.
class BenchAdd final : public op::Op {
 public:
  std::string_view name() const override { return "bench::Add"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override {
    ctx.append_output(*zip_with(ctx.input(0), ctx.input(1), [](double a, double b) { return a + b; }));
    return {};
  }
  void grad(op::GradientContext&) const override {}
};

class BenchMul final : public op::Op {
 public:
  std::string_view name() const override { return "bench::Mul"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override {
    const ArrayD& a = ctx.input(0);
    const ArrayD& b = ctx.input(1);
    if (b.is_scalar_like()) {
      const double s = b[0];
      ctx.append_output(a.map([s](double v) { return v * s; }));
    } else {
      ctx.append_output(*zip_with(a, b, [](double x, double y) { return x * y; }));
    }
    return {};
  }
  void grad(op::GradientContext&) const override {}
};

template <typename O>
Tensor binary(Tensor a, Tensor b) {
  return tensor::TensorBuilder(a.graph()).append_input_with_selector(a).append_input_with_selector(b).build(O{});
}

constexpr std::size_t elements = 100;
constexpr std::size_t steps = 100;  // three nodes each: scalar, add, mul
constexpr const char* x_name = "bench_x";
constexpr const char* y_name = "bench_y";

double factor(std::size_t step) { return 0.5 + 0.001 * static_cast<double>(step); }

Tensor build(graph::Context& ctx) {
  Tensor t = ctx.placeholder(x_name, {-1});
  const Tensor y = ctx.placeholder(y_name, {-1});
  for (std::size_t i = 0; i < steps; ++i) {
    const Tensor c = tensor_ops::scalar(factor(i), ctx);
    t = binary<BenchMul>(binary<BenchAdd>(t, y), c);
  }
  return t;
}

double evaluate(graph::Context& ctx, Tensor out, const ArrayD& x, const ArrayD& y) {
  evaluation::Feeder feeder;
  feeder.push(evaluation::PlaceholderKey::by_name(x_name), x).push(evaluation::PlaceholderKey::by_name(y_name), y);
  const auto result = ctx.evaluator().set_feeder(std::move(feeder)).eval(out);
  return result ? (*result)[0] : 0.0;
}

// Out of line, like the engine's loops, so that the compiler cannot see where the
// operands lie; given that, it vectorizes these loops, which the engine's cannot match.
[[gnu::noinline]] double raw(std::span<const double> x, std::span<const double> y, std::span<double> t, std::span<double> u) {
  std::ranges::copy(x, t.begin());
  for (std::size_t i = 0; i < steps; ++i) {
    const double c = factor(i);
    for (std::size_t j = 0; j < elements; ++j) u[j] = t[j] + y[j];
    for (std::size_t j = 0; j < elements; ++j) t[j] = u[j] * c;
  }
  return t[0];
}

// The fastest of a few trials, to keep scheduling noise out of the comparison.
template <typename F>
double seconds(F&& f) {
  double best = 1e30;
  for (int trial = 0; trial < 5; ++trial) {
    const auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

// An optional argument "build", "evaluate", "cycle" or "raw" runs that phase alone (for
// profiling); without one, all phases run and are compared.
int main(int argc, char** argv) {
  const std::string_view only = argc > 1 ? argv[1] : "";
  const auto wanted = [&](std::string_view phase) { return only.empty() || only == phase; };
  std::vector<double> xs(elements), ys(elements);
  for (std::size_t j = 0; j < elements; ++j) {
    xs[j] = 0.01 * static_cast<double>(j);
    ys[j] = 1.0 - 0.002 * static_cast<double>(j);
  }
  const ArrayD x = ArrayD::from_vec(xs);
  const ArrayD y = ArrayD::from_vec(ys);
  const std::size_t nodes = graph::run([](graph::Context& ctx) { return build(ctx).id() + 1; });

  const int reps = argc > 2 ? std::atoi(argv[2]) : 10000;
  volatile double sink = 0.0;
  // Warm-up: fills the per-thread buffer and workspace pools as a fit would.
  for (int r = 0; r < 200; ++r) graph::run([&](graph::Context& ctx) { sink = evaluate(ctx, build(ctx), x, y); });

  const double build_s = !wanted("build") ? 0.0 : seconds([&] {
    for (int r = 0; r < reps; ++r) graph::run([&](graph::Context& ctx) { sink = static_cast<double>(build(ctx).id()); });
  });
  double eval_s = 0.0;
  if (wanted("evaluate")) graph::run([&](graph::Context& ctx) {
    const Tensor out = build(ctx);
    eval_s = seconds([&] {
      for (int r = 0; r < reps; ++r) sink = evaluate(ctx, out, x, y);
    });
  });
  const double cycle_s = !wanted("cycle") ? 0.0 : seconds([&] {
    for (int r = 0; r < reps; ++r) graph::run([&](graph::Context& ctx) { sink = evaluate(ctx, build(ctx), x, y); });
  });
  // The loops' operands side by side in one block.
  std::vector<double> block(4 * elements);
  const std::span<double> rx(block.data(), elements), ry(block.data() + elements, elements);
  const std::span<double> rt(block.data() + 2 * elements, elements), ru(block.data() + 3 * elements, elements);
  std::ranges::copy(xs, rx.begin());
  std::ranges::copy(ys, ry.begin());
  const double raw_s = !wanted("raw") ? 0.0 : seconds([&] {
    for (int r = 0; r < reps; ++r) sink = raw(rx, ry, rt, ru);
  });

  const double per = 1e9 / (static_cast<double>(reps) * static_cast<double>(nodes));
  std::printf("graph: %zu nodes on %zu-element arrays, %d repetitions\n", nodes, elements, reps);
  std::printf("build:              %7.1f ns per node\n", build_s * per);
  std::printf("evaluate:           %7.1f ns per node\n", eval_s * per);
  std::printf("fresh graph, build + evaluate: %7.1f ns per node\n", cycle_s * per);
  std::printf("raw loops:          %7.1f ns per node (same arithmetic, preallocated buffers)\n", raw_s * per);
  std::printf("evaluate / raw:     %7.2f\n", eval_s / raw_s);
  return 0;
}
