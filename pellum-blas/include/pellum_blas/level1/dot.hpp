#pragma once
// Inner product of two contiguous vectors.
#include <span>

namespace pellum_blas::level1::dot {

// Four accumulators take the elements 4g + r of every whole group of four; the one to
// three remaining products go into the first one, and the result is (s0 + s1) + (s2 + s3).
// Every product is rounded before it is added (no fused multiply-add); NaN propagates.
// Empty input: +0. Panics ("Vector lengths must match") when the lengths differ.
template <typename T>
T dot(std::span<const T> x, std::span<const T> y);

extern template float dot<float>(std::span<const float>, std::span<const float>);
extern template double dot<double>(std::span<const double>, std::span<const double>);

}  // namespace pellum_blas::level1::dot
