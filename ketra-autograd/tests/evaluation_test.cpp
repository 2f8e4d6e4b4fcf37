#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <latch>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using evaluation::Feeder;
using evaluation::PlaceholderKey;
using namespace ketra_autograd::testing;
using tensor::Tensor;
using tensor::TensorBuilder;

std::vector<std::string> compute_log;

// Sums its inputs element by element (equal shapes) and logs its tag when computed.
class Tagged final : public op::Op {
 public:
  explicit Tagged(std::string tag) : tag_(std::move(tag)) {}
  std::string_view name() const override { return "test::Tagged"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override {
    compute_log.push_back(tag_);
    ArrayD sum = ctx.input(0);
    for (std::size_t i = 1; i < ctx.num_inputs(); ++i) {
      sum = *zip_with(sum, ctx.input(i), [](double a, double b) { return a + b; });
    }
    ctx.append_output(std::move(sum));
    return {};
  }
  void grad(op::GradientContext&) const override {}

 private:
  std::string tag_;
};

class Fails final : public op::Op {
 public:
  std::string_view name() const override { return "test::Fails"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override {
    ctx.append_output(ArrayD::scalar(1.0));  // dropped: the evaluator keeps outputs only on success
    return std::unexpected(error::OpError::other("always"));
  }
  void grad(op::GradientContext&) const override {}
};

class NoOutput final : public op::Op {
 public:
  std::string_view name() const override { return "test::NoOutput"; }
  op::ComputeResult compute(op::ComputeContext&) const override { return {}; }
  void grad(op::GradientContext&) const override {}
};

class TwoOutputs final : public op::Op {
 public:
  std::string_view name() const override { return "test::TwoOutputs"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override {
    ctx.append_output(ArrayD::scalar(1.0));
    ctx.append_output(ArrayD::scalar(2.0));
    return {};
  }
  void grad(op::GradientContext&) const override {}
};

class Panics final : public op::Op {
 public:
  std::string_view name() const override { return "test::Panics"; }
  op::ComputeResult compute(op::ComputeContext&) const override { support::panic("compute panicked"); }
  void grad(op::GradientContext&) const override {}
};

template <typename O>
Tensor apply(O op, std::initializer_list<Tensor> inputs, graph::Graph& g) {
  TensorBuilder builder(g);
  for (Tensor t : inputs) builder.append_input_with_selector(t);
  return builder.build(std::move(op));
}

Tensor tagged(const char* tag, std::initializer_list<Tensor> inputs) {
  return apply(Tagged(tag), inputs, inputs.begin()->graph());
}

std::string failed_text(std::size_t id) {
  return R"(OpError(RuntimeError("Failed to compute tensor )" + std::to_string(id) + R"(")))";
}

// A feed holds the array's address and a key its name until the evaluation runs, so
// neither may be a temporary that is gone by then.
template <typename A>
concept Feedable = requires(Feeder feeder, A&& array) {
  feeder.push(PlaceholderKey::by_id(0), std::forward<A>(array));
};
static_assert(Feedable<const ArrayD&> && Feedable<ArrayD&>);
static_assert(!Feedable<ArrayD> && !Feedable<const ArrayD>);

template <typename S>
concept KeyName = requires(S&& name) {
  PlaceholderKey::by_name(std::forward<S>(name));
};
static_assert(KeyName<const char (&)[2]> && KeyName<std::string&> && KeyName<const std::string&> &&
              KeyName<std::string_view>);
static_assert(!KeyName<std::string> && !KeyName<const std::string>);

TEST(Evaluation, FeedsOfNamedArraysAreReadWhenTheEvaluationRuns) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const std::string name = "x";
    ArrayD data = vec({1.0, 2.0});
    Feeder feeder;
    feeder.push(PlaceholderKey::by_name(name), data);
    data[0] = 7.0;  // the feed reads the array as it is at evaluation
    const auto value = ctx.evaluator().set_feeder(std::move(feeder)).eval(tagged("copy", {x}));
    EXPECT_EQ(values_of(*value), (std::vector<double>{7.0, 2.0}));
  });
}

