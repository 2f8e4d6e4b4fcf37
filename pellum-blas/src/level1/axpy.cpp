#include "pellum_blas/level1/axpy.hpp"

#include <cstddef>

#include "lengths.hpp"

namespace pellum_blas::level1::axpy {

namespace {

// Whole groups of eight, written so that the compiler keeps each group in vector registers.
template <typename T>
void multiply_add(T alpha, const T* __restrict x, T* __restrict y, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8)
    for (std::size_t r = 0; r < 8; ++r) y[i + r] = x[i + r] * alpha + y[i + r];
  for (; i < n; ++i) y[i] = x[i] * alpha + y[i];
}

}  // namespace

template <typename T>
void axpy(T alpha, std::span<const T> x, std::span<T> y) {
  require_equal_lengths(x.size(), y.size());
  if (alpha == 0 || x.empty()) return;
  multiply_add(alpha, x.data(), y.data(), x.size());
}

template void axpy<float>(float, std::span<const float>, std::span<float>);
template void axpy<double>(double, std::span<const double>, std::span<double>);

}  // namespace pellum_blas::level1::axpy
