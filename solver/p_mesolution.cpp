// Parallel factor-and-solve kernel: one task's share of the block-hierarchy
// sweep (nested dissection of the band) that factors A = L*L^T and solves
// A*X = B in one go.
//
// The columns are cut into blocks of q >= M+1 columns, so that two blocks
// with a whole block between them share no band entry. At level 1 the odd
// blocks are interior and are factored independently; the even blocks
// between them are separators, which receive the Schur-complement updates
// of their two neighbours and a new coupling (fill) with each other. The
// separators form the same problem one level up with twice the spacing,
// until one block remains; the backward passes then solve from the top
// level down. The pass schedule and the counter updates are in schedule.hpp.
//
// Every value is computed by exactly one task, with the same operations in
// the same order whatever the task count, so the results do not depend on
// how many tasks run or which task takes which block. Within a pass no two
// blocks write the same element, nor read one that another writes, except
// the failure flag, which is read and set atomically.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "runtime/runtime.hpp"
#include "solver/band.hpp"
#include "solver/columnkernel.hpp"
#include "solver/csp.hpp"
#include "solver/element.hpp"
#include "solver/loops.hpp"
#include "solver/schedule.hpp"
#include "solver/scratch.hpp"
#include "solver/sweepgroup.hpp"
#include "solver/sweepsteps.hpp"
#include "solver/team.hpp"