TEST(Evaluation, UnfedPlaceholderFailsAloneWhileOthersEvaluate) {
  graph::run([](graph::Context& ctx) {
    const Tensor c = tensor_ops::scalar(4.0, ctx);
    tensor_ops::scalar(5.0, ctx);
    tensor_ops::scalar(6.0, ctx);
    const Tensor x = ctx.placeholder("x", {-1});
    ASSERT_EQ(x.id(), 3u);
    const auto results = ctx.evaluator().push(x).push(c).run();
    ASSERT_EQ(results.size(), 2u);
    ASSERT_FALSE(results[0].has_value());
    EXPECT_EQ(results[0].error().debug(), R"(OpError(RuntimeError("Failed to compute tensor 3")))");
    ASSERT_TRUE(results[1].has_value());
    EXPECT_EQ(*results[1], ArrayD::scalar(4.0));
  });
}

TEST(Evaluation, UnknownFeedNameGivesOneVariableError) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const ArrayD data = vec({1.0});
    Feeder feeder;
    feeder.push(PlaceholderKey::by_name("x"), data).push(PlaceholderKey::by_name("y\"z"), data);
    const auto results = ctx.evaluator().push(x).push(x).push(x).set_feeder(std::move(feeder)).run();
    ASSERT_EQ(results.size(), 1u);
    ASSERT_FALSE(results[0].has_value());
    EXPECT_EQ(results[0].error().kind(), error::EvalError::Kind::VariableError);
    EXPECT_EQ(results[0].error().message(), R"(Placeholder not found: "y\"z")");
  });
}

TEST(Evaluation, FeedsByNameAndByIdWithTheLaterFeedWinning) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor y = ctx.placeholder("y", {-1});
    const Tensor sum = tagged("sum", {x, y});
    const ArrayD a = vec({1.0, 2.0}), b = vec({10.0, 20.0}), c = vec({100.0, 200.0});
    Feeder feeder;
    feeder.push(PlaceholderKey::by_name("x"), a)
        .push(PlaceholderKey::by_id(y.id()), b)
        .push(PlaceholderKey::by_name("y"), c)
        .push(PlaceholderKey::by_id(999), c);  // names no node: never read
    const auto value = ctx.evaluator().set_feeder(std::move(feeder)).eval(sum);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(values_of(*value), (std::vector<double>{101.0, 202.0}));
    EXPECT_EQ(values_of(a), (std::vector<double>{1.0, 2.0}));  // feeds are not changed
  });
}

TEST(Evaluation, AFedOperationNodeIsNotComputed) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor inner = tagged("inner", {x});
    const Tensor outer = tagged("outer", {inner, inner});
    const ArrayD xs = vec({1.0}), replacement = vec({5.0});
    Feeder feeder;
    feeder.push(PlaceholderKey::by_name("x"), xs).push(PlaceholderKey::by_id(inner.id()), replacement);
    compute_log.clear();
    const auto value = ctx.evaluator().set_feeder(std::move(feeder)).eval(outer);
    EXPECT_EQ(compute_log, std::vector<std::string>{"outer"});
    EXPECT_EQ(values_of(*value), std::vector<double>{10.0});
  });
}

TEST(Evaluation, TheSameTensorTwiceGivesTwoEqualResults) {
  graph::run([](graph::Context& ctx) {
    const Tensor c = tensor_ops::convert_to_tensor(vec({1.0, 2.0}), ctx);
    const Tensor t = tagged("t", {c});
    compute_log.clear();
    const auto results = ctx.evaluator().push(t).push(c).push(t).run();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(*results[0], *results[2]);
    EXPECT_EQ(values_of(*results[0]), (std::vector<double>{1.0, 2.0}));
    EXPECT_EQ(compute_log.size(), 1u);  // computed once
  });
}

TEST(Evaluation, OnlyTheFirstOutputIsTheValue) {
  graph::run([](graph::Context& ctx) {
    const Tensor two = apply(TwoOutputs{}, {}, ctx);
    const Tensor next = tagged("next", {two});
    const auto results = ctx.evaluator().push(two).push(next).run();
    EXPECT_EQ(*results[0], ArrayD::scalar(1.0));
    EXPECT_EQ(*results[1], ArrayD::scalar(1.0));
    // The further outputs stay available inside one evaluation, also of a node added
    // after the evaluation was made.
    evaluation::Evaluation inside(ctx);
    const Tensor late = apply(TwoOutputs{}, {}, ctx);
    const std::vector<Tensor> requests{two, late};
    EXPECT_FALSE(inside.compute(requests, {}).has_value());
    const auto outputs = inside.outputs(two.id());
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(*outputs[0], ArrayD::scalar(1.0));
    EXPECT_EQ(*outputs[1], ArrayD::scalar(2.0));
    EXPECT_EQ(inside.outputs(late.id()).size(), 2u);
    EXPECT_EQ(inside.outputs(next.id()).size(), 0u);  // not requested: not computed
  });
}

