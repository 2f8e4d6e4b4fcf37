#pragma once
// x <- alpha·x on a contiguous vector.
#include <span>

namespace pellum_blas::level1::scal {

// alpha = ±0 clears every element to +0 (NaN and infinity included); alpha = 1 leaves x
// untouched; any other alpha, NaN included, multiplies every element.
template <typename T>
void scal(T alpha, std::span<T> x);

extern template void scal<float>(float, std::span<float>);
extern template void scal<double>(double, std::span<double>);

}  // namespace pellum_blas::level1::scal
