#pragma once
// Sum of the magnitudes of a contiguous vector.
#include <span>

namespace pellum_blas::level1::asum {

// The accumulator scheme of dot with |x[i]| in place of the products. Empty input: +0;
// NaN propagates; a sum beyond the type's range is +inf.
template <typename T>
T asum(std::span<const T> x);

extern template float asum<float>(std::span<const float>);
extern template double asum<double>(std::span<const double>);

}  // namespace pellum_blas::level1::asum
