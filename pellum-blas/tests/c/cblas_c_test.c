/* Calls every exported function from C, the language its callers write, and checks the
 * results against values worked out by hand. Exits non-zero on the first failure. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "pellum_blas/cblas.h"

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

static int near(double actual, double expected) {
  return fabs(actual - expected) <= 1e-5 * (1.0 + fabs(expected));
}

static int all_near_d(const double* actual, const double* expected, int n) {
  for (int i = 0; i < n; ++i)
    if (!near(actual[i], expected[i])) return 0;
  return 1;
}

static int all_near_s(const float* actual, const double* expected, int n) {
  for (int i = 0; i < n; ++i)
    if (!near(actual[i], expected[i])) return 0;
  return 1;
}

static void level1(void) {
  const double dx[4] = {1, -2, 3, -4}, dy[4] = {5, 6, 7, 8};
  const float sx[4] = {1, -2, 3, -4}, sy[4] = {5, 6, 7, 8};
  check(cblas_ddot(4, dx, 1, dy, 1) == -18.0, "ddot");
  check(cblas_sdot(2, sx, 2, sy, 2) == 26.0f, "sdot strided");

  /* (1 + 2i, 3 - i) and (2 - i, 1 + 4i) */
  const double zx[4] = {1, 2, 3, -1}, zy[4] = {2, -1, 1, 4};
  const float cx[4] = {1, 2, 3, -1}, cy[4] = {2, -1, 1, 4};
  double z[2];
  float c[2];
  cblas_zdotu_sub(2, zx, 1, zy, 1, z);
  check(z[0] == 11.0 && z[1] == 14.0, "zdotu");
  cblas_zdotc_sub(2, zx, 1, zy, 1, z);
  check(z[0] == -1.0 && z[1] == 8.0, "zdotc");
  cblas_cdotu_sub(2, cx, 1, cy, 1, c);
  check(c[0] == 11.0f && c[1] == 14.0f, "cdotu");
  cblas_cdotc_sub(2, cx, 1, cy, 1, c);
  check(c[0] == -1.0f && c[1] == 8.0f, "cdotc");

  const double d34[2] = {3, 4};
  const float s34[2] = {3, 4};
  check(cblas_dnrm2(2, d34, 1) == 5.0, "dnrm2");
  check(cblas_snrm2(2, s34, 1) == 5.0f, "snrm2");
  check(cblas_dasum(4, dx, 1) == 10.0, "dasum");
  check(cblas_sasum(2, sx, 2) == 4.0f, "sasum strided");
  check(cblas_idamax(4, dx, 1) == 3, "idamax");
  check(cblas_isamax(3, sx, 1) == 2, "isamax");

  double da[3] = {1, 2, 3}, db[3] = {4, 5, 6};
  float sa[3] = {1, 2, 3}, sb[3] = {4, 5, 6};
  cblas_dswap(3, da, 1, db, -1);
  check(da[0] == 6 && da[2] == 4 && db[0] == 3 && db[2] == 1, "dswap reversed");
  cblas_sswap(2, sa, 2, sb, 1);
  check(sa[0] == 4 && sa[2] == 5 && sb[0] == 1 && sb[1] == 3, "sswap strided");

  double dcopy[4] = {1, 2, 3, 4};
  cblas_dcopy(3, dcopy, 1, dcopy + 1, 1);
  check(dcopy[1] == 1 && dcopy[2] == 2 && dcopy[3] == 3, "dcopy overlapping");
  float scopy[3] = {0, 0, 0};
  cblas_scopy(3, sx, 1, scopy, -1);
  check(scopy[0] == 3 && scopy[2] == 1, "scopy reversed");

  double dyy[4] = {1, 1, 1, 1};
  cblas_daxpy(4, 2.0, dx, 1, dyy, 1);
  const double daxpy_expected[4] = {3, -3, 7, -7};
  check(all_near_d(dyy, daxpy_expected, 4), "daxpy");
  float syy[2] = {1, 1};
  cblas_saxpy(2, -1.0f, sx, 2, syy, 1);
  check(syy[0] == 0 && syy[1] == -2, "saxpy strided");

  double ds[3] = {1, 2, 3};
  cblas_dscal(3, -2.0, ds, 1);
  check(ds[0] == -2 && ds[2] == -6, "dscal");
  float ss[3] = {1, 2, 3};
  cblas_sscal(2, 0.5f, ss, 2);
  check(ss[0] == 0.5f && ss[1] == 2 && ss[2] == 1.5f, "sscal strided");
}

