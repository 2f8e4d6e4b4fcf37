#include "pellum_blas/level1/dot.hpp"

#include <cstddef>

#include "lengths.hpp"

namespace pellum_blas::level1::dot {

template <typename T>
T dot(std::span<const T> x, std::span<const T> y) {
  require_equal_lengths(x.size(), y.size());
  const std::size_t n = x.size();
  // Four independent sums let the additions overlap; the compiler packs them into vectors.
  T s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += x[i] * y[i];
    s1 += x[i + 1] * y[i + 1];
    s2 += x[i + 2] * y[i + 2];
    s3 += x[i + 3] * y[i + 3];
  }
  for (; i < n; ++i) s0 += x[i] * y[i];
  return (s0 + s1) + (s2 + s3);
}

template float dot<float>(std::span<const float>, std::span<const float>);
template double dot<double>(std::span<const double>, std::span<const double>);

}  // namespace pellum_blas::level1::dot
