/*
 * csp: a parallel direct solver for symmetric positive definite band
 * systems A*X = B of constant half bandwidth, in four element kinds:
 *   _s float, _d double,
 *   _c csp_complex_float, _z csp_complex_double.
 * The complex kinds solve complex SYMMETRIC systems, A = A^T, factored as
 * A = L*L^T with the plain transpose (no conjugation); A need not be
 * Hermitian, and a Hermitian matrix is not what they solve.
 *
 * Band storage is LAPACK's, column-major with leading dimension ldab:
 *   uplo = 'L': AB(1+i-j, j)   = A(i, j) for j <= i <= min(n, j+m);
 *   uplo = 'U': AB(m+1+i-j, j) = A(i, j) for max(1, j-m) <= i <= j.
 * Entries outside the band (the unused corner, rows past m+1 of a larger
 * ldab) are never read. B is n x nrhs, column-major, leading dimension ldb.
 *
 * Return codes: 0 success; -i when argument i is invalid; a positive value
 * when the matrix is not positive definite (for the complex kinds: when a
 * pivot of modulus zero, or a NaN, appears); CSP_OUT_OF_MEMORY when scratch
 * memory cannot be had. Nothing is printed.
 *
 * Every routine may be called from several threads at once on different
 * arrays; the task count is one setting for the whole process.
 */
#ifndef CSP_CSP_H
#define CSP_CSP_H

#include <stdint.h>

#ifdef __cplusplus
#include <complex>
typedef std::complex<float> csp_complex_float;
typedef std::complex<double> csp_complex_double;
extern "C" {
#else
#include <complex.h>
typedef float _Complex csp_complex_float;
typedef double _Complex csp_complex_double;
#endif

/* Scratch memory (the solver's work array, a compact copy of the band or of
   B) could not be allocated; the arguments are unchanged. */
#define CSP_OUT_OF_MEMORY (-101)

/*
 * csp_solve_s(uplo, n, m, nrhs, ab, ldab, b, ldb): solves A*X = B.
 *   uplo (in)     'L' or 'l': ab holds the lower triangle; 'U' or 'u': the
 *                 upper triangle.
 *   n    (in)     order of A, n >= 0.
 *   m    (in)     half bandwidth, m >= 0 (m >= n is allowed).
 *   nrhs (in)     number of right-hand sides, nrhs >= 0.
 *   ab   (in/out) the band of A, ldab x n; holds scratch on return (neither
 *                 A nor a factor of it).
 *   ldab (in)     leading dimension of ab, ldab >= m+1.
 *   b    (in/out) the right-hand sides, ldb x nrhs; the solutions X on a
 *                 return of 0.
 *   ldb  (in)     leading dimension of b, ldb >= max(1, n).
 * Returns 0; -1 .. -8 for an invalid argument 1 .. 8 (ab may be null when
 * n = 0, b when n = 0 or nrhs = 0); k > 0 when A is not positive definite
 * (ab and b then hold scratch); CSP_OUT_OF_MEMORY.
 * ab with uplo 'L' and ldab = m+1 (m < n) is used in place; other storage is
 * copied. The method depends on n, m and the kind only, so the result is the
 * same, bit for bit, for every task count.
 */
int csp_solve_s(char uplo, int32_t n, int32_t m, int32_t nrhs, float *ab, int32_t ldab,
                float *b, int32_t ldb);
int csp_solve_d(char uplo, int32_t n, int32_t m, int32_t nrhs, double *ab, int32_t ldab,
                double *b, int32_t ldb);
int csp_solve_c(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_float *ab,
                int32_t ldab, csp_complex_float *b, int32_t ldb);
int csp_solve_z(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_double *ab,
                int32_t ldab, csp_complex_double *b, int32_t ldb);

/*
 * csp_factor_s(uplo, n, m, ab, ldab): the Cholesky factorization A = L*L^T
 * (uplo 'L') or A = U^T*U (uplo 'U', U = L^T), in place, in the same storage.
 *   uplo (in)     'L', 'l', 'U' or 'u', as for csp_solve_s.
 *   n    (in)     order of A, n >= 0.
 *   m    (in)     half bandwidth, m >= 0.
 *   ab   (in/out) the band of A, ldab x n; the factor L (or U) on a return
 *                 of 0, in the storage ?pbtrf leaves it; entries outside the
 *                 band are not written.
 *   ldab (in)     leading dimension of ab, ldab >= m+1.
 * Returns 0; -1 .. -5 for an invalid argument 1 .. 5; k > 0 when A is not
 * positive definite (ab then holds a partial factor); CSP_OUT_OF_MEMORY.
 */
int csp_factor_s(char uplo, int32_t n, int32_t m, float *ab, int32_t ldab);
int csp_factor_d(char uplo, int32_t n, int32_t m, double *ab, int32_t ldab);
int csp_factor_c(char uplo, int32_t n, int32_t m, csp_complex_float *ab, int32_t ldab);
int csp_factor_z(char uplo, int32_t n, int32_t m, csp_complex_double *ab, int32_t ldab);

/*
 * csp_factor_solve_s(uplo, n, m, nrhs, ab, ldab, b, ldb): solves A*X = B with
 * the factor that csp_factor_s left in ab (or ?pbtrf, for the real kinds),
 * as ?pbtrs does; ab is not changed and serves any number of solves.
 *   arguments as csp_solve_s, ab (in) holding the factor.
 * Returns 0; -1 .. -8 for an invalid argument 1 .. 8; CSP_OUT_OF_MEMORY.
 */
int csp_factor_solve_s(char uplo, int32_t n, int32_t m, int32_t nrhs, const float *ab,
                       int32_t ldab, float *b, int32_t ldb);
int csp_factor_solve_d(char uplo, int32_t n, int32_t m, int32_t nrhs, const double *ab,
                       int32_t ldab, double *b, int32_t ldb);
int csp_factor_solve_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                       const csp_complex_float *ab, int32_t ldab, csp_complex_float *b,
                       int32_t ldb);
int csp_factor_solve_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                       const csp_complex_double *ab, int32_t ldab, csp_complex_double *b,
                       int32_t ldb);

/* csp_set_tasks(tasks): the number of tasks (threads, the caller included)
   every later solve runs with, capped at the processor count and at 32;
   tasks <= 0: the processor count again. The result of a solve does not
   depend on it. */
void csp_set_tasks(int32_t tasks);

/* csp_get_tasks(): the number of tasks a solve runs with now. */
int32_t csp_get_tasks(void);

/* csp_version(): the library's version, "MAJOR.MINOR.PATCH". */
const char *csp_version(void);

#ifdef __cplusplus
}
#endif

#endif /* CSP_CSP_H */
