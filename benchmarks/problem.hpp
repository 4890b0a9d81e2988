// Test systems of the solver benchmarks and the check of a computed solution.
//
// The single precision system is the benchmark's own, from generatedata; the
// double precision one is its twin built the same way in 64-bit arithmetic.
#pragma once

#include <cstdint>
#include <vector>

// A band system A*x = b with one right-hand side, N entries. The band holds
// the solver's M*(N-1)+N entries plus M spare ones at the end, so that it is
// also LAPACK's lower band storage with leading dimension M+1 (the two
// layouts coincide).
template <class T>
struct bandproblem {
  std::int32_t n = 0;
  std::int32_t m = 0;
  std::vector<T> band;
  std::vector<T> b;
};

// makeproblem_4(n, m, p)
//   n, m (in)  order N >= 1 and half bandwidth M >= 0
//   p    (out) the system of generatedata: its band and right-hand side.
void makeproblem_4(const std::int32_t& n, const std::int32_t& m, bandproblem<float>& p);

// makeproblem_8(n, m, p)
//   n, m (in)  order N >= 1 and half bandwidth M >= 0
//   p    (out) the system of generatedata_8, generatedata's twin in double
//              precision: its band and right-hand side.
void makeproblem_8(const std::int32_t& n, const std::int32_t& m, bandproblem<double>& p);

// residualratio_4(p, x): the backward error of a computed solution x of the
// system p, as a multiple of what a stable band Cholesky solve leaves,
//   ||b - A*x||_inf / (||A||_inf * ||x||_inf * (M+1) * eps),
// formed in double precision from the stored values. Band Cholesky bounds
// the residual by a small multiple of (M+1)*eps*||A||*||x||, whatever N, so
// the ratio of a sound solve stays far below 100, while a wrong x reaches
// about 1/((M+1)*eps). (LAPACK's own test ratio divides by N instead, which
// for millions of equations in single precision would let a wrong x pass.)
//   p (in) the system, band and b as built (not the solver's overwritten copy)
//   x (in) N entries: the computed solution
double residualratio_4(const bandproblem<float>& p, const float* x);
double residualratio_8(const bandproblem<double>& p, const double* x);
