// The stage-wise solver entries: factorization, substitution with a factor,
// and the two together, each run by a team of tasks (the current task
// count, capped at maxteam) on the stage-wise kernels.

#include <complex>
#include <cstdint>

#include "solver/csp.hpp"
#include "solver/entries.hpp"
#include "solver/stagewise.hpp"
#include "solver/team.hpp"

// stagewidth(m): the block width q of decomposition_csp_X and solution_csp_X.
//   m (in) half bandwidth M
// A stage has more than one piece only when q <= M, and every stage ends at
// a barrier. Pieces also cost on one task: the rows of each column are
// updated in slices of at most 2q rows instead of whole columns. Medians of
// the factorization in seconds, 1 task / 2 tasks, on 2 shared cores ("one":
// a single stage, q >= N):
//
//   M     N        kind     one         q = M/2     q = M/4     q = M/8
//   8     1000000  double   0.18/0.16   0.18/1.43   0.21/2.78
//   8     1000000  float    0.07/0.07   0.13/1.04   0.19/2.11
//   64    500000   double   0.51/0.45   0.84/0.91   0.73/1.04   0.79/1.01
//   64    500000   float    0.19/0.19   0.28/0.31   0.32/0.38   0.39/0.53
//   256   200000   double   1.69/1.68   2.26/2.14   2.55/1.86   2.65/1.66
//   256   200000   float    0.96/0.95   1.04/1.06   1.10/1.08   1.16/1.17
//   512   100000   double   3.60/3.59               4.22/3.15   4.40/2.59
//   512   100000   float    1.67/1.70               1.96/1.23   2.06/1.49
//   1024  50000    double   8.61/9.63               9.72/9.75  11.04/5.93
//
// Below M = 512 no width with several pieces beat a single stage, whatever
// the task count: the whole matrix is one stage, factored by the column
// kernel. From M = 512 on, q = M/8 gives about 4.5 pieces per stage, and two
// tasks on idle cores beat a single stage by 1.1 to 1.45 (with one core
// taken by other work they were 1.2 times slower than a single stage).
std::int32_t stagewidth(const std::int32_t& m) {
  if (m < 512) return stagewise::onestage;
  return m / 8;
}

template <class T>
void entry::decomposition(T* a, const std::int32_t& n, const std::int32_t& m,
                          std::int32_t& status, std::int32_t tasks) {
  stagewise::decomposition(a, n, m, stagewidth(m), tasks, status);
}

template <class T>
void entry::substitution(const T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                         const std::int32_t& nrhs, std::int32_t tasks) {
  stagewise::substitution(a, n, m, b, nrhs, stagewise::onestage, tasks);
}

template <class T>
void entry::solution(T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                     const std::int32_t& nrhs, std::int32_t& status, std::int32_t tasks) {
  stagewise::solution(a, n, m, b, nrhs, stagewidth(m), stagewise::onestage, tasks, status);
}

std::int32_t entry::factortasks(std::int32_t m) {
  return stagewise::participants(stagewidth(m), m, maxteam);
}

std::int32_t entry::substitutiontasks(std::int32_t m) {
  return stagewise::participants(stagewise::onestage, m, maxteam);
}

#define CSP_INSTANTIATE(T)                                                                   \
  template void entry::decomposition<T>(T*, const std::int32_t&, const std::int32_t&,      \
                                        std::int32_t&, std::int32_t);                      \
  template void entry::substitution<T>(const T*, const std::int32_t&, const std::int32_t&, \
                                       T*, const std::int32_t&, std::int32_t);             \
  template void entry::solution<T>(T*, const std::int32_t&, const std::int32_t&, T*,       \
                                   const std::int32_t&, std::int32_t&, std::int32_t);
CSP_INSTANTIATE(float)
CSP_INSTANTIATE(double)
CSP_INSTANTIATE(std::complex<float>)
CSP_INSTANTIATE(std::complex<double>)
#undef CSP_INSTANTIATE

// decomposition_csp_X(a, n, m, status): factors A = L*L^T in place.
//   a      (in/out) band matrix of order N, half bandwidth M; overwritten by L
//   n      (in)     order N; N <= 0: nothing to do, status 0
//   m      (in)     half bandwidth M >= 0
//   status (out)    0: factored; 1: a pivot was rejected (A is not positive
//                   definite, or holds a NaN); a is then partly factored
void decomposition_csp_4(float* a, const std::int32_t& n, const std::int32_t& m,
                         std::int32_t& status) {
  entry::decomposition(a, n, m, status, teamsize());
}
void decomposition_csp_8(double* a, const std::int32_t& n, const std::int32_t& m,
                         std::int32_t& status) {
  entry::decomposition(a, n, m, status, teamsize());
}
void decomposition_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                          std::int32_t& status) {
  entry::decomposition(a, n, m, status, teamsize());
}
void decomposition_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                          std::int32_t& status) {
  entry::decomposition(a, n, m, status, teamsize());
}

// substitution_csp_X(a, n, m, b, nrhs): solves L*L^T*X = B. The
// substitution moves O(N*M) data for O(N*M) operations and its pieces
// shorten every inner loop to q rows: with several pieces it was slower than
// a single stage at every M measured (M = 512, 2 tasks: 0.27 s against
// 0.15 s in double, 0.13 s against 0.09 s in float), so it runs as one stage.
//   a    (in)     the factor L in band storage, as left by decomposition_csp_X
//                 or by the column kernel over columns 1..N
//   n    (in)     order N
//   m    (in)     half bandwidth M
//   b    (in/out) N x nrhs right-hand sides, leading dimension N; the
//                 solutions on return
//   nrhs (in)     number of right-hand sides; N <= 0 or nrhs <= 0: nothing
void substitution_csp_4(const float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                        const std::int32_t& nrhs) {
  entry::substitution(a, n, m, b, nrhs, teamsize());
}
void substitution_csp_8(const double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                        const std::int32_t& nrhs) {
  entry::substitution(a, n, m, b, nrhs, teamsize());
}
void substitution_csp_z4(const std::complex<float>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<float>* b, const std::int32_t& nrhs) {
  entry::substitution(a, n, m, b, nrhs, teamsize());
}
void substitution_csp_z8(const std::complex<double>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<double>* b,
                         const std::int32_t& nrhs) {
  entry::substitution(a, n, m, b, nrhs, teamsize());
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
  entry::solution(a, n, m, b, nrhs, status, teamsize());
}
void solution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                    const std::int32_t& nrhs, std::int32_t& status) {
  entry::solution(a, n, m, b, nrhs, status, teamsize());
}
void solution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                     std::complex<float>* b, const std::int32_t& nrhs, std::int32_t& status) {
  entry::solution(a, n, m, b, nrhs, status, teamsize());
}
void solution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                     std::complex<double>* b, const std::int32_t& nrhs, std::int32_t& status) {
  entry::solution(a, n, m, b, nrhs, status, teamsize());
}
