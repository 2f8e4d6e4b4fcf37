#pragma once
// Triangles of square matrices: the rows one covers, and op(A) of the triangular routines
// read from A's stored triangle.
#include <cstddef>

#include "pellum_matrix/detail/view.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_blas::level3::detail {

// The direct kernels index raw memory inside loops; their callers' extents are checked once,
// up front, with the views' own complaint.
inline void check_inside(bool inside) {
  if (!inside) pellum_matrix::detail::index_out_of_bounds();
}

// Rows [first, end) of column j inside the triangle: 0..j (upper) or j..n−1 (lower).
struct TriangleRows {
  std::size_t first, end;
};
inline TriangleRows triangle_rows(bool upper, std::size_t j, std::size_t n) {
  return upper ? TriangleRows{0, j + 1} : TriangleRows{j, n};
}

template <typename T>
struct Triangle {
  pellum_matrix::mat_ref::MatRef<T> a;
  bool trans;  // op(A) = Aᵀ
  bool unit;   // the diagonal counts as 1 and is never read
  bool upper;  // op(A) is upper triangular: A's stored triangle, flipped by trans

  Triangle(pellum_matrix::mat_ref::MatRef<T> stored, bool stored_upper, bool transposed, bool unit_diagonal)
      : a(stored), trans(transposed), unit(unit_diagonal), upper(stored_upper != transposed) {}

  std::size_t order() const { return a.nrows(); }

  // op(A)(i, k) for (i, k) inside op(A)'s triangle or on its diagonal.
  T at(std::size_t i, std::size_t k) const {
    if (unit && i == k) return T{1};
    return *row(i, k);
  }

  // Address of op(A)(i, k).
  const T* row(std::size_t i, std::size_t k) const { return trans ? a.ptr_at(k, i) : a.ptr_at(i, k); }
};

}  // namespace pellum_blas::level3::detail
