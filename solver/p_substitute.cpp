// Stage-wise parallel solve of L*L^T*x = b with a factor already in the band,
// one task's share; every task of the solve runs it with the same arguments.

#include <algorithm>
#include <complex>
#include <cstdint>

#include "solver/csp.hpp"
#include "solver/stage.hpp"

namespace {

// Forward stages of q rows: every piece (q rows from the block D on) applies
// the unknowns of the previous block to its rows, the lead piece then
// solves D. Backward stages of q rows follow.
template <class T>
void p_substitute(const T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                  const std::int32_t& q, const std::int32_t& lockid, std::int32_t* eventids,
                  const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                  std::int64_t& jstage, std::int64_t& jnext) {
  const band_matrix<const T> l{a, m};
  const std::int64_t width = q;
  auto piece = [&](std::int64_t k, std::int64_t r1, std::int64_t r2, std::int32_t) {
    stagewise::forwardapply(l, b, std::max<std::int64_t>(1, k - width), k - 1, r1, r2);
    if (r1 == k) stagewise::forwardsolve(l, b, r1, r2);
  };
  std::int32_t phase = 1;
  stagewise::forwardstages(n, m, width, width, lockid, eventids, ntasks, kstage, knext, nullptr,
                           phase, piece);
  stagewise::backwardphase(a, n, m, b, width, lockid, eventids, ntasks, jstage, jnext, phase);
}

}  // namespace

namespace kernel {

void p_substitute_csp_4(const float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                        const std::int32_t& q, const std::int32_t& lockid,
                        std::int32_t* eventids, const std::int32_t& ntasks,
                        std::int64_t& kstage, std::int64_t& knext, std::int64_t& jstage,
                        std::int64_t& jnext) {
  p_substitute(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, jstage, jnext);
}

void p_substitute_csp_8(const double* a, const std::int32_t& n, const std::int32_t& m,
                        double* b, const std::int32_t& q, const std::int32_t& lockid,
                        std::int32_t* eventids, const std::int32_t& ntasks,
                        std::int64_t& kstage, std::int64_t& knext, std::int64_t& jstage,
                        std::int64_t& jnext) {
  p_substitute(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, jstage, jnext);
}

void p_substitute_csp_z4(const std::complex<float>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<float>* b, const std::int32_t& q,
                         const std::int32_t& lockid, std::int32_t* eventids,
                         const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                         std::int64_t& jstage, std::int64_t& jnext) {
  p_substitute(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, jstage, jnext);
}

void p_substitute_csp_z8(const std::complex<double>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<double>* b, const std::int32_t& q,
                         const std::int32_t& lockid, std::int32_t* eventids,
                         const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                         std::int64_t& jstage, std::int64_t& jnext) {
  p_substitute(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext, jstage, jnext);
}

}  // namespace kernel
