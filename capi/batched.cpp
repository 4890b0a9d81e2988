// csp_solve_batched_X, csp_factor_batched_X, csp_factor_solve_batched_X and
// their _tasks forms: the four element kinds of each family, forwarding to
// capi::batchedcall (capi/batched.hpp).

#include "capi/batched.hpp"
#include "capi/native.hpp"

namespace {

template <class C>
int solvebatched(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch, C* ab,
                 int32_t ldab, int64_t stride_ab, C* b, int32_t ldb, int64_t stride_b,
                 int32_t* info, int32_t tasks) {
  return capi::batchedcall(capi::batchfamily::solve, uplo, n, m, nrhs, batch, native(ab), ldab,
                           stride_ab, native(b), ldb, stride_b, info, tasks);
}

template <class C>
int factorbatched(char uplo, int32_t n, int32_t m, int32_t batch, C* ab, int32_t ldab,
                  int64_t stride_ab, int32_t* info, int32_t tasks) {
  using T = std::remove_pointer_t<decltype(native(ab))>;
  return capi::batchedcall<T>(capi::batchfamily::factor, uplo, n, m, 0, batch, native(ab), ldab,
                              stride_ab, nullptr, std::max(n, int32_t{1}), 0, info, tasks);
}

// ab is only read: the driver takes it as the others' in-out band.
template <class C>
int factorsolvebatched(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                       const C* ab, int32_t ldab, int64_t stride_ab, C* b, int32_t ldb,
                       int64_t stride_b, int32_t* info, int32_t tasks) {
  return capi::batchedcall(capi::batchfamily::factorsolve, uplo, n, m, nrhs, batch,
                           native(const_cast<C*>(ab)), ldab, stride_ab, native(b), ldb,
                           stride_b, info, tasks);
}

}  // namespace

extern "C" {

int csp_solve_batched_s(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch, float* ab,
                        int32_t ldab, int64_t stride_ab, float* b, int32_t ldb, int64_t stride_b,
                        int32_t* info) {
  return solvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info, 0);
}
int csp_solve_batched_tasks_s(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                              float* ab, int32_t ldab, int64_t stride_ab, float* b, int32_t ldb,
                              int64_t stride_b, int32_t* info, int32_t tasks) {
  return solvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                      tasks);
}
int csp_factor_batched_s(char uplo, int32_t n, int32_t m, int32_t batch, float* ab, int32_t ldab,
                         int64_t stride_ab, int32_t* info) {
  return factorbatched(uplo, n, m, batch, ab, ldab, stride_ab, info, 0);
}
int csp_factor_batched_tasks_s(char uplo, int32_t n, int32_t m, int32_t batch, float* ab,
                               int32_t ldab, int64_t stride_ab, int32_t* info, int32_t tasks) {
  return factorbatched(uplo, n, m, batch, ab, ldab, stride_ab, info, tasks);
}
int csp_factor_solve_batched_s(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                               const float* ab, int32_t ldab, int64_t stride_ab, float* b,
                               int32_t ldb, int64_t stride_b, int32_t* info) {
  return factorsolvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                            0);
}
int csp_factor_solve_batched_tasks_s(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                     int32_t batch, const float* ab, int32_t ldab,
                                     int64_t stride_ab, float* b, int32_t ldb, int64_t stride_b,
                                     int32_t* info, int32_t tasks) {
  return factorsolvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                            tasks);
}

int csp_solve_batched_d(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch, double* ab,
                        int32_t ldab, int64_t stride_ab, double* b, int32_t ldb, int64_t stride_b,
                        int32_t* info) {
  return solvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info, 0);
}
int csp_solve_batched_tasks_d(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                              double* ab, int32_t ldab, int64_t stride_ab, double* b, int32_t ldb,
                              int64_t stride_b, int32_t* info, int32_t tasks) {
  return solvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                      tasks);
}
int csp_factor_batched_d(char uplo, int32_t n, int32_t m, int32_t batch, double* ab, int32_t ldab,
                         int64_t stride_ab, int32_t* info) {
  return factorbatched(uplo, n, m, batch, ab, ldab, stride_ab, info, 0);
}
int csp_factor_batched_tasks_d(char uplo, int32_t n, int32_t m, int32_t batch, double* ab,
                               int32_t ldab, int64_t stride_ab, int32_t* info, int32_t tasks) {
  return factorbatched(uplo, n, m, batch, ab, ldab, stride_ab, info, tasks);
}
int csp_factor_solve_batched_d(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                               const double* ab, int32_t ldab, int64_t stride_ab, double* b,
                               int32_t ldb, int64_t stride_b, int32_t* info) {
  return factorsolvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                            0);
}
int csp_factor_solve_batched_tasks_d(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                     int32_t batch, const double* ab, int32_t ldab,
                                     int64_t stride_ab, double* b, int32_t ldb, int64_t stride_b,
                                     int32_t* info, int32_t tasks) {
  return factorsolvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                            tasks);
}

