#pragma once
// A writable column-major view of a matrix that lives elsewhere, with the layout, checks
// and accessors of MatRef; as_ref() gives the read-only view of the same matrix.
#include "pellum_matrix/detail/view.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_matrix::mat_mut {

template <typename T>
using MatMut = detail::ColumnMajorView<T>;

}  // namespace pellum_matrix::mat_mut
