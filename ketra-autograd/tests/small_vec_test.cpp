#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ketra_autograd/small_vec.hpp"

namespace {

using ketra_autograd::SmallVec;

std::vector<int> items(const SmallVec<int, 2>& v) { return {v.begin(), v.end()}; }

TEST(SmallVec, GrowsFromInlineToHeapKeepingOrder) {
  SmallVec<int, 2> v;
  for (int i = 0; i < 9; ++i) v.push_back(i);
  EXPECT_EQ(items(v), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  v.insert(0, -1);
  v.insert(5, 40);
  v.erase(1);
  EXPECT_EQ(items(v), (std::vector<int>{-1, 1, 2, 3, 40, 4, 5, 6, 7, 8}));
}

TEST(SmallVec, CopiesAndMovesOfBothForms) {
  for (int count : {1, 2, 5}) {
    SmallVec<int, 2> original;
    for (int i = 0; i < count; ++i) original.push_back(10 * i);
    SmallVec<int, 2> copy = original;
    copy.push_back(7);
    EXPECT_EQ(original.size(), static_cast<std::size_t>(count));
    SmallVec<int, 2> moved = std::move(copy);
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(moved.size(), static_cast<std::size_t>(count) + 1);
    EXPECT_EQ(moved.back(), 7);
    moved = original;
    EXPECT_EQ(moved, original);
    SmallVec<int, 2> target{1, 2, 3, 4, 5, 6};
    target = std::move(moved);
    EXPECT_EQ(target, original);
  }
}

TEST(SmallVec, FilledConstruction) {
  const SmallVec<std::int64_t, 4> v(6, -1);
  EXPECT_EQ(v.size(), 6u);
  for (std::int64_t x : v) EXPECT_EQ(x, -1);
}

}  // namespace
