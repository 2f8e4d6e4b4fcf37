#pragma once
// Bounds tests shared by the two views; the panics stay out of line.
#include <cstddef>

namespace pellum_matrix::detail {

[[noreturn]] void index_out_of_bounds();
[[noreturn]] void submatrix_out_of_bounds();

inline void check_index(std::size_t i, std::size_t j, std::size_t nrows, std::size_t ncols) {
  if (i >= nrows || j >= ncols) index_out_of_bounds();
}

// start + count <= extent, without overflow.
inline bool fits(std::size_t start, std::size_t count, std::size_t extent) {
  return start <= extent && count <= extent - start;
}

inline void check_submatrix(std::size_t i0, std::size_t j0, std::size_t rows, std::size_t cols,
                            std::size_t nrows, std::size_t ncols) {
  if (!fits(i0, rows, nrows) || !fits(j0, cols, ncols)) submatrix_out_of_bounds();
}

}  // namespace pellum_matrix::detail