int csp_solve_batched_c(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch, csp_complex_float* ab,
                        int32_t ldab, int64_t stride_ab, csp_complex_float* b, int32_t ldb, int64_t stride_b,
                        int32_t* info) {
  return solvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info, 0);
}
int csp_solve_batched_tasks_c(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                              csp_complex_float* ab, int32_t ldab, int64_t stride_ab, csp_complex_float* b, int32_t ldb,
                              int64_t stride_b, int32_t* info, int32_t tasks) {
  return solvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                      tasks);
}
int csp_factor_batched_c(char uplo, int32_t n, int32_t m, int32_t batch, csp_complex_float* ab, int32_t ldab,
                         int64_t stride_ab, int32_t* info) {
  return factorbatched(uplo, n, m, batch, ab, ldab, stride_ab, info, 0);
}
int csp_factor_batched_tasks_c(char uplo, int32_t n, int32_t m, int32_t batch, csp_complex_float* ab,
                               int32_t ldab, int64_t stride_ab, int32_t* info, int32_t tasks) {
  return factorbatched(uplo, n, m, batch, ab, ldab, stride_ab, info, tasks);
}
int csp_factor_solve_batched_c(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                               const csp_complex_float* ab, int32_t ldab, int64_t stride_ab, csp_complex_float* b,
                               int32_t ldb, int64_t stride_b, int32_t* info) {
  return factorsolvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                            0);
}
int csp_factor_solve_batched_tasks_c(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                     int32_t batch, const csp_complex_float* ab, int32_t ldab,
                                     int64_t stride_ab, csp_complex_float* b, int32_t ldb, int64_t stride_b,
                                     int32_t* info, int32_t tasks) {
  return factorsolvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                            tasks);
}

int csp_solve_batched_z(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch, csp_complex_double* ab,
                        int32_t ldab, int64_t stride_ab, csp_complex_double* b, int32_t ldb, int64_t stride_b,
                        int32_t* info) {
  return solvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info, 0);
}
int csp_solve_batched_tasks_z(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                              csp_complex_double* ab, int32_t ldab, int64_t stride_ab, csp_complex_double* b, int32_t ldb,
                              int64_t stride_b, int32_t* info, int32_t tasks) {
  return solvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                      tasks);
}
int csp_factor_batched_z(char uplo, int32_t n, int32_t m, int32_t batch, csp_complex_double* ab, int32_t ldab,
                         int64_t stride_ab, int32_t* info) {
  return factorbatched(uplo, n, m, batch, ab, ldab, stride_ab, info, 0);
}
int csp_factor_batched_tasks_z(char uplo, int32_t n, int32_t m, int32_t batch, csp_complex_double* ab,
                               int32_t ldab, int64_t stride_ab, int32_t* info, int32_t tasks) {
  return factorbatched(uplo, n, m, batch, ab, ldab, stride_ab, info, tasks);
}
int csp_factor_solve_batched_z(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,
                               const csp_complex_double* ab, int32_t ldab, int64_t stride_ab, csp_complex_double* b,
                               int32_t ldb, int64_t stride_b, int32_t* info) {
  return factorsolvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                            0);
}
int csp_factor_solve_batched_tasks_z(char uplo, int32_t n, int32_t m, int32_t nrhs,
                                     int32_t batch, const csp_complex_double* ab, int32_t ldab,
                                     int64_t stride_ab, csp_complex_double* b, int32_t ldb, int64_t stride_b,
                                     int32_t* info, int32_t tasks) {
  return factorsolvebatched(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb, stride_b, info,
                            tasks);
}

}  // extern "C"
