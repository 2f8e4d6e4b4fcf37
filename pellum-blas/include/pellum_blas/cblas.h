/* The C BLAS interface of the library: 36 functions with the standard names, argument
 * orders and enumeration values. Usable from C and C++.
 *
 * Shared rules:
 * - Enumerations are 32-bit integers; each function tests one value per enumeration and
 *   reads any other, named or not, as the alternative; no value is rejected (Layout 101 is
 *   row-major, anything else column-major; Trans 111 is "not transposed", so gemv, gemm,
 *   syrk, syr2k, trmm and trsm transpose for 112, 113 or any value such as 0 or 367; Uplo
 *   121 upper; Diag 131 non-unit; Side 141 left). For cgemm/zgemm 112 transposes and any
 *   other value conjugate-transposes.
 * - A row-major call is run as the column-major call on the transposed problem.
 * - Nothing is touched, and 0 (or index 0, or 0 + 0i) is returned, when N <= 0 (vector
 *   functions), M <= 0 or N <= 0 (gemv, gemm, symm, trmm, trsm) or N <= 0 (syrk, syr2k).
 * - Nothing is touched either when K < 0 or a leading dimension is below the number of
 *   rows its matrix holds in memory (at least 1); no error is reported.
 * - A negative increment starts at the far end: element i of an N-vector with increment
 *   inc < 0 lies at X[(N - 1 - i)·|inc|]. An increment of 0 reuses one element. asum,
 *   iamax and scal read incX <= 0 so too rather than returning at once: iamax counts its
 *   index from the far end, asum with incX = 0 adds |X[0]| N times, and scal with incX = 0
 *   multiplies X[0] by alpha N times.
 * - beta = 0 (either sign) never reads the output of gemv, gemm, symm, syrk and syr2k: old
 *   NaN or infinity there does not survive. A NaN beta makes the output NaN.
 * - alpha = 0 is no promise that the operands are left unread: on some paths NaN or
 *   infinity in A or B still reaches the result. trmm clears B for alpha = 0; trsm scales B
 *   by alpha first, so alpha = 0 keeps NaN and infinity there as NaN.
 * - No function unwinds into its caller: an internal failure writes a message to standard
 *   error and aborts the process. */
