#pragma once
// The GEMM loops the C interface runs itself: real products with a transposed operand and
// every complex product. Each element of C receives, after the beta pass, the terms of the
// depth steps p = 0, 1, … in order, as C(i, j) + op(A)(i, p)·(op(B)(p, j)·alpha), every
// product and sum rounded on its own. The loops are blocked and register-tiled only so that
// the operands stay in cache; each element still sees exactly that sequence.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "pellum_blas/cblas.h"
#include "pellum_core/memory/aligned_vec.hpp"

namespace pellum_blas::cblas {

// How an operand is read: as stored, transposed, or conjugate-transposed.
enum class Op : std::uint8_t { None, Trans, ConjTrans };

// Columns of C one call of add_products updates at most.
inline constexpr std::size_t inline_tile_columns = 4;

// c(i, jj) <- c(i, jj) + a(i, p)·t(p, jj) for p = 0 … kb−1 in order, i < mb, jj < nr (at most
// inline_tile_columns): a column-major with stride mb, t row by row (t[p·inline_tile_columns
// + jj]), column jj of c at c + jj·ldc. Vectorised for the processor; every instruction set
// gives the same bits.
void add_products(const double* a, std::size_t mb, std::size_t kb, const double* t, std::size_t nr, double* c,
                  std::size_t ldc);
void add_products(const float* a, std::size_t mb, std::size_t kb, const float* t, std::size_t nr, float* c,
                  std::size_t ldc);

// Real elements: a transposition code other than "not transposed" transposes.
template <typename T>
struct RealField {
  using Scalar = T;
  using Value = T;
  static constexpr std::size_t width = 1;  // scalars per element
  static Op decode(std::int32_t code) { return code == CblasNoTrans ? Op::None : Op::Trans; }
  static Value load(const T* p) { return *p; }
  static void store(T* p, Value v) { *p = v; }
  static Value conj(Value v) { return v; }
  static Value mul(Value x, Value y) { return x * y; }
  static bool is_zero(Value v) { return v == 0; }
  static void add_products(const T* a, std::size_t mb, std::size_t kb, const T* t, std::size_t nr, T* c,
                           std::size_t ldc) {
    cblas::add_products(a, mb, kb, t, nr, c, ldc);
  }
};

// (real, imaginary) pairs: 112 transposes, any other code but 111 conjugate-transposes.
template <typename T>
struct ComplexField {
  using Scalar = T;
  struct Value {
    T re, im;
  };
  static constexpr std::size_t width = 2;
  static Op decode(std::int32_t code) {
    return code == CblasNoTrans ? Op::None : code == CblasTrans ? Op::Trans : Op::ConjTrans;
  }
  static Value load(const T* p) { return {p[0], p[1]}; }
  static void store(T* p, Value v) {
    p[0] = v.re;
    p[1] = v.im;
  }
  static Value conj(Value v) { return {v.re, -v.im}; }
  static Value mul(Value x, Value y) { return {x.re * y.re - x.im * y.im, x.re * y.im + x.im * y.re}; }
  static bool is_zero(Value v) { return v.re == 0 && v.im == 0; }
  static void add_products(const T* a, std::size_t mb, std::size_t kb, const T* t, std::size_t nr, T* c,
                           std::size_t ldc) {
    for (std::size_t jj = 0; jj < nr; ++jj)
      for (std::size_t i = 0; i < mb; ++i) {
        Value s = load(c + 2 * (i + jj * ldc));
        for (std::size_t p = 0; p < kb; ++p) {
          const Value term = mul(load(a + 2 * (i + p * mb)), load(t + 2 * (p * inline_tile_columns + jj)));
          s = {s.re + term.re, s.im + term.im};
        }
        store(c + 2 * (i + jj * ldc), s);
      }
  }
};

// A stored column-major matrix with leading dimension ld (in elements) read through op.
template <typename F>
struct Operand {
  const typename F::Scalar* data;
  std::size_t ld;
  Op op;

  typename F::Value at(std::size_t r, std::size_t c) const {
    if (op == Op::None) return F::load(data + (r + c * ld) * F::width);
    const typename F::Value v = F::load(data + (c + r * ld) * F::width);
    return op == Op::ConjTrans ? F::conj(v) : v;
  }
};

inline constexpr std::size_t inline_block_rows = 128;
inline constexpr std::size_t inline_block_depth = 128;

// C (m × n, leading dimension ldc) <- alpha·op(A)·op(B) + beta·C, A of m × k and B of k × n
// after their ops. beta = 0 writes zeros without reading C; there is no alpha = 0 shortcut.
template <typename F>
void inline_gemm(Operand<F> a, Operand<F> b, std::size_t m, std::size_t n, std::size_t k, typename F::Value alpha,
                 typename F::Value beta, typename F::Scalar* c, std::size_t ldc) {
  using Scalar = typename F::Scalar;
  using pellum_core::memory::aligned_vec::AlignedVec;
  constexpr std::size_t w = F::width;
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < m; ++i) {
      Scalar* cij = c + (i + j * ldc) * w;
      F::store(cij, F::is_zero(beta) ? typename F::Value{} : F::mul(F::load(cij), beta));
    }
  if (k == 0) return;

  const std::size_t kb_max = std::min(k, inline_block_depth);
  auto block = AlignedVec<Scalar>::zeros_in(std::min(m, inline_block_rows) * kb_max * w);
  auto scaled_b = AlignedVec<Scalar>::zeros_in(kb_max * inline_tile_columns * w);
  for (std::size_t p0 = 0; p0 < k; p0 += inline_block_depth) {
    const std::size_t kb = std::min(inline_block_depth, k - p0);
    for (std::size_t i0 = 0; i0 < m; i0 += inline_block_rows) {
      const std::size_t mb = std::min(inline_block_rows, m - i0);
      // op(A)'s block, column-major and contiguous.
      for (std::size_t p = 0; p < kb; ++p)
        for (std::size_t i = 0; i < mb; ++i) F::store(block.data() + (i + p * mb) * w, a.at(i0 + i, p0 + p));
      for (std::size_t j0 = 0; j0 < n; j0 += inline_tile_columns) {
        const std::size_t nr = std::min(inline_tile_columns, n - j0);
        for (std::size_t p = 0; p < kb; ++p)
          for (std::size_t jj = 0; jj < nr; ++jj)
            F::store(scaled_b.data() + (p * inline_tile_columns + jj) * w, F::mul(b.at(p0 + p, j0 + jj), alpha));
        F::add_products(block.data(), mb, kb, scaled_b.data(), nr, c + (i0 + j0 * ldc) * w, ldc);
      }
    }
  }
}

}  // namespace pellum_blas::cblas
