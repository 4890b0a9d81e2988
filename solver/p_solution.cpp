// Stage-wise parallel solve of A*x = b from the band matrix itself, one
// task's share: the factorization with the forward substitution carried
// along, then the backward substitution. Every task of the solve runs it
// with the same arguments.

#include <complex>
#include <cstdint>

#include "solver/csp.hpp"
#include "solver/stage.hpp"

namespace {

// Factorization and forward substitution in stages of q columns, then the
// backward substitution in stages of 2q rows, which halves its barriers
// (its pieces carry no factorization work). After a rejected pivot every
// task returns at the end of that stage and the backward phase is not run.
template <class T>
void p_solution(T* a, const std::int32_t& n, const std::int32_t& m, T* b, const std::int32_t& q,
                const std::int32_t& lockid, std::int32_t* eventids, const std::int32_t& ntasks,
                std::int64_t& kstage, std::int64_t& knext, std::int64_t& jstage,
                std::int64_t& jnext, const real_t<T>& tolerance, std::int32_t* info) {
  std::int32_t phase = 1;
  if (!stagewise::factorphase(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, tolerance,
                              info, phase)) {
    return;
  }
  stagewise::backwardphase<T>(a, n, m, b, 2 * std::int64_t{q}, lockid, eventids, ntasks, jstage,
                              jnext, phase);
}

}  // namespace

namespace kernel {

// p_solution_csp_X(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext,
// jstage, jnext, tolerance, info): one task's share of the stage-wise
// factorization with forward substitution, then the backward substitution.
//   a         (in/out) band matrix; overwritten by L
//   n, m      (in)     order N and half bandwidth M
//   b         (in/out) right-hand side of N entries; the solution x at a
//                      successful return, partly transformed after a failure
//   q         (in)     columns per factorization stage, >= 1; the backward
//                      stages take 2q rows
//   lockid    (in)     parallel lock guarding knext and jnext
//   eventids  (in)     the two barrier events; eventids(1) armed for ntasks
//   ntasks    (in)     number of tasks running the kernel, the caller included
//   kstage, knext (in/out) factorization cursors: 1 at the start,
//                      1 + q*(stages run) at return
//   jstage, jnext (in/out) backward cursors: N at the start,
//                      N - 2q*ceil(N/(2q)) at a successful return
//   tolerance (in)     pivot threshold of the column kernel
//   info      (in/out) failure flags, 0 at the start; info(phase) <- 1 when
//                      the stage of that event phase rejected a pivot, and
//                      the backward stages are not run
void p_solution_csp_4(float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                      const std::int32_t& q, const std::int32_t& lockid, std::int32_t* eventids,
                      const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                      std::int64_t& jstage, std::int64_t& jnext, const float& tolerance,
                      std::int32_t* info) {
  p_solution(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, jstage, jnext, tolerance,
             info);
}

void p_solution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                      const std::int32_t& q, const std::int32_t& lockid, std::int32_t* eventids,
                      const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                      std::int64_t& jstage, std::int64_t& jnext, const double& tolerance,
                      std::int32_t* info) {
  p_solution(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, jstage, jnext, tolerance,
             info);
}

void p_solution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                       std::complex<float>* b, const std::int32_t& q,
                       const std::int32_t& lockid, std::int32_t* eventids,
                       const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                       std::int64_t& jstage, std::int64_t& jnext, const float& tolerance,
                       std::int32_t* info) {
  p_solution(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, jstage, jnext, tolerance,
             info);
}

void p_solution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                       std::complex<double>* b, const std::int32_t& q,
                       const std::int32_t& lockid, std::int32_t* eventids,
                       const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                       std::int64_t& jstage, std::int64_t& jnext, const double& tolerance,
                       std::int32_t* info) {
  p_solution(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, jstage, jnext, tolerance,
             info);
}

}  // namespace kernel