// Evaluations on one thread reuse each other's buffers: a node's outputs are only those
// its own operation appended in this evaluation.
TEST(Evaluation, OutputsOfAnEarlierEvaluationAreGone) {
  graph::run([](graph::Context& ctx) {
    const Tensor two = apply(TwoOutputs{}, {}, ctx);
    evaluation::Evaluation evaluation(ctx);
    const std::vector<Tensor> requests{two};
    ASSERT_FALSE(evaluation.compute(requests, {}).has_value());
    EXPECT_EQ(evaluation.outputs(two.id()).size(), 2u);
  });
  graph::run([](graph::Context& ctx) {
    const Tensor one = apply(Tagged("one"), {}, ctx);  // the id the two outputs had
    evaluation::Evaluation evaluation(ctx);
    const std::vector<Tensor> requests{one};
    ASSERT_FALSE(evaluation.compute(requests, {}).has_value());
    const auto outputs = evaluation.outputs(one.id());
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0], evaluation.value(one.id()));
  });
}

// An optimiser step reads every output of its update nodes and also collects the
// results; neither order may hand it an emptied array.
TEST(Evaluation, OutputsAndResultsInEitherOrder) {
  graph::run([](graph::Context& ctx) {
    const Tensor two = apply(TwoOutputs{}, {}, ctx);
    const std::vector<Tensor> requests{two, two};
    const auto expect_outputs = [&](evaluation::Evaluation& evaluation) {
      const auto outputs = evaluation.outputs(two.id());
      ASSERT_EQ(outputs.size(), 2u);
      EXPECT_EQ(*outputs[0], ArrayD::scalar(1.0));
      EXPECT_EQ(*outputs[1], ArrayD::scalar(2.0));
    };
    const auto expect_results = [](const std::vector<evaluation::EvalResult>& results) {
      ASSERT_EQ(results.size(), 2u);
      EXPECT_EQ(*results[0], ArrayD::scalar(1.0));
      EXPECT_EQ(*results[1], ArrayD::scalar(1.0));
    };
    {
      SCOPED_TRACE("outputs, then results");
      evaluation::Evaluation evaluation(ctx);
      ASSERT_FALSE(evaluation.compute(requests, {}).has_value());
      expect_outputs(evaluation);
      expect_results(evaluation.first_outputs(requests));
    }
    {
      SCOPED_TRACE("results, then outputs");
      evaluation::Evaluation evaluation(ctx);
      ASSERT_FALSE(evaluation.compute(requests, {}).has_value());
      expect_results(evaluation.first_outputs(requests));
      expect_outputs(evaluation);
      EXPECT_EQ(*evaluation.value(two.id()), ArrayD::scalar(1.0));
    }
    {
      SCOPED_TRACE("results taken over, then outputs");
      evaluation::Evaluation evaluation(ctx);
      ASSERT_FALSE(evaluation.compute(requests, {}).has_value());
      expect_results(evaluation.take_first_outputs(requests));
      const std::string taken = "the values of this evaluation were taken by take_first_outputs";
      EXPECT_EQ(panic_message([&] { evaluation.outputs(two.id()); }), taken);
      EXPECT_EQ(panic_message([&] { evaluation.value(two.id()); }), taken);
      EXPECT_EQ(panic_message([&] { evaluation.first_outputs(requests); }), taken);
    }
  });
}

// Ids are positions in one graph: another graph's node 0 is not this graph's node 0.
TEST(Evaluation, TensorsOfAnotherGraphPanic) {
  graph::run([](graph::Context& outer) {
    const Tensor foreign = tensor_ops::scalar(1.0, outer);
    graph::run([&](graph::Context& ctx) {
      const Tensor own = tensor_ops::scalar(2.0, ctx);
      ASSERT_EQ(own.id(), foreign.id());
      const std::string refused = "Detected tensors belonging to different graphs";
      EXPECT_EQ(panic_message([&] { ctx.evaluator().push(own).push(foreign).run(); }), refused);
      EXPECT_EQ(panic_message([&] { ctx.evaluator().eval(foreign); }), refused);
      evaluation::Evaluation evaluation(ctx);
      const std::vector<Tensor> requests{own};
      ASSERT_FALSE(evaluation.compute(requests, {}).has_value());
      const std::vector<Tensor> mixed{own, foreign};
      EXPECT_EQ(panic_message([&] { evaluation.first_outputs(mixed); }), refused);
      EXPECT_EQ(*own.eval(ctx), ArrayD::scalar(2.0));
    });
  });
}

