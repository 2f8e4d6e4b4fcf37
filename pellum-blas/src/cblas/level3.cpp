// The exported level-3 functions: argument decoding, the row-major conversion and the
// hand-over to the level-3 routines. Every status they return is discarded: the views of
// one call are consistent, so only a singular triangle of the solve can be reported, and
// it leaves B partly solved.
#include <cstddef>
#include <optional>
#include <utility>

#include "inline_gemm.hpp"
#include "interface.hpp"
#include "pellum_blas/level3/gemm.hpp"
#include "pellum_blas/level3/symm.hpp"
#include "pellum_blas/level3/syr2k.hpp"
#include "pellum_blas/level3/syrk.hpp"
#include "pellum_blas/level3/trmm.hpp"
#include "pellum_blas/level3/trsm/generic.hpp"

namespace pellum_blas::cblas {
namespace {

using pellum_matrix::mat_mut::MatMut;
using pellum_matrix::mat_ref::MatRef;

std::size_t size(std::int32_t value) { return static_cast<std::size_t>(value); }

// C <- alpha·op(A)·op(B) + beta·C for real and complex elements. A row-major call is the
// column-major call for Cᵀ = op(B)ᵀ·op(A)ᵀ: operands, their codes and leading dimensions
// change places, and so do M and N. The scalars arrive by address and are read only once
// the sizes leave work to do: an empty complex product may pass null scalars.
template <typename F>
void gemm(std::int32_t layout, std::int32_t trans_a, std::int32_t trans_b, std::int32_t m, std::int32_t n,
          std::int32_t k, const typename F::Scalar* alpha_at, const typename F::Scalar* a, std::int32_t lda,
          const typename F::Scalar* b, std::int32_t ldb, const typename F::Scalar* beta_at, typename F::Scalar* c,
          std::int32_t ldc) {
  if (m <= 0 || n <= 0 || k < 0) return;
  struct Argument {
    const typename F::Scalar* data;
    std::int32_t ld, code;
  };
  Argument x{a, lda, trans_a}, y{b, ldb, trans_b};
  std::size_t rows = size(m), cols = size(n);
  const std::size_t depth = size(k);
  if (layout == CblasRowMajor) {
    std::swap(x, y);
    std::swap(rows, cols);
  }
  const Op op_x = F::decode(x.code), op_y = F::decode(y.code);
  if (!leading_dimension_fits(x.ld, op_x == Op::None ? rows : depth) ||
      !leading_dimension_fits(y.ld, op_y == Op::None ? depth : cols) || !leading_dimension_fits(ldc, rows))
    return;
  const typename F::Value alpha = F::load(alpha_at), beta = F::load(beta_at);
  if constexpr (F::width == 1) {
    if (op_x == Op::None && op_y == Op::None) {
      level3::gemm::gemm_with_par(MatRef(x.data, rows, depth, size(x.ld)), MatRef(y.data, depth, cols, size(y.ld)),
                                  MatMut(c, rows, cols, size(ldc)), alpha, beta);
      return;
    }
  }
  inline_gemm<F>({x.data, size(x.ld), op_x}, {y.data, size(y.ld), op_y}, rows, cols, depth, alpha, beta, c, size(ldc));
}

// symm, trmm and trsm in column-major terms: B (or C) is rows × cols, the symmetric or
// triangular operand stands on the right or the left, and its order is cols or rows.
struct SidedProblem {
  std::size_t rows, cols;
  bool right, upper;
  std::size_t order() const { return right ? cols : rows; }
};

// A row-major call swaps M and N and flips the side and the triangle.
SidedProblem decode_sided(std::int32_t layout, std::int32_t side, std::int32_t uplo, std::int32_t m, std::int32_t n) {
  const bool row_major = layout == CblasRowMajor;
  const bool left = side == CblasLeft, upper = uplo == CblasUpper;
  return {size(row_major ? n : m), size(row_major ? m : n), row_major ? left : !left, row_major ? !upper : upper};
}

template <typename T>
void symm(std::int32_t layout, std::int32_t side, std::int32_t uplo, std::int32_t m, std::int32_t n, T alpha,
          const T* a, std::int32_t lda, const T* b, std::int32_t ldb, T beta, T* c, std::int32_t ldc) {
  if (m <= 0 || n <= 0) return;
  const SidedProblem p = decode_sided(layout, side, uplo, m, n);
  if (!leading_dimension_fits(lda, p.order()) || !leading_dimension_fits(ldb, p.rows) ||
      !leading_dimension_fits(ldc, p.rows))
    return;
  static_cast<void>(level3::symm::symm(p.right, p.upper, MatRef(a, p.order(), p.order(), size(lda)),
                                       MatRef(b, p.rows, p.cols, size(ldb)), MatMut(c, p.rows, p.cols, size(ldc)),
                                       alpha, beta));
}

// syrk and syr2k in column-major terms: a row-major call flips the triangle and the
// transposition; N and K keep their meaning.
struct RankUpdate {
  bool upper, trans;
  std::size_t a_rows, a_cols;
};

RankUpdate decode_rank_update(std::int32_t layout, std::int32_t uplo, std::int32_t trans, std::int32_t n,
                              std::int32_t k) {
  const bool row_major = layout == CblasRowMajor;
  const bool upper = (uplo == CblasUpper) != row_major;
  const bool transposed = (trans != CblasNoTrans) != row_major;
  return {upper, transposed, size(transposed ? k : n), size(transposed ? n : k)};
}

template <typename T>
void syrk(std::int32_t layout, std::int32_t uplo, std::int32_t trans, std::int32_t n, std::int32_t k, T alpha,
          const T* a, std::int32_t lda, T beta, T* c, std::int32_t ldc) {
  if (n <= 0 || k < 0) return;
  const RankUpdate u = decode_rank_update(layout, uplo, trans, n, k);
  if (!leading_dimension_fits(lda, u.a_rows) || !leading_dimension_fits(ldc, size(n))) return;
  static_cast<void>(level3::syrk::syrk(u.upper, u.trans, MatRef(a, u.a_rows, u.a_cols, size(lda)),
                                       MatMut(c, size(n), size(n), size(ldc)), alpha, beta));
}

template <typename T>
void syr2k(std::int32_t layout, std::int32_t uplo, std::int32_t trans, std::int32_t n, std::int32_t k, T alpha,
           const T* a, std::int32_t lda, const T* b, std::int32_t ldb, T beta, T* c, std::int32_t ldc) {
  if (n <= 0 || k < 0) return;
  const RankUpdate u = decode_rank_update(layout, uplo, trans, n, k);
  if (!leading_dimension_fits(lda, u.a_rows) || !leading_dimension_fits(ldb, u.a_rows) ||
      !leading_dimension_fits(ldc, size(n)))
    return;
  static_cast<void>(level3::syr2k::syr2k(u.upper, u.trans, MatRef(a, u.a_rows, u.a_cols, size(lda)),
                                         MatRef(b, u.a_rows, u.a_cols, size(ldb)),
                                         MatMut(c, size(n), size(n), size(ldc)), alpha, beta));
}

// The triangular routines' operands, or nothing when a leading dimension is too small.
template <typename T>
struct Triangular {
  SidedProblem p;
  bool trans, unit;
  MatRef<T> a;
  MatMut<T> b;
};

template <typename T>
std::optional<Triangular<T>> decode_triangular(std::int32_t layout, std::int32_t side, std::int32_t uplo,
                                               std::int32_t trans_a, std::int32_t diag, std::int32_t m, std::int32_t n,
                                               const T* a, std::int32_t lda, T* b, std::int32_t ldb) {
  const SidedProblem p = decode_sided(layout, side, uplo, m, n);
  if (!leading_dimension_fits(lda, p.order()) || !leading_dimension_fits(ldb, p.rows)) return std::nullopt;
  return Triangular<T>{p, trans_a != CblasNoTrans, diag != CblasNonUnit, MatRef(a, p.order(), p.order(), size(lda)),
                       MatMut(b, p.rows, p.cols, size(ldb))};
}

template <typename T>
void trmm(std::int32_t layout, std::int32_t side, std::int32_t uplo, std::int32_t trans_a, std::int32_t diag,
          std::int32_t m, std::int32_t n, T alpha, const T* a, std::int32_t lda, T* b, std::int32_t ldb) {
  if (m <= 0 || n <= 0) return;
  const auto t = decode_triangular(layout, side, uplo, trans_a, diag, m, n, a, lda, b, ldb);
  if (!t) return;
  static_cast<void>(level3::trmm::trmm_in_place(t->p.right, t->p.upper, t->trans, t->unit, t->a, t->b, alpha));
}

// B is scaled by alpha first, for every alpha: alpha = 0 leaves NaN and infinity as NaN.
template <typename T>
void trsm(std::int32_t layout, std::int32_t side, std::int32_t uplo, std::int32_t trans_a, std::int32_t diag,
          std::int32_t m, std::int32_t n, T alpha, const T* a, std::int32_t lda, T* b, std::int32_t ldb) {
  if (m <= 0 || n <= 0) return;
  const auto t = decode_triangular(layout, side, uplo, trans_a, diag, m, n, a, lda, b, ldb);
  if (!t) return;
  for (std::size_t j = 0; j < t->p.cols; ++j) {
    T* column = t->b.ptr_at(0, j);
    for (std::size_t i = 0; i < t->p.rows; ++i) column[i] = column[i] * alpha;
  }
  static_cast<void>(level3::trsm::generic::trsm_in_place(t->p.right, t->p.upper, t->trans, t->unit, t->a, t->b));
}

// cgemm and zgemm: scalars and matrices arrive as untyped (real, imaginary) pairs.
template <typename T>
void complex_gemm(std::int32_t layout, std::int32_t trans_a, std::int32_t trans_b, std::int32_t m, std::int32_t n,
                  std::int32_t k, const void* alpha, const void* a, std::int32_t lda, const void* b, std::int32_t ldb,
                  const void* beta, void* c, std::int32_t ldc) {
  gemm<ComplexField<T>>(layout, trans_a, trans_b, m, n, k, static_cast<const T*>(alpha), static_cast<const T*>(a), lda,
                        static_cast<const T*>(b), ldb, static_cast<const T*>(beta), static_cast<T*>(c), ldc);
}

}  // namespace
}  // namespace pellum_blas::cblas

