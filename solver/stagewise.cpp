// The stage-wise solver entries: factorization, substitution with a factor,
// and the two together, each run by a team of tasks (the current task
// count, capped at maxteam) on the stage-wise kernels.

#include <complex>
#include <cstdint>

#include "solver/csp.hpp"
#include "solver/stagewise.hpp"
#include "solver/team.hpp"

std::int32_t stagewidth(const std::int32_t& m) {
  return m + 1;
}

// decomposition_csp_X(a, n, m, status): factors A = L*L^T in place.
//   a      (in/out) band matrix of order N, half bandwidth M; overwritten by L
//   n      (in)     order N; N <= 0: nothing to do, status 0
//   m      (in)     half bandwidth M >= 0
//   status (out)    0: factored; 1: a pivot was rejected (A is not positive
//                   definite, or holds a NaN); a is then partly factored
void decomposition_csp_4(float* a, const std::int32_t& n, const std::int32_t& m,
                         std::int32_t& status) {
  stagewise::decomposition(a, n, m, stagewidth(m), teamsize(), status);
}
void decomposition_csp_8(double* a, const std::int32_t& n, const std::int32_t& m,
                         std::int32_t& status) {
  stagewise::decomposition(a, n, m, stagewidth(m), teamsize(), status);
}
void decomposition_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                          std::int32_t& status) {
  stagewise::decomposition(a, n, m, stagewidth(m), teamsize(), status);
}
void decomposition_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                          std::int32_t& status) {
  stagewise::decomposition(a, n, m, stagewidth(m), teamsize(), status);
}

// substitution_csp_X(a, n, m, b, nrhs): solves L*L^T*X = B.
//   a    (in)     the factor L in band storage, as left by decomposition_csp_X
//                 or by the column kernel over columns 1..N
//   n    (in)     order N
//   m    (in)     half bandwidth M
//   b    (in/out) N x nrhs right-hand sides, leading dimension N; the
//                 solutions on return
//   nrhs (in)     number of right-hand sides; N <= 0 or nrhs <= 0: nothing
void substitution_csp_4(const float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                        const std::int32_t& nrhs) {
  stagewise::substitution(a, n, m, b, nrhs, stagewidth(m), teamsize());
}
void substitution_csp_8(const double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                        const std::int32_t& nrhs) {
  stagewise::substitution(a, n, m, b, nrhs, stagewidth(m), teamsize());
}
void substitution_csp_z4(const std::complex<float>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<float>* b, const std::int32_t& nrhs) {
  stagewise::substitution(a, n, m, b, nrhs, stagewidth(m), teamsize());
}
void substitution_csp_z8(const std::complex<double>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<double>* b,
                         const std::int32_t& nrhs) {
  stagewise::substitution(a, n, m, b, nrhs, stagewidth(m), teamsize());
}

// solution_csp_X(a, n, m, b, nrhs, status): factors A = L*L^T in place and
// solves A*X = B; the first right-hand side is carried along the
// factorization, the others are solved by substitution with its factor.
//   a      (in/out) band matrix; overwritten by the factor L
//   n      (in)     order N; N <= 0: nothing to do, status 0
//   m      (in)     half bandwidth M
//   b      (in/out) N x nrhs right-hand sides, leading dimension N; the
//                   solutions on return
//   nrhs   (in)     number of right-hand sides; nrhs <= 0: factor only
//   status (out)    0: solved; 1: a pivot was rejected, a and b have no
//                   defined content
void solution_csp_4(float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                    const std::int32_t& nrhs, std::int32_t& status) {
  stagewise::solution(a, n, m, b, nrhs, stagewidth(m), teamsize(), status);
}
void solution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                    const std::int32_t& nrhs, std::int32_t& status) {
  stagewise::solution(a, n, m, b, nrhs, stagewidth(m), teamsize(), status);
}
void solution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                     std::complex<float>* b, const std::int32_t& nrhs, std::int32_t& status) {
  stagewise::solution(a, n, m, b, nrhs, stagewidth(m), teamsize(), status);
}
void solution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                     std::complex<double>* b, const std::int32_t& nrhs, std::int32_t& status) {
  stagewise::solution(a, n, m, b, nrhs, stagewidth(m), teamsize(), status);
}
