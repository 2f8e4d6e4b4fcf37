#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/basic_source_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using tensor::KnownShape;
using tensor::Tensor;
using tensor::TensorBuilder;

// The cheapest node: no inputs, no fields, so no allocation.
Tensor bare_node(graph::Graph& g) { return TensorBuilder(g).build(tensor_ops::basic_source_ops::Variable{}); }

Tensor node_over(std::initializer_list<Tensor> inputs) {
  TensorBuilder builder(inputs.begin()->graph());
  for (Tensor t : inputs) builder.append_input_with_selector(t);
  return builder.build(tensor_ops::basic_source_ops::Variable{});
}

TEST(Graph, IdsCountFromZeroInEveryRun) {
  for (int run = 0; run < 2; ++run) {
    graph::run([](graph::Context& ctx) {
      EXPECT_EQ(bare_node(ctx).id(), 0u);
      EXPECT_EQ(bare_node(ctx).id(), 1u);
      EXPECT_EQ(ctx.num_nodes(), 2u);
    });
  }
}

TEST(Graph, RunReturnsWhatTheClosureReturns) {
  EXPECT_EQ(graph::run([](graph::Context&) { return std::string("done"); }), "done");
}

TEST(Graph, TopologicalRankIsOneAboveTheHighestInput) {
  graph::run([](graph::Context& ctx) {
    const Tensor leaf = bare_node(ctx);
    EXPECT_EQ(ctx.node(leaf.id()).topo_rank, 0u);
    Tensor deep = leaf;
    for (int i = 0; i < 3; ++i) deep = node_over({deep});
    EXPECT_EQ(ctx.node(deep.id()).topo_rank, 3u);
    const Tensor joined = node_over({leaf, deep});
    EXPECT_EQ(ctx.node(joined.id()).topo_rank, 4u);
    EXPECT_EQ(ctx.node(node_over({deep, leaf}).id()).topo_rank, 4u);
  });
}

TEST(Graph, BuilderRecordsInputsInOrder) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = bare_node(ctx);
    const Tensor b = bare_node(ctx);
    const Tensor n = TensorBuilder(ctx).append_input_with_selector(b).append_input_with_selector(a, true).build(
        tensor_ops::basic_source_ops::Variable{});
    const auto& inputs = ctx.node(n.id()).inputs;
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[0].id, b.id());
    EXPECT_FALSE(inputs[0].is_mutable);
    EXPECT_EQ(inputs[1].id, a.id());
    EXPECT_TRUE(inputs[1].is_mutable);
    EXPECT_EQ(inputs[1].selector, 0u);
    EXPECT_EQ(n.get_backprop_input(0), b);
    EXPECT_EQ(n.get_backprop_input(1), a);
    EXPECT_EQ(panic_message([&] { n.get_backprop_input(2); }), "node 2 has 2 inputs; input 2 was asked for");
    EXPECT_EQ(panic_message([&] { ctx.node(7); }), "node id 7 is not in a graph of 3 nodes");
  });
}

TEST(Graph, TensorsOfAnotherGraphAreRefused) {
  graph::run([](graph::Context& outer) {
    const Tensor foreign = bare_node(outer);
    graph::run([&](graph::Context& inner) {
      const Tensor local = bare_node(inner);
      EXPECT_EQ(panic_message([&] { TensorBuilder(inner).append_input_with_selector(foreign); }),
                "Detected tensors belonging to different graphs");
      EXPECT_EQ(panic_message([&] { TensorBuilder(inner).set_shape(foreign); }),
                "Detected tensors belonging to different graphs");
      EXPECT_EQ(panic_message([&] { tensor_ops::reshape(local, foreign); }),
                "Detected tensors belonging to different graphs");
      EXPECT_EQ(panic_message([&] { foreign.eval(inner); }), "Detected tensors belonging to different graphs");
      EXPECT_EQ(inner.num_nodes(), 1u);  // nothing was added by the refused builds
    });
  });
}

TEST(Graph, RecordsStayInPlaceWhileTheGraphGrows) {
  graph::run([](graph::Context& ctx) {
    const Tensor first = ctx.placeholder("first", {2, -1});
    const tensor::TensorInternal& record = ctx.node(first.id());
    for (int i = 0; i < 5000; ++i) bare_node(ctx);
    EXPECT_EQ(&record, &ctx.node(first.id()));
    ASSERT_TRUE(record.placeholder_name.has_value());
    EXPECT_EQ(*record.placeholder_name, "first");
    EXPECT_EQ(record.known_shape->dims()[1], -1);
  });
}

