#include <gtest/gtest.h>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/tensor_ops.hpp"

using namespace ketra_autograd;

TEST(Smoke, ScalarEvaluates) {
  graph::run([](graph::Context& ctx) {
    auto t = tensor_ops::scalar(3.0, ctx);
    auto v = t.eval(ctx);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ((*v)[0], 3.0);
  });
}