namespace kernel {
namespace {

using sweep::pass;

// The coupling steps run on sets of W lanes, W = 4, 8 or 16, the narrowest
// that holds M and at most widestlanes (one vector register of the target:
// with AVX-512 16 floats, 8 doubles, 8 complex numbers in two registers).
// W sums run side by side in them, so that each sum's chain of additions
// does not wait for the one before. Two of the steps keep M+1 sets of lanes
// (up to 128 KiB) in the task's heap scratch: for M > maxlaneband, or when
// that scratch cannot be allocated, they take the plain loops instead, which
// follow the algorithm's loop order literally and give the same bits. (The
// lanes beat the plain loops by about 2x at M = 512.)
constexpr std::int64_t maxlaneband = 1024;

// Bytes of the M+1 sets of W lanes of those steps; 0 beyond maxlaneband.
template <class T, int W>
std::size_t windowbytes(const sweepdata<T>& s) {
  return s.m > maxlaneband ? 0 : static_cast<std::size_t>(s.m + 1) * sizeof(lanes<T, W>);
}

// The M+1 sets of W lanes in the task's scratch; nullptr where the plain
// loops run.
template <class T, int W>
lanes<T, W>* lanewindow(const sweepdata<T>& s) {
  const std::size_t bytes = windowbytes<T, W>(s);
  return bytes == 0 ? nullptr : static_cast<lanes<T, W>*>(threadscratch(bytes));
}

// target(i) <- target(i) - source_k(i)*factor_k for k = 0..terms-1 in
// increasing k, i = 0..count-1: source_k at source + k*ld, factor_k at
// factor[k*step]. Each target element keeps its terms' order; the rows go W
// at a time in lanes, and a target row is loaded and stored once.
template <class T, int W>
void subtractcolumns(T* target, std::int64_t count, const T* source, std::int64_t ld,
                     const T* factor, std::int64_t step, std::int64_t terms) {
  for (std::int64_t i = 0; i < count; i += W) {
    const std::int64_t rows = std::min<std::int64_t>(W, count - i);
    lanes<T, W> y, x;
    loadlanes(y, target + i, rows);
    for (std::int64_t k = 0; k < terms; ++k) {
      loadlanes(x, source + k * ld + i, rows);
      subtractproduct(y, x, factor[k * step], tinylanes(x));
    }
    storelanes(y, target + i, rows);
  }
}

// ---------------------------------------------------------------------------
// Failure flag
// ---------------------------------------------------------------------------

// info(phase), read by every task while any task may set it.
inline bool flagset(std::int32_t* info, std::int32_t phase) {
  return std::atomic_ref<std::int32_t>(info[phase - 1]).load(std::memory_order_relaxed) != 0;
}

// Factors the diagonal block f..l with the column kernel. The kernel reports
// a rejected pivot in a flag of this task's own, which is then raised in the
// shared info(phase). False when the flag of the pass is set, by this block
// or by another task's: the task then takes no further block.
template <class T>
bool factorblock(const sweepdata<T>& s, std::int64_t f, std::int64_t l,
                 const real_t<T>& tolerance, std::int32_t* info, std::int32_t phase) {
  std::int32_t own[2] = {0, 0};
  const std::int32_t m = static_cast<std::int32_t>(s.m);
  const std::int32_t first = static_cast<std::int32_t>(f), last = static_cast<std::int32_t>(l);
  columnkernel(s.a.a, m, first, last, tolerance, own, phase);
  if (own[phase - 1] != 0) {
    std::atomic_ref<std::int32_t>(info[phase - 1]).store(1, std::memory_order_relaxed);
  }
  return !flagset(info, phase);
}

// ---------------------------------------------------------------------------
// Arithmetic shared by the passes
// ---------------------------------------------------------------------------

// The same solve with W columns at a time in lanes, taken row by row: row p
// is divided by a(p, p) and then updates the rows p+1..min(p+M, l), which
// wait in a ring of M+1 sets of lanes (row r in slot (r - f) mod (M+1)).
// Every element still receives its updates in increasing p and its division
// after them. loadrow(r, c0, x) sets x to the columns c0+1..c0+W of row r
// as they stand before the solve; the solved rows go back to coupling. The
// ring is `window`, M+1 sets of lanes.
template <class T, int W, class Loadrow>
void solveleftlanes(const sweepdata<T>& s, std::int64_t f, std::int64_t l, std::int64_t count,
                    lanes<T, W>* window, Loadrow loadrow) {
  const std::int64_t slots = s.m + 1;
  for (std::int64_t c0 = 0; c0 < count; c0 += W) {
    const std::int64_t width = std::min<std::int64_t>(W, count - c0);
    rowwriter<T, W> solved(&s.coupling(f, c0 + 1), s.n, width);
    for (std::int64_t r = f; r <= std::min(f + s.m, l); ++r) loadrow(r, c0, window[r - f]);
    std::int64_t slot = 0;  // the slot of row p
    for (std::int64_t p = f; p <= l; ++p) {
      lanes<T, W>& row = window[slot];
      dividelanes(row, s.a(p, p), tinylanes(row));
      solved.put(p - f, row);
      const bool tiny = tinylanes(row);
      std::int64_t target = slot;
      for (std::int64_t r = p + 1; r <= std::min(p + s.m, l); ++r) {
        target = target + 1 == slots ? 0 : target + 1;
        subtractproduct(window[target], row, s.a(r, p), tiny);
      }
      if (p + slots <= l) loadrow(p + slots, c0, row);  // row p's slot is free now
      slot = slot + 1 == slots ? 0 : slot + 1;
    }
    solved.flush();
  }
}

// Columns 1..M of the coupling rows f..l <- L_BB^-1 times them.
template <class T, int W>
void solveleft(const sweepdata<T>& s, std::int64_t f, std::int64_t l) {
  lanes<T, W>* const window = lanewindow<T, W>(s);
  if (window == nullptr) {
    solveleft(s, f, l, s.m);
  } else {
    // The rows of columns c0+1..c0+W, read W rows at a time.
    std::int64_t columns = -1;
    rowreader<T, W> rows(nullptr, 0, 0, 0);
    auto couplingrow = [&](std::int64_t r, std::int64_t c0, lanes<T, W>& x) {
      if (c0 != columns) {
        columns = c0;
        rows = rowreader<T, W>(&s.coupling(f, c0 + 1), s.n, std::min<std::int64_t>(W, s.m - c0),
                               l - f + 1);
      }
      x = rows.row(r - f);
    };
    solveleftlanes<T, W>(s, f, l, s.m, window, couplingrow);
  }
}

// b(f..l, h) <- L_BB^-1 b(f..l, h) for every right-hand side. With M <= W
// the M rows below the current one wait in one set of lanes (row p+1+k in
// lane k) instead of being stored and read back row after row: a row's
// division feeds the next at once, and the terms a row gives the rows below
// are one lane operation.
template <class T, int W>
void forwardsolve(const sweepdata<T>& s, std::int64_t f, std::int64_t l) {
  if (s.m == 0 || s.m > W) {
    forwardcolumns(s, f, l);
    return;
  }
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    lanes<T, W> below, column;  // below: rows p.. as the loop reaches p
    loadlanes(below, &s.b(f, h), std::min(s.m, l - f + 1));
    for (std::int64_t p = f; p <= l; ++p) {
      const T value = div(lane(below, 0), s.a(p, p));
      s.b(p, h) = value;
      droplane(below, below);
      if (p + s.m <= l) setlane(below, s.m - 1, s.b(p + s.m, h));  // row p+M's first term
      const std::int64_t count = std::min(s.m, l - p);  // rows p+1..p+count
      if (count > 0) {
        loadlanes(column, &s.a(p + 1, p), count);
        subtractproductfirst(below, column, value, count);
      }
    }
  }
}

// b(f..l, h) <- L_BB^-T b(f..l, h) for every right-hand side, each row's
// terms subtracted in increasing row order before its division. With
// M <= W the solved rows p+2..p+M+1 wait in one set of lanes and give their
// products with column p in one lane operation, before row p+1 is known;
// row p+1's term, which is, comes straight from a register.
template <class T, int W>
void backwardsolve(const sweepdata<T>& s, std::int64_t f, std::int64_t l) {
  if (s.m == 0 || s.m > W) {
    backwardcolumns(s, f, l);
    return;
  }
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    lanes<T, W> later, column, products;  // later: rows p+2.. (zero past l)
    clearlanes(later);
    T next{};  // row p+1
    for (std::int64_t p = l; p >= f; --p) {
      const std::int64_t count = std::min(s.m, l - p);  // rows p+1..p+count
      T x = s.b(p, h);
      if (count > 0) {
        x = mulsub(x, s.a(p + 1, p), next);
        if (count > 1) {
          loadlanes(column, &s.a(p + 2, p), count - 1);
          multiplylanes(products, column, later);
          T term[W];
          storelanes(products, term, W);
          for (std::int64_t k = 0; k < count - 1; ++k) x = x - term[k];
        }
        pushlane(later, next);
      }
      next = div(x, s.a(p, p));
      s.b(p, h) = next;
    }
  }
}

