#include "vorn_core/dataset.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using vorn_core::dataset::DataSet;
using namespace vorn_core::testing;

ArrayD zeros(std::size_t rows, std::size_t columns) { return ArrayD::zeros(std::vector<std::size_t>{rows, columns}); }

TEST(DataSetFromArrays, RowCountMustMatchTargetCount) {
  const auto made = DataSet::from_arrays(zeros(3, 2), vec({1, 2, 3, 4}));
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error().to_string(), "shape mismatch: x has 3 rows but y has 4 entries");
}

TEST(DataSetFromArrays, KeepsArraysNamesColumnsAndAcceptsEmptyShapes) {
  const auto made = DataSet::from_arrays(array({2, 3}, {1, 2, 3, 4, 5, 6}), vec({7, 8}));
  ASSERT_TRUE(made);
  EXPECT_EQ(made->feature_names, (std::vector<std::string>{"x0", "x1", "x2"}));
  EXPECT_EQ(made->target_name, "y");
  EXPECT_EQ(made->x, array({2, 3}, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(made->y, vec({7, 8}));

  EXPECT_TRUE(DataSet::from_arrays(zeros(0, 2), ArrayD::from_vec({})));  // refused later, by the driver
  const auto no_columns = DataSet::from_arrays(zeros(5, 0), vec({1, 2, 3, 4, 5}));
  ASSERT_TRUE(no_columns);
  EXPECT_TRUE(no_columns->feature_names.empty());
}

TEST(DataSetFromArrays, WrongRanksAreCallerFaults) {
  EXPECT_EQ(panic_message([] {
              (void)DataSet::from_arrays(vec({1, 2}), vec({1, 2}));
            }),
            "data set inputs must be 2-D, got shape [2]");
  EXPECT_EQ(panic_message([] { (void)DataSet::from_arrays(zeros(2, 1), zeros(2, 1)); }),
            "data set targets must be 1-D, got shape [2, 1]");
}

}  // namespace
