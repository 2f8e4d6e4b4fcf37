#pragma once
// C ← beta·C over a whole view, the first step of every small or depth-free product.
#include <cstddef>
#include <cstring>

#include "pellum_matrix/mat_mut.hpp"

namespace pellum_blas::level3::detail {

// beta = 0 (either sign) writes +0.0 without reading C, so NaN and infinities do not
// survive; beta = 1 leaves C untouched; any other beta (NaN included) multiplies.
template <typename T>
void scale_by_beta(pellum_matrix::mat_mut::MatMut<T> c, T beta) {
  if (beta == T(1)) return;
  for (std::size_t j = 0; j < c.ncols(); ++j) {
    T* column = c.ptr_at(0, j);
    if (beta == T(0)) {
      std::memset(column, 0, c.nrows() * sizeof(T));
    } else {
      for (std::size_t i = 0; i < c.nrows(); ++i) column[i] = column[i] * beta;
    }
  }
}

}  // namespace pellum_blas::level3::detail