using namespace pellum_blas::cblas;

extern "C" {

void cblas_sgemm(int32_t Layout, int32_t TransA, int32_t TransB, int32_t M, int32_t N, int32_t K, float alpha,
                 const float* A, int32_t lda, const float* B, int32_t ldb, float beta, float* C, int32_t ldc) noexcept {
  without_unwinding(
      [&] { gemm<RealField<float>>(Layout, TransA, TransB, M, N, K, &alpha, A, lda, B, ldb, &beta, C, ldc); });
}
void cblas_dgemm(int32_t Layout, int32_t TransA, int32_t TransB, int32_t M, int32_t N, int32_t K, double alpha,
                 const double* A, int32_t lda, const double* B, int32_t ldb, double beta, double* C,
                 int32_t ldc) noexcept {
  without_unwinding(
      [&] { gemm<RealField<double>>(Layout, TransA, TransB, M, N, K, &alpha, A, lda, B, ldb, &beta, C, ldc); });
}
void cblas_cgemm(int32_t Layout, int32_t TransA, int32_t TransB, int32_t M, int32_t N, int32_t K, const void* alpha,
                 const void* A, int32_t lda, const void* B, int32_t ldb, const void* beta, void* C,
                 int32_t ldc) noexcept {
  without_unwinding([&] { complex_gemm<float>(Layout, TransA, TransB, M, N, K, alpha, A, lda, B, ldb, beta, C, ldc); });
}
void cblas_zgemm(int32_t Layout, int32_t TransA, int32_t TransB, int32_t M, int32_t N, int32_t K, const void* alpha,
                 const void* A, int32_t lda, const void* B, int32_t ldb, const void* beta, void* C,
                 int32_t ldc) noexcept {
  without_unwinding(
      [&] { complex_gemm<double>(Layout, TransA, TransB, M, N, K, alpha, A, lda, B, ldb, beta, C, ldc); });
}
void cblas_ssymm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t M, int32_t N, float alpha, const float* A,
                 int32_t lda, const float* B, int32_t ldb, float beta, float* C, int32_t ldc) noexcept {
  without_unwinding([&] { symm(Layout, Side, Uplo, M, N, alpha, A, lda, B, ldb, beta, C, ldc); });
}
void cblas_dsymm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t M, int32_t N, double alpha, const double* A,
                 int32_t lda, const double* B, int32_t ldb, double beta, double* C, int32_t ldc) noexcept {
  without_unwinding([&] { symm(Layout, Side, Uplo, M, N, alpha, A, lda, B, ldb, beta, C, ldc); });
}
void cblas_ssyrk(int32_t Layout, int32_t Uplo, int32_t Trans, int32_t N, int32_t K, float alpha, const float* A,
                 int32_t lda, float beta, float* C, int32_t ldc) noexcept {
  without_unwinding([&] { syrk(Layout, Uplo, Trans, N, K, alpha, A, lda, beta, C, ldc); });
}
void cblas_dsyrk(int32_t Layout, int32_t Uplo, int32_t Trans, int32_t N, int32_t K, double alpha, const double* A,
                 int32_t lda, double beta, double* C, int32_t ldc) noexcept {
  without_unwinding([&] { syrk(Layout, Uplo, Trans, N, K, alpha, A, lda, beta, C, ldc); });
}
void cblas_ssyr2k(int32_t Layout, int32_t Uplo, int32_t Trans, int32_t N, int32_t K, float alpha, const float* A,
                  int32_t lda, const float* B, int32_t ldb, float beta, float* C, int32_t ldc) noexcept {
  without_unwinding([&] { syr2k(Layout, Uplo, Trans, N, K, alpha, A, lda, B, ldb, beta, C, ldc); });
}
void cblas_dsyr2k(int32_t Layout, int32_t Uplo, int32_t Trans, int32_t N, int32_t K, double alpha, const double* A,
                  int32_t lda, const double* B, int32_t ldb, double beta, double* C, int32_t ldc) noexcept {
  without_unwinding([&] { syr2k(Layout, Uplo, Trans, N, K, alpha, A, lda, B, ldb, beta, C, ldc); });
}
void cblas_strmm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t TransA, int32_t Diag, int32_t M, int32_t N,
                 float alpha, const float* A, int32_t lda, float* B, int32_t ldb) noexcept {
  without_unwinding([&] { trmm(Layout, Side, Uplo, TransA, Diag, M, N, alpha, A, lda, B, ldb); });
}
void cblas_dtrmm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t TransA, int32_t Diag, int32_t M, int32_t N,
                 double alpha, const double* A, int32_t lda, double* B, int32_t ldb) noexcept {
  without_unwinding([&] { trmm(Layout, Side, Uplo, TransA, Diag, M, N, alpha, A, lda, B, ldb); });
}
void cblas_strsm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t TransA, int32_t Diag, int32_t M, int32_t N,
                 float alpha, const float* A, int32_t lda, float* B, int32_t ldb) noexcept {
  without_unwinding([&] { trsm(Layout, Side, Uplo, TransA, Diag, M, N, alpha, A, lda, B, ldb); });
}
void cblas_dtrsm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t TransA, int32_t Diag, int32_t M, int32_t N,
                 double alpha, const double* A, int32_t lda, double* B, int32_t ldb) noexcept {
  without_unwinding([&] { trsm(Layout, Side, Uplo, TransA, Diag, M, N, alpha, A, lda, B, ldb); });
}

}  // extern "C"
