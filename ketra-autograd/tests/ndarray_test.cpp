#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ketra_autograd/ndarray.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using Shape = std::vector<std::size_t>;

// Row-major multi-index of a flat position.
Shape unravel(std::size_t flat, const Shape& shape) {
  Shape index(shape.size());
  for (std::size_t axis = shape.size(); axis-- > 0;) {
    index[axis] = flat % shape[axis];
    flat /= shape[axis];
  }
  return index;
}

std::size_t ravel(const Shape& index, const Shape& shape) {
  std::size_t flat = 0;
  for (std::size_t axis = 0; axis < shape.size(); ++axis) flat = flat * shape[axis] + index[axis];
  return flat;
}

// The element of `a` that broadcasting pairs with position `index` of shape `out`.
double broadcast_element(const ArrayD& a, const Shape& index, const Shape& out) {
  const Shape own = shape_of(a);
  Shape at(own.size());
  for (std::size_t i = 0; i < own.size(); ++i) {
    const std::size_t j = i + out.size() - own.size();
    at[i] = own[i] == 1 ? 0 : index[j];
  }
  return a[ravel(at, own)];
}

TEST(ArrayD, FactoriesAndShapeText) {
  const ArrayD s = ArrayD::scalar(2.5);
  EXPECT_EQ(s.ndim(), 0u);
  EXPECT_EQ(s.len(), 1u);
  EXPECT_EQ(s[0], 2.5);
  EXPECT_EQ(s.shape_text(), "[]");
  EXPECT_TRUE(s.is_scalar_like());

  const ArrayD z = ArrayD::zeros(Shape{2, 3});
  EXPECT_EQ(z.shape_text(), "[2, 3]");
  EXPECT_EQ(values_of(z), std::vector<double>(6, 0.0));
  EXPECT_FALSE(z.is_scalar_like());
  EXPECT_TRUE(ArrayD::from_elem(Shape{1}, 4.0).is_scalar_like());
  EXPECT_FALSE(ArrayD::from_elem(Shape{1, 1}, 4.0).is_scalar_like());

  EXPECT_FALSE(ArrayD::from_shape_vec(Shape{2, 2}, std::vector<double>{1, 2, 3}).has_value());
  EXPECT_EQ(values_of(*ArrayD::from_shape_vec(Shape{3}, std::vector<double>{1, 2, 3})), (std::vector<double>{1, 2, 3}));

  const ArrayD empty;
  EXPECT_EQ(empty.shape_text(), "[0]");
  EXPECT_EQ(empty.len(), 0u);
}

