// csp_solve_X, csp_factor_X, csp_factor_solve_X: the four element kinds of
// each family, forwarding to the templates of capi/solve.hpp.

#include "capi/solve.hpp"

extern "C" {

int csp_solve_s(char uplo, int32_t n, int32_t m, int32_t nrhs, float* ab, int32_t ldab,
                float* b, int32_t ldb) {
  return capi::solve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_solve_d(char uplo, int32_t n, int32_t m, int32_t nrhs, double* ab, int32_t ldab,
                double* b, int32_t ldb) {
  return capi::solve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_solve_c(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_float* ab,
                int32_t ldab, csp_complex_float* b, int32_t ldb) {
  return capi::solve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_solve_z(char uplo, int32_t n, int32_t m, int32_t nrhs, csp_complex_double* ab,
                int32_t ldab, csp_complex_double* b, int32_t ldb) {
  return capi::solve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}

int csp_factor_s(char uplo, int32_t n, int32_t m, float* ab, int32_t ldab) {
  return capi::factor(uplo, n, m, ab, ldab);
}
int csp_factor_d(char uplo, int32_t n, int32_t m, double* ab, int32_t ldab) {
  return capi::factor(uplo, n, m, ab, ldab);
}
int csp_factor_c(char uplo, int32_t n, int32_t m, csp_complex_float* ab, int32_t ldab) {
  return capi::factor(uplo, n, m, ab, ldab);
}
int csp_factor_z(char uplo, int32_t n, int32_t m, csp_complex_double* ab, int32_t ldab) {
  return capi::factor(uplo, n, m, ab, ldab);
}

int csp_factor_solve_s(char uplo, int32_t n, int32_t m, int32_t nrhs, const float* ab,
                       int32_t ldab, float* b, int32_t ldb) {
  return capi::factorsolve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_factor_solve_d(char uplo, int32_t n, int32_t m, int32_t nrhs, const double* ab,
                       int32_t ldab, double* b, int32_t ldb) {
  return capi::factorsolve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_factor_solve_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                       const csp_complex_float* ab, int32_t ldab, csp_complex_float* b,
                       int32_t ldb) {
  return capi::factorsolve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}
int csp_factor_solve_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                       const csp_complex_double* ab, int32_t ldab, csp_complex_double* b,
                       int32_t ldb) {
  return capi::factorsolve(uplo, n, m, nrhs, ab, ldab, b, ldb);
}

}  // extern "C"