// ---------------------------------------------------------------------------
// Block work of the first interior pass (level 1)
// ---------------------------------------------------------------------------

// The left coupling of a level-1 block, gathered and solved: the band
// entries between the block's rows f..l and the last columns j0..f-1 of its
// left separator become L_BB^-1 times them in coupling columns 1..f-j0. The
// lane path reads each row straight from the band as the solve reaches it,
// instead of gathering the columns first: the gathered values are the same
// and every one of them is overwritten by the solve.
template <class T, int W>
void leftcoupling(const sweepdata<T>& s, std::int64_t f, std::int64_t l) {
  lanes<T, W>* const window = lanewindow<T, W>(s);
  if (window == nullptr) {
    solveleft(s, f, l, gatherleft(s, f, l));
  } else {
    const std::int64_t j0 = std::max<std::int64_t>(f - s.m, 1), count = f - j0;
    // Row r of columns c0+1..c0+W: a(r, j0+k-1) for the columns k whose
    // band reaches row r (j0+k-1+M >= r), zero in the others.
    auto bandrow = [&s, j0, count](std::int64_t r, std::int64_t c0, lanes<T, W>& x) {
      const std::int64_t first = std::max<std::int64_t>(r - s.m - j0, 0);  // 0-based column
      const std::int64_t end = std::min<std::int64_t>(W, count - c0);
      const std::int64_t begin = std::min(std::max<std::int64_t>(first - c0, 0), end);
      gatherlanes(x, &s.a(r, j0 + c0), s.m, begin, end);
    };
    solveleftlanes<T, W>(s, f, l, count, window, bandrow);
  }
}

template <class T, int W>
bool firstinteriorblock(const sweepdata<T>& s, std::int64_t f, std::int64_t l,
                        const real_t<T>& tolerance, std::int32_t* info, std::int32_t phase) {
  if (!factorblock(s, f, l, tolerance, info, phase)) return false;
  leftcoupling<T, W>(s, f, l);
  rightfactor(s, f, l);
  forwardsolve<T, W>(s, f, l);
  return true;
}

// ---------------------------------------------------------------------------
// Block work of a separator pass
// ---------------------------------------------------------------------------

