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
 * Threads: every routine may be called from several threads at once on
 * different arrays. A solve needs no large stack of its calling thread
 * (about 10 KiB: the solver's scratch comes from the heap), so callers with
 * small thread stacks are safe. A process may fork at any moment, even
 * while other threads solve; the child can solve. The task count (below)
 * is one setting for the whole process, and csp_solve_tasks_X takes one
 * for a single call instead.
 *
 * Complex numbers: csp_complex_float and csp_complex_double are structs of
 * two reals, real part first, with the layout (and alignment) of C99's
 * float _Complex / double _Complex and of C++'s std::complex, so arrays of
 * any of those may be passed by a cast. A C program that defines
 * CSP_C99_COMPLEX before including this header gets the C99 types
 * themselves; <complex.h> is never included either way.
 *
 * The header is C99 and C++ alike, and may be included inside
 * extern "C" { }. C++ programs may prefer <csp/csp.hpp>: templates over
 * these routines, for std::complex, with exceptions.
 */
#ifndef CSP_CSP_H
#define CSP_CSP_H

#include <stdint.h>

#if defined(__GNUC__)
#define CSP_API __attribute__((visibility("default")))
#else
#define CSP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(CSP_C99_COMPLEX) && !defined(__cplusplus)
typedef float _Complex csp_complex_float;
typedef double _Complex csp_complex_double;
#else
typedef struct csp_complex_float {
  float real, imag;
} csp_complex_float;
typedef struct csp_complex_double {
  double real, imag;
} csp_complex_double;
#endif

/* Scratch memory (the sweep's work array, a compact copy of the band or of
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
 * Runs on at most csp_get_tasks() tasks (see there), fewer when the system is
 * too small to repay more.
 */
CSP_API int csp_solve_s(char uplo, int32_t n, int32_t m, int32_t nrhs, float *ab, int32_t ldab,
                        float *b, int32_t ldb);
CSP_API int csp_solve_d(char uplo, int32_t n, int32_t m, int32_t nrhs, double *ab, int32_t ldab,
                        double *b, int32_t ldb);
CSP_API int csp_solve_c(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_float *ab,
                        int32_t ldab, csp_complex_float *b, int32_t ldb);
CSP_API int csp_solve_z(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_double *ab,
                        int32_t ldab, csp_complex_double *b, int32_t ldb);

/*
 * csp_solve_tasks_s(uplo, n, m, nrhs, ab, ldab, b, ldb, tasks): csp_solve_s
 * with a task count for this call alone; the process-wide count (and so
 * every other thread's solves) is not touched.
 *   tasks (in)    at most this many tasks, capped as csp_set_tasks caps its
 *                 count and by the processors the calling thread may run on
 *                 (as csp_get_tasks); 0: the process-wide count.
 * Returns as csp_solve_s, and -9 when tasks < 0.
 */
CSP_API int csp_solve_tasks_s(char uplo, int32_t n, int32_t m, int32_t nrhs, float *ab,
                              int32_t ldab, float *b, int32_t ldb, int32_t tasks);
CSP_API int csp_solve_tasks_d(char uplo, int32_t n, int32_t m, int32_t nrhs, double *ab,
                              int32_t ldab, double *b, int32_t ldb, int32_t tasks);
CSP_API int csp_solve_tasks_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                              csp_complex_float *ab, int32_t ldab, csp_complex_float *b,
                              int32_t ldb, int32_t tasks);
CSP_API int csp_solve_tasks_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                              csp_complex_double *ab, int32_t ldab, csp_complex_double *b,
                              int32_t ldb, int32_t tasks);

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
CSP_API int csp_factor_s(char uplo, int32_t n, int32_t m, float *ab, int32_t ldab);
CSP_API int csp_factor_d(char uplo, int32_t n, int32_t m, double *ab, int32_t ldab);
CSP_API int csp_factor_c(char uplo, int32_t n, int32_t m, csp_complex_float *ab, int32_t ldab);
CSP_API int csp_factor_z(char uplo, int32_t n, int32_t m, csp_complex_double *ab, int32_t ldab);

