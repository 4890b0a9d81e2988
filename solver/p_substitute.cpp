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

// p_substitute_csp_X(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext,
// jstage, jnext): one task's share of the stage-wise solve L*L^T*x = b.
//   a        (in)     the factor L in band storage
//   n, m     (in)     order N and half bandwidth M
//   b        (in/out) right-hand side of N entries; y = L^-1*b after the
//                     forward stages, the solution x at return
//   q        (in)     rows per stage and per piece, >= 1
//   lockid   (in)     parallel lock guarding knext and jnext
//   eventids (in)     the two barrier events; eventids(1) armed for ntasks
//   ntasks   (in)     number of tasks running the kernel, the caller included
//   kstage, knext (in/out) forward cursors: 1 at the start, 1 + q*ceil(N/q)
//                     at return
//   jstage, jnext (in/out) backward cursors: N at the start, N - q*ceil(N/q)
//                     at return
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
