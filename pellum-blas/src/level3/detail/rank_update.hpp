#pragma once
// What the rank-k and rank-2k updates share: the path choice and the passes over the
// referenced triangle of C.
#include <cstddef>

#include "level3/detail/scratch.hpp"
#include "level3/detail/triangle.hpp"

namespace pellum_blas::level3::detail {

// The GEMM-based path pays off from this order and depth on; below either, direct loops.
inline constexpr std::size_t rank_update_product_min_order = 32;
inline constexpr std::size_t rank_update_product_min_depth = 8;

inline bool rank_update_takes_product(std::size_t n, std::size_t k) {
  return n >= rank_update_product_min_order && k >= rank_update_product_min_depth;
}

// The triangle <- beta·triangle: beta = 0 (either sign) writes +0.0 without reading, beta = 1
// leaves it, any other beta (NaN included) multiplies.
template <typename T>
void scale_triangle(MatMut<T> c, bool upper, T beta) {
  if (beta == 1) return;
  for (std::size_t j = 0; j < c.ncols(); ++j) {
    const TriangleRows rows = triangle_rows(upper, j, c.nrows());
    T* column = c.ptr_at(0, j);
    for (std::size_t i = rows.first; i < rows.end; ++i) column[i] = beta == 0 ? T{0} : column[i] * beta;
  }
}

// The triangle <- t (beta = 0, C not read) or beta·triangle + t (rounded product, then sum).
template <typename T>
void merge_triangle(MatMut<T> c, bool upper, const ScratchMatrix<T>& t, T beta) {
  const MatRef<T> product = t.view();
  for (std::size_t j = 0; j < c.ncols(); ++j) {
    const TriangleRows rows = triangle_rows(upper, j, c.nrows());
    T* column = c.ptr_at(0, j);
    const T* source = product.ptr_at(0, j);
    for (std::size_t i = rows.first; i < rows.end; ++i)
      column[i] = beta == 0 ? source[i] : beta * column[i] + source[i];
  }
}

}  // namespace pellum_blas::level3::detail
