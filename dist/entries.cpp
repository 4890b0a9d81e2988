// The csp_dist_X routines of <csp/csp_mpi.h>, each forwarding to its
// family's template in dist/distributed.hpp.

#include "capi/native.hpp"
#include "dist/distributed.hpp"

// The seven routines of one element kind X over the C type C.
#define CSP_DIST_ENTRIES(X, C)                                                                  \
  int csp_dist_solve_##X(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,          \
                         int64_t first, int64_t ncols, C* ab, int32_t ldab, C* b, int64_t ldb) { \
    return dist::solve(comm, uplo, n, m, nrhs, first, ncols, native(ab), ldab, native(b), ldb, 0); \
  }                                                                                             \
  int csp_dist_solve_tasks_##X(MPI_Comm comm, char uplo, int64_t n, int32_t m, int32_t nrhs,    \
                               int64_t first, int64_t ncols, C* ab, int32_t ldab, C* b,         \
                               int64_t ldb, int32_t tasks) {                                    \
    return dist::solve(comm, uplo, n, m, nrhs, first, ncols, native(ab), ldab, native(b), ldb,  \
                       tasks);                                                                  \
  }                                                                                             \
  int csp_dist_factorize_##X(MPI_Comm comm, char uplo, int64_t n, int32_t m, int64_t first,     \
                             int64_t ncols, C* ab, int32_t ldab, csp_dist_factorization** f) {  \
    return dist::factorize(comm, uplo, n, m, first, ncols, native(ab), ldab, f, 0);             \
  }                                                                                             \
  int csp_dist_factorize_tasks_##X(MPI_Comm comm, char uplo, int64_t n, int32_t m,              \
                                   int64_t first, int64_t ncols, C* ab, int32_t ldab,           \
                                   csp_dist_factorization** f, int32_t tasks) {                 \
    return dist::factorize(comm, uplo, n, m, first, ncols, native(ab), ldab, f, tasks);         \
  }                                                                                             \
  int csp_dist_solve_factorized_##X(const csp_dist_factorization* f, int32_t nrhs, C* b,        \
                                    int64_t ldb) {                                              \
    return dist::solvefactorized(f, nrhs, native(b), ldb, 0);                                   \
  }                                                                                             \
  int csp_dist_solve_factorized_tasks_##X(const csp_dist_factorization* f, int32_t nrhs, C* b,  \
                                          int64_t ldb, int32_t tasks) {                         \
    return dist::solvefactorized(f, nrhs, native(b), ldb, tasks);                               \
  }

extern "C" {

CSP_DIST_ENTRIES(s, float)
CSP_DIST_ENTRIES(d, double)
CSP_DIST_ENTRIES(c, csp_complex_float)
CSP_DIST_ENTRIES(z, csp_complex_double)

void csp_dist_free_factorization(csp_dist_factorization* f) {
  if (f == nullptr) return;
  switch (f->kind) {
    case capi::kind::s:
      dist::release<float>(f);
      break;
    case capi::kind::d:
      dist::release<double>(f);
      break;
    case capi::kind::c:
      dist::release<std::complex<float>>(f);
      break;
    case capi::kind::z:
      dist::release<std::complex<double>>(f);
      break;
  }
}

}  // extern "C"
