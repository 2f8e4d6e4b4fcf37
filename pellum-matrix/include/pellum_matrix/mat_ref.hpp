#pragma once
// A read-only column-major view of a matrix that lives elsewhere: element (i, j) at
// ptr + i + j·col_stride. It owns nothing and is built without checks; col_stride may
// exceed nrows, so a view may describe a sub-matrix of a larger array.
#include <cstddef>

#include "pellum_matrix/detail/bounds.hpp"

namespace pellum_matrix::mat_ref {

template <typename T>
class MatRef {
 public:
  constexpr MatRef() noexcept = default;
  constexpr MatRef(const T* ptr, std::size_t nrows, std::size_t ncols, std::size_t col_stride) noexcept
      : ptr_(ptr), nrows_(nrows), ncols_(ncols), col_stride_(col_stride) {}

  const T* as_ptr() const noexcept { return ptr_; }
  std::size_t nrows() const noexcept { return nrows_; }
  std::size_t ncols() const noexcept { return ncols_; }
  std::size_t col_stride() const noexcept { return col_stride_; }

  // Address of element (i, j), unchecked: for loops whose extent is already checked.
  const T* ptr_at(std::size_t i, std::size_t j) const noexcept { return ptr_ + i + j * col_stride_; }

  // Element (i, j); panics "Index out of bounds" unless i < nrows and j < ncols.
  T at(std::size_t i, std::size_t j) const {
    detail::check_index(i, j, nrows_, ncols_);
    return *ptr_at(i, j);
  }

  // The rows × cols view starting at (i0, j0), with this view's stride; panics
  // "Submatrix out of bounds" unless it lies inside this view.
  MatRef submatrix(std::size_t i0, std::size_t j0, std::size_t rows, std::size_t cols) const {
    detail::check_submatrix(i0, j0, rows, cols, nrows_, ncols_);
    return MatRef(ptr_at(i0, j0), rows, cols, col_stride_);
  }

 private:
  const T* ptr_ = nullptr;
  std::size_t nrows_ = 0;
  std::size_t ncols_ = 0;
  std::size_t col_stride_ = 0;
};

}  // namespace pellum_matrix::mat_ref
