// csp_solve_X, csp_solve_tasks_X, csp_factor_X, csp_factor_solve_X: the four
// element kinds of each family, forwarding to the templates of
// capi/solve.hpp.

#include "capi/native.hpp"
#include "capi/solve.hpp"

namespace {

template <class C>
int solve(char uplo, int32_t n, int32_t m, int32_t nrhs, C* ab, int32_t ldab, C* b,
          int32_t ldb, int32_t tasks) {
  return capi::solve(uplo, n, m, nrhs, native(ab), ldab, native(b), ldb, tasks);
}

template <class C>
int factor(char uplo, int32_t n, int32_t m, C* ab, int32_t ldab) {
  return capi::factor(uplo, n, m, native(ab), ldab, 0);
}

template <class C>
int factorsolve(char uplo, int32_t n, int32_t m, int32_t nrhs, const C* ab, int32_t ldab, C* b,
                int32_t ldb) {
  return capi::factorsolve(uplo, n, m, nrhs, native(ab), ldab, native(b), ldb);
}

}  // namespace

extern "C" {

int csp_solve_s(char uplo, int32_t n, int32_t m, int32_t nrhs, float* ab, int32_t ldab,
                float* b, int32_t ldb) {
  return solve(uplo, n, m, nrhs, ab, ldab, b, ldb, 0);
}
int csp_solve_d(char uplo, int32_t n, int32_t m, int32_t nrhs, double* ab, int32_t ldab,
                double* b, int32_t ldb) {
  return solve(uplo, n, m, nrhs, ab, ldab, b, ldb, 0);
}
int csp_solve_c(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_float* ab,
                int32_t ldab, csp_complex_float* b, int32_t ldb) {
  return solve(uplo, n, m, nrhs, ab, ldab, b, ldb, 0);
}
int csp_solve_z(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_double* ab,
                int32_t ldab, csp_complex_double* b, int32_t ldb) {
  return solve(uplo, n, m, nrhs, ab, ldab, b, ldb, 0);
}

int csp_solve_tasks_s(char uplo, int32_t n, int32_t m, int32_t nrhs, float* ab, int32_t ldab,
                      float* b, int32_t ldb, int32_t tasks) {
  return solve(uplo, n, m, nrhs, ab, ldab, b, ldb, tasks);
}
int csp_solve_tasks_d(char uplo, int32_t n, int32_t m, int32_t nrhs, double* ab, int32_t ldab,
                      double* b, int32_t ldb, int32_t tasks) {
  return solve(uplo, n, m, nrhs, ab, ldab, b, ldb, tasks);
}
int csp_solve_tasks_c(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_float* ab,
                      int32_t ldab, csp_complex_float* b, int32_t ldb, int32_t tasks) {
  return solve(uplo, n, m, nrhs, ab, ldab, b, ldb, tasks);
}
int csp_solve_tasks_z(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_double* ab,
                      int32_t ldab, csp_complex_double* b, int32_t ldb, int32_t tasks) {
  return solve(uplo, n, m, nrhs, ab, ldab, b, ldb, tasks);
}

int csp_factor_s(char uplo, int32_t n, int32_t m, float* ab, int32_t ldab) {
  return factor(uplo, n, m, ab, ldab);
}
int csp_factor_d(char uplo, int32_t n, int32_t m, double* ab, int32_t ldab) {
  return factor(uplo, n, m, ab, ldab);
}
int csp_factor_c(char uplo, int32_t n, int32_t m, csp_complex_float* ab, int32_t ldab) {
  return factor(uplo, n, m, ab, ldab);
}
int csp_factor_z(char uplo, int32_t n, int32_t m, csp_complex_double* ab, int32_t ldab) {
  return factor(uplo, n, m, ab, ldab);
}

int csp_factor_solve_s(char uplo, int32_t n, int32_t m, int32_t nrhs, const float* ab,
                       int32_t ldab, float* b, int32_t ldb) {
  return factorsolve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_factor_solve_d(char uplo, int32_t n, int32_t m, int32_t nrhs, const double* ab,
                       int32_t ldab, double* b, int32_t ldb) {
  return factorsolve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_factor_solve_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                       const csp_complex_float* ab, int32_t ldab, csp_complex_float* b,
                       int32_t ldb) {
  return factorsolve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_factor_solve_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                       const csp_complex_double* ab, int32_t ldab, csp_complex_double* b,
                       int32_t ldb) {
  return factorsolve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}

}  // extern "C"