/*
 * csp_factor_solve_s(uplo, n, m, nrhs, ab, ldab, b, ldb): solves A*X = B with
 * the factor that csp_factor_s left in ab (or ?pbtrf, for the real kinds),
 * as ?pbtrs does; ab is not changed and serves any number of solves.
 *   arguments as csp_solve_s, ab (in) holding the factor.
 * Returns 0; -1 .. -8 for an invalid argument 1 .. 8; CSP_OUT_OF_MEMORY.
 */
CSP_API int csp_factor_solve_s(char uplo, int32_t n, int32_t m, int32_t nrhs, const float *ab,
                               int32_t ldab, float *b, int32_t ldb);
CSP_API int csp_factor_solve_d(char uplo, int32_t n, int32_t m, int32_t nrhs, const double *ab,
                               int32_t ldab, double *b, int32_t ldb);
CSP_API int csp_factor_solve_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                               const csp_complex_float *ab, int32_t ldab, csp_complex_float *b,
                               int32_t ldb);
CSP_API int csp_factor_solve_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                               const csp_complex_double *ab, int32_t ldab, csp_complex_double *b,
                               int32_t ldb);

/*
 * A factorization kept for repeated solves: the fast path when one matrix
 * serves many right-hand sides (time stepping, many columns at once).
 *
 * csp_factorize_s(uplo, n, m, ab, ldab, f): factors A into an object of its
 * own, for csp_solve_factorized_s.
 *   uplo (in)  'L', 'l', 'U' or 'u', as for csp_solve_s.
 *   n    (in)  order of A, n >= 0.
 *   m    (in)  half bandwidth, m >= 0 (m >= n is allowed).
 *   ab   (in)  the band of A, ldab x n; read only, never written.
 *   ldab (in)  leading dimension of ab, ldab >= m+1.
 *   f    (out) the factorization, to be freed by csp_free_factorization;
 *              NULL on any nonzero return.
 * Returns 0; -1 .. -5 for an invalid argument 1 .. 5 (ab may be null when
 * n = 0); -6 when f is NULL; k > 0 when A is not positive definite;
 * CSP_OUT_OF_MEMORY. The object owns its storage, allocated once here: the
 * factor with its fill, at most about (2*mc+1)*n elements plus mc*mc per
 * partition
 * (mc = min(m, n-1)), and the reduced system's factor; docs/c-api.md gives
 * the exact amount. The columns are cut into partitions by n, m and the kind
 * alone, so the factor and every solve with it are the same bits for every
 * task count; csp_solve_s takes the same path wherever it is the faster and
 * then gives the same bits as csp_factorize_s with csp_solve_factorized_s.
 *
 * csp_solve_factorized_s(f, nrhs, b, ldb): solves A*X = B with f.
 *   f    (in)     a factorization of this element kind.
 *   nrhs (in)     number of right-hand sides, nrhs >= 0.
 *   b    (in/out) the right-hand sides, ldb x nrhs; the solutions X.
 *   ldb  (in)     ldb >= max(1, n).
 * Returns 0; -1 when f is NULL or of another element kind; -2 nrhs < 0;
 * -3 b is NULL (n > 0 and nrhs > 0); -4 ldb too small. It only reads f, so
 * several threads may solve with one factorization at once, and it
 * allocates nothing.
 *
 * csp_free_factorization(f): frees f; NULL: nothing.
 *
 * csp_factorize_tasks_s and csp_solve_factorized_tasks_s take a task count
 * for the call alone as their last argument, as csp_solve_tasks_s does: 0
 * for the process-wide count, a negative count gives -7 (factorize) or -5
 * (solve), checked after the other arguments.
 */
typedef struct csp_factorization csp_factorization;
CSP_API int csp_factorize_s(char uplo, int32_t n, int32_t m, const float *ab, int32_t ldab,
                            csp_factorization **f);
CSP_API int csp_factorize_d(char uplo, int32_t n, int32_t m, const double *ab, int32_t ldab,
                            csp_factorization **f);
CSP_API int csp_factorize_c(char uplo, int32_t n, int32_t m, const csp_complex_float *ab,
                            int32_t ldab, csp_factorization **f);
