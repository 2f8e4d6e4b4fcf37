#include <gtest/gtest.h>

#include "test_support.hpp"

namespace ketra_autograd::testing {
namespace {

// The two outcome suites of operations' compute; both are instantiated beside each
// operation's own tests.
TEST_P(OpFailures, ReturnTheErrorAndAppendNothing) {
  const Computed computed = compute(*GetParam().op(), GetParam().inputs);
  EXPECT_EQ(computed.error_debug(), GetParam().error);
  EXPECT_TRUE(computed.outputs.empty());
}

TEST_P(OpComputes, GiveOneOutputOfTheShapeAndBits) {
  const ComputeCase& c = GetParam();
  const Computed computed = compute(*c.op, c.inputs);
  ASSERT_TRUE(computed.result.has_value()) << computed.error_debug();
  ASSERT_EQ(computed.outputs.size(), 1u);
  EXPECT_EQ(shape_of(computed.out()), c.shape);
  EXPECT_TRUE(same_bits(values_of(computed.out()), c.values)) << ::testing::PrintToString(values_of(computed.out()));
}

}  // namespace
}  // namespace ketra_autograd::testing