// Schur-complement update from the right neighbour (rows sfirst..slast),
// whose coupling rows hold L^-1 times its coupling with this block's last
// M columns: the last M x M diagonal block loses
//   sigma(c, c') = sum over r of coupling(r, c')*coupling(r, c), c <= c',
// each sum formed from zero in increasing r, and the last M rows of b the
// matching terms. The W sums c' = c0+1..c0+W of one column c share a set of
// lanes (the lanes c' < c are formed and not used), and W columns c run
// over the rows together, read W rows at a time.
template <class T, int W>
void updatefromright(const sweepdata<T>& s, std::int64_t l, std::int64_t sfirst,
                     std::int64_t slast) {
  const std::int64_t corner = l - s.m;  // coupling column c stands for column corner + c
  const std::int64_t rows = slast - sfirst + 1;
  for (std::int64_t c0 = 0; c0 < s.m; c0 += W) {
    const std::int64_t width = std::min<std::int64_t>(W, s.m - c0);
    for (std::int64_t ct = 0; ct <= c0; ct += W) {  // the sums of columns c = ct+1..ct+W
      lanes<T, W> sigma[W] = {};
      if (ct == c0) {  // the factors coupling(r, c) are lanes of the row (zero beyond M)
        for (std::int64_t r0 = sfirst; r0 <= slast; r0 += W) {
          lanes<T, W> tile[W];
          const std::int64_t count = std::min<std::int64_t>(W, slast - r0 + 1);
          readrows(tile, &s.coupling(r0, c0 + 1), s.n, width, count);
#pragma GCC unroll 16
          for (int i = 0; i < W; ++i) {
            // A row whose products all round to zero leaves every sum as it
            // is: a sum starts at +0 and gains terms by addition, so it is
            // never -0, and adding a zero of either sign changes nothing
            // else. (Rows past the block are zero.)
            if (negligiblelanes(tile[i])) continue;
            const bool tiny = tinylanes(tile[i]);
#pragma GCC unroll 16
            for (int k = 0; k < W; ++k) addproduct(sigma[k], tile[i], lane(tile[i], k), tiny);
          }
        }
      } else {  // a full group of columns of an earlier chunk
        rowreader<T, W> x(&s.coupling(sfirst, c0 + 1), s.n, width, rows);
        for (std::int64_t r = sfirst; r <= slast; ++r) {
          const lanes<T, W>& row = x.row(r - sfirst);
          const bool tiny = tinylanes(row);
#pragma GCC unroll 16
          for (int i = 0; i < W; ++i) addproduct(sigma[i], row, s.coupling(r, ct + i + 1), tiny);
        }
      }
      for (std::int64_t i = 0; i < std::min<std::int64_t>(W, s.m - ct); ++i) {
        const std::int64_t c = ct + i + 1;
        T sums[W];
        storelanes(sigma[i], sums, W);
        for (std::int64_t k = std::max<std::int64_t>(c - c0 - 1, 0); k < width; ++k) {
          T& target = s.a(corner + c0 + k + 1, corner + c);
          target = target - sums[k];
        }
      }
    }
  }
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    for (std::int64_t c0 = 0; c0 < s.m; c0 += W) {
      const std::int64_t width = std::min<std::int64_t>(W, s.m - c0);
      lanes<T, W> y;
      loadlanes(y, &s.b(corner + c0 + 1, h), width);
      rowreader<T, W> x(&s.coupling(sfirst, c0 + 1), s.n, width, rows);
      for (std::int64_t r = sfirst; r <= slast; ++r) {
        const lanes<T, W>& row = x.row(r - sfirst);
        subtractproduct(y, row, s.b(r, h), tinylanes(row));
      }
      storelanes(y, &s.b(corner + c0 + 1, h), width);
    }
  }
}

// Schur-complement update from the left neighbour, whose last M columns
// start at column t+q-M: the factor entries of this block's first rows f..g
// in those columns are in coupling(f..g, 1..M). Updates the first M x M
// diagonal block and the first rows of b, then keeps the factor entries in
// savedcoupling for the backward pass.
template <class T, int W>
void updatefromleft(const sweepdata<T>& s, std::int64_t f, std::int64_t g, std::int64_t t) {
  const std::int64_t before = t + s.q - s.m - 1;  // column c of coupling is column before + c
  for (std::int64_t j = f; j <= g; ++j) {
    subtractcolumns<T, W>(&s.a(j, j), g - j + 1, &s.coupling(j, 1), s.n, &s.coupling(j, 1), s.n,
                          s.m);
  }
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    subtractcolumns<T, W>(&s.b(f, h), g - f + 1, &s.coupling(f, 1), s.n, &s.b(before + 1, h), 1,
                          s.m);
  }
  for (std::int64_t c0 = 0; c0 < s.m; c0 += W) {  // savedcoupling(c, j) holds rows as columns
    const std::int64_t width = std::min<std::int64_t>(W, s.m - c0);
    rowreader<T, W> rows(&s.coupling(f, c0 + 1), s.n, width, g - f + 1);
    for (std::int64_t r = f; r <= g; ++r) {
      storelanes(rows.row(r - f), &s.saved(c0 + 1, t + s.q + r - f), width);
    }
  }
}

