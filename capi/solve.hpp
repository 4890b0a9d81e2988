// The bodies of the C interface's solver routines, one template per family;
// csp_solve_X, csp_factor_X and csp_factor_solve_X forward to them. The
// arguments are those of <csp/csp.h>; the return codes too.
#pragma once

#include <complex>
#include <cstdint>

#include "capi/checks.hpp"
#include "solver/entries.hpp"
#include "capi/include/csp/csp.h"
#include "capi/method.hpp"
#include "capi/storage.hpp"

namespace capi {

template <class T>
inline constexpr kind kindof = kind::s;
template <>
inline constexpr kind kindof<double> = kind::d;
template <>
inline constexpr kind kindof<std::complex<float>> = kind::c;
template <>
inline constexpr kind kindof<std::complex<double>> = kind::z;

// Factors and solves A*X = B with the given method: csp_solve_X passes
// solvemethod(kind, n, bandwidth(n, m)); tests drive both methods.
template <class T>
int solve(method how, char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, T* ab,
          std::int32_t ldab, T* b, std::int32_t ldb) {
  if (const int bad = checksolve(uplo, n, m, nrhs, ab, ldab, b, ldb)) return bad;
  if (n == 0) return 0;
  const std::int32_t mc = bandwidth(n, m);
  scratch<T> bandcopy, work;
  T* const a = solverband(ab, n, m, ldab, islower(uplo), bandcopy);
  if (a == nullptr) return CSP_OUT_OF_MEMORY;
  if (how == method::sweep && !work.acquire(2 * std::int64_t{n} * mc)) return CSP_OUT_OF_MEMORY;
  compactrhs<T> rhs(b, n, nrhs, ldb);
  if (!rhs.open()) return CSP_OUT_OF_MEMORY;

  std::int32_t status = 0;
  if (how == method::sweep) {
    cspentries<T>::mesolution(a, n, mc, rhs.data(), nrhs, work.data(), status);
  } else {
    cspentries<T>::solution(a, n, mc, rhs.data(), nrhs, status);
  }
  rhs.close();
  return status;  // 1 when a pivot was rejected: the solver does not say where
}

template <class T>
int solve(char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, T* ab,
          std::int32_t ldab, T* b, std::int32_t ldb) {
  return solve(solvemethod(kindof<T>, n, bandwidth(n, m)), uplo, n, m, nrhs, ab, ldab, b, ldb);
}

// Factors A in place, leaving L (uplo 'L') or U = L^T (uplo 'U') in ab.
template <class T>
int factor(char uplo, std::int32_t n, std::int32_t m, T* ab, std::int32_t ldab) {
  if (const int bad = checkfactor(uplo, n, m, ab, ldab)) return bad;
  if (n == 0) return 0;
  const std::int32_t mc = bandwidth(n, m);
  scratch<T> bandcopy;
  T* const a = solverband(ab, n, m, ldab, islower(uplo), bandcopy);
  if (a == nullptr) return CSP_OUT_OF_MEMORY;
  std::int32_t status = 0;
  cspentries<T>::decomposition(a, n, mc, status);
  if (a != ab) copyout(a, n, mc, lapackband(ab, m, ldab, islower(uplo)));
  return status;
}

// Solves A*X = B with the factor that factor() left in ab.
template <class T>
int factorsolve(char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, const T* ab,
                std::int32_t ldab, T* b, std::int32_t ldb) {
  if (const int bad = checksolve(uplo, n, m, nrhs, ab, ldab, b, ldb)) return bad;
  if (n == 0 || nrhs == 0) return 0;
  scratch<T> bandcopy;
  const T* const a = solverband(ab, n, m, ldab, islower(uplo), bandcopy);
  if (a == nullptr) return CSP_OUT_OF_MEMORY;
  compactrhs<T> rhs(b, n, nrhs, ldb);
  if (!rhs.open()) return CSP_OUT_OF_MEMORY;
  cspentries<T>::substitution(a, n, bandwidth(n, m), rhs.data(), nrhs);
  rhs.close();
  return 0;
}

}  // namespace capi
