// Band Cholesky column kernel: the serial left-looking factorization of one
// diagonal block of columns of a band matrix, A = L*L^T in place.
//
// Every parallel kernel factors its blocks with this routine, and the
// factor must not depend on which kernel or how many tasks computed it: each
// element receives its updates in increasing column order, then the square
// root (diagonal) or one division by the stored diagonal (below it). The
// inner loops run over contiguous rows of a column, so they vectorise
// without changing the operations any element receives.

#include <algorithm>
#include <cstdint>

#include "solver/band.hpp"
#include "solver/csp.hpp"
#include "solver/element.hpp"

namespace kernel {
namespace {

// target(k) <- target(k) - source(k)*factor, k = 0..count-1. The two ranges
// are rows of two different columns of the band and never overlap.
template <class T>
inline void updatecolumn(T* __restrict target, const T* __restrict source, const T factor,
                         const std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) target[k] = mulsub(target[k], source[k], factor);
}

// target(k) <- target(k) / diagonal, k = 0..count-1.
template <class T>
inline void scalecolumn(T* __restrict target, const T diagonal, const std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) target[k] = div(target[k], diagonal);
}

template <class T>
void decompose(T* a, const std::int32_t& m, const std::int32_t& first, const std::int32_t& last,
               const real_t<T>& tolerance, std::int32_t* info, const std::int32_t& flagindex) {
  const band_matrix<T> band{a, m};
  // Row and column bounds in 64 bits: i + M may pass 2^31 - 1.
  const std::int64_t f = first, l = last, bandwidth = m;
  for (std::int64_t i = f; i <= l; ++i) {
    // Column i's entries from row i on: element (r, i) at coli[r - i].
    T* const coli = band.column(i);

    // Updates from the earlier columns of the block, rows i..min(p+M, l).
    for (std::int64_t p = std::max(f, i - bandwidth); p <= i - 1; ++p) {
      const T* const colp = band.column(p) + (i - p);  // element (i, p) onwards
      updatecolumn(coli, colp, colp[0], std::min(p + bandwidth, l) - i + 1);
    }

    const T d = coli[0];
    if (pivotrejected(tolerance, d)) {
      info[flagindex - 1] = 1;  // info(flagindex)
      return;
    }
    coli[0] = principalsqrt(d);

    // Rows i+1..min(i+M, l), each divided by the stored diagonal.
    scalecolumn(coli + 1, coli[0], std::min(i + bandwidth, l) - i);
  }
}

}  // namespace

// decompose_csp_4(a, m, first, last, tolerance, info, flagindex): factors
// the diagonal block of columns first..last of a band matrix in place.
//   a         (in/out) band matrix; the elements (r, c) with
//                      first <= c <= r <= min(c+M, last) are overwritten by
//                      the block's factor; nothing else is read or written
//   m         (in)     half bandwidth M >= 0
//   first     (in)     first column (and row) of the block, >= 1
//   last      (in)     last column (and row) of the block, <= N; the kernel
//                      does nothing when first > last
//   tolerance (in)     pivot threshold: the updated diagonal d is rejected
//                      when tolerance >= d (real kinds), tolerance >= |d|
//                      (complex kinds), or d is NaN
//   info      (out)    failure flags: info(flagindex) <- 1 on a rejected
//                      pivot, after which the kernel returns at once with
//                      column i holding its updated, unscaled values and the
//                      columns after it untouched; never cleared
//   flagindex (in)     1-based index of the flag to set
// _8, _z4 and _z8 alike; the complex kinds factor the complex symmetric
// matrix (transpose, no conjugation).
void decompose_csp_4(float* a, const std::int32_t& m, const std::int32_t& first,
                     const std::int32_t& last, const float& tolerance, std::int32_t* info,
                     const std::int32_t& flagindex) {
  decompose(a, m, first, last, tolerance, info, flagindex);
}

void decompose_csp_8(double* a, const std::int32_t& m, const std::int32_t& first,
                     const std::int32_t& last, const double& tolerance, std::int32_t* info,
                     const std::int32_t& flagindex) {
  decompose(a, m, first, last, tolerance, info, flagindex);
}

void decompose_csp_z4(std::complex<float>* a, const std::int32_t& m, const std::int32_t& first,
                      const std::int32_t& last, const float& tolerance, std::int32_t* info,
                      const std::int32_t& flagindex) {
  decompose(a, m, first, last, tolerance, info, flagindex);
}

void decompose_csp_z8(std::complex<double>* a, const std::int32_t& m, const std::int32_t& first,
                      const std::int32_t& last, const double& tolerance, std::int32_t* info,
                      const std::int32_t& flagindex) {
  decompose(a, m, first, last, tolerance, info, flagindex);
}

}  // namespace kernel
