#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/variable.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using variable::VariableEnvironment;
using variable::VariableID;

std::vector<std::size_t> sorted_ids(std::vector<VariableID> ids) {
  std::vector<std::size_t> raw;
  for (VariableID id : ids) raw.push_back(id.value);
  std::sort(raw.begin(), raw.end());
  return raw;
}

// Namespace views and slots keep the namespace as a view, so it may not be a temporary
// string that is gone before the view is used.
template <typename S>
concept WritableNamespaceName = requires(VariableEnvironment& env, S&& name) {
  env.namespace_mut(std::forward<S>(name));
};
template <typename S>
concept ReadableNamespaceName = requires(const VariableEnvironment& env, S&& name) {
  env.namespace_(std::forward<S>(name));
};
static_assert(WritableNamespaceName<const char (&)[10]> && WritableNamespaceName<std::string&> &&
              WritableNamespaceName<std::string_view>);
static_assert(ReadableNamespaceName<const char (&)[10]> && ReadableNamespaceName<const std::string&>);
static_assert(!WritableNamespaceName<std::string> && !ReadableNamespaceName<std::string>);
static_assert(std::is_constructible_v<variable::VariableNamespace, const VariableEnvironment&, std::string&>);
static_assert(!std::is_constructible_v<variable::VariableNamespace, const VariableEnvironment&, std::string>);
static_assert(!std::is_constructible_v<variable::VariableNamespaceMut, VariableEnvironment&, std::string>);
static_assert(!std::is_constructible_v<variable::NamedVariableSlot, std::string, VariableEnvironment&, std::string>);

TEST(VariableID, PrintsAsAPlainInteger) {
  EXPECT_EQ(variable::to_string(VariableID{12}), "12");
  EXPECT_EQ(variable::to_string(VariableID{0}), "0");
}

TEST(VariableEnvironment, IdsFollowCreationOrderAndRebindingKeepsOldArrays) {
  VariableEnvironment env;
  EXPECT_EQ(env.slot("c0").set(vec({1.0})), VariableID{0});
  EXPECT_EQ(env.slot("c0").set(vec({2.0})), VariableID{1});
  EXPECT_EQ(env.num_arrays(), 2u);
  EXPECT_EQ((*env.array_cell(VariableID{0}))[0], 1.0);  // still held under its old id
  EXPECT_EQ(env.array_cell(VariableID{2}), nullptr);
  env.run([&](graph::Context& ctx) {
    const auto c0 = ctx.variable_by_name("c0", env.namespace_(""));
    EXPECT_EQ(ctx.node(c0.id()).variable_id, VariableID{1});
    EXPECT_EQ((*c0.eval(ctx))[0], 2.0);
  });
  EXPECT_EQ(sorted_ids(env.namespace_("").variable_ids()), (std::vector<std::size_t>{1}));
}

TEST(VariableEnvironment, NamespacesKeepEqualNamesApart) {
  VariableEnvironment env;
  const VariableID plain = env.slot("c0").set(vec({1.0}));
  env.namespace_mut("vorn_adam").slot("c0").set(vec({5.0}));
  env.namespace_mut("vorn_adam").slot("0m").set(vec({0.0}));
  env.slot("c1").set(vec({3.0}));
  env.run([&](graph::Context& ctx) {
    const auto in_default = ctx.variable_by_name("c0", env.namespace_(""));
    const auto in_adam = ctx.variable_by_name("c0", env.namespace_("vorn_adam"));
    EXPECT_NE(in_default, in_adam);
    EXPECT_EQ(ctx.node(in_default.id()).variable_id, plain);
    EXPECT_EQ((*in_adam.eval(ctx))[0], 5.0);
    EXPECT_EQ(ctx.variable_by_name("c0", env.namespace_("")), in_default);  // same tensor on a second lookup
  });
  EXPECT_EQ(sorted_ids(env.namespace_("").variable_ids()), (std::vector<std::size_t>{0, 3}));
  EXPECT_EQ(sorted_ids(env.namespace_("vorn_adam").variable_ids()), (std::vector<std::size_t>{1, 2}));
  EXPECT_TRUE(env.namespace_("vorn").variable_ids().empty());
}

TEST(VariableEnvironment, ListingOrderIsTheSameInEveryEnvironment) {
  const auto build = [] {
    auto env = std::make_unique<VariableEnvironment>();
    for (int i = 0; i < 40; ++i) env->slot("c" + std::to_string(i)).set(vec({1.0}));
    return env;
  };
  const auto first = build();
  const auto second = build();
  const auto ids = first->namespace_("").variable_ids();
  ASSERT_EQ(ids.size(), 40u);
  EXPECT_EQ(ids, second->namespace_("").variable_ids());
}

TEST(VariableEnvironment, MissingNamesPanicWithTheirNamespace) {
  VariableEnvironment env;
  env.slot("c0").set(vec({1.0}));
  env.run([&](graph::Context& ctx) {
    EXPECT_EQ(panic_message([&] { ctx.variable_by_name("c9", env.namespace_("")); }),
              "variable array not found in default namespace: c9");
    EXPECT_EQ(panic_message([&] { ctx.variable_by_name("c0", env.namespace_("vorn_adam")); }),
              "variable array `c0` not found in namespace vorn_adam");
  });
}

TEST(VariableEnvironment, RunsShareTheEnvironmentButNotTheGraph) {
  VariableEnvironment env;
  const VariableID id = env.slot("c0").set(vec({1.0, 2.0}));
  const std::size_t first_node = env.run([&](graph::Context& ctx) {
    const auto t = ctx.variable_by_id(id);
    *env.array_cell(id) = vec({7.0});  // what an optimiser step does between evaluations
    EXPECT_EQ((*t.eval(ctx))[0], 7.0);
    return t.id();
  });
  EXPECT_EQ(first_node, 0u);
  env.run([&](graph::Context& ctx) {
    EXPECT_EQ(ctx.num_nodes(), 0u);
    const auto t = ctx.variable_by_name("c0", env.namespace_(""));
    EXPECT_EQ(t.id(), 0u);
    const auto value = t.eval(ctx);
    EXPECT_EQ(value->len(), 1u);
    EXPECT_EQ((*value)[0], 7.0);
  });
}

TEST(VariableEnvironment, EvaluationReadsButNeverChangesTheArrays) {
  VariableEnvironment env;
  const VariableID id = env.slot("w").set(vec({1.0, 2.0, 3.0}));
  env.run([&](graph::Context& ctx) {
    auto value = *ctx.variable_by_id(id).eval(ctx);
    value[0] = 100.0;
  });
  EXPECT_EQ((*env.array_cell(id))[0], 1.0);
}

}  // namespace
