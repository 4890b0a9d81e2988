// Many band systems of one order and half bandwidth at once: W of them side
// by side in vector lanes, system k in lane k of every element, so that
// each step of the factorization and of the substitutions is one lane
// operation for all W.
//
// Each system receives exactly the operations, in the same order, that the
// solver gives it alone where it takes the stage-wise path: the column
// kernel over columns 1..N (decompose_csp_X), then for each right-hand side
// the forward and the backward substitution of one stage. Its results are
// therefore the same bits as when it is solved alone, whatever its lane,
// its group or the number of systems.
#pragma once

#include <algorithm>
#include <cstdint>

#include "solver/band.hpp"
#include "solver/element.hpp"
#include "solver/loops.hpp"

namespace batched {

// The systems one group holds: two registers' worth of elements. Each
// system's steps form one long chain of dependent operations (a sum of M
// terms, then a square root or a division), so that one register's worth
// left the processor waiting on latencies; two independent ones fill them.
template <class T>
inline constexpr int width = widestlanes<T>;

// One element of the W systems of a group.
template <class T>
using group = lanes<T, width<T>>;

// A bit per lane: bit k for lane k.
using lanemask = std::uint32_t;

// The lanes whose pivot d is rejected (pivotrejected, lane by lane).
template <class T, int W>
lanemask rejectedlanes(const real_t<T>& tolerance, const lanes<T, W>& d) {
  lanemask rejected = 0;
  if constexpr (!is_complex_v<T>) {
    const auto passed = d.v > tolerance;  // false for NaN as well
    for (int k = 0; k < W; ++k) rejected |= passed[k] ? 0u : 1u << k;
  } else {
    for (int k = 0; k < W; ++k) {
      if (pivotrejected(tolerance, lane(d, k))) rejected |= 1u << k;
    }
  }
  return rejected;
}

// Lanes in `kept` from x, the others from y.
template <class T, int W>
lanes<T, W> blendlanes(lanemask kept, const lanes<T, W>& x, const lanes<T, W>& y) {
  lanes<T, W> z = y;
  for (int k = 0; k < W; ++k) {
    if ((kept >> k & 1u) != 0) putlane(z, k, lane(x, k));
  }
  return z;
}

// Rows are updated this many at a time, held in registers across all the
// columns that reach them.
inline constexpr std::int64_t rowgroup = 4;

// Rows r0..r0+rows-1 (rows <= rowgroup) of column i into x, each with its
// updates from the columns p = max(1, r-M)..i-1 in increasing order:
// a(r, i) - a(r, p)*a(i, p).
template <class T, int W>
void updaterows(const band_matrix<lanes<T, W>>& a, std::int64_t i, std::int64_t r0,
                std::int64_t rows, lanes<T, W> (&x)[rowgroup]) {
  const lanes<T, W>* const ci = a.column(i);
#pragma GCC unroll 4
  for (std::int64_t k = 0; k < rowgroup; ++k) {
    if (k < rows) x[k] = ci[r0 + k - i];
  }
  for (std::int64_t p = std::max<std::int64_t>(1, r0 - a.m); p <= i - 1; ++p) {
    const lanes<T, W>* const cp = a.column(p);
    const lanes<T, W> aip = cp[i - p];
#pragma GCC unroll 4
    for (std::int64_t k = 0; k < rowgroup; ++k) {
      if (k < rows && r0 + k <= p + a.m) x[k] = mulsub(x[k], cp[r0 + k - p], aip);
    }
  }
}

// Factors the W matrices of the group in place, A = L*L^T, column by
// column as the column kernel does: element (r, i) receives
// a(r, i) - a(r, p)*a(i, p) for p = max(1, r-M)..i-1 in increasing order,
// then the pivot test on the diagonal, a(i, i) <- sqrt(a(i, i)), and the
// division of the elements below it by a(i, i). A lane whose pivot is
// rejected at column i keeps column i as the column kernel leaves it (the
// updated values, undivided), its number in rejectedat[k], and is not
// looked at again: its later columns are left to hold whatever the other
// lanes' arithmetic makes of it. Returns the lanes rejected.
//
// arrive(i) is called before column i is first read, to put its elements
// in place; finished(i) once column i is final, for work that follows the
// factorization column by column while it is at hand.
template <class T, int W, class Arrive, class Finished>
lanemask factor(const band_matrix<lanes<T, W>>& a, std::int64_t n, const real_t<T>& tolerance,
                std::int64_t* rejectedat, Arrive arrive, Finished finished) {
  lanemask failed = 0;
  for (std::int64_t i = 1; i <= n; ++i) {
    arrive(i);
    lanes<T, W>* const ci = a.column(i);  // element (r, i) at ci[r - i]
    const std::int64_t last = std::min(i + a.m, n);
    lanes<T, W> x[rowgroup];
    updaterows(a, i, i, std::min(rowgroup, last - i + 1), x);
    const lanemask rejected = rejectedlanes(tolerance, x[0]) & ~failed;
    const lanes<T, W> diagonal = principalsqrt(x[0]);
    // The elements below the diagonal, divided; those of rejected lanes kept.
    const auto divided = [&](const lanes<T, W>& y) {
      const lanes<T, W> q = div(y, diagonal);
      return rejected == 0 ? q : blendlanes(rejected, y, q);
    };
    ci[0] = rejected == 0 ? diagonal : blendlanes(rejected, x[0], diagonal);
    for (std::int64_t r0 = i, k0 = 1; r0 <= last; r0 += rowgroup, k0 = 0) {
      const std::int64_t rows = std::min(rowgroup, last - r0 + 1);
      if (r0 > i) updaterows(a, i, r0, rows, x);
#pragma GCC unroll 4
      for (std::int64_t k = k0; k < rowgroup; ++k) {
        if (k < rows) ci[r0 + k - i] = divided(x[k]);
      }
    }
    for (int k = 0; k < W; ++k) {
      if ((rejected >> k & 1u) != 0) rejectedat[k] = i;
    }
    failed |= rejected;
    finished(i);
  }
  return failed;
}

// Row i of the forward substitution L*y = b for the group's right-hand
// sides b (N elements of W lanes), rows before i done, with the factor l,
// which gives element (i, j) of the W factors as l(i, j): b(i) takes the
// terms of the earlier unknowns in increasing order, then its division by
// the diagonal. This is the order in which the substitution of one stage
// gives each unknown its operations.
template <class T, int W, class Factor>
void forwardrow(const Factor& l, std::int64_t i, std::int64_t m, lanes<T, W>* b) {
  lanes<T, W> sum = b[i - 1];
  for (std::int64_t c = std::max<std::int64_t>(1, i - m); c <= i - 1; ++c) {
    sum = mulsub(sum, l(i, c), b[c - 1]);
  }
  b[i - 1] = div(sum, l(i, i));
}

// The backward substitution L^T*x = y, y in b: each unknown, from the last
// up, takes the terms of the later rows in increasing order before its
// division.
template <class T, int W, class Factor>
void backward(const Factor& l, std::int64_t n, std::int64_t m, lanes<T, W>* b) {
  for (std::int64_t i = n; i >= 1; --i) {
    const std::int64_t last = std::min(i + m, n);
    lanes<T, W> sum = b[i - 1];
    for (std::int64_t r = i + 1; r <= last; ++r) sum = mulsub(sum, l(r, i), b[r - 1]);
    b[i - 1] = div(sum, l(i, i));
  }
}

// Solves L*L^T*x = b for the group's right-hand sides b, x on return.
template <class T, int W, class Factor>
void substitute(const Factor& l, std::int64_t n, std::int64_t m, lanes<T, W>* b) {
  for (std::int64_t i = 1; i <= n; ++i) forwardrow(l, i, m, b);
  backward(l, n, m, b);
}

// The factors of a group, one per lane.
template <class T, int W>
struct groupfactor {
  band_matrix<const lanes<T, W>> band;
  lanes<T, W> operator()(std::int64_t i, std::int64_t j) const { return band(i, j); }
};

// One factor shared by every lane: its elements repeated across the lanes.
template <class T, int W>
struct sharedfactor {
  band_matrix<const T> band;
  lanes<T, W> operator()(std::int64_t i, std::int64_t j) const {
    lanes<T, W> x;
    const T value = band(i, j);
    if constexpr (is_complex_v<T>) {
      splat(x.re, value.real());
      splat(x.im, value.imag());
    } else {
      splat(x.v, value);
    }
    return x;
  }
};

}  // namespace batched
