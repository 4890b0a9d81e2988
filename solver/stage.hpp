// The stage scheme shared by the stage-wise parallel kernels (factorization,
// substitution, and factorization with the substitution carried along).
//
// The rows are taken in stages. A forward stage starts at row k and covers
// the block D of rows k..k+q-1; a backward stage ends at row j and covers
// rows j-w+1..j. Within a stage the tasks take pieces, ranges of rows handed
// out in order from a shared cursor under the solve's lock, the lead piece
// (the one that covers D) first. At the end of every stage the tasks meet on
// one of the solve's two events, alternately (the event phase, 1 or 2); the
// last to arrive advances the stage and its cursor, arms the other event and
// releases the rest. Every piece writes only its own rows, and reads only
// rows made final in earlier stages or by itself, so the arithmetic runs
// without the lock.
//
// Every element of the factor receives its updates in increasing source
// column, then its division, exactly as in one call of the column kernel
// over columns 1..N; every forward unknown receives its updates in
// increasing column order; the backward unknowns group their terms by stage.
// None of it depends on which task takes which piece, so the results are
// the same, bit for bit, for every task count.
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>

#include "solver/band.hpp"
#include "solver/columnkernel.hpp"
#include "solver/csp.hpp"
#include "solver/element.hpp"
#include "solver/team.hpp"

