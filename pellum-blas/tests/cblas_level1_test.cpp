#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace pellum_blas::testing {
namespace {

// A vector of n elements with increment inc inside canary-filled storage. Element i lies at
// (n - 1 - i)·|inc| for a negative increment: the far end comes first.
template <typename T>
struct Vector {
  std::int32_t n, inc;
  std::vector<T> storage;

  Vector(std::int32_t count, std::int32_t increment, std::uint64_t seed)
      : n(count), inc(increment), storage(span_of(count, increment) + 3, canary<T>) {
    const std::vector<T> values = random_values<T>(static_cast<std::size_t>(n), seed);
    for (std::int32_t i = 0; i < n; ++i) at(i) = values[static_cast<std::size_t>(i)];
  }
  static std::size_t span_of(std::int32_t count, std::int32_t increment) {
    return count <= 0 ? 1 : 1 + static_cast<std::size_t>(count - 1) * std::abs(increment);
  }
  std::size_t offset(std::int32_t i) const {
    const std::size_t step = std::abs(inc);
    return inc >= 0 ? i * step : static_cast<std::size_t>(n - 1 - i) * step;
  }
  T& at(std::int32_t i) { return storage[offset(i)]; }
  T at(std::int32_t i) const { return storage[offset(i)]; }
  T* data() { return storage.data(); }
  std::vector<T> elements() const {
    std::vector<T> out;
    for (std::int32_t i = 0; i < n; ++i) out.push_back(at(i));
    return out;
  }
  // Every stored value that is no element of the vector.
  std::vector<T> outside() const {
    std::vector<T> out;
    for (std::size_t k = 0; k < storage.size(); ++k) {
      bool element = false;
      for (std::int32_t i = 0; i < n && !element; ++i) element = offset(i) == k;
      if (!element) out.push_back(storage[k]);
    }
    return out;
  }
};

struct Stride {
  const char* name;
  std::int32_t x, y;
};
// Contiguous calls reach the kernels; every other pair runs the strided loops.
constexpr Stride strides[] = {
    {"unit", 1, 1}, {"x2_y3", 2, 3}, {"reversed", -1, -1}, {"x_back_y_fwd", -2, 1}, {"x1_y_back", 1, -3}};
constexpr std::int32_t lengths[] = {1, 5, 13};

template <typename T>
class CblasLevel1 : public ::testing::Test {};
TYPED_TEST_SUITE(CblasLevel1, ElementTypes, ElementName);

template <typename T>
double tolerance() {
  return sizeof(T) == 4 ? 1e-5 : 1e-13;
}

// The strided loops run one accumulator in element order, so they match a naive loop bit for
// bit; the contiguous kernels group differently and match within rounding.
TYPED_TEST(CblasLevel1, ReductionsFollowTheReferenceIndexing) {
  using T = TypeParam;
  using Api = Cblas<T>;
  for (const Stride& s : strides)
    for (const std::int32_t n : lengths) {
      SCOPED_TRACE(std::string(s.name) + " n=" + std::to_string(n));
      Vector<T> x(n, s.x, 1), y(n, s.y, 2);
      T dot = 0, asum = 0, sumsq = 0;
      for (std::int32_t i = 0; i < n; ++i) {
        dot = x.at(i) * y.at(i) + dot;
        asum = std::fabs(x.at(i)) + asum;
        sumsq += static_cast<double>(x.at(i)) * x.at(i);
      }
      const T got_dot = Api::dot(n, x.data(), s.x, y.data(), s.y);
      const T got_asum = Api::asum(n, x.data(), s.x);
      if (s.x == 1 && s.y == 1)
        EXPECT_NEAR(got_dot, dot, tolerance<T>() * n);
      else
        EXPECT_EQ(bits(got_dot), bits(dot));
      if (s.x == 1)
        EXPECT_NEAR(got_asum, asum, tolerance<T>() * n);
      else
        EXPECT_EQ(bits(got_asum), bits(asum));
      EXPECT_NEAR(Api::nrm2(n, x.data(), s.x), std::sqrt(sumsq), tolerance<T>());
    }
}

TYPED_TEST(CblasLevel1, UpdatesTouchOnlyTheirElements) {
  using T = TypeParam;
  using Api = Cblas<T>;
  const T alpha = T{-1.75};
  for (const Stride& s : strides)
    for (const std::int32_t n : lengths) {
      SCOPED_TRACE(std::string(s.name) + " n=" + std::to_string(n));
      const Vector<T> x0(n, s.x, 3), y0(n, s.y, 4);
      std::vector<T> axpy(n), scal(n);
      for (std::int32_t i = 0; i < n; ++i) {
        axpy[i] = x0.at(i) * alpha + y0.at(i);
        scal[i] = x0.at(i) * alpha;
      }
      const std::vector<T> canaries_x = x0.outside(), canaries_y = y0.outside();

      Vector<T> x = x0, y = y0;
      Api::axpy(n, alpha, x.data(), s.x, y.data(), s.y);
      EXPECT_TRUE(same_bits(y.elements(), axpy)) << "axpy";
      EXPECT_TRUE(same_bits(x.storage, x0.storage)) << "axpy changed x";
      EXPECT_TRUE(same_bits(y.outside(), canaries_y));

      x = x0;
      Api::scal(n, alpha, x.data(), s.x);
      EXPECT_TRUE(same_bits(x.elements(), scal)) << "scal";
      EXPECT_TRUE(same_bits(x.outside(), canaries_x));

      x = x0, y = y0;
      Api::copy(n, x.data(), s.x, y.data(), s.y);
      EXPECT_TRUE(same_bits(y.elements(), x.elements())) << "copy";
      EXPECT_TRUE(same_bits(y.outside(), canaries_y));

      x = x0, y = y0;
      Api::swap(n, x.data(), s.x, y.data(), s.y);
      EXPECT_TRUE(same_bits(x.elements(), y0.elements())) << "swap";
      EXPECT_TRUE(same_bits(y.elements(), x0.elements())) << "swap";
      EXPECT_TRUE(same_bits(x.outside(), canaries_x));
      EXPECT_TRUE(same_bits(y.outside(), canaries_y));
    }
}

TYPED_TEST(CblasLevel1, ZeroIncrementReusesOneElement) {
  using T = TypeParam;
  using Api = Cblas<T>;
  const T x[1] = {3}, y[1] = {-2};
  EXPECT_EQ(Api::dot(4, x, 0, y, 0), T{-24});
  EXPECT_EQ(Api::asum(4, y, 0), T{8});
  EXPECT_EQ(Api::nrm2(4, x, 0), T{6});
  T scaled[1] = {3};
  Api::scal(3, 2, scaled, 0);
  EXPECT_EQ(scaled[0], T{24});
  T out[3] = {0, 0, 0};
  Api::axpy(3, 2, x, 0, out, 1);
  EXPECT_TRUE(same_bits(std::vector<T>(out, out + 3), std::vector<T>(3, T{6})));
}

TYPED_TEST(CblasLevel1, NonPositiveLengthTouchesNothing) {
  using T = TypeParam;
  using Api = Cblas<T>;
  for (const std::int32_t n : {0, -1}) {
    SCOPED_TRACE(n);
    std::vector<T> x = {nan<T>, 1}, y = {2, nan<T>};
    const std::vector<T> x0 = x, y0 = y;
    EXPECT_EQ(bits(Api::dot(n, x.data(), 1, y.data(), 1)), bits(T{0}));
    EXPECT_EQ(bits(Api::nrm2(n, x.data(), 1)), bits(T{0}));
    EXPECT_EQ(bits(Api::asum(n, x.data(), 1)), bits(T{0}));
    EXPECT_EQ(Api::iamax(n, x.data(), 1), 0u);
    Api::swap(n, x.data(), 1, y.data(), 1);
    Api::copy(n, x.data(), 1, y.data(), 1);
    Api::axpy(n, 2, x.data(), 1, y.data(), 1);
    Api::scal(n, 0, x.data(), 1);
    EXPECT_TRUE(same_bits(x, x0));
    EXPECT_TRUE(same_bits(y, y0));
    T z[2] = {nan<T>, nan<T>};
    Api::dotu(n, x.data(), 1, y.data(), 1, z);
    EXPECT_EQ(bits(z[0]), bits(T{0}));
    EXPECT_EQ(bits(z[1]), bits(T{0}));
  }
}

TYPED_TEST(CblasLevel1, Nrm2IsScaledForEveryIncrement) {
  using T = TypeParam;
  using Api = Cblas<T>;
  const T big = std::numeric_limits<T>::max() / 2, tiny = std::numeric_limits<T>::denorm_min();
  struct Case {
    const char* name;
    std::vector<T> x;  // the vector; it is also read with increments 2 and -1
    T expected;
  };
  const Case cases[] = {
      {"three_four", {3, 4}, 5},
      {"zeros", {0, -0.0, 0}, 0},
      {"nan_first", {nan<T>, 3}, nan<T>},
      {"nan_last", {3, nan<T>}, nan<T>},
      {"nan_beats_infinity", {inf<T>, nan<T>}, nan<T>},
      {"infinity", {inf<T>, 1}, inf<T>},
      {"two_infinities", {-inf<T>, inf<T>}, inf<T>},
      {"no_overflow", {big, big}, std::sqrt(T{2}) * big},
      {"no_underflow", {tiny, tiny, tiny, tiny}, 2 * tiny},
      {"single", {-7}, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<std::int32_t>(c.x.size());
    std::vector<T> spaced(2 * c.x.size(), nan<T>);  // NaN between the elements is never read
    for (std::size_t i = 0; i < c.x.size(); ++i) spaced[2 * i] = c.x[i];
    const T results[] = {Api::nrm2(n, c.x.data(), 1), Api::nrm2(n, spaced.data(), 2), Api::nrm2(n, c.x.data(), -1)};
    for (const T r : results) {
      if (std::isnan(c.expected))
        EXPECT_TRUE(std::isnan(r)) << r;
      else
        EXPECT_EQ(r, c.expected);
    }
  }
}

TYPED_TEST(CblasLevel1, IamaxTakesTheFirstLargestAndNeverNaN) {
  using T = TypeParam;
  using Api = Cblas<T>;
  struct Case {
    const char* name;
    std::vector<T> x;
    std::int32_t inc;
    CBLAS_INDEX expected;
  };
  const Case cases[] = {
      {"first_of_equal_magnitudes", {1, -3, 3}, 1, 1},
      {"nan_first_wins_nothing", {nan<T>, 5}, 1, 0},
      {"nan_skipped", {1, nan<T>, 2}, 1, 2},
      {"infinity", {1, -inf<T>, 2}, 1, 1},
      {"counts_elements_not_memory", {0, 9, 4, 9, 5}, 2, 2},
      {"reversed_counts_from_the_far_end", {5, 1, 2}, -1, 2},
      {"reversed_first_of_equal", {3, 0, -3}, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<std::int32_t>((c.x.size() - 1) / std::abs(c.inc) + 1);
    EXPECT_EQ(Api::iamax(n, c.x.data(), c.inc), c.expected);
  }
  EXPECT_EQ(Api::iamax(1, nullptr, 1), 0u);  // one element is index 0, never read
}

TYPED_TEST(CblasLevel1, ComplexDotsConjugateOnlyX) {
  using T = TypeParam;
  using Api = Cblas<T>;
  // x = (i, 2 - i), y = (i, 3 + 2i), y read backwards with increment -1, x with increment 2.
  const T x[6] = {0, 1, nan<T>, nan<T>, 2, -1};
  const T y[4] = {3, 2, 0, 1};
  T u[2], c[2];
  Api::dotu(2, x, 2, y, -1, u);  // i·i + (2 - i)(3 + 2i) = -1 + 8 + i
  Api::dotc(2, x, 2, y, -1, c);  // -i·i + (2 + i)(3 + 2i) = 1 + 4 + 7i
  EXPECT_EQ(u[0], T{7});
  EXPECT_EQ(u[1], T{1});
  EXPECT_EQ(c[0], T{5});
  EXPECT_EQ(c[1], T{7});
}

TYPED_TEST(CblasLevel1, ContiguousAndStridedZeroAlphaDiffer) {
  using T = TypeParam;
  using Api = Cblas<T>;
  // The contiguous kernels shortcut alpha = 0; the strided loops compute.
  std::vector<T> x = {nan<T>, 0}, y = {1, 0};
  Api::axpy(1, 0, x.data(), 1, y.data(), 1);
  EXPECT_EQ(y[0], T{1});
  Api::axpy(1, 0, x.data(), 2, y.data(), 2);
  EXPECT_TRUE(std::isnan(y[0]));

  std::vector<T> s = {nan<T>, -1};
  Api::scal(2, 0, s.data(), 1);
  EXPECT_TRUE(same_bits(s, std::vector<T>{0, 0}));
  s = {nan<T>, -1, -1};
  Api::scal(2, 0, s.data(), 2);
  EXPECT_TRUE(std::isnan(s[0]));
  EXPECT_EQ(bits(s[2]), bits(T{-0.0}));
}

TYPED_TEST(CblasLevel1, CopyWithUnitIncrementsMayOverlap) {
  using T = TypeParam;
  using Api = Cblas<T>;
  std::vector<T> forward = {1, 2, 3, 4, 5};
  Api::copy(4, forward.data(), 1, forward.data() + 1, 1);
  EXPECT_TRUE(same_bits(forward, std::vector<T>{1, 1, 2, 3, 4}));
  std::vector<T> backward = {1, 2, 3, 4, 5};
  Api::copy(4, backward.data() + 1, 1, backward.data(), 1);
  EXPECT_TRUE(same_bits(backward, std::vector<T>{2, 3, 4, 5, 5}));
}

}  // namespace
}  // namespace pellum_blas::testing
