#include "vorn_core/fit.hpp"

#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using namespace vorn_core::fit;
using namespace vorn_core::testing;

// eml(eml(c0, x0), eml(1, eml(c1, c2))): constants in pre-order, left first.
NodePtr three_constants() { return eml(eml(c(0.5), x(0)), eml(one(), eml(c(1.5), c(2.5)))); }

TEST(CollectConsts, PreOrderLeftChildFirst) {
  std::vector<double> out = {9.0};  // appends
  collect_consts(*three_constants(), out);
  EXPECT_EQ(out, (std::vector<double>{9.0, 0.5, 1.5, 2.5}));

  std::vector<double> none;
  collect_consts(*eml(one(), x(3)), none);
  EXPECT_TRUE(none.empty());
}

TEST(SubstituteConsts, ReplacesInConstantOrderWithNewNodes) {
  const NodePtr input = three_constants();
  const std::vector<double> values = {7.0, 8.0, 9.0, 10.0};
  std::size_t index = 0;
  const NodePtr out = substitute_consts(*input, values, index);
  EXPECT_EQ(index, 3u);
  EXPECT_EQ(to_string(tree(out)), "eml(eml(7.000000, x0), eml(1, eml(8.000000, 9.000000)))");
  // Nothing is shared with the input, not even the leaves that were copied.
  EXPECT_NE(out->left()->right().get(), input->left()->right().get());
  EXPECT_NE(out->right()->left().get(), input->right()->left().get());
  EXPECT_EQ(to_string(tree(input)), "eml(eml(0.500000, x0), eml(1, eml(1.500000, 2.500000)))");

  std::size_t from_one = 1;
  EXPECT_EQ(to_string(tree(substitute_consts(*input, values, from_one))),
            "eml(eml(8.000000, x0), eml(1, eml(9.000000, 10.000000)))");
  EXPECT_EQ(from_one, 4u);
}

TEST(SubstituteConsts, TooFewValuesIsACallerFault) {
  const std::vector<double> values = {1.0, 2.0};
  std::size_t index = 0;
  EXPECT_EQ(panic_message([&] { (void)substitute_consts(*three_constants(), values, index); }),
            "constant index 2 out of range for 2 values");
}

}  // namespace
