// csp_factorize_X, csp_factorize_tasks_X, csp_solve_factorized_X,
// csp_solve_factorized_tasks_X and csp_free_factorization, forwarding to
// the templates of capi/factorization.hpp.

#include "capi/factorization.hpp"

#include "capi/native.hpp"

extern "C" {

int csp_factorize_s(char uplo, int32_t n, int32_t m, const float* ab, int32_t ldab,
                    csp_factorization** f) {
  return capi::factorize(uplo, n, m, native(ab), ldab, f, 0);
}
int csp_factorize_tasks_s(char uplo, int32_t n, int32_t m, const float* ab, int32_t ldab,
                          csp_factorization** f, int32_t tasks) {
  return capi::factorize(uplo, n, m, native(ab), ldab, f, tasks);
}
int csp_solve_factorized_s(const csp_factorization* f, int32_t nrhs, float* b, int32_t ldb) {
  return capi::solvefactorized(f, nrhs, native(b), ldb, 0);
}
int csp_solve_factorized_tasks_s(const csp_factorization* f, int32_t nrhs, float* b,
                                 int32_t ldb, int32_t tasks) {
  return capi::solvefactorized(f, nrhs, native(b), ldb, tasks);
}

int csp_factorize_d(char uplo, int32_t n, int32_t m, const double* ab, int32_t ldab,
                    csp_factorization** f) {
  return capi::factorize(uplo, n, m, native(ab), ldab, f, 0);
}
int csp_factorize_tasks_d(char uplo, int32_t n, int32_t m, const double* ab, int32_t ldab,
                          csp_factorization** f, int32_t tasks) {
  return capi::factorize(uplo, n, m, native(ab), ldab, f, tasks);
}
int csp_solve_factorized_d(const csp_factorization* f, int32_t nrhs, double* b, int32_t ldb) {
  return capi::solvefactorized(f, nrhs, native(b), ldb, 0);
}
int csp_solve_factorized_tasks_d(const csp_factorization* f, int32_t nrhs, double* b,
                                 int32_t ldb, int32_t tasks) {
  return capi::solvefactorized(f, nrhs, native(b), ldb, tasks);
}

int csp_factorize_c(char uplo, int32_t n, int32_t m, const csp_complex_float* ab, int32_t ldab,
                    csp_factorization** f) {
  return capi::factorize(uplo, n, m, native(ab), ldab, f, 0);
}
int csp_factorize_tasks_c(char uplo, int32_t n, int32_t m, const csp_complex_float* ab, int32_t ldab,
                          csp_factorization** f, int32_t tasks) {
  return capi::factorize(uplo, n, m, native(ab), ldab, f, tasks);
}
int csp_solve_factorized_c(const csp_factorization* f, int32_t nrhs, csp_complex_float* b, int32_t ldb) {
  return capi::solvefactorized(f, nrhs, native(b), ldb, 0);
}
int csp_solve_factorized_tasks_c(const csp_factorization* f, int32_t nrhs, csp_complex_float* b,
                                 int32_t ldb, int32_t tasks) {
  return capi::solvefactorized(f, nrhs, native(b), ldb, tasks);
}

int csp_factorize_z(char uplo, int32_t n, int32_t m, const csp_complex_double* ab, int32_t ldab,
                    csp_factorization** f) {
  return capi::factorize(uplo, n, m, native(ab), ldab, f, 0);
}
int csp_factorize_tasks_z(char uplo, int32_t n, int32_t m, const csp_complex_double* ab, int32_t ldab,
                          csp_factorization** f, int32_t tasks) {
  return capi::factorize(uplo, n, m, native(ab), ldab, f, tasks);
}
int csp_solve_factorized_z(const csp_factorization* f, int32_t nrhs, csp_complex_double* b, int32_t ldb) {
  return capi::solvefactorized(f, nrhs, native(b), ldb, 0);
}
int csp_solve_factorized_tasks_z(const csp_factorization* f, int32_t nrhs, csp_complex_double* b,
                                 int32_t ldb, int32_t tasks) {
  return capi::solvefactorized(f, nrhs, native(b), ldb, tasks);
}

void csp_free_factorization(csp_factorization* f) {
  if (f == nullptr) return;
  switch (f->kind) {
    case capi::kind::s:
      capi::release<float>(f);
      break;
    case capi::kind::d:
      capi::release<double>(f);
      break;
    case capi::kind::c:
      capi::release<std::complex<float>>(f);
      break;
    case capi::kind::z:
      capi::release<std::complex<double>>(f);
      break;
  }
}

}  // extern "C"
