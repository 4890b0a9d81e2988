// Solver entry of the factor-and-solve family: fixes the block width,
// creates the lock and the two events of one solve, runs the parallel
// factor-and-solve kernel on the team of tasks (the caller included) and
// turns the failure flags into a status. The entry does no arithmetic of
// its own.

#include <algorithm>
#include <cstdint>

#include "solver/csp.hpp"
#include "solver/entries.hpp"
#include "solver/element.hpp"
#include "solver/schedule.hpp"
#include "solver/team.hpp"

namespace {

// The grain-size routine and the sweep kernel of each element kind.
template <class T>
struct sweepkind;
template <>
struct sweepkind<float> {
  static constexpr auto requiregrain = &requiregrainsize;
  static constexpr auto kernel = &kernel::p_mesolution_csp_4;
};
template <>
struct sweepkind<double> {
  static constexpr auto requiregrain = &requiregrainsize;
  static constexpr auto kernel = &kernel::p_mesolution_csp_8;
};
template <>
struct sweepkind<std::complex<float>> {
  static constexpr auto requiregrain = &requiregrainsizeforcomplex;
  static constexpr auto kernel = &kernel::p_mesolution_csp_z4;
};
template <>
struct sweepkind<std::complex<double>> {
  static constexpr auto requiregrain = &requiregrainsizeforcomplex;
  static constexpr auto kernel = &kernel::p_mesolution_csp_z8;
};

}  // namespace

// The participants worth starting for a solve of order n and half bandwidth
// m: one per 2^23 (about 8 million) element operations of a band Cholesky,
// N*(M+1)^2, a complex one counted as four. Each pass of the sweep ends at a
// barrier that costs every participant some microseconds, and a smaller
// share of work than this does not repay them: with N = 20,000 and M = 8 a
// solve takes well under a millisecond on one core and more with two. The
// result is the same bits with any number of participants.
template <class T>
std::int32_t entry::sweeptasks(std::int32_t n, std::int32_t m) {
  constexpr double share = 0x1p23;
  const double band = static_cast<double>(m) + 1;
  const double work = static_cast<double>(n) * band * band * (is_complex_v<T> ? 4 : 1);
  return static_cast<std::int32_t>(std::clamp(work / share, 1.0, double{maxteam}));
}

template <class T>
void entry::mesolution(T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                       const std::int32_t& nrhs, T* work, std::int32_t& status,
                       std::int32_t tasks) {
  sweepkind<T>::requiregrain();
  const std::int32_t requested = std::min(tasks, sweeptasks<T>(n, m));
  team t;
  openteam(t);

  const std::int32_t q = blockwidth(m);
  std::int64_t level = 0, distance = 0, stride = 0, firstblock = 0, nextblock = 0, backblock = 0;
  sweep::startcounters(q, level, distance, stride, firstblock, nextblock, backblock);
  const real_t<T> tolerance = 0;
  std::int32_t info[2] = {0, 0};

  // work = savedcoupling (N*M entries), then coupling (N*M entries). The
  // split is formed in 64 bits; with no rows or no band both are empty.
  const std::int64_t split = n > 0 && m > 0 ? std::int64_t{n} * m : 0;
  T* const savedcoupling = work;
  T* const coupling = work + split;

  runteam(t, requested, sweepkind<T>::kernel, a, n, m, b, nrhs, savedcoupling, coupling,
          t.lockid, t.eventids, q, t.ntasks, level, distance, stride, firstblock, nextblock,
          backblock, tolerance, info);

  status = info[0] != 0 ? 1 : info[1];
  closeteam(t);
}

#define CSP_INSTANTIATE(T)                                                                   \
  template void entry::mesolution<T>(T*, const std::int32_t&, const std::int32_t&, T*,     \
                                     const std::int32_t&, T*, std::int32_t&, std::int32_t); \
  template std::int32_t entry::sweeptasks<T>(std::int32_t, std::int32_t);
CSP_INSTANTIATE(float)
CSP_INSTANTIATE(double)
CSP_INSTANTIATE(std::complex<float>)
CSP_INSTANTIATE(std::complex<double>)
#undef CSP_INSTANTIATE

// mesolution_csp_4(a, n, m, b, nrhs, work, status): solves A*X = B for a
// symmetric positive definite band matrix, factoring and solving in one
// parallel sweep with the current task count (gettasks, at most 32), or
// fewer tasks when the problem is too small to repay more (at least about
// 8 million operations N*(M+1)^2 per task, a complex one counting four);
// the result is the same bits either way.
//   a      (in/out) band matrix of order N and half bandwidth M, M*(N-1)+N
//                   entries; overwritten by factors and scratch (not a
//                   factor a later solve could reuse)
//   n      (in)     order N; N <= 0: nothing is read or written
//   m      (in)     half bandwidth M >= 0
//   b      (in/out) N x nrhs right-hand sides, leading dimension N; the
//                   solutions on return
//   nrhs   (in)     number of right-hand sides; <= 0: A is factored and b
//                   is not touched
//   work   (out)    scratch of 2*N*M entries
//   status (out)    0: solved; 1: a pivot was rejected (A is not positive
//                   definite, or holds a NaN) and the solve was abandoned,
//                   leaving a, b and work partly processed
// _8, _z4 and _z8 alike; the complex kinds solve the complex symmetric
// system (A = L*L^T without conjugation).
void mesolution_csp_4(float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                      const std::int32_t& nrhs, float* work, std::int32_t& status) {
  entry::mesolution(a, n, m, b, nrhs, work, status, teamsize());
}

void mesolution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                      const std::int32_t& nrhs, double* work, std::int32_t& status) {
  entry::mesolution(a, n, m, b, nrhs, work, status, teamsize());
}

void mesolution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                       std::complex<float>* b, const std::int32_t& nrhs,
                       std::complex<float>* work, std::int32_t& status) {
  entry::mesolution(a, n, m, b, nrhs, work, status, teamsize());
}

void mesolution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                       std::complex<double>* b, const std::int32_t& nrhs,
                       std::complex<double>* work, std::int32_t& status) {
  entry::mesolution(a, n, m, b, nrhs, work, status, teamsize());
}
