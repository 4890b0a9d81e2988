// Stage-wise parallel factorization A = L*L^T of a band matrix, one task's
// share; every task of the factorization runs it with the same arguments.

#include <complex>
#include <cstdint>

#include "solver/csp.hpp"
#include "solver/stage.hpp"

namespace {

// The factorization in stages of q columns (see stagewise::factorphase);
// returns when every stage is done or after the stage that rejected a
// pivot, leaving kstage = knext = the first column after the last stage run.
template <class T>
void p_decompose(T* a, const std::int32_t& n, const std::int32_t& m, const std::int32_t& q,
                 const std::int32_t& lockid, std::int32_t* eventids, const std::int32_t& ntasks,
                 std::int64_t& kstage, std::int64_t& knext, const real_t<T>& tolerance,
                 std::int32_t* info) {
  std::int32_t phase = 1;
  stagewise::factorphase<T>(a, n, m, nullptr, q, lockid, eventids, ntasks, kstage, knext,
                            tolerance, info, phase);
}

}  // namespace

namespace kernel {

// p_decompose_csp_X(a, n, m, q, lockid, eventids, ntasks, kstage, knext,
// tolerance, info): one task's share of the stage-wise factorization.
//   a         (in/out) band matrix of order N, half bandwidth M; overwritten
//                      by L (after a rejected pivot: final before the failing
//                      block, partly factored in it, untouched after it)
//   n, m      (in)     order N and half bandwidth M
//   q         (in)     columns per stage, >= 1; several pieces only when q <= M
//   lockid    (in)     parallel lock guarding knext
//   eventids  (in)     the two barrier events; eventids(1) armed for ntasks
//   ntasks    (in)     number of tasks running the kernel, the caller included
//   kstage    (in/out) first column of the current stage: 1 at the start,
//                      1 + q*(stages run) at return
//   knext     (in/out) first row of the next piece: 1 at the start, kstage
//                      at return
//   tolerance (in)     pivot threshold of the column kernel
//   info      (in/out) failure flags, 0 at the start; info(phase) <- 1 when
//                      the stage of that event phase rejected a pivot
void p_decompose_csp_4(float* a, const std::int32_t& n, const std::int32_t& m,
                       const std::int32_t& q, const std::int32_t& lockid,
                       std::int32_t* eventids, const std::int32_t& ntasks,
                       std::int64_t& kstage, std::int64_t& knext, const float& tolerance,
                       std::int32_t* info) {
  p_decompose(a, n, m, q, lockid, eventids, ntasks, kstage, knext, tolerance, info);
}

void p_decompose_csp_8(double* a, const std::int32_t& n, const std::int32_t& m,
                       const std::int32_t& q, const std::int32_t& lockid,
                       std::int32_t* eventids, const std::int32_t& ntasks,
                       std::int64_t& kstage, std::int64_t& knext, const double& tolerance,
                       std::int32_t* info) {
  p_decompose(a, n, m, q, lockid, eventids, ntasks, kstage, knext, tolerance, info);
}

void p_decompose_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                        const std::int32_t& q, const std::int32_t& lockid,
                        std::int32_t* eventids, const std::int32_t& ntasks,
                        std::int64_t& kstage, std::int64_t& knext, const float& tolerance,
                        std::int32_t* info) {
  p_decompose(a, n, m, q, lockid, eventids, ntasks, kstage, knext, tolerance, info);
}

void p_decompose_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                        const std::int32_t& q, const std::int32_t& lockid,
                        std::int32_t* eventids, const std::int32_t& ntasks,
                        std::int64_t& kstage, std::int64_t& knext, const double& tolerance,
                        std::int32_t* info) {
  p_decompose(a, n, m, q, lockid, eventids, ntasks, kstage, knext, tolerance, info);
}

}  // namespace kernel
