// Reference LAPACK's band Cholesky routines for the real kinds.

#include "tools/lapack.hpp"

#include <limits>
#include <type_traits>
#include <vector>

#include "bench/lapack.hpp"

namespace {

template <class T>
std::int32_t bandsolve(T* a, int n, int m, T* b, int nrhs) {
  const int ldab = m + 1, ldb = n;
  int info = 0;
  if constexpr (std::is_same_v<T, float>) {
    spbsv_("L", &n, &m, &nrhs, a, &ldab, b, &ldb, &info);
  } else {
    dpbsv_("L", &n, &m, &nrhs, a, &ldab, b, &ldb, &info);
  }
  return info;
}

// ?pbcon would do, but its overflow-guarded triangular solves (?latbs) fall
// back to a path that costs O(N^2) on long bands; the estimator ?lacn2 with
// plain ?pbtrs solves gives the same estimate in a few O(N*M) solves.
template <class T>
std::int32_t condition(T* a, int n, int m, double anorm, double& estimate) {
  const int ldab = m + 1, one = 1;
  int info = 0;
  estimate = std::numeric_limits<double>::quiet_NaN();
  if constexpr (std::is_same_v<T, float>) {
    spbtrf_("L", &n, &m, a, &ldab, &info);
  } else {
    dpbtrf_("L", &n, &m, a, &ldab, &info);
  }
  if (info != 0) return info;
  std::vector<T> v(static_cast<std::size_t>(n)), x(static_cast<std::size_t>(n));
  std::vector<int> isgn(static_cast<std::size_t>(n));
  int kase = 0, isave[3] = {0, 0, 0};
  T inversenorm = 0;
  for (;;) {
    if constexpr (std::is_same_v<T, float>) {
      slacn2_(&n, v.data(), x.data(), isgn.data(), &inversenorm, &kase, isave);
    } else {
      dlacn2_(&n, v.data(), x.data(), isgn.data(), &inversenorm, &kase, isave);
    }
    if (kase == 0) break;
    // A is symmetric: A^-1 and A^-T are the same solve.
    if constexpr (std::is_same_v<T, float>) {
      spbtrs_("L", &n, &m, &one, a, &ldab, x.data(), &n, &info);
    } else {
      dpbtrs_("L", &n, &m, &one, a, &ldab, x.data(), &n, &info);
    }
  }
  estimate = anorm * static_cast<double>(inversenorm);
  return info;
}

}  // namespace

std::int32_t lapackbandsolve(float* a, std::int32_t n, std::int32_t m, float* b,
                             std::int32_t nrhs) {
  return bandsolve(a, n, m, b, nrhs);
}
std::int32_t lapackbandsolve(double* a, std::int32_t n, std::int32_t m, double* b,
                             std::int32_t nrhs) {
  return bandsolve(a, n, m, b, nrhs);
}
std::int32_t lapackcondition(float* a, std::int32_t n, std::int32_t m, double anorm,
                             double& estimate) {
  return condition(a, n, m, anorm, estimate);
}
std::int32_t lapackcondition(double* a, std::int32_t n, std::int32_t m, double anorm,
                             double& estimate) {
  return condition(a, n, m, anorm, estimate);
}
