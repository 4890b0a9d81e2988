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