// The backward walk holds a node's input list while it builds gradient nodes.
TEST(Graph, InputListsStayInPlaceWhileTheGraphGrows) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = bare_node(ctx);
    const Tensor b = bare_node(ctx);
    const Tensor joined = node_over({b, a});
    const std::span<const std::uint32_t> held = ctx.input_ids(joined.id());
    for (int i = 0; i < 5000; ++i) node_over({a, joined});
    EXPECT_EQ(held.data(), ctx.input_ids(joined.id()).data());
    EXPECT_EQ(std::vector<std::uint32_t>(held.begin(), held.end()), (std::vector<std::uint32_t>{1, 0}));

    // A node with more inputs than a block of input lists holds.
    TensorBuilder wide(ctx);
    for (std::uint32_t i = 0; i < 3000; ++i) wide.append_input_with_selector(Tensor(ctx, i % 7));
    const Tensor wide_node = wide.build(tensor_ops::basic_source_ops::Variable{});
    const std::span<const std::uint32_t> inputs = ctx.input_ids(wide_node.id());
    ASSERT_EQ(inputs.size(), 3000u);
    for (std::uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(inputs[i], i % 7) << i;
    EXPECT_EQ(ctx.input_ids(node_over({a}).id()).front(), 0u);
    EXPECT_EQ(std::vector<std::uint32_t>(held.begin(), held.end()), (std::vector<std::uint32_t>{1, 0}));
  });
}

struct KnownShapeCase {
  const char* name;
  std::vector<std::int64_t> dims;
  bool fully_defined;
};

class KnownShapes : public ::testing::TestWithParam<KnownShapeCase> {};

TEST_P(KnownShapes, MarkUnknownDimensions) {
  const KnownShape shape(GetParam().dims);
  EXPECT_EQ(shape.is_fully_defined(), GetParam().fully_defined);
  EXPECT_EQ(std::vector<std::int64_t>(shape.dims().begin(), shape.dims().end()), GetParam().dims);
}

INSTANTIATE_TEST_SUITE_P(Dims, KnownShapes,
                         ::testing::Values(KnownShapeCase{"empty", {}, true},
                                           KnownShapeCase{"one_unknown", {-1, 3}, false},
                                           KnownShapeCase{"zero_length", {0}, true},
                                           KnownShapeCase{"rank_five", {2, 3, 4, 5, 6}, true},
                                           KnownShapeCase{"all_unknown", {-1, -1}, false}),
                         case_name<KnownShapeCase>);

TEST(KnownShape, DimensionsBelowMinusOnePanic) {
  EXPECT_EQ(panic_message([] {
              KnownShape(std::vector<std::int64_t>{4, -2});
            }),
            "Given shape ([4, -2]) contains invalid dim size(s)");
  graph::run([](graph::Context& ctx) {
    EXPECT_EQ(panic_message([&] { ctx.placeholder("p", {-3}); }), "Given shape ([-3]) contains invalid dim size(s)");
    EXPECT_EQ(ctx.num_nodes(), 0u);
  });
}

TEST(Tensor, ShapeReadsTheKnownShape) {
  graph::run([](graph::Context& ctx) {
    EXPECT_EQ(ctx.placeholder("x", {-1}).shape(), std::vector<std::size_t>{0});
    EXPECT_EQ(ctx.placeholder("m", {2, -1, 3}).shape(), (std::vector<std::size_t>{2, 0, 3}));
    EXPECT_EQ(ctx.variable_by_id(variable::VariableID{0}).shape(), std::vector<std::size_t>{});
    EXPECT_EQ(tensor_ops::scalar(1.0, ctx).shape(), std::vector<std::size_t>{});
  });
}

// A placeholder keeps its name as a view for the graph's lifetime: no temporary string.
template <typename S>
concept PlaceholderName = requires(graph::Context& ctx, S&& name) {
  ctx.placeholder(std::forward<S>(name), std::span<const std::int64_t>());
  ctx.placeholder(std::forward<S>(name), {-1});
  TensorBuilder(ctx).set_placeholder_name(std::forward<S>(name));
};
static_assert(PlaceholderName<const char (&)[7]> && PlaceholderName<const std::string&> &&
              PlaceholderName<std::string_view>);