TEST(Evaluation, ANodeAddedAfterComputingHasNoValue) {
  graph::run([](graph::Context& ctx) {
    const Tensor early = tensor_ops::scalar(2.0, ctx);
    evaluation::Evaluation evaluation(ctx);
    const std::vector<Tensor> computed{early};
    ASSERT_FALSE(evaluation.compute(computed, {}).has_value());
    Tensor late = early;
    for (int i = 0; i < 2000; ++i) late = tagged("late", {late});
    const std::vector<Tensor> requests{late, early};
    const auto results = evaluation.first_outputs(requests);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].error().debug(), failed_text(late.id()));
    EXPECT_EQ(*results[1], ArrayD::scalar(2.0));
    EXPECT_EQ(evaluation.value(late.id()), nullptr);
    EXPECT_TRUE(evaluation.outputs(late.id()).empty());
  });
}

TEST(Evaluation, FailuresReportEachRequestedTensorDownstream) {
  graph::run([](graph::Context& ctx) {
    const Tensor ok = tensor_ops::scalar(2.0, ctx);
    const Tensor bad = apply(Fails{}, {ok}, ctx);
    const Tensor empty = apply(NoOutput{}, {ok}, ctx);
    const Tensor one = tagged("one", {bad});
    const Tensor two = tagged("two", {one, ok});
    const Tensor after_empty = tagged("after_empty", {empty});
    const auto results = ctx.evaluator().push(two).push(ok).push(bad).push(after_empty).run();
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0].error().debug(), failed_text(two.id()));
    EXPECT_EQ(*results[1], ArrayD::scalar(2.0));
    EXPECT_EQ(results[2].error().debug(), failed_text(bad.id()));
    EXPECT_EQ(results[3].error().debug(), failed_text(after_empty.id()));
  });
}

TEST(Evaluation, NodesAreComputedInDepthFirstPostOrder) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = tensor_ops::scalar(1.0, ctx);
    const Tensor b = tagged("b", {x});
    const Tensor c = tagged("c", {x});
    const Tensor a = tagged("a", {c, b});  // first operand's subtree first
    const Tensor d = tagged("d", {b});
    const Tensor unused = tagged("unused", {x});
    static_cast<void>(unused);
    compute_log.clear();
    const auto results = ctx.evaluator().push(d).push(a).run();
    EXPECT_EQ(compute_log, (std::vector<std::string>{"b", "d", "c", "a"}));
    EXPECT_EQ(*results[1], ArrayD::scalar(2.0));
  });
}

TEST(Evaluation, EmptyRequestsGiveAnEmptyList) {
  graph::run([](graph::Context& ctx) {
    ctx.placeholder("x", {-1});
    const ArrayD data = vec({1.0});
    Feeder feeder;
    feeder.push(PlaceholderKey::by_name("x"), data);
    EXPECT_TRUE(ctx.evaluator().set_feeder(std::move(feeder)).run().empty());
  });
}

TEST(Evaluation, EvaluatingAgainRecomputesAndSeesNewVariableValues) {
  variable::VariableEnvironment env;
  const auto id = env.slot("w").set(vec({1.0}));
  env.run([&](graph::Context& ctx) {
    const Tensor doubled = tagged("doubled", {ctx.variable_by_id(id), ctx.variable_by_id(id)});
    compute_log.clear();
    EXPECT_EQ(values_of(*doubled.eval(ctx)), std::vector<double>{2.0});
    *env.array_cell(id) = vec({4.0});
    EXPECT_EQ(values_of(*doubled.eval(ctx)), std::vector<double>{8.0});
    EXPECT_EQ(compute_log.size(), 2u);
  });
}

