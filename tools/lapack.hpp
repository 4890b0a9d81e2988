// Reference LAPACK's Cholesky routines for real band and tridiagonal
// systems: the baselines of --compare-lapack and the condition estimate of
// the checks. The solver's band storage with M spare entries at its end is
// LAPACK's lower band storage with LDAB = M+1. Every routine is instantiated
// for float and double; each returns LAPACK's info: 0 done, > 0 the matrix
// is not positive definite.
#pragma once

#include <cstdint>

// lapackbandsolve(a, n, m, b, nrhs): ?pbsv('L'): factors A and solves
// A*X = B in place.
//   a    (in/out) (M+1)*N entries; the factor on return
//   n, m (in)     order and half bandwidth
//   b    (in/out) N x nrhs right-hand sides; the solutions on return
//   nrhs (in)     number of right-hand sides
template <class T>
std::int32_t lapackbandsolve(T* a, std::int32_t n, std::int32_t m, T* b, std::int32_t nrhs);

// lapackbandfactor(a, n, m): ?pbtrf('L'): the factor of A in place.
// lapackbandsubstitute(a, n, m, b, nrhs): ?pbtrs('L'): solves A*X = B in
// place with that factor, which is left as it is.
template <class T>
std::int32_t lapackbandfactor(T* a, std::int32_t n, std::int32_t m);
template <class T>
std::int32_t lapackbandsubstitute(const T* a, std::int32_t n, std::int32_t m, T* b,
                                  std::int32_t nrhs);

// The tridiagonal (M = 1) counterparts, A given by its diagonal d (N
// entries) and subdiagonal e (N-1 entries), factored as L*D*L^T:
//   lapacktridiagonalsolve(d, e, n, b, nrhs): ?ptsv, d and e overwritten
//     by the factor, b by the solutions;
//   lapacktridiagonalfactor(d, e, n): ?pttrf, the factor in place;
//   lapacktridiagonalsubstitute(d, e, n, b, nrhs): ?pttrs with that factor.
template <class T>
std::int32_t lapacktridiagonalsolve(T* d, T* e, std::int32_t n, T* b, std::int32_t nrhs);
template <class T>
std::int32_t lapacktridiagonalfactor(T* d, T* e, std::int32_t n);
template <class T>
std::int32_t lapacktridiagonalsubstitute(const T* d, const T* e, std::int32_t n, T* b,
                                         std::int32_t nrhs);

// lapackcondition(a, n, m, anorm, condition): ?pbtrf('L'), then LAPACK's
// norm estimator ?lacn2 on ?pbtrs solves: an estimate of the 1-norm
// condition number, which for symmetric A is the inf-norm one.
//   a         (in/out) (M+1)*N entries; overwritten by the factor
//   n, m      (in)     order and half bandwidth
//   anorm     (in)     ||A||_1 of the matrix before the factorization
//   condition (out)    anorm * estimated ||A^-1||_1; NaN when not factored
//   Returns LAPACK's info of the factorization.
template <class T>
std::int32_t lapackcondition(T* a, std::int32_t n, std::int32_t m, double anorm, double& condition);