static_assert(!PlaceholderName<std::string> && !PlaceholderName<const std::string>);

TEST(Placeholder, OneNodePerNameInAGraph) {
  graph::run([](graph::Context& ctx) {
    const Tensor y = ctx.placeholder("vorn_y", {-1});
    bare_node(ctx);
    const Tensor again = ctx.placeholder("vorn_y", {5, 5});
    EXPECT_EQ(again, y);
    EXPECT_EQ(again.shape(), std::vector<std::size_t>{0});  // the first shape stays
    EXPECT_NE(ctx.placeholder("vorn_ones", {-1}), y);
    const auto& record = ctx.node(y.id());
    EXPECT_TRUE(record.is_differentiable);
    EXPECT_EQ(record.topo_rank, 0u);
    EXPECT_EQ(record.get_op().name(), "ketra_autograd::tensor_ops::basic_source_ops::Placeholder");
  });
  graph::run([](graph::Context& ctx) { EXPECT_EQ(ctx.placeholder("vorn_ones", {-1}).id(), 0u); });
}

TEST(Variable, OneNodePerIdInAGraph) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = ctx.variable_by_id(variable::VariableID{4});
    const Tensor b = ctx.variable_by_id(variable::VariableID{4});
    EXPECT_EQ(a, b);
    EXPECT_EQ(ctx.num_nodes(), 1u);
    const auto& record = ctx.node(a.id());
    EXPECT_EQ(record.variable_id, variable::VariableID{4});
    EXPECT_FALSE(record.known_shape.has_value());
    EXPECT_EQ(record.get_op().name(), "ketra_autograd::tensor_ops::basic_source_ops::Variable");
    // An id the environment does not hold still gets a node; evaluating it fails.
    const auto value = a.eval(ctx);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error().debug(), R"(OpError(RuntimeError("Failed to compute tensor 0")))");
  });
}

// Graphs on one thread reuse each other's storage: none may see a node, input list,
// variable or operation of the graph before it.
TEST(Graph, TheNextGraphOnTheThreadStartsEmpty) {
  variable::VariableEnvironment env;
  const variable::VariableID w = env.slot("w").set(ArrayD::scalar(3.0));
  env.run([&](graph::Context& ctx) {
    const Tensor x = ctx.variable_by_id(w);
    for (int i = 0; i < 600; ++i) node_over({x});  // more records than one graph reserves
    tensor_ops::scalar(2.0, ctx);
  });
  env.run([&](graph::Context& ctx) {
    EXPECT_EQ(ctx.num_nodes(), 0u);
    const Tensor five = tensor_ops::scalar(5.0, ctx);
    const Tensor x = ctx.variable_by_id(w);
    EXPECT_EQ(x.id(), 1u);  // a node of its own, not the last graph's node 0
    EXPECT_EQ(ctx.num_nodes(), 2u);
    EXPECT_TRUE(ctx.input_ids(x.id()).empty());
    EXPECT_EQ(*five.eval(ctx), ArrayD::scalar(5.0));
    EXPECT_EQ(*x.eval(ctx), ArrayD::scalar(3.0));
  });
}

TEST(Graph, WarnsOnceWhenTheFiftyThousandAndFirstNodeIsAdded) {
  graph::run([](graph::Context& ctx) {
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 50000; ++i) bare_node(ctx);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(bare_node(ctx).id(), 50000u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Too many tensors in this graph: 50000. Use Graph::clear, or move the training loop out of the `run` "
              "block\n");
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 50000; ++i) bare_node(ctx);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  });
}

TEST(Graph, RefusesNodesBeyondTheLimit) {
  const auto start = std::chrono::steady_clock::now();
  graph::run([](graph::Context& ctx) {
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 500000; ++i) bare_node(ctx);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(bare_node(ctx).id(), 500000u);
    EXPECT_EQ(panic_message([&] { bare_node(ctx); }),
              "Maximum graph size exceeded: 500000. Use Graph::clear, or move the training loop out of the `run` "
              "block");
    EXPECT_EQ(ctx.num_nodes(), 500001u);
    EXPECT_EQ(panic_message([&] { ctx.placeholder("late", {1}); }),
              "Maximum graph size exceeded: 500000. Use Graph::clear, or move the training loop out of the `run` "
              "block");
  });
  // About 500,000 installs of a field-free operation: a budget, not a benchmark.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
