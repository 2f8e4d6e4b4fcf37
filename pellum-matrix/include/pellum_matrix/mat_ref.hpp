#pragma once
// A read-only column-major view of a matrix that lives elsewhere: element (i, j) at
// ptr + i + j·col_stride, nrows × ncols, col_stride >= nrows for a real matrix. Built
// from a pointer, two sizes and a stride without checks; owns nothing. Element access
// (at) and sub-views (submatrix) are bounds-checked; ptr_at is not.
#include "pellum_matrix/detail/view.hpp"

namespace pellum_matrix::mat_ref {

template <typename T>
using MatRef = detail::ColumnMajorView<const T>;

}  // namespace pellum_matrix::mat_ref
