#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"
#include "support/testing.hpp"

namespace pellum_matrix {
namespace {

using mat_mut::MatMut;
using mat_ref::MatRef;
using support::testing::panic_message;

// 0, 1, 2, ... so that an element's value is its offset from the start.
std::vector<double> offsets(std::size_t n) {
  std::vector<double> v(n);
  std::iota(v.begin(), v.end(), 0.0);
  return v;
}

TEST(MatRef, ColumnMajorWithStride) {
  const auto data = offsets(40);
  const MatRef<double> view(data.data(), 4, 3, 10);
  EXPECT_EQ(view.at(3, 2), 23.0);
  EXPECT_EQ(view.at(0, 1), 10.0);
  EXPECT_EQ(view.ptr_at(3, 2), data.data() + 23);
}

TEST(MatRef, SubmatrixKeepsStrideAndStart) {
  const auto data = offsets(60);
  const MatRef<double> parent(data.data(), 6, 5, 12);
  const MatRef<double> sub = parent.submatrix(2, 1, 4, 3);
  EXPECT_EQ(sub.nrows(), 4u);
  EXPECT_EQ(sub.ncols(), 3u);
  EXPECT_EQ(sub.col_stride(), 12u);
  EXPECT_EQ(sub.at(0, 0), 14.0);
  EXPECT_EQ(sub.at(3, 2), 2 + 3 + (1 + 2) * 12.0);
  // Empty sub-views at the far edges are inside.
  EXPECT_EQ(parent.submatrix(6, 5, 0, 0).nrows(), 0u);
}

struct BoundsCase {
  const char* name;
  std::size_t i0, j0, rows, cols;
  bool inside;
};

TEST(Views, SubmatrixBounds) {
  const auto huge = static_cast<std::size_t>(-1);
  const BoundsCase cases[] = {
      {"whole", 0, 0, 6, 5, true},
      {"last_element", 5, 4, 1, 1, true},
      {"one_row_too_many", 1, 0, 6, 5, false},
      {"one_column_too_many", 0, 1, 6, 5, false},
      {"start_beyond", 7, 0, 0, 0, false},
      {"count_wraps_around", 2, 0, huge, 1, false},
  };
  std::vector<float> data(30);
  const MatMut<float> view(data.data(), 6, 5, 6);
  for (const BoundsCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = c.inside ? "<no panic>" : "Submatrix out of bounds";
    EXPECT_EQ(panic_message([&] { view.submatrix(c.i0, c.j0, c.rows, c.cols); }), expected);
    EXPECT_EQ(panic_message([&] { view.as_ref().submatrix(c.i0, c.j0, c.rows, c.cols); }), expected);
  }
}

TEST(Views, ElementBounds) {
  std::vector<double> data(12);
  const MatMut<double> view(data.data(), 3, 4, 3);
  EXPECT_EQ(panic_message([&] { view.at(2, 3) = 1.0; }), "<no panic>");
  EXPECT_EQ(data[11], 1.0);
  EXPECT_EQ(panic_message([&] { view.at(3, 0); }), "Index out of bounds");
  EXPECT_EQ(panic_message([&] { view.at(0, 4); }), "Index out of bounds");
  EXPECT_EQ(panic_message([&] { view.as_ref().at(3, 3); }), "Index out of bounds");
}

TEST(MatMut, WritesThroughSubmatrix) {
  std::vector<double> data(20, 0.0);
  const MatMut<double> parent(data.data(), 4, 5, 4);
  parent.submatrix(1, 2, 2, 2).at(1, 1) = 7.0;
  EXPECT_EQ(data[2 + 3 * 4], 7.0);
  EXPECT_EQ(parent.as_ref().at(2, 3), 7.0);
}

}  // namespace
}  // namespace pellum_matrix
