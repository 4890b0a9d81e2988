/*
 * csp_mpi.h: the band solver over MPI, for a symmetric positive definite
 * band system whose columns are spread over the processes of a
 * communicator. Every routine here is collective over the communicator:
 * all of its processes call it, with the same n, m, nrhs, uplo and element
 * kind, and every process returns the same code.
 *
 * Layout. Each process passes the columns first .. first+ncols-1 (1-based)
 * of the band A, in LAPACK band storage with ncols columns and leading
 * dimension ldab >= m+1 ('L': A(i,j) in ab[i-j + (j-first)*ldab],
 * 'U': A(i,j) in ab[m+i-j + (j-first)*ldab], 0-based offsets), and the
 * same rows of B, ldb >= max(1, ncols). Taken in rank order, the processes'
 * ranges tile 1..n with no gap and no overlap; a process may hold no
 * columns (ncols = 0; its first is then not looked at).
 *
 * Result. The solution is the same bits for every process count, every
 * layout and every task count per process, and the same bits as
 * csp_factorize_X followed by csp_solve_factorized_X on one machine.
 *
 * Codes. 0; -i for a bad i-th argument on any process, or one that differs
 * between processes where it must not, or a layout that does not tile
 * 1..n (then nothing is written); 1 when A is not positive definite;
 * CSP_OUT_OF_MEMORY when scratch could not be had on some process. The
 * MPI library must be initialized; a routine called from several threads
 * of one process needs MPI_THREAD_MULTIPLE, each call with its own
 * communicator. See docs/distributed.md.
 */
#ifndef CSP_CSP_MPI_H
#define CSP_CSP_MPI_H

#include <mpi.h>
#include <stdint.h>

#include <csp/csp.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A factorization spread over the processes of a communicator: each
   process's object holds its share. */
typedef struct csp_dist_factorization csp_dist_factorization;

/*
 * csp_dist_solve_d(comm, uplo, n, m, nrhs, first, ncols, ab, ldab, b, ldb):
 * solves A*X = B.
 *   comm  (in)     the processes; -1 for MPI_COMM_NULL, an
 *                  intercommunicator, or processes calling different
 *                  element kinds.
 *   uplo  (in)     'L'/'l' or 'U'/'u': which triangle ab holds.      -2
 *   n     (in)     order of A, n >= 0.                               -3
 *   m     (in)     half bandwidth, m >= 0.                           -4
 *   nrhs  (in)     right-hand sides, nrhs >= 0.                      -5
 *   first (in)     this process's first column: 1 + the columns of
 *                  the processes of lower rank.                      -6
 *   ncols (in)     this process's columns, ncols >= 0; all of them
 *                  together n.                                       -7
 *   ab    (in)     ldab x ncols: the process's columns of the band;
 *                  read only.                                        -8
 *   ldab  (in)     ldab >= m+1.                                      -9
 *   b     (in/out) ldb x nrhs: the process's rows of B; X on return 0. -10
 *   ldb   (in)     ldb >= max(1, ncols).                             -11
 */
CSP_API int csp_dist_solve_s(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,
                             int64_t first, int64_t ncols, float *ab, int32_t ldab, float *b,
                             int64_t ldb);
CSP_API int csp_dist_solve_d(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,
                             int64_t first, int64_t ncols, double *ab, int32_t ldab, double *b,
                             int64_t ldb);
CSP_API int csp_dist_solve_c(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,
                             int64_t first, int64_t ncols, csp_complex_float *ab, int32_t ldab,
                             csp_complex_float *b, int64_t ldb);
CSP_API int csp_dist_solve_z(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,
                             int64_t first, int64_t ncols, csp_complex_double *ab, int32_t ldab,
                             csp_complex_double *b, int64_t ldb);

/*
 * csp_dist_factorize_d(comm, uplo, n, m, first, ncols, ab, ldab, f):
 * factors A for later solves.
 *   comm -1, uplo -2, n -3, m -4, first -5, ncols -6, ab -7, ldab -8 as
 *   for csp_dist_solve_d; f (out) -9 when NULL: the process's share of the
 *   factorization, NULL on any nonzero return. The object keeps a
 *   duplicate of comm and its own copy of the factor: ab is only read, and
 *   may be freed or changed after the return. Free it with
 *   csp_dist_free_factorization.
 */
CSP_API int csp_dist_factorize_s(MPI_Comm comm, char uplo, int64_t n, int32_t m, int64_t first,
                                 int64_t ncols, float *ab, int32_t ldab,
                                 csp_dist_factorization **f);
CSP_API int csp_dist_factorize_d(MPI_Comm comm, char uplo, int64_t n, int32_t m, int64_t first,
                                 int64_t ncols, double *ab, int32_t ldab,
                                 csp_dist_factorization **f);
CSP_API int csp_dist_factorize_c(MPI_Comm comm, char uplo, int64_t n, int32_t m, int64_t first,
                                 int64_t ncols, csp_complex_float *ab, int32_t ldab,
                                 csp_dist_factorization **f);