namespace stagewise {

// ---------------------------------------------------------------------------
// Stage control
// ---------------------------------------------------------------------------

// Takes the next piece of the forward stage that starts at row k: the lead
// piece (r1 = k) has leadwidth rows, every other piece width rows; pieces are
// handed out while their first row is <= limit. Returns false when none is
// left, with the lock still held: endstage releases it.
inline bool takeforward(const std::int32_t& lockid, std::int64_t k, std::int64_t& knext,
                        std::int64_t limit, std::int64_t n, std::int64_t leadwidth,
                        std::int64_t width, std::int64_t& r1, std::int64_t& r2) {
  lockonparallellock(lockid);
  r1 = knext;
  if (r1 > limit) return false;
  const std::int64_t rows = r1 == k ? leadwidth : width;
  knext = r1 + rows;
  unlockparallellock(lockid);
  r2 = std::min(n, r1 + rows - 1);
  return true;
}

// Takes the next piece of a backward stage: rows r1..r2 with r2 = jnext and
// width rows (fewer at row 1), handed out while r2 >= limit. Returns false,
// lock held, when none is left.
inline bool takebackward(const std::int32_t& lockid, std::int64_t& jnext, std::int64_t limit,
                         std::int64_t width, std::int64_t& r1, std::int64_t& r2) {
  lockonparallellock(lockid);
  r2 = jnext;
  if (r2 < limit) return false;
  jnext = r2 - width;
  unlockparallellock(lockid);
  r1 = std::max<std::int64_t>(1, r2 - width + 1);
  return true;
}

// Ends this task's share of a stage: releases the lock taken by the failed
// take and arrives at the barrier of the phase. The last to arrive, while
// every other task is held in the barrier, moves the stage by step, points
// the cursor at the new stage, arms the other event and releases the rest.
inline void endstage(const std::int32_t& lockid, std::int32_t* eventids, std::int32_t phase,
                     const std::int32_t& ntasks, std::int64_t& stage, std::int64_t& next,
                     std::int64_t step) {
  unlockparallellock(lockid);
  if (arrivelast(eventids[phase - 1])) {
    stage += step;
    next = stage;
    releasebarrier(eventids, phase, ntasks);
  }
}

// One task's forward stages, from the stage at kstage until kstage passes n:
// piece(k, r1, r2, phase) does the work of each piece the task takes in the
// stage that starts at row k (the lead piece when r1 = k). Pieces are handed
// out while their first row is <= min(n, k+m), the last row any unknown or
// column of the previous block still reaches. With info given, a stage that
// ended with its phase's flag set stops every task: returns false. phase
// (in/out) is the event phase of the first stage, and of the one after the
// last on return.
template <class Piece>
bool forwardstages(std::int64_t n, std::int64_t m, std::int64_t q, std::int64_t width,
                   const std::int32_t& lockid, std::int32_t* eventids, const std::int32_t& ntasks,
                   std::int64_t& kstage, std::int64_t& knext, const std::int32_t* info,
                   std::int32_t& phase, Piece piece) {
  for (std::int64_t k = kstage; k <= n; k = kstage) {
    const std::int64_t limit = std::min(n, k + m);
    std::int64_t r1 = 0, r2 = 0;
    while (takeforward(lockid, k, knext, limit, n, q, width, r1, r2)) piece(k, r1, r2, phase);
    endstage(lockid, eventids, phase, ntasks, kstage, knext, q);
    if (info != nullptr && info[phase - 1] != 0) return false;
    phase = 3 - phase;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Arithmetic of one piece
// ---------------------------------------------------------------------------

// b(i), 1-based, of a right-hand side.
template <class T>
inline T& at(T* b, std::int64_t i) {
  return b[i - 1];
}

// Rows rfirst..rlast of column j receive the updates from columns
// pfirst..plast in increasing order: a(r, j) <- a(r, j) - a(r, p)*a(j, p),
// for the rows r <= p+M of column p's band. Requires p >= j-M, so that
// a(j, p) lies in column p's band.
template <class T>
void updatecolumn(band_matrix<T> a, std::int64_t j, std::int64_t pfirst, std::int64_t plast,
                  std::int64_t rfirst, std::int64_t rlast) {
  T* __restrict const target = a.column(j) + (rfirst - j);  // element (rfirst, j) onwards
  for (std::int64_t p = pfirst; p <= plast; ++p) {
    const T* const cp = a.column(p);
    const T* __restrict const source = cp + (rfirst - p);  // element (rfirst, p) onwards
    const T ajp = cp[j - p];
    const std::int64_t count = std::min(p + a.m, rlast) - rfirst + 1;
    for (std::int64_t k = 0; k < count; ++k) target[k] = mulsub(target[k], source[k], ajp);
  }
}

// Finishes rows r1..r2 (all below the block) of the columns pfirst..plast
// of the previous block: every update from the columns before each one,
// then the division by its diagonal. Afterwards these rows are final.
template <class T>
void finishrows(band_matrix<T> a, std::int64_t pfirst, std::int64_t plast, std::int64_t r1,
                std::int64_t r2) {
  for (std::int64_t j = pfirst; j <= plast; ++j) {
    updatecolumn(a, j, std::max<std::int64_t>(1, r1 - a.m), j - 1, r1, r2);
    T* const cj = a.column(j);
    const T ajj = cj[0];
    const std::int64_t last = std::min(j + a.m, r2);
    for (std::int64_t r = r1; r <= last; ++r) cj[r - j] = div(cj[r - j], ajj);
  }
}

// The diagonal block r1..r2 receives every update from the columns before
// r1, which are final in these rows, so that the column kernel can factor it.
template <class T>
void updatelead(band_matrix<T> a, std::int64_t r1, std::int64_t r2) {
  for (std::int64_t j = r1; j <= r2; ++j) {
    updatecolumn(a, j, std::max<std::int64_t>(1, j - a.m), r1 - 1, j, r2);
  }
}

// Forward substitution, rows r1..r2 of b receive the contributions of the
// unknowns pfirst..plast (final): b(r) <- b(r) - a(r, c)*b(c), column by
// column in increasing order.
template <class T>
void forwardapply(band_matrix<const T> a, T* b, std::int64_t pfirst, std::int64_t plast,
                  std::int64_t r1, std::int64_t r2) {
  for (std::int64_t c = pfirst; c <= plast; ++c) {
    const T* const cc = a.column(c);
    const T bc = at(b, c);
    const std::int64_t last = std::min(c + a.m, r2);
    for (std::int64_t r = r1; r <= last; ++r) at(b, r) = mulsub(at(b, r), cc[r - c], bc);
  }
}

// Forward substitution inside the diagonal block r1..r2, column by column.
template <class T>
void forwardsolve(band_matrix<const T> a, T* b, std::int64_t r1, std::int64_t r2) {
  for (std::int64_t i = r1; i <= r2; ++i) {
    const T* const ci = a.column(i);
    const T bi = at(b, i) = div(at(b, i), ci[0]);
    const std::int64_t last = std::min(i + a.m, r2);
    for (std::int64_t r = i + 1; r <= last; ++r) at(b, r) = mulsub(at(b, r), ci[r - i], bi);
  }
}

// Backward substitution, rows r1..r2 of b receive the terms of the unknowns
// j+1..h (final): b(i) <- b(i) - a(r, i)*b(r), r in increasing order.
template <class T>
void backwardapply(band_matrix<const T> a, T* b, std::int64_t j, std::int64_t h, std::int64_t r1,
                   std::int64_t r2) {
  for (std::int64_t i = r1; i <= r2; ++i) {
    const T* const ci = a.column(i);
    const std::int64_t last = std::min(i + a.m, h);
    T sum = at(b, i);
    for (std::int64_t r = j + 1; r <= last; ++r) sum = mulsub(sum, ci[r - i], at(b, r));
    at(b, i) = sum;
  }
}

// Backward substitution inside the diagonal block r1..r2, from its last row
// up: each row takes the terms of the block's later rows, then its division.
template <class T>
void backwardsolve(band_matrix<const T> a, T* b, std::int64_t r1, std::int64_t r2) {
  for (std::int64_t i = r2; i >= r1; --i) {
    const T* const ci = a.column(i);
    const std::int64_t last = std::min(i + a.m, r2);
    T sum = at(b, i);
    for (std::int64_t r = i + 1; r <= last; ++r) sum = mulsub(sum, ci[r - i], at(b, r));
    at(b, i) = div(sum, ci[0]);
  }
}

// ---------------------------------------------------------------------------
// The phases
// ---------------------------------------------------------------------------

// One task's share of the factorization in stages of q columns, with the
// forward substitution of b carried along when b is not null. In the stage
// of block D = k..k+q-1 every piece (lead: D's rows; others: 2q rows below)
// finishes its rows of the previous block's columns P and applies P's
// unknowns to its rows of b; the lead piece then updates D from the columns
// before it, factors it with the column kernel (flag info(phase) on a
// rejected pivot) and solves D's rows of b. Returns false when a pivot was
// rejected; every task then stops after that stage's barrier.
template <class T>
bool factorphase(T* a, const std::int32_t& n, const std::int32_t& m, T* b, const std::int32_t& q,
                 const std::int32_t& lockid, std::int32_t* eventids, const std::int32_t& ntasks,
                 std::int64_t& kstage, std::int64_t& knext, const real_t<T>& tolerance,
                 std::int32_t* info, std::int32_t& phase) {
  const band_matrix<T> l{a, m};
  const band_matrix<const T> lread{a, m};
  const std::int64_t width = q;
  auto piece = [&](std::int64_t k, std::int64_t r1, std::int64_t r2, std::int32_t flag) {
    const std::int64_t pfirst = std::max<std::int64_t>(1, k - width);
    finishrows(l, pfirst, k - 1, r1, r2);
    if (b != nullptr) forwardapply(lread, b, pfirst, k - 1, r1, r2);
    if (r1 != k) return;
    updatelead(l, r1, r2);
    const std::int32_t first = static_cast<std::int32_t>(r1);
    const std::int32_t last = static_cast<std::int32_t>(r2);
    kernel::columnkernel(a, m, first, last, tolerance, info, flag);
    if (b != nullptr && info[flag - 1] == 0) forwardsolve(lread, b, r1, r2);
  };
  return forwardstages(n, m, width, 2 * width, lockid, eventids, ntasks, kstage, knext, info,
                       phase, piece);
}

// One task's share of the backward substitution L^T*x = y in stages of
// `width` rows, from the stage that ends at row jstage down to row 1. In
// the stage of block D = j-width+1..j every piece (width rows, the lead one
// D itself) subtracts from its rows of b the terms of the previous block's
// unknowns j+1..h; the lead piece then solves D. phase (in/out) runs on
// from the forward stages.
template <class T>
void backwardphase(const T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                   std::int64_t width, const std::int32_t& lockid, std::int32_t* eventids,
                   const std::int32_t& ntasks, std::int64_t& jstage, std::int64_t& jnext,
                   std::int32_t& phase) {
  const band_matrix<const T> l{a, m};
  for (std::int64_t j = jstage, h = n; j >= 1; h = j, j = jstage) {
    const std::int64_t limit = std::max<std::int64_t>(1, j - m);
    std::int64_t r1 = 0, r2 = 0;
    while (takebackward(lockid, jnext, limit, width, r1, r2)) {
      backwardapply(l, b, j, h, r1, r2);
      if (r2 == j) backwardsolve(l, b, r1, r2);
    }
    endstage(lockid, eventids, phase, ntasks, jstage, jnext, -width);
    phase = 3 - phase;
  }
}

}  // namespace stagewise
