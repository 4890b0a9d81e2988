// Reference LAPACK's band Cholesky routines for the real kinds: the baseline
// of --compare-lapack and the condition estimate of the checks. The solver's
// band storage with M spare entries at its end is LAPACK's lower band
// storage with LDAB = M+1.
#pragma once

#include <cstdint>

// lapackbandsolve(a, n, m, b, nrhs): ?pbsv('L'): factors A and solves
// A*X = B in place.
//   a    (in/out) (M+1)*N entries; the factor on return
//   n, m (in)     order and half bandwidth
//   b    (in/out) N x nrhs right-hand sides; the solutions on return
//   nrhs (in)     number of right-hand sides
//   Returns LAPACK's info: 0 solved, > 0 not positive definite.
std::int32_t lapackbandsolve(float* a, std::int32_t n, std::int32_t m, float* b, std::int32_t nrhs);
std::int32_t lapackbandsolve(double* a, std::int32_t n, std::int32_t m, double* b,
                             std::int32_t nrhs);

// lapackcondition(a, n, m, anorm, condition): ?pbtrf('L'), then LAPACK's
// norm estimator ?lacn2 on ?pbtrs solves: an estimate of the 1-norm
// condition number, which for symmetric A is the inf-norm one.
//   a         (in/out) (M+1)*N entries; overwritten by the factor
//   n, m      (in)     order and half bandwidth
//   anorm     (in)     ||A||_1 of the matrix before the factorization
//   condition (out)    anorm * estimated ||A^-1||_1; NaN when not factored
//   Returns LAPACK's info of the factorization.
std::int32_t lapackcondition(float* a, std::int32_t n, std::int32_t m, double anorm,
                             double& condition);
std::int32_t lapackcondition(double* a, std::int32_t n, std::int32_t m, double anorm,
                             double& condition);
