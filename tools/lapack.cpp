// Reference LAPACK's Cholesky routines for real band and tridiagonal
// systems.

#include "tools/lapack.hpp"

#include <limits>
#include <vector>

#include "bench/lapack.hpp"

extern "C" {
// ?ptsv, ?pttrf, ?pttrs: the symmetric positive definite tridiagonal
// solve, factorization L*D*L^T and substitution; no character arguments.
void sptsv_(const int* n, const int* nrhs, float* d, float* e, float* b, const int* ldb, int* info);
void dptsv_(const int* n, const int* nrhs, double* d, double* e, double* b, const int* ldb,
            int* info);
void spttrf_(const int* n, float* d, float* e, int* info);
void dpttrf_(const int* n, double* d, double* e, int* info);
void spttrs_(const int* n, const int* nrhs, const float* d, const float* e, float* b,
             const int* ldb, int* info);
void dpttrs_(const int* n, const int* nrhs, const double* d, const double* e, double* b,
             const int* ldb, int* info);
}

namespace {

// The routines of one kind. Called through these pointers, the band
// routines take the hidden length of their character argument explicitly.
template <class T>
struct routines;
template <>
struct routines<float> {
  static constexpr auto pbsv = spbsv_;
  static constexpr auto pbtrf = spbtrf_;
  static constexpr auto pbtrs = spbtrs_;
  static constexpr auto ptsv = sptsv_;
  static constexpr auto pttrf = spttrf_;
  static constexpr auto pttrs = spttrs_;
  static constexpr auto lacn2 = slacn2_;
};
template <>
struct routines<double> {
  static constexpr auto pbsv = dpbsv_;
  static constexpr auto pbtrf = dpbtrf_;
  static constexpr auto pbtrs = dpbtrs_;
  static constexpr auto ptsv = dptsv_;
  static constexpr auto pttrf = dpttrf_;
  static constexpr auto pttrs = dpttrs_;
  static constexpr auto lacn2 = dlacn2_;
};

constexpr std::size_t optionlength = 1;

}  // namespace

template <class T>
std::int32_t lapackbandsolve(T* a, std::int32_t n, std::int32_t m, T* b, std::int32_t nrhs) {
  const int ldab = m + 1, ldb = n;
  int info = 0;
  routines<T>::pbsv("L", &n, &m, &nrhs, a, &ldab, b, &ldb, &info, optionlength);
  return info;
}

template <class T>
std::int32_t lapackbandfactor(T* a, std::int32_t n, std::int32_t m) {
  const int ldab = m + 1;
  int info = 0;
  routines<T>::pbtrf("L", &n, &m, a, &ldab, &info, optionlength);
  return info;
}

template <class T>
std::int32_t lapackbandsubstitute(const T* a, std::int32_t n, std::int32_t m, T* b,
                                  std::int32_t nrhs) {
  const int ldab = m + 1, ldb = n;
  int info = 0;
  routines<T>::pbtrs("L", &n, &m, &nrhs, a, &ldab, b, &ldb, &info, optionlength);
  return info;
}

template <class T>
std::int32_t lapacktridiagonalsolve(T* d, T* e, std::int32_t n, T* b, std::int32_t nrhs) {
  int info = 0;
  routines<T>::ptsv(&n, &nrhs, d, e, b, &n, &info);
  return info;
}

template <class T>
std::int32_t lapacktridiagonalfactor(T* d, T* e, std::int32_t n) {
  int info = 0;
  routines<T>::pttrf(&n, d, e, &info);
  return info;
}

template <class T>
std::int32_t lapacktridiagonalsubstitute(const T* d, const T* e, std::int32_t n, T* b,
                                         std::int32_t nrhs) {
  int info = 0;
  routines<T>::pttrs(&n, &nrhs, d, e, b, &n, &info);
  return info;
}

// ?pbcon would do, but its overflow-guarded triangular solves (?latbs) fall
// back to a path that costs O(N^2) on long bands; the estimator ?lacn2 with
// plain ?pbtrs solves gives the same estimate in a few O(N*M) solves.
template <class T>
std::int32_t lapackcondition(T* a, std::int32_t n, std::int32_t m, double anorm, double& estimate) {
  estimate = std::numeric_limits<double>::quiet_NaN();
  int info = lapackbandfactor(a, n, m);
  if (info != 0) return info;
  std::vector<T> v(static_cast<std::size_t>(n)), x(static_cast<std::size_t>(n));
  std::vector<int> isgn(static_cast<std::size_t>(n));
  int kase = 0, isave[3] = {0, 0, 0};
  T inversenorm = 0;
  for (;;) {
    routines<T>::lacn2(&n, v.data(), x.data(), isgn.data(), &inversenorm, &kase, isave);
    if (kase == 0) break;
    // A is symmetric: A^-1 and A^-T are the same solve.
    info = lapackbandsubstitute(a, n, m, x.data(), 1);
  }
  estimate = anorm * static_cast<double>(inversenorm);
  return info;
}

#define CSPBENCH_LAPACK_KIND(T)                                                            \
  template std::int32_t lapackbandsolve(T*, std::int32_t, std::int32_t, T*, std::int32_t); \
  template std::int32_t lapackbandfactor(T*, std::int32_t, std::int32_t);                  \
  template std::int32_t lapackbandsubstitute(const T*, std::int32_t, std::int32_t, T*,     \
                                             std::int32_t);                                \
  template std::int32_t lapacktridiagonalsolve(T*, T*, std::int32_t, T*, std::int32_t);    \
  template std::int32_t lapacktridiagonalfactor(T*, T*, std::int32_t);                     \
  template std::int32_t lapacktridiagonalsubstitute(const T*, const T*, std::int32_t, T*,  \
                                                    std::int32_t);                         \
  template std::int32_t lapackcondition(T*, std::int32_t, std::int32_t, double, double&);
CSPBENCH_LAPACK_KIND(float)
CSPBENCH_LAPACK_KIND(double)
