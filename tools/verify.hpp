// Verification of every solve of cspbench against the exact solution of the
// test system, with LAPACK's testing ratios.
#pragma once

#include <complex>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "solver/element.hpp"
#include "tools/testsystem.hpp"

// Both ratios pass at or below LAPACK's own testing threshold.
inline constexpr double checkthreshold = 30;

// The verdict on one solve, or the worst over several.
struct checkresult {
  std::int32_t status = 0;   // the solver's status (LAPACK's info)
  double relativeerror = 0;  // ||x - x*|| / ||x*||, worst column
  double errorratio = 0;     // relativeerror / (cond(A) * eps)
  double residualratio = 0;  // ||b - A*x|| / (||A|| * ||x|| * N * eps), worst column
  bool pass = true;          // status 0 and both ratios <= checkthreshold
};

// What every check of one system needs: ||A||_inf and cond_inf(A).
struct systemnorms {
  double anorm = 0;
  double condition = 0;  // NaN when it could not be estimated
  std::string source;    // how the condition number was obtained
};

// systemnormsof(s, scratch): ||A||_inf, and cond_inf(A) from LAPACK ?lacn2
// (real kinds, factoring a copy of the band in scratch, which must hold
// s.band.size() entries) or from diagonal dominance (complex kinds):
// ||A^-1||_inf <= 1 / min_i(|a_ii| - sum_{j != i} |a_ij|).
template <class T>
systemnorms systemnormsof(const testsystem<T>& s, std::vector<T>& scratch);

// checksolution(s, solution, status, norms): the checks of one solve whose
// computed solutions (N x nrhs, leading dimension N) are in solution.
template <class T>
checkresult checksolution(const testsystem<T>& s, const T* solution, std::int32_t status,
                          const systemnorms& norms);
template <class T>
checkresult checksolution(const testsystem<T>& s, const std::vector<T>& solution,
                          std::int32_t status, const systemnorms& norms) {
  return checksolution(s, solution.data(), status, norms);
}

// The inf-norms behind the checks of one right-hand side column.
struct columnnorms {
  double difference = 0;  // ||x - x*||
  double exact = 0;       // ||x*||
  double residual = 0;    // ||b - A*x||
  double solution = 0;    // ||x||
};

// verdict(columns, status, norms, n, eps): the checks of one solve from the
// norms of each of its columns, for a system of order n whose kind has
// machine epsilon eps.
checkresult verdict(const std::vector<columnnorms>& columns, std::int32_t status,
                    const systemnorms& norms, std::int64_t n, double eps);

// The residual is accumulated in a wider type than the element kind, so
// that its own rounding does not show in the ratio.
template <class T>
struct widetype {
  using type = long double;
};
template <>
struct widetype<float> {
  using type = double;
};
template <class R>
struct widetype<std::complex<R>> {
  using type = std::complex<typename widetype<R>::type>;
};
template <class T>
using wide_t = typename widetype<T>::type;

template <class T>
double epsilonof() {
  return std::numeric_limits<real_t<T>>::epsilon();
}

// worstof(a, b): the larger ratios, the first nonzero status, both verdicts.
checkresult worstof(const checkresult& a, const checkresult& b);
