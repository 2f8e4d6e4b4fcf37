#include "pellum_blas/level3/syrk.hpp"

#include <cstddef>

#include "level3/detail/rank_update.hpp"
#include "pellum_blas/level3/gemm.hpp"

namespace pellum_blas::level3::syrk {
namespace {

using detail::triangle_rows;
using detail::TriangleRows;

// Without trans the terms enter C one depth step at a time; with trans each element
// gathers its sum first and receives alpha·s once.
template <typename T>
void direct(bool upper, bool trans, MatRef<T> a, MatMut<T> c, std::size_t k, T alpha) {
  const std::size_t n = c.nrows();
  for (std::size_t j = 0; j < n; ++j) {
    const TriangleRows rows = triangle_rows(upper, j, n);
    T* column = c.ptr_at(0, j);
    if (!trans) {
      for (std::size_t p = 0; p < k; ++p) {
        const T t = alpha * *a.ptr_at(j, p);
        const T* a_column = a.ptr_at(0, p);
        for (std::size_t i = rows.first; i < rows.end; ++i) column[i] = a_column[i] * t + column[i];
      }
      continue;
    }
    const T* a_j = a.ptr_at(0, j);
    for (std::size_t i = rows.first; i < rows.end; ++i) {
      const T* a_i = a.ptr_at(0, i);
      T s = 0;
      for (std::size_t p = 0; p < k; ++p) s = s + a_i[p] * a_j[p];
      column[i] = alpha * s + column[i];
    }
  }
}

}  // namespace

template <typename T>
BlasStatus syrk(bool upper, bool trans, MatRef<T> a, MatMut<T> c, T alpha, T beta) {
  if (c.nrows() != c.ncols()) return std::unexpected(BlasError::NotSquare);
  const std::size_t n = c.nrows();
  if ((trans ? a.ncols() : a.nrows()) != n) return std::unexpected(BlasError::DimensionMismatch);
  if (n == 0) return {};
  const std::size_t k = trans ? a.nrows() : a.ncols();
  if (!detail::rank_update_takes_product(n, k)) {
    detail::scale_triangle(c, upper, beta);
    if (alpha != 0) direct(upper, trans, a, c, k, alpha);
    return {};
  }
  const detail::ScratchMatrix<T> a_t = detail::transposed_copy(a);
  detail::ScratchMatrix<T> product(n, n);
  if (trans)
    gemm::gemm_with_par(a_t.view(), a, product.view_mut(), alpha, T{0});
  else
    gemm::gemm_with_par(a, a_t.view(), product.view_mut(), alpha, T{0});
  detail::merge_triangle(c, upper, product, beta);
  return {};
}

template BlasStatus syrk<float>(bool, bool, MatRef<float>, MatMut<float>, float, float);
template BlasStatus syrk<double>(bool, bool, MatRef<double>, MatMut<double>, double, double);

}  // namespace pellum_blas::level3::syrk
