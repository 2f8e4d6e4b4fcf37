#pragma once
// The matrix-vector product over rows stored contiguously (column-major transposed,
// row-major not transposed): several rows per pass, each row's sum still its own sequence.
#include <cstddef>

namespace pellum_blas::cblas {

// For every row i < rows: y_i <- ((row_i[j]·alpha)·x_j) + y_i for j = 0 … nx−1 in order,
// with row_i at a + i·lda, x_j at x + j·incx and y_i at y + i·incy (incy != 0, so the
// rows' sums are independent). Vectorised across rows for the processor; every
// instruction set gives the same bits as the plain loop.
void add_row_products(const double* a, std::size_t lda, std::size_t rows, std::size_t nx, double alpha, const double* x,
                      std::ptrdiff_t incx, double* y, std::ptrdiff_t incy);
void add_row_products(const float* a, std::size_t lda, std::size_t rows, std::size_t nx, float alpha, const float* x,
                      std::ptrdiff_t incx, float* y, std::ptrdiff_t incy);

}  // namespace pellum_blas::cblas