TEST(ArrayD, CopiesAreIndependentAndMovesLeaveEmptyArrays) {
  ArrayD a = iota({2, 3});
  ArrayD b = a;
  b[0] = 99.0;
  EXPECT_EQ(a[0], 0.0);
  ArrayD c = std::move(a);
  EXPECT_EQ(shape_of(c), (Shape{2, 3}));
  EXPECT_EQ(c[5], 5.0);
  a = b;
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

TEST(ArrayD, RecycledStorageNeverLeaksValuesBetweenArrays) {
  // Arrays dropped and made again in a loop reuse the same blocks; each must read as made.
  for (int round = 0; round < 200; ++round) {
    std::vector<ArrayD> live;
    for (std::size_t n = 1; n < 40; n += 3) live.push_back(ArrayD::from_elem(Shape{n}, static_cast<double>(round)));
    for (const ArrayD& a : live) {
      for (double v : a.data()) ASSERT_EQ(v, static_cast<double>(round));
    }
  }
  // A high-rank array keeps its shape apart from the recycled block header.
  const ArrayD deep = ArrayD::zeros(Shape{1, 2, 1, 2, 1, 2, 1});
  EXPECT_EQ(deep.shape_text(), "[1, 2, 1, 2, 1, 2, 1]");
  EXPECT_EQ(deep.len(), 8u);
  ArrayD moved = *ArrayD(deep).into_shape(Shape{8});
  EXPECT_EQ(moved.shape_text(), "[8]");
}

TEST(ArrayD, ArraysMayChangeThreads) {
  ArrayD made_here = iota({50});
  std::thread([a = std::move(made_here)]() mutable {
    ArrayD b = std::move(a);
    EXPECT_EQ(b[49], 49.0);
  }).join();
  EXPECT_EQ(iota({50})[10], 10.0);
}

// Blocks kept for reuse would hide a read of a released array from AddressSanitizer, so a
// sanitized build pools nothing.
TEST(ArrayPoolDeathTest, AReleasedArrayIsReportedBySanitizedBuilds) {
#if defined(__SANITIZE_ADDRESS__)
  const double* stale = nullptr;
  {
    const ArrayD released = iota({8});
    stale = released.data().data();
  }
  EXPECT_DEATH(static_cast<void>(*static_cast<const volatile double*>(stale)), "heap-use-after-free");
#else
  GTEST_SKIP() << "only a build with AddressSanitizer can see the stale read";
#endif
}

// The bytes of the blocks the calling thread keeps for reuse.
std::size_t pooled_bytes() {
  std::size_t bytes = 0;
  for (std::size_t cls = 0; cls < detail::pooled_classes; ++cls) bytes += detail::block_pool.count[cls] << cls;
  return bytes;
}

// An idle thread keeps at most about 1 MiB of blocks per size class, 8 MiB in all, however
// many arrays of every size it had alive at once, and so once more after a reuse scope,
// which kept far more, has closed.
TEST(ArrayPool, AnIdleThreadKeepsAtMostEightMebibytes) {
  for (const bool scoped : {false, true}) {
    SCOPED_TRACE(scoped ? "after a reuse scope" : "without a reuse scope");
    std::size_t held_bytes = 0;
    std::thread([&held_bytes, scoped] {
      {
        std::optional<ArrayReuseScope> scope;
        if (scoped) scope.emplace();
        for (std::size_t len = 1; len <= (std::size_t{1} << 17); len *= 2) {
          std::vector<ArrayD> alive;
          for (int i = 0; i < 70; ++i) alive.push_back(ArrayD::zeros(Shape{len}));
        }
      }
      held_bytes = pooled_bytes();
    }).join();
    EXPECT_LE(held_bytes, std::size_t{8} << 20);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_GT(held_bytes, std::size_t{4} << 20);  // it does keep the blocks it may
#endif
  }
}

// While a reuse scope is open, a class keeps as many blocks as it had alive at once,
// beyond the idle bound and in classes an idle thread never keeps, until the scope's
// allowance is spent; only the outermost scope's close frees them.
TEST(ArrayPool, AReuseScopeKeepsLargeBlocksUpToItsAllowance) {
  struct Step {
    const char* name;
    std::size_t len;
    std::size_t alive;
    std::size_t kept;  // blocks of the class kept once the arrays are dropped
  };
  const Step steps[] = {
      {"beyond the idle bound of its class", 100'000, 3, 3},     // 1 MiB blocks; idle keeps 1
      {"of a class an idle thread never keeps", 200'000, 2, 2},  // 2 MiB blocks
      // 128 MiB blocks: one more fits the 256 MiB allowance beside the 6 MiB above, two not.
      {"until the allowance is spent", 10'000'000, 3, 1},
  };
  std::thread([&] {
    {
      const ArrayReuseScope outer;
      std::size_t kept_bytes = 0;
      {
        const ArrayReuseScope inner;
        for (const Step& step : steps) {
          SCOPED_TRACE(step.name);
          const std::size_t cls = detail::size_class(step.len);
          std::vector<const double*> dropped;
          {
            std::vector<ArrayD> alive;
            for (std::size_t i = 0; i < step.alive; ++i) alive.push_back(ArrayD::for_overwrite(Shape{step.len}));
            for (const ArrayD& a : alive) dropped.push_back(a.data().data());
          }
          const std::size_t kept = detail::pooling ? step.kept : 0;
          EXPECT_EQ(detail::block_pool.count[cls], kept);
          // The next arrays of the class are made in kept blocks.
          std::vector<ArrayD> again;
          for (std::size_t i = 0; i < kept; ++i) again.push_back(ArrayD::for_overwrite(Shape{step.len}));
          EXPECT_EQ(detail::block_pool.count[cls], 0u);
          for (const ArrayD& a : again) EXPECT_NE(std::ranges::find(dropped, a.data().data()), dropped.end());
        }
        kept_bytes = pooled_bytes();
      }
      EXPECT_EQ(pooled_bytes(), kept_bytes);  // an inner scope's close frees nothing
    }
    const std::size_t idle_kept = detail::pooling ? 1 : 0;
    EXPECT_EQ(detail::block_pool.count[detail::size_class(steps[0].len)], idle_kept);
    EXPECT_EQ(detail::block_pool.count[detail::size_class(steps[1].len)], 0u);
    EXPECT_EQ(detail::block_pool.count[detail::size_class(steps[2].len)], 0u);
  }).join();
}

// Shapes whose element count or byte size leaves the machine word would otherwise wrap
// to a small count and pass for a small array, which later walks write past.
TEST(ArrayD, ElementCountsThatOverflowPanic) {
  constexpr std::size_t two_32 = std::size_t{1} << 32;
  const Shape wraps_to_zero{two_32, two_32};
  const Shape too_many_bytes{(std::size_t{1} << 61) + 1};  // the count fits, its bytes do not
  const std::string wraps_message = "array shape [4294967296, 4294967296] holds more elements than memory can address";
  const std::string bytes_message = "array shape [2305843009213693953] holds more elements than memory can address";
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string message;
  };
  const Case cases[] = {
      {"zeros", [&] { ArrayD::zeros(wraps_to_zero); }, wraps_message},
      {"from_elem", [&] { ArrayD::from_elem(wraps_to_zero, 1.0); }, wraps_message},
      {"for_overwrite", [&] { ArrayD::for_overwrite(wraps_to_zero); }, wraps_message},
      {"from_shape_vec", [&] { static_cast<void>(ArrayD::from_shape_vec(wraps_to_zero, {})); }, wraps_message},
      {"into_shape", [&] { static_cast<void>(ArrayD().into_shape(wraps_to_zero)); }, wraps_message},
      {"byte size", [&] { ArrayD::for_overwrite(too_many_bytes); }, bytes_message},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(panic_message(c.make), c.message);
  }
}

// The largest count is the one whose block (64-byte header, 8 bytes per element) still
// has a power-of-two size class below 2^64.
TEST(ArrayD, ElementCountLimitIsTheLargestAddressableBlock) {
  constexpr std::size_t largest = (std::size_t{1} << 60) - 8;
  EXPECT_EQ(element_count(Shape{largest}), largest);
  EXPECT_EQ(element_count(Shape{std::size_t{1} << 30, (std::size_t{1} << 30) - 1}),
            (std::size_t{1} << 60) - (std::size_t{1} << 30));
  EXPECT_EQ(panic_message([] { element_count(Shape{largest + 1}); }),
            "array shape [1152921504606846969] holds more elements than memory can address");
  // A zero axis empties the array, but the other axes still bound its strides.
  EXPECT_EQ(element_count(Shape{0, std::size_t{1} << 40}), 0u);
  EXPECT_EQ(panic_message([] {
              element_count(Shape{4, std::size_t{1} << 62, 0});
            }),
            "array shape [4, 4611686018427387904, 0] holds more elements than memory can address");
  EXPECT_EQ(element_count(Shape{}), 1u);
}

struct BroadcastCase {
  const char* name;
  Shape a, b;
  Shape expected;  // empty with `fails` set when the shapes do not broadcast
  bool fails = false;
};

class Broadcasting : public ::testing::TestWithParam<BroadcastCase> {};

TEST_P(Broadcasting, PairsElementsLikeTheReferenceRule) {
  const BroadcastCase& c = GetParam();
  ArrayD a = ArrayD::for_overwrite(c.a);
  ArrayD b = ArrayD::for_overwrite(c.b);
  for (std::size_t i = 0; i < a.len(); ++i) a[i] = 1.0 + static_cast<double>(i);
  for (std::size_t i = 0; i < b.len(); ++i) b[i] = 1000.0 * (1.0 + static_cast<double>(i));
  const auto sum = zip_with(a, b, [](double x, double y) { return x + y; });
  if (c.fails) {
    EXPECT_FALSE(sum.has_value());
    EXPECT_EQ(sum.error().debug(), "ShapeError/IncompatibleShape: incompatible shapes");
    EXPECT_FALSE(broadcast_shape(c.a, c.b).has_value());
    return;
  }
  ASSERT_TRUE(sum.has_value());
  EXPECT_EQ(shape_of(*sum), c.expected);
  for (std::size_t flat = 0; flat < sum->len(); ++flat) {
    const Shape index = unravel(flat, c.expected);
    EXPECT_EQ((*sum)[flat], broadcast_element(a, index, c.expected) + broadcast_element(b, index, c.expected))
        << "at flat position " << flat;
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, Broadcasting,
                         ::testing::Values(BroadcastCase{"equal_shapes", {2, 3}, {2, 3}, {2, 3}},
                                           BroadcastCase{"scalar_against_vector", {}, {4}, {4}},
                                           BroadcastCase{"length_one_against_scalar_keeps_its_axis", {1}, {}, {1}},
                                           BroadcastCase{"length_one_operand", {5}, {1}, {5}},
                                           BroadcastCase{"general_path", {2, 1}, {3}, {2, 3}},
                                           BroadcastCase{"axes_stretched_on_both_sides", {2, 1, 3}, {4, 1}, {2, 4, 3}},
                                           BroadcastCase{"one_element_of_rank_two", {1, 1}, {2, 3}, {2, 3}},
                                           BroadcastCase{"length_one_against_length_zero", {0}, {1}, {0}},
                                           BroadcastCase{"zero_axis_kept", {3, 0}, {3, 1}, {3, 0}},
                                           BroadcastCase{"unequal_lengths_refused", {2}, {3}, {}, true},
                                           BroadcastCase{"transposed_shapes_refused", {2, 3}, {3, 2}, {}, true}),
                         case_name<BroadcastCase>);

TEST(ArrayD, BroadcastToStretchesOrRefuses) {
  const ArrayD row = array({3}, {1, 2, 3});
  const auto grid = row.broadcast_to(Shape{2, 3});
  ASSERT_TRUE(grid.has_value());
  EXPECT_EQ(values_of(*grid), (std::vector<double>{1, 2, 3, 1, 2, 3}));
  EXPECT_FALSE(row.broadcast_to(Shape{3, 2}).has_value());
  EXPECT_FALSE(row.broadcast_to(Shape{}).has_value());
}

TEST(ArrayD, PermutedMatchesIndexPermutation) {
  const ArrayD x = iota({2, 3, 4});
  const Shape axes{1, 2, 0};
  const ArrayD y = x.permuted(axes);
  EXPECT_EQ(shape_of(y), (Shape{3, 4, 2}));
  for (std::size_t flat = 0; flat < y.len(); ++flat) {
    const Shape at = unravel(flat, {3, 4, 2});
    Shape source(3);
    for (std::size_t j = 0; j < 3; ++j) source[axes[j]] = at[j];
    EXPECT_EQ(y[flat], x[ravel(source, {2, 3, 4})]);
  }
  EXPECT_EQ(ArrayD::scalar(7.0).permuted(Shape{}), ArrayD::scalar(7.0));
}

TEST(ArrayD, PermutationsThatAreNotPermutationsPanic) {
  const ArrayD x = iota({2, 3});
  EXPECT_EQ(panic_message([&] {
              x.permuted(Shape{0, 0});
            }),
            "axes [0, 0] are not a permutation of the axes of an array of shape [2, 3]");
  EXPECT_EQ(panic_message([&] {
              x.permuted(Shape{0, 2});
            }),
            "axes [0, 2] are not a permutation of the axes of an array of shape [2, 3]");
  EXPECT_EQ(panic_message([&] { x.permuted(Shape{1}); }),
            "axes [1] are not a permutation of the axes of an array of shape [2, 3]");
}

struct SliceCase {
  const char* name;
  std::vector<SliceElem> slice;
  std::vector<double> expected;  // from iota({6})
};

class Slicing : public ::testing::TestWithParam<SliceCase> {};

TEST_P(Slicing, SelectsTheExpectedElements) {
  const ArrayD y = iota({6}).sliced(GetParam().slice);
  EXPECT_EQ(values_of(y), GetParam().expected);
  EXPECT_EQ(shape_of(y), Shape{GetParam().expected.size()});
}

INSTANTIATE_TEST_SUITE_P(Elements, Slicing,
                         ::testing::Values(SliceCase{"open_end", {{1, std::nullopt, 1}}, {1, 2, 3, 4, 5}},
                                           SliceCase{"exclusive_end", {{0, 2, 1}}, {0, 1}},
                                           SliceCase{"negative_start", {{-2, std::nullopt, 1}}, {4, 5}},
                                           SliceCase{"negative_end", {{0, -1, 1}}, {0, 1, 2, 3, 4}},
                                           SliceCase{"step_two", {{0, std::nullopt, 2}}, {0, 2, 4}},
                                           SliceCase{"step_two_to_the_end", {{1, 6, 2}}, {1, 3, 5}},
                                           SliceCase{"reversed", {{0, std::nullopt, -1}}, {5, 4, 3, 2, 1, 0}},
                                           SliceCase{"reversed_by_two_from_the_range_end", {{1, 5, -2}}, {4, 2}},
                                           SliceCase{"start_after_end", {{4, 2, 1}}, {}},
                                           SliceCase{"start_at_the_end", {{6, std::nullopt, 1}}, {}}),
                         case_name<SliceCase>);

TEST(ArrayD, SlicesOfMatricesWalkEveryAxis) {
  const ArrayD m = iota({3, 4});
  const std::vector<SliceElem> slice{{1, std::nullopt, 1}, {-3, -1, 1}};
  const ArrayD s = m.sliced(slice);
  EXPECT_EQ(shape_of(s), (Shape{2, 2}));
  EXPECT_EQ(values_of(s), (std::vector<double>{5, 6, 9, 10}));
}

TEST(ArrayD, SlicesOutOfRangeOrOfTheWrongLengthPanic) {
  const ArrayD v = iota({4});
  const auto slice_panic = [&](std::vector<SliceElem> slice) { return panic_message([&] { v.sliced(slice); }); };
  EXPECT_EQ(slice_panic({{5, std::nullopt, 1}}),
            "slice element (start 5, end none, step 1) does not fit axis 0 of length 4");
  EXPECT_EQ(slice_panic({{-5, std::nullopt, 1}}),
            "slice element (start -5, end none, step 1) does not fit axis 0 of length 4");
  EXPECT_EQ(slice_panic({{0, 7, 1}}), "slice element (start 0, end 7, step 1) does not fit axis 0 of length 4");
  EXPECT_EQ(slice_panic({{0, 2, 0}}), "slice element (start 0, end 2, step 0) does not fit axis 0 of length 4");
  EXPECT_EQ(slice_panic({}), "a slice of 0 axes cannot select from an array of shape [4]");
  EXPECT_EQ(slice_panic({{0, std::nullopt, 1}, {0, std::nullopt, 1}}),
            "a slice of 2 axes cannot select from an array of shape [4]");
}

TEST(ArrayD, AssignSliceBroadcastsIntoTheRegion) {
  ArrayD m = ArrayD::zeros(Shape{2, 4});
  const std::vector<SliceElem> slice{{0, std::nullopt, 1}, {1, 3, 1}};
  m.assign_slice(slice, array({2}, {7, 8}));
  EXPECT_EQ(values_of(m), (std::vector<double>{0, 7, 8, 0, 0, 7, 8, 0}));
  m.assign_slice(slice, ArrayD::scalar(1.0));
  EXPECT_EQ(values_of(m), (std::vector<double>{0, 1, 1, 0, 0, 1, 1, 0}));
  EXPECT_EQ(panic_message([&] {
              m.assign_slice(slice, array({3}, {1, 2, 3}));
            }),
            "an array of shape [3] cannot be broadcast to the sliced region of shape [2, 2]");
}

TEST(ArrayD, IntoShapeKeepsElementsAndChecksTheCount) {
  const auto reshaped = iota({2, 3}).into_shape(Shape{3, 2});
  ASSERT_TRUE(reshaped.has_value());
  EXPECT_EQ(shape_of(*reshaped), (Shape{3, 2}));
  EXPECT_EQ(values_of(*reshaped), (std::vector<double>{0, 1, 2, 3, 4, 5}));
  EXPECT_FALSE(iota({2, 3}).into_shape(Shape{4}).has_value());
  EXPECT_EQ(shape_of(*ArrayD::scalar(1.0).into_shape(Shape{1, 1})), (Shape{1, 1}));
}

TEST(ArrayD, InsertAndRemoveAxes) {
  ArrayD x = iota({3});
  x.insert_axis(0);
  x.insert_axis(2);
  EXPECT_EQ(shape_of(x), (Shape{1, 3, 1}));
  x.remove_axis(2);
  EXPECT_EQ(shape_of(x), (Shape{1, 3}));
  EXPECT_EQ(panic_message([&] { x.insert_axis(3); }),
            "cannot insert an axis at position 3 of an array of shape [1, 3]");
  EXPECT_EQ(panic_message([&] { x.remove_axis(1); }),
            "cannot remove axis 1 of an array of shape [1, 3]: it is not an axis of length 1");
  EXPECT_EQ(panic_message([&] { x.remove_axis(2); }),
            "cannot remove axis 2 of an array of shape [1, 3]: it is not an axis of length 1");
  ArrayD empty;
  empty.insert_axis(0);
  EXPECT_EQ(empty.shape_text(), "[1, 0]");
  EXPECT_EQ(ArrayD().shape_text(), "[0]");  // the shared empty array is untouched
}

TEST(ArrayD, FoldAxisFoldsEachLaneInOrder) {
  const ArrayD x = iota({2, 3, 2});
  const ArrayD sums = x.fold_axis(1, 0.0, [](double acc, double v) { return acc + v; });
  EXPECT_EQ(shape_of(sums), (Shape{2, 2}));
  EXPECT_EQ(values_of(sums), (std::vector<double>{0 + 2 + 4, 1 + 3 + 5, 6 + 8 + 10, 7 + 9 + 11}));
  // Order matters for a non-commutative fold: ((init - a) - b) - c.
  const ArrayD ordered = array({3}, {1, 2, 4}).fold_axis(0, 100.0, [](double acc, double v) { return acc * 10 - v; });
  EXPECT_EQ(ordered[0], ((100.0 * 10 - 1) * 10 - 2) * 10 - 4);
  EXPECT_EQ(ordered.ndim(), 0u);
  EXPECT_EQ(panic_message([&] { x.fold_axis(3, 0.0, [](double a, double) { return a; }); }),
            "cannot fold axis 3 of an array of shape [2, 3, 2]");
}

TEST(ArrayD, MapKeepsTheShape) {
  const ArrayD y = iota({2, 2}).map([](double v) { return v * v; });
  EXPECT_EQ(shape_of(y), (Shape{2, 2}));
  EXPECT_EQ(values_of(y), (std::vector<double>{0, 1, 4, 9}));
}

}  // namespace
