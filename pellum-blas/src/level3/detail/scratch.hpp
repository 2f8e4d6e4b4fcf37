#pragma once
// Zeroed, 64-byte-aligned matrix copies of the level-3 routines: column-major, each column
// starting on a line (the stride is the row count rounded up to whole lines).
#include <cstddef>

#include "detail/size_math.hpp"
#include "pellum_blas/level3/autotune.hpp"
#include "pellum_core/memory/aligned_vec.hpp"
#include "pellum_matrix/mat_mut.hpp"
#include "pellum_matrix/mat_ref.hpp"
#include "support/cpu_features.hpp"

namespace pellum_blas::level3::detail {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

template <typename T>
class ScratchMatrix {
 public:
  // rows × cols of +0.0. Panics "Invalid layout: LayoutError" when the size does not fit.
  ScratchMatrix(std::size_t rows, std::size_t cols)
      : rows_(rows),
        cols_(cols),
        stride_(pellum_core::memory::aligned_vec::padded_stride<T>(rows)),
        buffer_(pellum_core::memory::aligned_vec::AlignedVec<T>::zeros_in(
            pellum_blas::detail::saturating_mul(stride_, cols))) {}

  T& operator()(std::size_t i, std::size_t j) { return buffer_.data()[i + j * stride_]; }
  MatRef<T> view() const { return {buffer_.data(), rows_, cols_, stride_}; }
  MatMut<T> view_mut() { return {buffer_.data(), rows_, cols_, stride_}; }

 private:
  std::size_t rows_, cols_, stride_;
  pellum_core::memory::aligned_vec::AlignedVec<T> buffer_;
};

// The transpose of x as a scratch matrix.
template <typename T>
ScratchMatrix<T> transposed_copy(MatRef<T> x) {
  ScratchMatrix<T> out(x.ncols(), x.nrows());
  for (std::size_t j = 0; j < x.ncols(); ++j) {
    const T* column = x.ptr_at(0, j);
    for (std::size_t i = 0; i < x.nrows(); ++i) out(j, i) = column[i];
  }
  return out;
}

// The fixed block sizes of the triangular product and solve, never taken from the caches:
// f64 256, 128, 2048 cut to whole 6-, 2- or 4-column tiles; f32 256, 256, 2048.
template <typename T>
autotune::BlockingParams triangular_blocking() {
  if constexpr (sizeof(T) == 4) {
    return {256, 256, 2048};
  } else {
    const support::cpu_features::Features cpu = support::cpu_features::detected();
    const std::size_t nr = cpu.avx512f || cpu.avx2 ? 6 : cpu.sse42 ? 2 : 4;
    return {256, 128, 2048 - 2048 % nr};
  }
}

}  // namespace pellum_blas::level3::detail
