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
