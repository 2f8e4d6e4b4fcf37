#pragma once
// The column-major view behind MatRef (E = const T) and MatMut (E = T): element (i, j)
// at ptr + i + j·col_stride. It owns nothing and is built without checks; col_stride may
// exceed nrows, so a view may describe a sub-matrix of a larger array.
#include <cstddef>

namespace pellum_matrix::detail {

[[noreturn]] void index_out_of_bounds();
[[noreturn]] void submatrix_out_of_bounds();

// start + count <= extent, without overflow.
inline bool fits(std::size_t start, std::size_t count, std::size_t extent) {
  return start <= extent && count <= extent - start;
}

template <typename E>
class ColumnMajorView {
 public:
  constexpr ColumnMajorView() noexcept = default;
  constexpr ColumnMajorView(E* ptr, std::size_t nrows, std::size_t ncols, std::size_t col_stride) noexcept
      : ptr_(ptr), nrows_(nrows), ncols_(ncols), col_stride_(col_stride) {}

  E* as_ptr() const noexcept { return ptr_; }
  std::size_t nrows() const noexcept { return nrows_; }
  std::size_t ncols() const noexcept { return ncols_; }
  std::size_t col_stride() const noexcept { return col_stride_; }

  // The same matrix, read-only.
  ColumnMajorView<const E> as_ref() const noexcept { return {ptr_, nrows_, ncols_, col_stride_}; }

  // Address of element (i, j), unchecked: for loops whose extent is already checked.
  E* ptr_at(std::size_t i, std::size_t j) const noexcept { return ptr_ + i + j * col_stride_; }

  // Element (i, j); panics "Index out of bounds" unless i < nrows and j < ncols.
  E& at(std::size_t i, std::size_t j) const {
    if (i >= nrows_ || j >= ncols_) index_out_of_bounds();
    return *ptr_at(i, j);
  }

  // The rows × cols view starting at (i0, j0), with this view's stride; panics
  // "Submatrix out of bounds" unless it lies inside this view.
  ColumnMajorView submatrix(std::size_t i0, std::size_t j0, std::size_t rows, std::size_t cols) const {
    if (!fits(i0, rows, nrows_) || !fits(j0, cols, ncols_)) submatrix_out_of_bounds();
    return ColumnMajorView(ptr_at(i0, j0), rows, cols, col_stride_);
  }

 private:
  E* ptr_ = nullptr;
  std::size_t nrows_ = 0;
  std::size_t ncols_ = 0;
  std::size_t col_stride_ = 0;
};

}  // namespace pellum_matrix::detail
