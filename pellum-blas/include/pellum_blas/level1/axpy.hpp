#pragma once
// y <- alpha·x + y on contiguous vectors.
#include <span>

namespace pellum_blas::level1::axpy {

// y[i] <- x[i]·alpha + y[i], the product rounded before the sum. alpha = ±0 does nothing,
// so NaN or infinity in x never reaches y then. x and y are the same vector or do not
// overlap. Panics ("Vector lengths must match") when the lengths differ.
template <typename T>
void axpy(T alpha, std::span<const T> x, std::span<T> y);

extern template void axpy<float>(float, std::span<const float>, std::span<float>);
extern template void axpy<double>(double, std::span<const double>, std::span<double>);

}  // namespace pellum_blas::level1::axpy