CSP_API int csp_dist_factorize_z(MPI_Comm comm, char uplo, int64_t n, int32_t m, int64_t first,
                                 int64_t ncols, csp_complex_double *ab, int32_t ldab,
                                 csp_dist_factorization **f);

/*
 * csp_dist_solve_factorized_d(f, nrhs, b, ldb): solves A*X = B with f.
 *   f    (in)     each process's share of the same factorization, of this
 *                 element kind: -1 when of another kind; NULL gives -1 on
 *                 that process alone (it has no communicator to tell the
 *                 others through), and so would leave the others waiting,
 *                 as would shares of different factorizations.
 *   nrhs (in)     >= 0, the same on every process.                    -2
 *   b    (in/out) ldb x nrhs: the process's rows of B (those of the
 *                 factorization's layout); X on return 0.             -3
 *   ldb  (in)     >= max(1, ncols).                                   -4
 * Only reads f: solves with one factorization may run one after another
 * with any right-hand sides.
 */
CSP_API int csp_dist_solve_factorized_s(const csp_dist_factorization *f, int32_t nrhs, float *b,
                                        int64_t ldb);
CSP_API int csp_dist_solve_factorized_d(const csp_dist_factorization *f, int32_t nrhs, double *b,
                                        int64_t ldb);
CSP_API int csp_dist_solve_factorized_c(const csp_dist_factorization *f, int32_t nrhs,
                                        csp_complex_float *b, int64_t ldb);
CSP_API int csp_dist_solve_factorized_z(const csp_dist_factorization *f, int32_t nrhs,
                                        csp_complex_double *b, int64_t ldb);

/* Frees a factorization (NULL: nothing). Collective: it frees the
   factorization's duplicate communicator. */
CSP_API void csp_dist_free_factorization(csp_dist_factorization *f);

/*
 * The same with the task count of this process for the call as the last
 * argument (0: the process's processors, as the routines above use;
 * negative: the argument after ldb, f or ldb's code, -12, -10, -5).
 */
CSP_API int csp_dist_solve_tasks_s(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,
                                   int64_t first, int64_t ncols, float *ab, int32_t ldab,
                                   float *b, int64_t ldb, int32_t tasks);
CSP_API int csp_dist_solve_tasks_d(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,
                                   int64_t first, int64_t ncols, double *ab, int32_t ldab,
                                   double *b, int64_t ldb, int32_t tasks);
CSP_API int csp_dist_solve_tasks_c(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,
                                   int64_t first, int64_t ncols, csp_complex_float *ab,
                                   int32_t ldab, csp_complex_float *b, int64_t ldb,
                                   int32_t tasks);
CSP_API int csp_dist_solve_tasks_z(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,
                                   int64_t first, int64_t ncols, csp_complex_double *ab,
                                   int32_t ldab, csp_complex_double *b, int64_t ldb,
                                   int32_t tasks);
CSP_API int csp_dist_factorize_tasks_s(MPI_Comm comm, char uplo, int64_t n, int32_t m,
                                       int64_t first, int64_t ncols, float *ab, int32_t ldab,
                                       csp_dist_factorization **f, int32_t tasks);
CSP_API int csp_dist_factorize_tasks_d(MPI_Comm comm, char uplo, int64_t n, int32_t m,
                                       int64_t first, int64_t ncols, double *ab, int32_t ldab,
                                       csp_dist_factorization **f, int32_t tasks);
CSP_API int csp_dist_factorize_tasks_c(MPI_Comm comm, char uplo, int64_t n, int32_t m,
                                       int64_t first, int64_t ncols, csp_complex_float *ab,
                                       int32_t ldab, csp_dist_factorization **f, int32_t tasks);
CSP_API int csp_dist_factorize_tasks_z(MPI_Comm comm, char uplo, int64_t n, int32_t m,
                                       int64_t first, int64_t ncols, csp_complex_double *ab,
                                       int32_t ldab, csp_dist_factorization **f, int32_t tasks);
CSP_API int csp_dist_solve_factorized_tasks_s(const csp_dist_factorization *f, int32_t nrhs,
                                              float *b, int64_t ldb, int32_t tasks);
CSP_API int csp_dist_solve_factorized_tasks_d(const csp_dist_factorization *f, int32_t nrhs,
                                              double *b, int64_t ldb, int32_t tasks);
CSP_API int csp_dist_solve_factorized_tasks_c(const csp_dist_factorization *f, int32_t nrhs,
                                              csp_complex_float *b, int64_t ldb, int32_t tasks);
CSP_API int csp_dist_solve_factorized_tasks_z(const csp_dist_factorization *f, int32_t nrhs,
                                              csp_complex_double *b, int64_t ldb, int32_t tasks);

#ifdef __cplusplus
}
#endif

#endif /* CSP_CSP_MPI_H */