#ifndef PELLUM_BLAS_CBLAS_H
#define PELLUM_BLAS_CBLAS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define PELLUM_CBLAS_NOEXCEPT noexcept
extern "C" {
#else
#define PELLUM_CBLAS_NOEXCEPT
#endif

#define PELLUM_CBLAS_API __attribute__((visibility("default")))

enum { CblasRowMajor = 101, CblasColMajor = 102 };
enum { CblasNoTrans = 111, CblasTrans = 112, CblasConjTrans = 113 };
enum { CblasUpper = 121, CblasLower = 122 };
enum { CblasNonUnit = 131, CblasUnit = 132 };
enum { CblasLeft = 141, CblasRight = 142 };

/* A 0-based element index. */
typedef size_t CBLAS_INDEX;

/* Level 1. */
PELLUM_CBLAS_API float cblas_sdot(int32_t N, const float* X, int32_t incX, const float* Y,
                                  int32_t incY) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API double cblas_ddot(int32_t N, const double* X, int32_t incX, const double* Y,
                                   int32_t incY) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_cdotu_sub(int32_t N, const void* X, int32_t incX, const void* Y, int32_t incY,
                                      void* dotu) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_zdotu_sub(int32_t N, const void* X, int32_t incX, const void* Y, int32_t incY,
                                      void* dotu) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_cdotc_sub(int32_t N, const void* X, int32_t incX, const void* Y, int32_t incY,
                                      void* dotc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_zdotc_sub(int32_t N, const void* X, int32_t incX, const void* Y, int32_t incY,
                                      void* dotc) PELLUM_CBLAS_NOEXCEPT;
/* NaN if any element is NaN, else +inf if any is infinite; never overflows or underflows
 * in between. */
PELLUM_CBLAS_API float cblas_snrm2(int32_t N, const float* X, int32_t incX) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API double cblas_dnrm2(int32_t N, const double* X, int32_t incX) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API float cblas_sasum(int32_t N, const float* X, int32_t incX) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API double cblas_dasum(int32_t N, const double* X, int32_t incX) PELLUM_CBLAS_NOEXCEPT;
/* The first index of the largest magnitude; a NaN element never wins. */
PELLUM_CBLAS_API CBLAS_INDEX cblas_isamax(int32_t N, const float* X, int32_t incX) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API CBLAS_INDEX cblas_idamax(int32_t N, const double* X, int32_t incX) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_sswap(int32_t N, float* X, int32_t incX, float* Y, int32_t incY) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dswap(int32_t N, double* X, int32_t incX, double* Y, int32_t incY) PELLUM_CBLAS_NOEXCEPT;
/* With both increments 1 the vectors may overlap. */
PELLUM_CBLAS_API void cblas_scopy(int32_t N, const float* X, int32_t incX, float* Y,
                                  int32_t incY) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dcopy(int32_t N, const double* X, int32_t incX, double* Y,
                                  int32_t incY) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_saxpy(int32_t N, float alpha, const float* X, int32_t incX, float* Y,
                                  int32_t incY) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_daxpy(int32_t N, double alpha, const double* X, int32_t incX, double* Y,
                                  int32_t incY) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_sscal(int32_t N, float alpha, float* X, int32_t incX) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dscal(int32_t N, double alpha, double* X, int32_t incX) PELLUM_CBLAS_NOEXCEPT;

/* Level 2. */
PELLUM_CBLAS_API void cblas_sgemv(int32_t Layout, int32_t TransA, int32_t M, int32_t N, float alpha, const float* A,
                                  int32_t lda, const float* X, int32_t incX, float beta, float* Y,
                                  int32_t incY) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dgemv(int32_t Layout, int32_t TransA, int32_t M, int32_t N, double alpha, const double* A,
                                  int32_t lda, const double* X, int32_t incX, double beta, double* Y,
                                  int32_t incY) PELLUM_CBLAS_NOEXCEPT;

/* Level 3. */
PELLUM_CBLAS_API void cblas_sgemm(int32_t Layout, int32_t TransA, int32_t TransB, int32_t M, int32_t N, int32_t K,
                                  float alpha, const float* A, int32_t lda, const float* B, int32_t ldb, float beta,
                                  float* C, int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dgemm(int32_t Layout, int32_t TransA, int32_t TransB, int32_t M, int32_t N, int32_t K,
                                  double alpha, const double* A, int32_t lda, const double* B, int32_t ldb, double beta,
                                  double* C, int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_cgemm(int32_t Layout, int32_t TransA, int32_t TransB, int32_t M, int32_t N, int32_t K,
                                  const void* alpha, const void* A, int32_t lda, const void* B, int32_t ldb,
                                  const void* beta, void* C, int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_zgemm(int32_t Layout, int32_t TransA, int32_t TransB, int32_t M, int32_t N, int32_t K,
                                  const void* alpha, const void* A, int32_t lda, const void* B, int32_t ldb,
                                  const void* beta, void* C, int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_ssymm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t M, int32_t N, float alpha,
                                  const float* A, int32_t lda, const float* B, int32_t ldb, float beta, float* C,
                                  int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dsymm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t M, int32_t N, double alpha,
                                  const double* A, int32_t lda, const double* B, int32_t ldb, double beta, double* C,
                                  int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_ssyrk(int32_t Layout, int32_t Uplo, int32_t Trans, int32_t N, int32_t K, float alpha,
                                  const float* A, int32_t lda, float beta, float* C, int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dsyrk(int32_t Layout, int32_t Uplo, int32_t Trans, int32_t N, int32_t K, double alpha,
                                  const double* A, int32_t lda, double beta, double* C,
                                  int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_ssyr2k(int32_t Layout, int32_t Uplo, int32_t Trans, int32_t N, int32_t K, float alpha,
                                   const float* A, int32_t lda, const float* B, int32_t ldb, float beta, float* C,
                                   int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dsyr2k(int32_t Layout, int32_t Uplo, int32_t Trans, int32_t N, int32_t K, double alpha,
                                   const double* A, int32_t lda, const double* B, int32_t ldb, double beta, double* C,
                                   int32_t ldc) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_strmm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t TransA, int32_t Diag, int32_t M,
                                  int32_t N, float alpha, const float* A, int32_t lda, float* B,
                                  int32_t ldb) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dtrmm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t TransA, int32_t Diag, int32_t M,
                                  int32_t N, double alpha, const double* A, int32_t lda, double* B,
                                  int32_t ldb) PELLUM_CBLAS_NOEXCEPT;
/* B is scaled by alpha, then solved in place; a zero on a non-unit diagonal stops the
 * solve and leaves B partly solved. */
PELLUM_CBLAS_API void cblas_strsm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t TransA, int32_t Diag, int32_t M,
                                  int32_t N, float alpha, const float* A, int32_t lda, float* B,
                                  int32_t ldb) PELLUM_CBLAS_NOEXCEPT;
PELLUM_CBLAS_API void cblas_dtrsm(int32_t Layout, int32_t Side, int32_t Uplo, int32_t TransA, int32_t Diag, int32_t M,
                                  int32_t N, double alpha, const double* A, int32_t lda, double* B,
                                  int32_t ldb) PELLUM_CBLAS_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* PELLUM_BLAS_CBLAS_H */