// The same fill with W rows at a time in lanes: their factor entries are
// kept in lanes (column k in old[k-1], M sets), the rows start from zero and
// take the terms k = 1..M in order, W columns side by side; the band buffer
// ends as the row-by-row fill leaves it, holding the factor entries of row g.
template <class T, int W>
void filllanes(const sweepdata<T>& s, std::int64_t f, std::int64_t g, std::int64_t l,
               std::int64_t t, lanes<T, W>* old) {
  const std::int64_t before = t + s.q - s.m - 1;  // the neighbour's last M rows follow it
  for (std::int64_t r0 = f; r0 <= g; r0 += W) {
    const std::int64_t rows = std::min<std::int64_t>(W, g - r0 + 1);
    for (std::int64_t k = 1; k <= s.m; ++k) loadlanes(old[k - 1], &s.coupling(r0, k), rows);
    for (std::int64_t c0 = 0; c0 < s.m; c0 += W) {  // columns c0+1..c0+W
      const std::int64_t width = std::min<std::int64_t>(W, s.m - c0);
      lanes<T, W> x[W] = {};
      // The factors coupling(before+k, c) are the neighbour's rows, read as
      // lanes (zero beyond M).
      rowreader<T, W> neighbour(&s.coupling(before + 1, c0 + 1), s.n, width, s.m);
      for (std::int64_t k = 1; k <= s.m; ++k) {
        const lanes<T, W>& factors = neighbour.row(k - 1);
        const bool tiny = tinylanes(factors) || tinylanes(old[k - 1]);
#pragma GCC unroll 16
        for (int i = 0; i < W; ++i) subtractproduct(x[i], old[k - 1], lane(factors, i), tiny);
      }
      for (std::int64_t i = 0; i < width; ++i) storelanes(x[i], &s.coupling(r0, c0 + i + 1), rows);
    }
    if (r0 + rows - 1 == g) {
      for (std::int64_t k = 1; k <= s.m; ++k) s.a(f + k - 1, f - 1) = lane(old[k - 1], rows - 1);
    }
  }
  for (std::int64_t c = 1; c <= s.m; ++c) {
    for (std::int64_t r = g + 1; r <= l; ++r) s.coupling(r, c) = T(0);
  }
}

template <class T, int W>
void separatorblock(const sweepdata<T>& s, std::int64_t f, std::int64_t l, std::int64_t distance,
                    std::int64_t firstblock) {
  const std::int64_t right = f + distance, left = f - distance;
  const std::int64_t g = std::min(f + s.m - 1, s.n);  // last of the first M rows
  if (right <= s.n) updatefromright<T, W>(s, l, right, std::min(right + s.q - 1, s.n));
  if (left >= firstblock && s.m > 0) updatefromleft<T, W>(s, f, g, left);
  if (left > firstblock) {
    lanes<T, W>* const old = lanewindow<T, W>(s);
    if (old == nullptr) {
      fill(s, f, g, l, left + s.q - s.m - 1);
    } else {
      filllanes<T, W>(s, f, g, l, left, old);
    }
  }
}

// ---------------------------------------------------------------------------
// Block work of an interior pass (level 2 and up)
// ---------------------------------------------------------------------------

template <class T, int W>
bool interiorblock(const sweepdata<T>& s, std::int64_t f, std::int64_t l, std::int64_t distance,
                   std::int64_t firstblock, const real_t<T>& tolerance, std::int32_t* info,
                   std::int32_t phase) {
  if (!factorblock(s, f, l, tolerance, info, phase)) return false;
  const std::int64_t right = f + distance, left = f - distance;
  if (left >= firstblock) solveleft<T, W>(s, f, l);
  if (right <= s.n) solveright(s, l, right, std::min(right + s.m - 1, s.n));
  forwardsolve<T, W>(s, f, l);
  return true;
}

// ---------------------------------------------------------------------------
// Block work of a backward pass
// ---------------------------------------------------------------------------

// The block's separators at this level hold their solution: their terms
// leave b(f..l), then the block is solved with L_BB^T.
template <class T, int W>
void backwardblock(const sweepdata<T>& s, std::int64_t f, std::int64_t l,
                   std::int64_t distance) {
  const std::int64_t right = f + distance, left = f - distance;
  if (left > 0 && s.m > 0) {  // with M = 0 there is no coupling, nor a work array
    const std::int64_t before = left + s.q - s.m - 1;
    for (std::int64_t h = 1; h <= s.nrhs; ++h) {
      subtractcolumns<T, W>(&s.b(f, h), l - f + 1, &s.coupling(f, 1), s.n, &s.b(before + 1, h), 1,
                            s.m);
    }
  }
  if (right <= s.n && s.m > 0) {
    const std::int64_t rows = std::min(std::min(right + s.q - 1, s.n) - right + 1, s.m);
    const std::int64_t last = std::min(l + rows, s.n);
    for (std::int64_t h = 1; h <= s.nrhs; ++h) {
      subtractcolumns<T, W>(&s.b(l - s.m + 1, h), s.m, &s.saved(1, l + 1), s.m, &s.b(right, h), 1,
                            last - l);
    }
  }
  backwardsolve<T, W>(s, f, l);
}