CSP_API int csp_factorize_z(char uplo, int32_t n, int32_t m, const csp_complex_double *ab,
                            int32_t ldab, csp_factorization **f);
CSP_API int csp_solve_factorized_s(const csp_factorization *f, int32_t nrhs, float *b,
                                   int32_t ldb);
CSP_API int csp_solve_factorized_d(const csp_factorization *f, int32_t nrhs, double *b,
                                   int32_t ldb);
CSP_API int csp_solve_factorized_c(const csp_factorization *f, int32_t nrhs,
                                   csp_complex_float *b, int32_t ldb);
CSP_API int csp_solve_factorized_z(const csp_factorization *f, int32_t nrhs,
                                   csp_complex_double *b, int32_t ldb);
CSP_API int csp_factorize_tasks_s(char uplo, int32_t n, int32_t m, const float *ab,
                                  int32_t ldab, csp_factorization **f, int32_t tasks);
CSP_API int csp_solve_factorized_tasks_s(const csp_factorization *f, int32_t nrhs, float *b,
                                         int32_t ldb, int32_t tasks);
CSP_API int csp_factorize_tasks_d(char uplo, int32_t n, int32_t m, const double *ab,
                                  int32_t ldab, csp_factorization **f, int32_t tasks);
CSP_API int csp_solve_factorized_tasks_d(const csp_factorization *f, int32_t nrhs, double *b,
                                         int32_t ldb, int32_t tasks);
CSP_API int csp_factorize_tasks_c(char uplo, int32_t n, int32_t m, const csp_complex_float *ab,
                                  int32_t ldab, csp_factorization **f, int32_t tasks);
CSP_API int csp_solve_factorized_tasks_c(const csp_factorization *f, int32_t nrhs, csp_complex_float *b,
                                         int32_t ldb, int32_t tasks);
CSP_API int csp_factorize_tasks_z(char uplo, int32_t n, int32_t m, const csp_complex_double *ab,
                                  int32_t ldab, csp_factorization **f, int32_t tasks);
CSP_API int csp_solve_factorized_tasks_z(const csp_factorization *f, int32_t nrhs, csp_complex_double *b,
                                         int32_t ldb, int32_t tasks);
CSP_API void csp_free_factorization(csp_factorization *f);

/*
 * Many systems of one order and half bandwidth at once.
 *
 * csp_solve_batched_s(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb,
 *                     stride_b, info): solves A_k*X_k = B_k, k = 0..batch-1.
 *   uplo, n, m, nrhs, ldab, ldb (in) as for csp_solve_s, the same for every
 *                 system.
 *   batch     (in)     number of systems, batch >= 0.
 *   ab        (in/out) system k's band at ab + k*stride_ab, as csp_solve_s
 *                      takes it; holds scratch on return (or is unchanged).
 *   stride_ab (in)     elements from one band to the next, >= ldab*n.
 *   b         (in/out) system k's right-hand sides at b + k*stride_b; its
 *                      solutions where info[k] = 0. A system whose info[k]
 *                      is not 0 leaves its b unchanged or holding scratch.
 *   stride_b  (in)     elements from one system's b to the next,
 *                      >= ldb*nrhs.
 *   info      (out)    batch codes: info[k] = 0, or what csp_solve_s returns
 *                      for system k (1: not positive definite;
 *                      CSP_OUT_OF_MEMORY: not solved for want of memory).
 *                      A system that fails does not stop the others.
 * Returns 0; CSP_OUT_OF_MEMORY when some info[k] is; a negative code for an
 * invalid argument, by name: -1 uplo, -2 n, -3 m, -4 nrhs, -5 batch, -6 ab,
 * -7 ldab, -8 stride_ab, -9 b, -10 ldb, -11 stride_b, -12 info (null with
 * batch > 0); nothing is read or written then. ab and b may be null when
 * there is nothing to read (n = 0, batch = 0, or for b nrhs = 0).
 * Each system's solution is the same, bit for bit, as csp_solve_s gives it
 * alone, whatever the batch size, the task count and its place in the
 * batch. Systems that csp_solve_s solves with the column kernel (n < 20000,
 * or m too wide for the partitioned path, and m < 512) go W at a time
 * through vector lanes (W = 8 for double, 16 for float, 8 for the complex
 * kinds with AVX-512), the tasks taking groups of W; others are solved one
 * by one, each on one task, or on all of them when there are fewer systems
 * than tasks.
 *
 * csp_factor_batched_s(uplo, n, m, batch, ab, ldab, stride_ab, info): the
 * factorization of csp_factor_s, in place, for each system; info[k] as
 * csp_factor_s returns it (a rejected pivot leaves the same partial factor).
 * Codes as above by name (-5 batch, -6 ab, -7 ldab, -8 stride_ab, -12 info);
 * -4 and -9 .. -11 do not occur.
 *
 * csp_factor_solve_batched_s(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b,
 * ldb, stride_b, info): the solve of csp_factor_solve_s with each system's
 * factor (left by csp_factor_s or csp_factor_batched_s); ab is only read.
 * stride_ab may also be 0: one factor shared by every system's right-hand
 * sides. info[k] is 0 (or CSP_OUT_OF_MEMORY).
 *
 * The _tasks forms take a task count for the call alone as their last
 * argument, as csp_solve_tasks_s does (0: the process-wide count; a negative
 * count gives -13, checked after the other arguments).
 */
