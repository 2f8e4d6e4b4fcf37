#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "ketra_autograd/ndarray_ext.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using List = std::vector<std::size_t>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double two_pow_64 = 18446744073709551616.0;

List list(const Dims& dims) { return {dims.begin(), dims.end()}; }

TEST(NdarrayExt, LenientReadingsMapTheUnreadableToZero) {
  EXPECT_EQ(list(ndarray_ext::unsigned_reading(vec({2.9, -0.5, -1, nan, two_pow_64, 1e19}))),
            (List{2, 0, 0, 0, 0, 10000000000000000000u}));
  // Negative axes count from the end of the rank before the reading.
  EXPECT_EQ(list(ndarray_ext::normalize_negative_axes(vec({-1, -0.5, -5, nan, 1, 1}), 2)), (List{1, 1, 0, 0, 1, 1}));
  EXPECT_EQ(list(ndarray_ext::normalize_negative_axes(vec({-1}), 3)), (List{2}));
  EXPECT_EQ(list(ndarray_ext::sparse_to_dense(vec({0, 1, 0, 1, 2, -1}))), (List{1, 3}));
  EXPECT_EQ(list(ndarray_ext::sparse_to_dense(vec({}))), List{});
}

}  // namespace
