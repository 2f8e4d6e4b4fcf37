#include <gtest/gtest.h>

#include "test_support.hpp"

namespace ketra_autograd::testing {
namespace {

// Instantiated beside each operation's own tests.
TEST_P(OpFailures, ReturnTheErrorAndAppendNothing) {
  const Computed computed = compute(*GetParam().op(), GetParam().inputs);
  EXPECT_EQ(computed.error_debug(), GetParam().error);
  EXPECT_TRUE(computed.outputs.empty());
}

}  // namespace
}  // namespace ketra_autograd::testing
