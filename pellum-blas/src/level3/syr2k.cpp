#include "pellum_blas/level3/syr2k.hpp"

#include <cstddef>

#include "level3/detail/rank_update.hpp"
#include "pellum_blas/level3/gemm.hpp"

namespace pellum_blas::level3::syr2k {
namespace {

using detail::triangle_rows;
using detail::TriangleRows;

// Without trans the terms enter C one depth step at a time; with trans each element
// gathers both products of every depth step first and receives alpha·s once.
template <typename T>
void direct(bool upper, bool trans, MatRef<T> a, MatRef<T> b, MatMut<T> c, std::size_t k, T alpha) {
  const std::size_t n = c.nrows();
  for (std::size_t j = 0; j < n; ++j) {
    const TriangleRows rows = triangle_rows(upper, j, n);
    T* column = c.ptr_at(0, j);
    if (!trans) {
      for (std::size_t p = 0; p < k; ++p) {
        const T t1 = alpha * *b.ptr_at(j, p), t2 = alpha * *a.ptr_at(j, p);
        const T *a_column = a.ptr_at(0, p), *b_column = b.ptr_at(0, p);
        for (std::size_t i = rows.first; i < rows.end; ++i)
          column[i] = b_column[i] * t2 + (a_column[i] * t1 + column[i]);
      }
      continue;
    }
    const T *a_j = a.ptr_at(0, j), *b_j = b.ptr_at(0, j);
    for (std::size_t i = rows.first; i < rows.end; ++i) {
      const T *a_i = a.ptr_at(0, i), *b_i = b.ptr_at(0, i);
      T s = 0;
      for (std::size_t p = 0; p < k; ++p) {
        s = s + a_i[p] * b_j[p];
        s = s + b_i[p] * a_j[p];
      }
      column[i] = alpha * s + column[i];
    }
  }
}

bool shapes_match(bool trans, std::size_t n, std::size_t a_rows, std::size_t a_cols, std::size_t b_rows,
                  std::size_t b_cols) {
  // The order side, then the depth side, in the order callers are told about.
  if (trans) return a_cols == n && b_cols == n && a_rows == b_rows;
  return a_rows == n && b_rows == n && a_cols == b_cols;
}

}  // namespace

template <typename T>
BlasStatus syr2k(bool upper, bool trans, MatRef<T> a, MatRef<T> b, MatMut<T> c, T alpha, T beta) {
  if (c.nrows() != c.ncols()) return std::unexpected(BlasError::NotSquare);
  const std::size_t n = c.nrows();
  if (!shapes_match(trans, n, a.nrows(), a.ncols(), b.nrows(), b.ncols()))
    return std::unexpected(BlasError::DimensionMismatch);
  if (n == 0) return {};
  const std::size_t k = trans ? a.nrows() : a.ncols();
  if (!detail::rank_update_takes_product(n, k)) {
    detail::scale_triangle(c, upper, beta);
    if (alpha != 0) direct(upper, trans, a, b, c, k, alpha);
    return {};
  }
  const detail::ScratchMatrix<T> a_t = detail::transposed_copy(a), b_t = detail::transposed_copy(b);
  detail::ScratchMatrix<T> product(n, n);
  if (trans) {
    gemm::gemm_with_par(a_t.view(), b, product.view_mut(), alpha, T{0});
    gemm::gemm_with_par(b_t.view(), a, product.view_mut(), alpha, T{1});
  } else {
    gemm::gemm_with_par(a, b_t.view(), product.view_mut(), alpha, T{0});
    gemm::gemm_with_par(b, a_t.view(), product.view_mut(), alpha, T{1});
  }
  detail::merge_triangle(c, upper, product, beta);
  return {};
}

template BlasStatus syr2k<float>(bool, bool, MatRef<float>, MatRef<float>, MatMut<float>, float, float);
template BlasStatus syr2k<double>(bool, bool, MatRef<double>, MatRef<double>, MatMut<double>, double, double);

}  // namespace pellum_blas::level3::syr2k