TEST(Evaluation, LongChainsNeedNoDeepRecursion) {
  graph::run([](graph::Context& ctx) {
    Tensor t = tensor_ops::scalar(0.0, ctx);
    const Tensor one = tensor_ops::scalar(1.0, ctx);
    compute_log.reserve(200000);
    for (int i = 0; i < 100000; ++i) t = tagged("step", {t, one});
    compute_log.clear();
    EXPECT_EQ(*t.eval(ctx), ArrayD::scalar(100000.0));
  });
  compute_log.clear();
  compute_log.shrink_to_fit();
}

TEST(Evaluation, APanickingOperationLeavesLaterEvaluationsIntact) {
  graph::run([](graph::Context& ctx) {
    const Tensor c = tensor_ops::scalar(3.0, ctx);
    const Tensor boom = apply(Panics{}, {c}, ctx);
    const Tensor fine = tagged("fine", {c, c});
    EXPECT_EQ(panic_message([&] { ctx.evaluator().push(fine).push(boom).run(); }), "compute panicked");
    EXPECT_EQ(*fine.eval(ctx), ArrayD::scalar(6.0));
  });
}

// Elementwise sum of two equal shapes, without the shared log (for use on many threads).
class Plus final : public op::Op {
 public:
  std::string_view name() const override { return "test::Plus"; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override {
    ctx.append_output(*zip_with(ctx.input(0), ctx.input(1), [](double a, double b) { return a + b; }));
    return {};
  }
  void grad(op::GradientContext&) const override {}
};

// Each thread builds and evaluates its own graphs (placeholders, constants, reshapes,
// transposes, its own operation) while the others do the same; every result must be the
// one a plain loop gives. The results outlive their threads' array pools.
TEST(Evaluation, GraphsOnSeveralThreadsAtOnce) {
  constexpr std::size_t threads = 6;
  constexpr int graphs_per_thread = 150;
  std::vector<std::vector<ArrayD>> results(threads);
  std::latch start(threads);
  std::vector<std::thread> workers;
  for (std::size_t t = 0; t < threads; ++t) {
    workers.emplace_back([&results, &start, t] {
      start.arrive_and_wait();
      for (int g = 0; g < graphs_per_thread; ++g) {
        const double offset = static_cast<double>(t * 1000 + static_cast<std::size_t>(g));
        results[t].push_back(graph::run([offset](graph::Context& ctx) {
          const Tensor x = ctx.placeholder("x", {-1});
          Tensor sum = apply(Plus{}, {x, tensor_ops::convert_to_tensor(iota({6}), ctx)}, ctx);
          for (int step = 0; step < 20; ++step) sum = apply(Plus{}, {sum, x}, ctx);
          const Tensor grid = tensor_ops::reshape(sum, tensor::as_tensor(std::array<std::int32_t, 2>{2, 3}, ctx));
          const Tensor turned = apply(tensor_ops::math_ops::Transpose(false),
                                      {grid, tensor::as_tensor(std::array<std::int32_t, 2>{1, 0}, ctx)}, ctx);
          const ArrayD fed = ArrayD::from_elem(std::vector<std::size_t>{6}, offset);
          Feeder feeder;
          feeder.push(PlaceholderKey::by_name("x"), fed);
          return *ctx.evaluator().set_feeder(std::move(feeder)).eval(turned);
        }));
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (std::size_t t = 0; t < threads; ++t) {
    ASSERT_EQ(results[t].size(), static_cast<std::size_t>(graphs_per_thread));
    for (int g = 0; g < graphs_per_thread; ++g) {
      const double offset = static_cast<double>(t * 1000 + static_cast<std::size_t>(g));
      // (i, j) of the transposed 3 x 2 result is element j * 3 + i of iota(6) + 21 * offset.
      std::vector<double> expected;
      for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 2; ++j) expected.push_back(static_cast<double>(j * 3 + i) + 21.0 * offset);
      }
      EXPECT_EQ(shape_of(results[t][g]), (std::vector<std::size_t>{3, 2}));
      EXPECT_EQ(values_of(results[t][g]), expected) << "thread " << t << ", graph " << g;
    }
  }
}

TEST(Evaluation, ResultsAreOwnedCopies) {
  graph::run([](graph::Context& ctx) {
    const Tensor c = tensor_ops::convert_to_tensor(vec({1.0, 2.0}), ctx);
    auto first = *c.eval(ctx);
    first[0] = 50.0;
    EXPECT_EQ(values_of(*c.eval(ctx)), (std::vector<double>{1.0, 2.0}));
  });
}

}  // namespace
