#include "pellum_blas/level1/asum.hpp"

#include <cmath>
#include <cstddef>

namespace pellum_blas::level1::asum {

template <typename T>
T asum(std::span<const T> x) {
  const std::size_t n = x.size();
  T s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += std::fabs(x[i]);
    s1 += std::fabs(x[i + 1]);
    s2 += std::fabs(x[i + 2]);
    s3 += std::fabs(x[i + 3]);
  }
  for (; i < n; ++i) s0 += std::fabs(x[i]);
  return (s0 + s1) + (s2 + s3);
}

template float asum<float>(std::span<const float>);
template double asum<double>(std::span<const double>);

}  // namespace pellum_blas::level1::asum
