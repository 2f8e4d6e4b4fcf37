#include "vorn_core/discoverer.hpp"

#include <cstdint>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using namespace vorn_core::discoverer;
using namespace vorn_core::testing;

TEST(Constantize, EveryLeafOneBecomesAConstantOne) {
  const NodePtr input = eml(eml(one(), x(1)), eml(c(2.5), one()));
  const NodePtr out = constantize(*input);
  EXPECT_EQ(to_string(tree(out)), "eml(eml(1.000000, x1), eml(2.500000, 1.000000))");
  EXPECT_EQ(out->left()->left()->kind(), tarvex::tree::EmlKind::Const);
  // Newly made throughout: not even the variable leaf is shared.
  EXPECT_NE(out->left()->right().get(), input->left()->right().get());
  EXPECT_NE(out->right()->left().get(), input->right()->left().get());
}

TEST(EffectiveDepth, ClampedToOneThroughThree) {
  const std::pair<std::uint64_t, std::size_t> cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {7, 3}, {UINT64_MAX, 3}};
  for (const auto& [setting, depth] : cases) EXPECT_EQ(effective_depth(setting), depth) << setting;
}

}  // namespace
