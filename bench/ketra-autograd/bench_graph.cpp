// Cost of the graph engine itself: building and evaluating graphs of about 300 nodes on
// 100-element arrays, against the same arithmetic written as plain loops. Two workloads:
// additions and multiplications only (the engine's overhead laid bare), and the same with
// an exponential per step (closer to the forward pass of a fit).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "harness.hpp"
#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/binary_ops.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"

namespace {

using namespace ketra_autograd;
using tensor::Tensor;
using tensor_ops::binary_ops::AddOp;
using tensor_ops::binary_ops::MulOp;
using tensor_ops::math_ops::Exp;

// The operation node alone, without the shape nodes the builders add: those are not
// evaluated, and leaving them out keeps the figures per evaluated node.
template <typename O>
Tensor apply(std::initializer_list<Tensor> inputs) {
  tensor::TensorBuilder builder(inputs.begin()->graph());
  for (Tensor t : inputs) builder.append_input_with_selector(t);
  return builder.build(O{});
}

constexpr std::size_t elements = 100;
constexpr const char* x_name = "bench_x";
constexpr const char* y_name = "bench_y";

// Each step is t = (t + y) * c with a fresh scalar node c, followed by t = exp(t) in the
// second workload; its factors keep the exponentials near 1.
struct Workload {
  const char* title;
  bool with_exp;
  std::size_t steps;

  double factor(std::size_t step) const {
    const double magnitude = 0.5 + 0.001 * static_cast<double>(step);
    return with_exp ? -magnitude : magnitude;
  }

  Tensor build(graph::Context& ctx) const {
    Tensor t = ctx.placeholder(x_name, {-1});
    const Tensor y = ctx.placeholder(y_name, {-1});
    for (std::size_t i = 0; i < steps; ++i) {
      const Tensor c = tensor_ops::scalar(factor(i), ctx);
      t = apply<MulOp>({apply<AddOp>({t, y}), c});
      if (with_exp) t = apply<Exp>({t});
    }
    return t;
  }

  // Out of line, like the engine's loops, so that the compiler cannot see where the
  // operands lie, and vectorized as the engine's elementwise loops are.
  [[gnu::noinline]] void raw(std::span<const double> x, std::span<const double> y, std::span<double> t,
                             std::span<double> u) const {
    std::ranges::copy(x, t.begin());
    for (std::size_t i = 0; i < steps; ++i) {
      const double c = factor(i);
#pragma omp simd
      for (std::size_t j = 0; j < elements; ++j) u[j] = t[j] + y[j];
#pragma omp simd
      for (std::size_t j = 0; j < elements; ++j) t[j] = u[j] * c;
      if (with_exp) {
        for (std::size_t j = 0; j < elements; ++j) t[j] = std::exp(t[j]);
      }
    }
  }
};

ArrayD evaluate(graph::Context& ctx, Tensor out, const ArrayD& x, const ArrayD& y) {
  evaluation::Feeder feeder;
  feeder.push(evaluation::PlaceholderKey::by_name(x_name), x).push(evaluation::PlaceholderKey::by_name(y_name), y);
  auto result = ctx.evaluator().set_feeder(std::move(feeder)).eval(out);
  return result ? std::move(*result) : ArrayD();
}

// Returns false when the engine's result differs from the plain loops'.
bool measure(const Workload& work) {
  std::vector<double> xs(elements), ys(elements);
  for (std::size_t j = 0; j < elements; ++j) {
    xs[j] = 0.01 * static_cast<double>(j);
    ys[j] = 1.0 - 0.002 * static_cast<double>(j);
  }
  const ArrayD x = ArrayD::from_vec(xs);
  const ArrayD y = ArrayD::from_vec(ys);
  const std::size_t nodes = graph::run([&](graph::Context& ctx) { return work.build(ctx).id() + 1; });
  // The loops' operands side by side in one block.
  std::vector<double> block(4 * elements);
  const std::span<double> rx(block.data(), elements), ry(block.data() + elements, elements);
  const std::span<double> rt(block.data() + 2 * elements, elements), ru(block.data() + 3 * elements, elements);
  std::ranges::copy(xs, rx.begin());
  std::ranges::copy(ys, ry.begin());

  const auto per_node = static_cast<double>(nodes);
  bench::Report report(std::string(work.title) + ": " + std::to_string(nodes) + " nodes on " +
                           std::to_string(elements) + "-element arrays",
                       "node");
  report.add("plain loops (baseline)", bench::seconds_per_call([&] {
               work.raw(rx, ry, rt, ru);
               bench::keep(rt[0]);
             }),
             per_node);
  report.add("build", bench::seconds_per_call([&] {
               graph::run([&](graph::Context& ctx) { bench::keep(work.build(ctx).id()); });
             }),
             per_node);
  report.add("evaluate", graph::run([&](graph::Context& ctx) {
               const Tensor out = work.build(ctx);
               return bench::seconds_per_call([&] { bench::keep(evaluate(ctx, out, x, y)[0]); });
             }),
             per_node);
  report.add("fresh graph, build + evaluate", bench::seconds_per_call([&] {
               graph::run([&](graph::Context& ctx) { bench::keep(evaluate(ctx, work.build(ctx), x, y)[0]); });
             }),
             per_node);

  // Both sides do the same operations in the same order, so they must agree exactly.
  work.raw(rx, ry, rt, ru);
  const ArrayD engine = graph::run([&](graph::Context& ctx) { return evaluate(ctx, work.build(ctx), x, y); });
  return std::ranges::equal(engine.data(), rt);
}

}  // namespace

int main() {
  const Workload workloads[] = {{"add and multiply", false, 100}, {"add, multiply and exp", true, 75}};
  for (const Workload& work : workloads) {
    if (!measure(work)) {
      std::fputs("the engine's result differs from the plain loops'\n", stderr);
      return 1;
    }
  }
  return 0;
}