// ---------------------------------------------------------------------------
// The sweep
// ---------------------------------------------------------------------------

// Takes the next blocks of the pass under the lock: f <- the counter, which
// advances by stride for each block taken. A whole group of `width` blocks
// is taken when its first and last block are regular (the bounds of
// regularity move one way with f, so those in between are too), else one
// block. Returns the number taken: 0, with the lock released, once f
// passes N.
template <class Regular>
std::int64_t takeblocks(const std::int32_t& lockid, std::int64_t& counter,
                        const std::int64_t& stride, std::int64_t n, std::int64_t width,
                        Regular regular, std::int64_t& f) {
  lockonparallellock(lockid);
  f = counter;
  std::int64_t count = 0;
  if (f <= n) {
    count = width > 1 && regular(f) && regular(f + (width - 1) * stride) ? width : 1;
    counter = f + count * stride;
  }
  unlockparallellock(lockid);
  return count;
}

// The work of pass p on the block with first column f. False when the
// pass's failure flag is set: the task then takes no further block.
template <class T, int W>
bool blockwork(const sweepdata<T>& s, pass p, std::int64_t f, std::int64_t distance,
               std::int64_t firstblock, const real_t<T>& tolerance, std::int32_t* info,
               std::int32_t phase) {
  const std::int64_t l = std::min(f + s.q - 1, s.n);
  switch (p) {
    case pass::firstinterior:
      return firstinteriorblock<T, W>(s, f, l, tolerance, info, phase);
    case pass::separator:
      separatorblock<T, W>(s, f, l, distance, firstblock);
      break;
    case pass::interior:
      return interiorblock<T, W>(s, f, l, distance, firstblock, tolerance, info, phase);
    case pass::backward:
      backwardblock<T, W>(s, f, l, distance);
      break;
    case pass::finished:
      break;
  }
  return true;
}

// Bytes of the local arrays of a group in pass p; 0 where the pass has no
// groups: without a band (M = 0), or with arrays beyond groupbytes.
template <class T>
std::size_t groupscratchbytes(const sweepdata<T>& s, pass p) {
  const std::int64_t size = groupsize(p, s.m, s.q, s.nrhs);
  if (s.m < 1 || size > groupcapacity<T>) return 0;
  return static_cast<std::size_t>(size) * sizeof(lanes<T, groupwidth<T>>);
}

// The local arrays of a group in pass p, in the task's scratch; nullptr
// where the pass goes block by block.
template <class T>
lanes<T, groupwidth<T>>* groupscratch(const sweepdata<T>& s, pass p) {
  const std::size_t bytes = groupscratchbytes(s, p);
  return bytes == 0 ? nullptr : static_cast<lanes<T, groupwidth<T>>*>(threadscratch(bytes));
}

// Grows the task's scratch at once to the most that the sweep's groups and
// lanes take, so that a task allocates once per sweep, and a thread's later
// sweeps of the same shape not at all. Should that fail, each step asks for
// its own share and, where even that fails, takes its path without scratch.
template <class T, int W>
void reservescratch(const sweepdata<T>& s) {
  std::size_t bytes = windowbytes<T, W>(s);
  for (const pass p : {pass::firstinterior, pass::separator, pass::interior, pass::backward}) {
    bytes = std::max(bytes, groupscratchbytes(s, p));
  }
  threadscratch(bytes);
}

