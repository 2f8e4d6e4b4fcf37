#pragma once
// The loops under the arrays' elementwise operations: a walk over two strided operands,
// and a fill that runs on the widest vectors the processor has.
#include <cstddef>
#include <span>

#include "ketra_autograd/small_vec.hpp"
#include "support/cpu_features.hpp"

namespace ketra_autograd::detail {

// Visits the positions of `shape` in row-major order and hands `visit` the offsets of two
// operands that start at base_a / base_b and move by the given per-axis strides (0 along
// a broadcast axis, negative for a reversed slice).
template <typename Visit>
void walk_strided(std::span<const std::size_t> shape, std::span<const std::ptrdiff_t> strides_a,
                  std::span<const std::ptrdiff_t> strides_b, std::ptrdiff_t base_a, std::ptrdiff_t base_b,
                  Visit&& visit) {
  const std::size_t rank = shape.size();
  for (std::size_t dim : shape) {
    if (dim == 0) return;
  }
  if (rank == 0) {
    visit(base_a, base_b);
    return;
  }
  const std::size_t last = rank - 1;
  const std::size_t inner = shape[last];
  const std::ptrdiff_t step_a = strides_a[last];
  const std::ptrdiff_t step_b = strides_b[last];
  SmallVec<std::size_t, 4> index(rank, 0);
  std::ptrdiff_t off_a = base_a;
  std::ptrdiff_t off_b = base_b;
  while (true) {
    for (std::size_t k = 0; k < inner; ++k) {
      const auto sk = static_cast<std::ptrdiff_t>(k);
      visit(off_a + sk * step_a, off_b + sk * step_b);
    }
    std::size_t axis = last;
    while (true) {
      if (axis == 0) return;
      --axis;
      off_a += strides_a[axis];
      off_b += strides_b[axis];
      if (++index[axis] < shape[axis]) break;
      const auto extent = static_cast<std::ptrdiff_t>(shape[axis]);
      off_a -= strides_a[axis] * extent;
      off_b -= strides_b[axis] * extent;
      index[axis] = 0;
    }
  }
}

// dst[i] = element(i) for every i < n. Each element is its own few operations on its own
// operands, with no sum or contraction across lanes, so a wider vector unit yields the
// same bits as a narrow one.
template <typename Element>
[[gnu::always_inline]] inline void fill_lanes(double* dst, std::size_t n, Element& element) {
#pragma omp simd
  for (std::size_t i = 0; i < n; ++i) dst[i] = element(i);
}

template <typename Element>
[[gnu::target("avx2"), gnu::noinline]] void fill_lanes_avx2(double* dst, std::size_t n, Element& element) {
  fill_lanes(dst, n, element);
}

// fill_lanes on the widest vectors the processor has.
template <typename Element>
void fill_each(double* dst, std::size_t n, Element&& element) {
  if (support::cpu_features::detected().avx2) {
    fill_lanes_avx2(dst, n, element);
  } else {
    fill_lanes(dst, n, element);
  }
}

}  // namespace ketra_autograd::detail
