#pragma once
// A writable column-major view of a matrix that lives elsewhere: element (i, j) at
// ptr + i + j·col_stride. It owns nothing and is built without checks.
#include <cstddef>

#include "pellum_matrix/detail/bounds.hpp"
#include "pellum_matrix/mat_ref.hpp"

namespace pellum_matrix::mat_mut {

template <typename T>
class MatMut {
 public:
  constexpr MatMut() noexcept = default;
  constexpr MatMut(T* ptr, std::size_t nrows, std::size_t ncols, std::size_t col_stride) noexcept
      : ptr_(ptr), nrows_(nrows), ncols_(ncols), col_stride_(col_stride) {}

  T* as_mut_ptr() const noexcept { return ptr_; }
  std::size_t nrows() const noexcept { return nrows_; }
  std::size_t ncols() const noexcept { return ncols_; }
  std::size_t col_stride() const noexcept { return col_stride_; }

  // The same matrix, read-only.
  mat_ref::MatRef<T> as_ref() const noexcept { return {ptr_, nrows_, ncols_, col_stride_}; }

  // Address of element (i, j), unchecked: for loops whose extent is already checked.
  T* ptr_at(std::size_t i, std::size_t j) const noexcept { return ptr_ + i + j * col_stride_; }

  // Element (i, j); panics "Index out of bounds" unless i < nrows and j < ncols.
  T& at(std::size_t i, std::size_t j) const {
    detail::check_index(i, j, nrows_, ncols_);
    return *ptr_at(i, j);
  }

  // The rows × cols view starting at (i0, j0), with this view's stride; panics
  // "Submatrix out of bounds" unless it lies inside this view.
  MatMut submatrix(std::size_t i0, std::size_t j0, std::size_t rows, std::size_t cols) const {
    detail::check_submatrix(i0, j0, rows, cols, nrows_, ncols_);
    return MatMut(ptr_at(i0, j0), rows, cols, col_stride_);
  }

 private:
  T* ptr_ = nullptr;
  std::size_t nrows_ = 0;
  std::size_t ncols_ = 0;
  std::size_t col_stride_ = 0;
};

}  // namespace pellum_matrix::mat_mut