CSP_API int csp_solve_batched_s(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                                float *ab, int32_t ldab, int64_t stride_ab, float *b,
                                int32_t ldb, int64_t stride_b, int32_t *info);
CSP_API int csp_factor_batched_s(char uplo, int32_t n, int32_t m, int32_t batch, float *ab,
                                 int32_t ldab, int64_t stride_ab, int32_t *info);
CSP_API int csp_factor_solve_batched_s(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                       int32_t batch, const float *ab, int32_t ldab,
                                       int64_t stride_ab, float *b, int32_t ldb,
                                       int64_t stride_b, int32_t *info);
CSP_API int csp_solve_batched_tasks_s(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                      int32_t batch, float *ab, int32_t ldab,
                                      int64_t stride_ab, float *b, int32_t ldb,
                                      int64_t stride_b, int32_t *info, int32_t tasks);
CSP_API int csp_factor_batched_tasks_s(char uplo, int32_t n, int32_t m, int32_t batch,
                                       float *ab, int32_t ldab, int64_t stride_ab,
                                       int32_t *info, int32_t tasks);
CSP_API int csp_factor_solve_batched_tasks_s(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                             int32_t batch, const float *ab, int32_t ldab,
                                             int64_t stride_ab, float *b, int32_t ldb,
                                             int64_t stride_b, int32_t *info, int32_t tasks);
CSP_API int csp_solve_batched_d(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                                double *ab, int32_t ldab, int64_t stride_ab, double *b,
                                int32_t ldb, int64_t stride_b, int32_t *info);
CSP_API int csp_factor_batched_d(char uplo, int32_t n, int32_t m, int32_t batch, double *ab,
                                 int32_t ldab, int64_t stride_ab, int32_t *info);
CSP_API int csp_factor_solve_batched_d(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                       int32_t batch, const double *ab, int32_t ldab,
                                       int64_t stride_ab, double *b, int32_t ldb,
                                       int64_t stride_b, int32_t *info);
CSP_API int csp_solve_batched_tasks_d(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                      int32_t batch, double *ab, int32_t ldab,
                                      int64_t stride_ab, double *b, int32_t ldb,
                                      int64_t stride_b, int32_t *info, int32_t tasks);
CSP_API int csp_factor_batched_tasks_d(char uplo, int32_t n, int32_t m, int32_t batch,
                                       double *ab, int32_t ldab, int64_t stride_ab,
                                       int32_t *info, int32_t tasks);
CSP_API int csp_factor_solve_batched_tasks_d(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                             int32_t batch, const double *ab, int32_t ldab,
                                             int64_t stride_ab, double *b, int32_t ldb,
                                             int64_t stride_b, int32_t *info, int32_t tasks);
CSP_API int csp_solve_batched_c(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                                csp_complex_float *ab, int32_t ldab, int64_t stride_ab, csp_complex_float *b,
                                int32_t ldb, int64_t stride_b, int32_t *info);
