// The bodies of csp_factorize_X, csp_solve_factorized_X and the one-shot
// partitioned solve of csp_solve_X: one template per family, over the
// solver's element types.
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>
#include <new>

#include "capi/checks.hpp"
#include "capi/include/csp/csp.h"
#include "capi/method.hpp"
#include "capi/storage.hpp"
#include "capi/tasks.hpp"
#include "solver/partitioned.hpp"

// What csp_factorization stands for: a partitioned factorization of one
// element kind (none for n = 0, which any solve leaves as it is).
struct csp_factorization {
  capi::kind kind;
  std::int32_t n;
  void* factor;  // partitioned::factorization<T>* of that kind
};

namespace capi {

template <class T>
inline constexpr kind kindof = kind::s;
template <>
inline constexpr kind kindof<double> = kind::d;
template <>
inline constexpr kind kindof<std::complex<float>> = kind::c;
template <>
inline constexpr kind kindof<std::complex<double>> = kind::z;

// The task count of a call (requested: 0 for the process-wide count) for an
// entry that puts at most `useful` tasks to work. Finding out how many
// processors the caller may use takes system calls, which would cost small
// solves more than they do: it is skipped when one task is all the entry uses.
inline std::int32_t entrytasks(std::int32_t useful, std::int32_t requested) {
  return useful > 1 ? std::min(useful, calltasks(requested)) : 1;
}

// The most tasks the partitioned factorization, and a solve of nrhs
// right-hand sides with it, put to work on a system of order n > 0.
template <class T>
std::int32_t partitionedtasks(std::int32_t n, std::int32_t m, std::int32_t nrhs) {
  const std::int32_t mc = bandwidth(n, m);
  return partitioned::usefultasks<T>(
      partitioned::partitionlayout(n, mc), nrhs);
}

// The partitioned factorization of A (arguments checked, n > 0) on `tasks`
// tasks: 0 and the factorization in f, or the code of csp_factorize_X with
// f null.
template <class T>
int factorizechecked(char uplo, std::int32_t n, std::int32_t m, const T* ab, std::int32_t ldab,
                     std::int32_t tasks, partitioned::factorization<T>*& f) {
  f = nullptr;
  const std::int32_t mc = bandwidth(n, m);
  scratch<T> bandcopy;
  const T* const a = solverband(ab, n, m, ldab, islower(uplo), bandcopy);
  if (a == nullptr) return CSP_OUT_OF_MEMORY;
  switch (partitioned::factorize(a, n, mc, tasks, f)) {
    case partitioned::outcome::factored:
      return 0;
    case partitioned::outcome::rejected:
      return 1;  // as csp_solve_X: the partitioned order has no LAPACK column to name
    default:
      return CSP_OUT_OF_MEMORY;
  }
}

// Solves with a factorization of n > 0 equations on `tasks` tasks.
template <class T>
int solvefactorized(const partitioned::factorization<T>& f, std::int32_t nrhs, T* b,
                    std::int32_t ldb, std::int32_t tasks) {
  return partitioned::solve(f, b, ldb, nrhs, tasks) ? 0 : CSP_OUT_OF_MEMORY;
}

// csp_factorize_X (tasks 0: the process-wide count) and
// csp_factorize_tasks_X.
template <class T>
int factorize(char uplo, std::int32_t n, std::int32_t m, const T* ab, std::int32_t ldab,
              csp_factorization** result, std::int32_t requested) {
  if (result != nullptr) *result = nullptr;
  if (const int bad = checkfactor(uplo, n, m, ab, ldab)) return bad;
  if (result == nullptr) return -6;
  if (requested < 0) return -7;
  partitioned::factorization<T>* f = nullptr;
  if (n > 0) {
    const std::int32_t tasks = entrytasks(partitionedtasks<T>(n, m, 1), requested);
    if (const int status = factorizechecked(uplo, n, m, ab, ldab, tasks, f)) return status;
  }
  *result = new (std::nothrow) csp_factorization{kindof<T>, n, f};
  if (*result == nullptr) {
    if (f != nullptr) partitioned::release(f);
    return CSP_OUT_OF_MEMORY;
  }
  return 0;
}

// csp_solve_factorized_X (tasks 0: the process-wide count) and
// csp_solve_factorized_tasks_X.
template <class T>
int solvefactorized(const csp_factorization* f, std::int32_t nrhs, T* b, std::int32_t ldb,
                    std::int32_t requested) {
  if (f == nullptr || f->kind != kindof<T>) return -1;
  if (nrhs < 0) return -2;
  if (b == nullptr && f->n > 0 && nrhs > 0) return -3;
  if (ldb < std::max(std::int32_t{1}, f->n)) return -4;
  if (requested < 0) return -5;
  if (f->n == 0 || nrhs == 0) return 0;
  const auto& factor = *static_cast<const partitioned::factorization<T>*>(f->factor);
  const std::int32_t useful = partitioned::usefultasks<T>(partitioned::shapeof(factor), nrhs);
  return solvefactorized(factor, nrhs, b, ldb, entrytasks(useful, requested));
}

// csp_free_factorization for a factorization of kind T.
template <class T>
void release(csp_factorization* f) {
  if (f->factor != nullptr) partitioned::release(static_cast<partitioned::factorization<T>*>(f->factor));
  delete f;
}

}  // namespace capi
