// Band Cholesky column kernel: the serial left-looking factorization of one
// diagonal block of columns of a band matrix, A = L*L^T in place.
//
// Every parallel kernel factors its blocks with this routine, and the
// factor must not depend on which kernel or how many tasks computed it: each
// element receives its updates in increasing column order, then the square
// root (diagonal) or one division by the stored diagonal (below it). The
// order in which the kernel visits rows is free, and is chosen for speed: the
// inner loops run over contiguous rows of two columns and vectorise, without
// changing the operations any element receives.

#include <algorithm>
#include <cstdint>

#include "solver/band.hpp"
#include "solver/csp.hpp"
#include "solver/element.hpp"
#include "solver/loops.hpp"

namespace kernel {
namespace {

// Rows of column i are updated a group at a time, held in registers across
// all the earlier columns p that reach them. Sweeping the whole column once
// per p instead stores and reloads every element between its updates, over
// ranges whose length grows with p, so that the loads of one sweep straddle
// the narrower stores of the last and stall; with M = 8 that made the kernel
// slower than plain scalar code. The unroll pragmas keep the group in
// registers for the complex kinds as well.
constexpr std::int64_t rowgroup = 4;

// Rows r0..r0+rowgroup-1 of column i receive their updates from the columns
// p = max(p0, r - M)..i-1 of the block, for each row in increasing p:
// a(r, i) <- a(r, i) - a(r, p)*a(i, p). The group lies within rows i..i+M.
template <class T>
inline void updategroup(const band_matrix<T>& band, const std::int64_t i, const std::int64_t r0,
                        const std::int64_t p0) {
  const std::int64_t m = band.m;
  T* const target = band.column(i) + (r0 - i);
  T x[rowgroup];
#pragma GCC unroll rowgroup
  for (std::int64_t k = 0; k < rowgroup; ++k) x[k] = target[k];

  // Column p = r0-M+j reaches only rows r0..r0+j of the group (j <= rowgroup-2).
#pragma GCC unroll rowgroup
  for (std::int64_t j = 0; j <= rowgroup - 2; ++j) {
    const std::int64_t p = r0 - m + j;
    if (p < p0) continue;
    const T* const source = band.column(p) + (r0 - p);  // element (r0, p) onwards
    const T factor = band.column(p)[i - p];             // a(i, p)
#pragma GCC unroll rowgroup
    for (std::int64_t k = 0; k <= j; ++k) x[k] = mulsub(x[k], source[k], factor);
  }
  // The later columns reach every row of the group.
  for (std::int64_t p = std::max(p0, r0 + rowgroup - 1 - m); p <= i - 1; ++p) {
    const T* const source = band.column(p) + (r0 - p);
    const T factor = band.column(p)[i - p];
#pragma GCC unroll rowgroup
    for (std::int64_t k = 0; k < rowgroup; ++k) x[k] = mulsub(x[k], source[k], factor);
  }

#pragma GCC unroll rowgroup
  for (std::int64_t k = 0; k < rowgroup; ++k) target[k] = x[k];
}

// Row r of column i receives its updates from the columns
// p = max(p0, r - M)..i-1 of the block, in increasing p.
template <class T>
inline void updaterow(const band_matrix<T>& band, const std::int64_t i, const std::int64_t r,
                      const std::int64_t p0) {
  T x = band(r, i);
  for (std::int64_t p = std::max(p0, r - band.m); p <= i - 1; ++p) {
    x = mulsub(x, band(r, p), band(i, p));
  }
  band(r, i) = x;
}

// target(k) <- target(k) / diagonal, k = 0..count-1.
template <class T>
inline void scalecolumn(T* __restrict target, const T diagonal, const std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) target[k] = div(target[k], diagonal);
}

// The same factorization with the M entries below the diagonal of a column
// in one set of W >= M lanes (rows i+1..i+M in lanes 0..M-1): for each
// earlier column p the terms of all rows it reaches are one lane operation,
// masked to those rows, and the diagonal takes its term alongside. Each
// element keeps its operations and their order. The column just finished
// is taken from registers rather than read back from the band: it lies on
// the chain from one column to the next, and a load of what was just stored
// would wait for the store.
template <class T, int W>
void decomposelanes(const band_matrix<T>& band, const std::int64_t f, const std::int64_t l,
                    const real_t<T>& tolerance, std::int32_t* info, const std::int32_t& flagindex) {
  lanes<T, W> previous;  // column i-1 below its diagonal
  clearlanes(previous);
  for (std::int64_t i = f; i <= l; ++i) {
    T* const coli = band.column(i);  // element (r, i) at coli[r - i]
    const std::int64_t below = std::min(i + band.m, l) - i;  // rows i+1..i+below
    T d = coli[0];
    lanes<T, W> x, source;
    loadlanes(x, coli + 1, below);
    for (std::int64_t p = std::max(f, i - band.m); p <= i - 2; ++p) {
      const T* const colp = band.column(p);
      const T factor = colp[i - p];  // a(i, p)
      d = mulsub(d, factor, factor);
      const std::int64_t reach = std::min(p + band.m, l) - i;  // rows i+1..i+reach
      if (reach > 0) {
        loadlanes(source, colp + (i + 1 - p), reach);
        subtractproductfirst(x, source, factor, reach);
      }
    }
    if (i > f && band.m > 0) {  // p = i-1: a(i, i-1) is lane 0 of the column before
      const T factor = lane(previous, 0);
      d = mulsub(d, factor, factor);
      droplane(source, previous);
      subtractproductfirst(x, source, factor, std::min(i - 1 + band.m, l) - i);
    }
    coli[0] = d;
    if (pivotrejected(tolerance, d)) {
      storelanes(x, coli + 1, below);
      info[flagindex - 1] = 1;  // info(flagindex)
      return;
    }
    coli[0] = principalsqrt(d);
    dividelanes(x, coli[0]);
    storelanes(x, coli + 1, below);
    previous = x;
  }
}

// For each column i of the block: every element (r, i), i <= r <= min(i+M, l),
// receives a(r, i) - a(r, p)*a(i, p) for p = max(f, i-M)..i-1 in increasing
// order (the rows the column p reaches); then the pivot test on the updated
// diagonal d, a(i, i) <- sqrt(d), and each a(r, i), r > i, divided by the
// stored a(i, i). The order in which rows are visited does not change any
// element's operations.
template <class T>
void decompose(T* a, const std::int32_t& m, const std::int32_t& first, const std::int32_t& last,
               const real_t<T>& tolerance, std::int32_t* info, const std::int32_t& flagindex) {
  const band_matrix<T> band{a, m};
  // Row and column bounds in 64 bits: i + M may pass 2^31 - 1.
  const std::int64_t f = first, l = last;
  constexpr int widest = widestlanes<T>;
  if (band.m <= 4) return decomposelanes<T, 4>(band, f, l, tolerance, info, flagindex);
  if constexpr (widest >= 8) {
    if (band.m <= 8) return decomposelanes<T, 8>(band, f, l, tolerance, info, flagindex);
  }
  if constexpr (widest == 16) {
    if (band.m <= 16) return decomposelanes<T, 16>(band, f, l, tolerance, info, flagindex);
  }
  for (std::int64_t i = f; i <= l; ++i) {
    const std::int64_t p0 = std::max(f, i - band.m);  // first column that reaches column i
    const std::int64_t lastrow = std::min(i + band.m, l);

    std::int64_t r = i;
    for (; r + rowgroup - 1 <= lastrow; r += rowgroup) updategroup(band, i, r, p0);
    for (; r <= lastrow; ++r) updaterow(band, i, r, p0);

    T* const coli = band.column(i);  // element (r, i) at coli[r - i]
    const T d = coli[0];
    if (pivotrejected(tolerance, d)) {
      info[flagindex - 1] = 1;  // info(flagindex)
      return;
    }
    coli[0] = principalsqrt(d);
    scalecolumn(coli + 1, coli[0], lastrow - i);
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