// The work of pass p on a group of regular blocks, the first at column f,
// side by side in lanes. When a pivot of any of them is rejected, nothing
// of the group has been written back: the blocks are then worked one by
// one, which rejects the same pivot and raises the failure flag. So are
// they when the group's local arrays cannot be had.
template <class T, int W>
bool groupwork(const sweepdata<T>& s, pass p, std::int64_t f, std::int64_t stride,
               std::int64_t distance, std::int64_t firstblock, const real_t<T>& tolerance,
               std::int32_t* info, std::int32_t phase) {
  lanes<T, groupwidth<T>>* const scratch = groupscratch(s, p);
  bool factored = false;
  if (scratch != nullptr) {
    blockgroup<T> g(s, p, f, stride, scratch);
    switch (p) {
      case pass::firstinterior:
        factored = firstinteriorgroup(g, tolerance);
        break;
      case pass::separator:
        separatorgroup(g, distance);
        return true;
      case pass::interior:
        factored = interiorgroup(g, distance, tolerance);
        break;
      case pass::backward:
        backwardgroup(g, distance);
        return true;
      case pass::finished:
        return true;
    }
  }
  if (factored) return !flagset(info, phase);
  for (std::int64_t k = 0; k < groupwidth<T>; ++k) {
    if (!blockwork<T, W>(s, p, f + k * stride, distance, firstblock, tolerance, info, phase)) {
      return false;
    }
  }
  return true;
}

// Blocks per take in pass p: a group when the pass has groups and the task
// has their local arrays, else 1.
template <class T>
std::int64_t takewidth(const sweepdata<T>& s, pass p) {
  return groupscratch(s, p) != nullptr ? groupwidth<T> : 1;
}

// One task's share of the sweep, with W lanes within a block.
template <class T, int W>
void sweepwith(const sweepdata<T>& s, const std::int32_t& lockid, std::int32_t* eventids,
               const std::int32_t& ntasks, std::int64_t& level, std::int64_t& distance,
               std::int64_t& stride, std::int64_t& firstblock, std::int64_t& nextblock,
               std::int64_t& backblock, const real_t<T>& tolerance, std::int32_t* info) {
  reservescratch<T, W>(s);
  std::int32_t phase = 1;
  pass current = pass::firstinterior;
  while (current != pass::finished) {
    std::int64_t& counter = current == pass::backward ? backblock : nextblock;
    const std::int64_t width = takewidth(s, current);
    const auto regular = [&](std::int64_t f) {
      return regularblock(current, f, s.n, s.m, s.q, distance, firstblock);
    };
    bool going = true;  // false once the pass's failure flag is seen
    std::int64_t f = 0, taken = 0;
    while (going && (taken = takeblocks(lockid, counter, stride, s.n, width, regular, f)) > 0) {
      if (taken == 1) {
        going = blockwork<T, W>(s, current, f, distance, firstblock, tolerance, info, phase);
        continue;
      }
      // With the tasks taking groups in turn, this task's next group is
      // likely the one ntasks groups on: its reads from memory start now.
      const std::int64_t ahead = f + ntasks * width * stride;
      if (regular(ahead) && regular(ahead + (width - 1) * stride)) {
        prefetchgroup(s, current, ahead, stride, distance);
      }
      going = groupwork<T, W>(s, current, f, stride, distance, firstblock, tolerance, info, phase);
    }
    if (arrivelast(eventids[phase - 1])) {
      sweep::endpass(current, s.n, s.q, level, distance, stride, firstblock, nextblock,
                     backblock);
      releasebarrier(eventids, phase, ntasks);
    }
    if (sweep::factors(current) && flagset(info, phase)) return;
    phase = 3 - phase;
    // Under the lock: tasks released earlier may already be advancing
    // backblock in the next pass.
    lockonparallellock(lockid);
    current = sweep::followingpass(current, level, backblock);
    unlockparallellock(lockid);
  }
}

template <class T>
void p_mesolution(T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                  const std::int32_t& nrhs, T* savedcoupling, T* coupling,
                  const std::int32_t& lockid, std::int32_t* eventids, const std::int32_t& q,
                  const std::int32_t& ntasks, std::int64_t& level, std::int64_t& distance,
                  std::int64_t& stride, std::int64_t& firstblock, std::int64_t& nextblock,
                  std::int64_t& backblock, const real_t<T>& tolerance, std::int32_t* info) {
  const sweepdata<T> s{{a, m}, {b, n}, {coupling, n}, {savedcoupling, m}, n, m, q, nrhs};
  constexpr int widest = widestlanes<T>;
  if (s.m <= 4 || widest == 4) {
    sweepwith<T, 4>(s, lockid, eventids, ntasks, level, distance, stride, firstblock, nextblock,
                    backblock, tolerance, info);
  } else if (s.m <= 8 || widest == 8) {
    sweepwith<T, 8>(s, lockid, eventids, ntasks, level, distance, stride, firstblock, nextblock,
                    backblock, tolerance, info);
  } else {
    sweepwith<T, widest>(s, lockid, eventids, ntasks, level, distance, stride, firstblock,
                         nextblock, backblock, tolerance, info);
  }
}

}  // namespace