static void level2(void) {
  /* A = [1 2 3; 4 5 6] in row-major order, x = (1, 1, 1), y = A·x. */
  const double da[6] = {1, 2, 3, 4, 5, 6}, dx[3] = {1, 1, 1};
  double dy[2] = {100, 100};
  cblas_dgemv(CblasRowMajor, CblasNoTrans, 2, 3, 1.0, da, 3, dx, 1, 0.0, dy, 1);
  const double dgemv_expected[2] = {6, 15};
  check(all_near_d(dy, dgemv_expected, 2), "dgemv row-major");
  /* The same memory read column-major is the 3 × 2 matrix Aᵀ; Aᵀᵀ·x = A·x again. */
  const float sa[6] = {1, 2, 3, 4, 5, 6}, sx[3] = {1, 1, 1};
  float sy[2] = {1, 1};
  cblas_sgemv(CblasColMajor, CblasTrans, 3, 2, 2.0f, sa, 3, sx, 1, 1.0f, sy, 1);
  const double sgemv_expected[2] = {13, 31};
  check(all_near_s(sy, sgemv_expected, 2), "sgemv column-major transposed");
}

static void level3(void) {
  /* Row-major [1 2 3; 4 5 6]·[7 8; 9 10; 11 12] = [58 64; 139 154]. */
  const double da[6] = {1, 2, 3, 4, 5, 6}, db[6] = {7, 8, 9, 10, 11, 12};
  const float sa[6] = {1, 2, 3, 4, 5, 6};
  const double gemm_expected[4] = {58, 64, 139, 154};
  double dc[4] = {NAN, NAN, NAN, NAN};
  float sc[4] = {1, 1, 1, 1};
  cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, 2, 2, 3, 1.0, da, 3, db, 2, 0.0, dc, 2);
  check(all_near_d(dc, gemm_expected, 4), "dgemm row-major");
  /* The same product with B given transposed: Bᵀ = [7 9 11; 8 10 12]. */
  const float sbt[6] = {7, 9, 11, 8, 10, 12};
  cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, 2, 2, 3, 1.0f, sa, 3, sbt, 3, 0.0f, sc, 2);
  check(all_near_s(sc, gemm_expected, 4), "sgemm row-major, B transposed");

  /* (1 + 2i)·3: transposed keeps the sign of the imaginary part, conjugated flips it. */
  const double za[2] = {1, 2}, zb[2] = {3, 0}, zone[2] = {1, 0}, zzero[2] = {0, 0};
  const float ca[2] = {1, 2}, cb[2] = {3, 0}, cone[2] = {1, 0}, czero[2] = {0, 0};
  double zc[2] = {NAN, NAN};
  float cc[2] = {NAN, NAN};
  cblas_zgemm(CblasColMajor, CblasTrans, CblasNoTrans, 1, 1, 1, zone, za, 1, zb, 1, zzero, zc, 1);
  check(zc[0] == 3 && zc[1] == 6, "zgemm transposed");
  cblas_cgemm(CblasColMajor, CblasConjTrans, CblasNoTrans, 1, 1, 1, cone, ca, 1, cb, 1, czero, cc, 1);
  check(cc[0] == 3 && cc[1] == -6, "cgemm conjugate-transposed");

  /* Symmetric [2 1; 1 3] from its upper triangle (the lower one is never read) times I. */
  const double dsym[4] = {2, NAN, 1, 3}, deye[4] = {1, 0, 0, 1};
  const float ssym[4] = {2, NAN, 1, 3}, seye[4] = {1, 0, 0, 1};
  const double symm_expected[4] = {2, 1, 1, 3};
  double dsc[4] = {0, 0, 0, 0};
  float ssc[4] = {0, 0, 0, 0};
  cblas_dsymm(CblasColMajor, CblasLeft, CblasUpper, 2, 2, 1.0, dsym, 2, deye, 2, 0.0, dsc, 2);
  check(all_near_d(dsc, symm_expected, 4), "dsymm");
  cblas_ssymm(CblasColMajor, CblasRight, CblasUpper, 2, 2, 1.0f, ssym, 2, seye, 2, 0.0f, ssc, 2);
  check(all_near_s(ssc, symm_expected, 4), "ssymm right");

  /* A = (1, 2)ᵀ, B = (3, 4)ᵀ: A·Aᵀ = [1 2; 2 4] and A·Bᵀ + B·Aᵀ = [6 10; 10 16]; the
   * triangle not asked for keeps its 99. */
  const double dx[2] = {1, 2}, dy[2] = {3, 4};
  const float sx[2] = {1, 2}, sy[2] = {3, 4};
  double dk[4] = {0, 99, 0, 0};
  float sk[4] = {0, 99, 0, 0};
  const double syrk_expected[4] = {1, 99, 2, 4};
  cblas_dsyrk(CblasColMajor, CblasUpper, CblasNoTrans, 2, 1, 1.0, dx, 2, 0.0, dk, 2);
  check(all_near_d(dk, syrk_expected, 4), "dsyrk upper");
  cblas_ssyrk(CblasColMajor, CblasUpper, CblasNoTrans, 2, 1, 1.0f, sx, 2, 0.0f, sk, 2);
  check(all_near_s(sk, syrk_expected, 4), "ssyrk upper");
  double d2k[4] = {0, 0, 99, 0};
  float s2k[4] = {0, 0, 99, 0};
  const double syr2k_expected[4] = {6, 10, 99, 16};
  cblas_dsyr2k(CblasColMajor, CblasLower, CblasNoTrans, 2, 1, 1.0, dx, 2, dy, 2, 0.0, d2k, 2);
  check(all_near_d(d2k, syr2k_expected, 4), "dsyr2k lower");
  cblas_ssyr2k(CblasColMajor, CblasLower, CblasNoTrans, 2, 1, 1.0f, sx, 2, sy, 2, 0.0f, s2k, 2);
  check(all_near_s(s2k, syr2k_expected, 4), "ssyr2k lower");

  /* Row-major M = 2, N = 3, left: 2·[1 2; 0 3]·[1 1 1; 1 1 1] = [6 6 6; 6 6 6]. */
  const double dtri[4] = {1, 2, NAN, 3};
  const float stri[4] = {1, 2, NAN, 3};
  double dtb[6] = {1, 1, 1, 1, 1, 1};
  float stb[6] = {1, 1, 1, 1, 1, 1};
  const double trmm_expected[6] = {6, 6, 6, 6, 6, 6};
  cblas_dtrmm(CblasRowMajor, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, 2, 3, 2.0, dtri, 2,
              dtb, 3);
  check(all_near_d(dtb, trmm_expected, 6), "dtrmm row-major");
  cblas_strmm(CblasRowMajor, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, 2, 3, 2.0f, stri, 2,
              stb, 3);
  check(all_near_s(stb, trmm_expected, 6), "strmm row-major");

  /* The identity with alpha = 2 doubles B; then [1 2; 0 3]·X = B solves back. */
  const double did[4] = {1, 0, 0, 1};
  const float sid[4] = {1, 0, 0, 1};
  double dsb[4] = {1, 2, 3, 4};
  float ssb[4] = {1, 2, 3, 4};
  const double doubled[4] = {2, 4, 6, 8};
  cblas_dtrsm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasNonUnit, 2, 2, 2.0, did, 2,
              dsb, 2);
  check(all_near_d(dsb, doubled, 4), "dtrsm identity");
  cblas_strsm(CblasColMajor, CblasRight, CblasUpper, CblasNoTrans, CblasUnit, 2, 2, 2.0f, sid, 2,
              ssb, 2);
  check(all_near_s(ssb, doubled, 4), "strsm identity");
  double solve[6] = {6, 6, 6, 6, 6, 6};
  cblas_dtrsm(CblasRowMajor, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, 2, 3, 0.5, dtri, 2,
              solve, 3);
  const double solved[6] = {1, 1, 1, 1, 1, 1};
  check(all_near_d(solve, solved, 6), "dtrsm row-major solves what dtrmm made");
}

int main(void) {
  level1();
  level2();
  level3();
  if (failures) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return EXIT_FAILURE;
  }
  puts("all exported functions behave");
  return EXIT_SUCCESS;
}
