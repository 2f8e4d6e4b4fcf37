#pragma once
// The GEMM loops the C interface runs itself: real products with a transposed operand and
// every complex product. Each element of C receives, after the beta pass, the terms of the
// depth steps p = 0, 1, … in order, as C(i, j) + op(A)(i, p)·(op(B)(p, j)·alpha); the loops
// are blocked only so that the operands stay in cache, which keeps that order.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "pellum_blas/cblas.h"
#include "pellum_core/memory/aligned_vec.hpp"

namespace pellum_blas::cblas {

// How an operand is read: as stored, transposed, or conjugate-transposed.
enum class Op : std::uint8_t { None, Trans, ConjTrans };

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
  static Value add(Value x, Value y) { return x + y; }
  static bool is_zero(Value v) { return v == 0; }
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
  static Value add(Value x, Value y) { return {x.re + y.re, x.im + y.im}; }
  static bool is_zero(Value v) { return v.re == 0 && v.im == 0; }
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

namespace detail {

inline constexpr std::size_t inline_block_rows = 128;
inline constexpr std::size_t inline_block_depth = 128;

// c[i] <- c[i] + a[i]·t for n consecutive elements, four at a time for the vectoriser.
template <typename F>
void add_scaled_column(typename F::Scalar* __restrict c, const typename F::Scalar* __restrict a,
                       typename F::Value t, std::size_t n) {
  constexpr std::size_t w = F::width;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (std::size_t r = i; r < i + 4; ++r)
      F::store(c + r * w, F::add(F::load(c + r * w), F::mul(F::load(a + r * w), t)));
  for (; i < n; ++i) F::store(c + i * w, F::add(F::load(c + i * w), F::mul(F::load(a + i * w), t)));
}

}  // namespace detail

// C (m × n, leading dimension ldc) <- alpha·op(A)·op(B) + beta·C, A of m × k and B of k × n
// after their ops. beta = 0 writes zeros without reading C; there is no alpha = 0 shortcut.
template <typename F>
void inline_gemm(Operand<F> a, Operand<F> b, std::size_t m, std::size_t n, std::size_t k,
                 typename F::Value alpha, typename F::Value beta, typename F::Scalar* c, std::size_t ldc) {
  using Scalar = typename F::Scalar;
  constexpr std::size_t w = F::width;
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < m; ++i) {
      Scalar* cij = c + (i + j * ldc) * w;
      F::store(cij, F::is_zero(beta) ? typename F::Value{} : F::mul(F::load(cij), beta));
    }
  if (k == 0) return;

  using namespace detail;
  auto block = pellum_core::memory::aligned_vec::AlignedVec<Scalar>::zeros_in(
      std::min(m, inline_block_rows) * std::min(k, inline_block_depth) * w);
  for (std::size_t p0 = 0; p0 < k; p0 += inline_block_depth) {
    const std::size_t kb = std::min(inline_block_depth, k - p0);
    for (std::size_t i0 = 0; i0 < m; i0 += inline_block_rows) {
      const std::size_t mb = std::min(inline_block_rows, m - i0);
      // op(A)'s block, column-major and contiguous.
      for (std::size_t p = 0; p < kb; ++p)
        for (std::size_t i = 0; i < mb; ++i) F::store(block.data() + (i + p * mb) * w, a.at(i0 + i, p0 + p));
      for (std::size_t j = 0; j < n; ++j)
        for (std::size_t p = 0; p < kb; ++p)
          add_scaled_column<F>(c + (i0 + j * ldc) * w, block.data() + p * mb * w,
                               F::mul(b.at(p0 + p, j), alpha), mb);
    }
  }
}

}  // namespace pellum_blas::cblas