CSP_API int csp_factor_batched_c(char uplo, int32_t n, int32_t m, int32_t batch, csp_complex_float *ab,
                                 int32_t ldab, int64_t stride_ab, int32_t *info);
CSP_API int csp_factor_solve_batched_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                       int32_t batch, const csp_complex_float *ab, int32_t ldab,
                                       int64_t stride_ab, csp_complex_float *b, int32_t ldb,
                                       int64_t stride_b, int32_t *info);
CSP_API int csp_solve_batched_tasks_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                      int32_t batch, csp_complex_float *ab, int32_t ldab,
                                      int64_t stride_ab, csp_complex_float *b, int32_t ldb,
                                      int64_t stride_b, int32_t *info, int32_t tasks);
CSP_API int csp_factor_batched_tasks_c(char uplo, int32_t n, int32_t m, int32_t batch,
                                       csp_complex_float *ab, int32_t ldab, int64_t stride_ab,
                                       int32_t *info, int32_t tasks);
CSP_API int csp_factor_solve_batched_tasks_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                             int32_t batch, const csp_complex_float *ab, int32_t ldab,
                                             int64_t stride_ab, csp_complex_float *b, int32_t ldb,
                                             int64_t stride_b, int32_t *info, int32_t tasks);
CSP_API int csp_solve_batched_z(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                                csp_complex_double *ab, int32_t ldab, int64_t stride_ab, csp_complex_double *b,
                                int32_t ldb, int64_t stride_b, int32_t *info);
CSP_API int csp_factor_batched_z(char uplo, int32_t n, int32_t m, int32_t batch, csp_complex_double *ab,
                                 int32_t ldab, int64_t stride_ab, int32_t *info);
CSP_API int csp_factor_solve_batched_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                       int32_t batch, const csp_complex_double *ab, int32_t ldab,
                                       int64_t stride_ab, csp_complex_double *b, int32_t ldb,
                                       int64_t stride_b, int32_t *info);
CSP_API int csp_solve_batched_tasks_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                      int32_t batch, csp_complex_double *ab, int32_t ldab,
                                      int64_t stride_ab, csp_complex_double *b, int32_t ldb,
                                      int64_t stride_b, int32_t *info, int32_t tasks);
CSP_API int csp_factor_batched_tasks_z(char uplo, int32_t n, int32_t m, int32_t batch,
                                       csp_complex_double *ab, int32_t ldab, int64_t stride_ab,
                                       int32_t *info, int32_t tasks);
CSP_API int csp_factor_solve_batched_tasks_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                             int32_t batch, const csp_complex_double *ab, int32_t ldab,
                                             int64_t stride_ab, csp_complex_double *b, int32_t ldb,
                                             int64_t stride_b, int32_t *info, int32_t tasks);

/* csp_set_tasks(tasks): the number of tasks (threads, the caller included)
   every later solve of the process may run with, capped at the number of
   processors configured on the machine and at 32; tasks <= 0: that number
   again. The result of a solve does not depend on it. */
CSP_API void csp_set_tasks(int32_t tasks);

/* csp_get_tasks(): the most tasks a solve started now on the calling thread
   runs with: the count of csp_set_tasks (by default the configured
   processors, at most 32), capped by the processors the calling thread may
   run on (its CPU affinity mask) and by the process's CPU quota (a control
   group's cpu.max, or cpu.cfs_quota_us / cpu.cfs_period_us, rounded up). An
   upper bound: a solve runs on fewer tasks when its system is too small to
   repay them (the partitioned path of csp_factorize_X and of csp_solve_X
   puts one task to work per group of 8 partitions (16 in float, with
   AVX-512), and per 4 right-hand sides; the stage-wise path runs on one
   task below m = 512), and when threads cannot be created. */
CSP_API int32_t csp_get_tasks(void);

/* csp_version(): the library's version, "MAJOR.MINOR.PATCH". */
CSP_API const char *csp_version(void);

#ifdef __cplusplus
}
#endif

#endif /* CSP_CSP_H */