// p_mesolution_csp_4(a, n, m, b, nrhs, savedcoupling, coupling, lockid,
// eventids, q, ntasks, level, distance, stride, firstblock, nextblock,
// backblock, tolerance, info): one task's share of the factor-and-solve
// sweep; every task of a solve runs it with the same arguments.
//   a             (in/out) band matrix of order N, half bandwidth M;
//                          overwritten by factors and scratch
//   n             (in)     order N
//   m             (in)     half bandwidth M
//   b             (in/out) N x nrhs right-hand sides, leading dimension N;
//                          the solutions on return
//   nrhs          (in)     number of right-hand sides; <= 0: b not touched
//   savedcoupling (work)   M x N, leading dimension M
//   coupling      (work)   N x M, leading dimension N
//   lockid        (in)     parallel lock guarding nextblock and backblock
//   eventids      (in)     the two barrier events; eventids(1) armed for
//                          ntasks arrivals before any task starts
//   q             (in)     block width, q >= M + 1
//   ntasks        (in)     number of tasks running the kernel
//   level, distance, stride, firstblock, nextblock, backblock
//                 (in/out) shared sweep counters, 1, q, 2q, 1, 1, 0 at the
//                          start; 0, q/2, q, -, -, 1-q after a full sweep
//   tolerance     (in)     pivot threshold of the column kernel
//   info          (in/out) the two failure flags, zero at the start; info(1)
//                          is set to 1 when a pivot is rejected, and every
//                          task then returns after that pass's barrier
// _8, _z4 and _z8 alike; the complex kinds use products without
// conjugation and Smith's division.
void p_mesolution_csp_4(float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                        const std::int32_t& nrhs, float* savedcoupling, float* coupling,
                        const std::int32_t& lockid, std::int32_t* eventids,
                        const std::int32_t& q, const std::int32_t& ntasks, std::int64_t& level,
                        std::int64_t& distance, std::int64_t& stride, std::int64_t& firstblock,
                        std::int64_t& nextblock, std::int64_t& backblock,
                        const float& tolerance, std::int32_t* info) {
  p_mesolution(a, n, m, b, nrhs, savedcoupling, coupling, lockid, eventids, q, ntasks, level,
               distance, stride, firstblock, nextblock, backblock, tolerance, info);
}

void p_mesolution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                        const std::int32_t& nrhs, double* savedcoupling, double* coupling,
                        const std::int32_t& lockid, std::int32_t* eventids,
                        const std::int32_t& q, const std::int32_t& ntasks, std::int64_t& level,
                        std::int64_t& distance, std::int64_t& stride, std::int64_t& firstblock,
                        std::int64_t& nextblock, std::int64_t& backblock,
                        const double& tolerance, std::int32_t* info) {
  p_mesolution(a, n, m, b, nrhs, savedcoupling, coupling, lockid, eventids, q, ntasks, level,
               distance, stride, firstblock, nextblock, backblock, tolerance, info);
}

void p_mesolution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                         std::complex<float>* b, const std::int32_t& nrhs,
                         std::complex<float>* savedcoupling, std::complex<float>* coupling,
                         const std::int32_t& lockid, std::int32_t* eventids,
                         const std::int32_t& q, const std::int32_t& ntasks,
                         std::int64_t& level, std::int64_t& distance, std::int64_t& stride,
                         std::int64_t& firstblock, std::int64_t& nextblock,
                         std::int64_t& backblock, const float& tolerance, std::int32_t* info) {
  p_mesolution(a, n, m, b, nrhs, savedcoupling, coupling, lockid, eventids, q, ntasks, level,
               distance, stride, firstblock, nextblock, backblock, tolerance, info);
}

void p_mesolution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                         std::complex<double>* b, const std::int32_t& nrhs,
                         std::complex<double>* savedcoupling, std::complex<double>* coupling,
                         const std::int32_t& lockid, std::int32_t* eventids,
                         const std::int32_t& q, const std::int32_t& ntasks,
                         std::int64_t& level, std::int64_t& distance, std::int64_t& stride,
                         std::int64_t& firstblock, std::int64_t& nextblock,
                         std::int64_t& backblock, const double& tolerance, std::int32_t* info) {
  p_mesolution(a, n, m, b, nrhs, savedcoupling, coupling, lockid, eventids, q, ntasks, level,
               distance, stride, firstblock, nextblock, backblock, tolerance, info);
}

}  // namespace kernel
