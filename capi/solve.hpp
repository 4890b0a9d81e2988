// The bodies of the C interface's solver routines, one template per family;
// csp_solve_X, csp_solve_tasks_X, csp_factor_X and csp_factor_solve_X
// forward to them. The arguments are those of <csp/csp.h>, with the
// complex kinds as std::complex; the return codes too.
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>

#include "capi/checks.hpp"
#include "capi/factorization.hpp"
#include "capi/include/csp/csp.h"
#include "capi/method.hpp"
#include "capi/storage.hpp"
#include "capi/tasks.hpp"
#include "solver/entries.hpp"

namespace capi {

// Factors and solves A*X = B, arguments already checked and n > 0, with the
// given method on at most `tasks` tasks: solve() passes
// solvemethod(kind, n, bandwidth(n, m)); tests drive both methods.
template <class T>
int solvechecked(method how, char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs,
                 T* ab, std::int32_t ldab, T* b, std::int32_t ldb, std::int32_t tasks) {
  if (how == method::partitioned) {
    partitioned::factorization<T>* f = nullptr;
    if (const int status = factorizechecked(uplo, n, m, ab, ldab, tasks, f)) return status;
    const int status = nrhs > 0 ? solvefactorized(*f, nrhs, b, ldb, tasks) : 0;
    partitioned::release(f);
    return status;
  }
  const std::int32_t mc = bandwidth(n, m);
  scratch<T> bandcopy, work;
  T* const a = solverband(ab, n, m, ldab, islower(uplo), bandcopy);
  if (a == nullptr) return CSP_OUT_OF_MEMORY;
  if (how == method::sweep && !work.acquire(2 * std::int64_t{n} * mc)) return CSP_OUT_OF_MEMORY;
  compactrhs<T> rhs(b, n, nrhs, ldb);
  if (!rhs.open()) return CSP_OUT_OF_MEMORY;

  std::int32_t status = 0;
  if (how == method::sweep) {
    entry::mesolution(a, n, mc, rhs.data(), nrhs, work.data(), status, tasks);
  } else {
    entry::solution(a, n, mc, rhs.data(), nrhs, status, tasks);
  }
  rhs.close();
  return status;  // 1 when a pivot was rejected: the solver does not say where
}

// csp_solve_X (tasks 0: the process-wide count) and csp_solve_tasks_X.
// Every argument is checked before anything is computed from it.
template <class T>
int solve(char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, T* ab,
          std::int32_t ldab, T* b, std::int32_t ldb, std::int32_t tasks) {
  if (const int bad = checksolve(uplo, n, m, nrhs, ab, ldab, b, ldb)) return bad;
  if (tasks < 0) return -9;
  if (n == 0) return 0;
  const std::int32_t mc = bandwidth(n, m);
  const method how = solvemethod(kindof<T>, n, mc);
  const std::int32_t useful = how == method::sweep       ? entry::sweeptasks<T>(n, mc)
                              : how == method::partitioned ? partitionedtasks<T>(n, m, nrhs)
                                                           : entry::factortasks(mc);
  return solvechecked(how, uplo, n, m, nrhs, ab, ldab, b, ldb, entrytasks(useful, tasks));
}

// Factors A in place, leaving L (uplo 'L') or U = L^T (uplo 'U') in ab, on
// at most `tasks` tasks (0: the process-wide count).
template <class T>
int factor(char uplo, std::int32_t n, std::int32_t m, T* ab, std::int32_t ldab,
           std::int32_t tasks) {
  if (const int bad = checkfactor(uplo, n, m, ab, ldab)) return bad;
  if (n == 0) return 0;
  const std::int32_t mc = bandwidth(n, m);
  scratch<T> bandcopy;
  T* const a = solverband(ab, n, m, ldab, islower(uplo), bandcopy);
  if (a == nullptr) return CSP_OUT_OF_MEMORY;
  std::int32_t status = 0;
  entry::decomposition(a, n, mc, status, entrytasks(entry::factortasks(mc), tasks));
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
  const std::int32_t mc = bandwidth(n, m);
  entry::substitution(a, n, mc, rhs.data(), nrhs, entrytasks(entry::substitutiontasks(mc), 0));
  rhs.close();
  return 0;
}

}  // namespace capi
