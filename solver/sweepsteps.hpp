// The block work of the factor-and-solve sweep as plain loops over the
// algorithm's indices, written once for any element E that the element
// helpers take: a single element of the matrix's kind, or lanes of them
// holding W blocks of one pass side by side (lane k for block k, see
// sweepgroup.hpp). Each element of a block receives its operations in the
// algorithm's order, whatever E is; where a loop order differs from the
// algorithm's, its comment says why the order of each element is kept.
#pragma once

#include <algorithm>
#include <cstdint>

#include "solver/band.hpp"
#include "solver/element.hpp"

namespace kernel {

// The arrays of one solve (or of one group of blocks) and their sizes.
//   coupling(r, c), N x M: for the rows of an interior block, its coupling
//     with the last M columns of its left separator (L^-1 times it once the
//     block is factored); for the first M rows of a separator, the factor
//     entries of those rows in the last M columns of its left neighbour, and
//     after the separator pass the fill towards the next level;
//   savedcoupling(c, j), M x N: those factor entries of a separator's first
//     rows, kept for the backward passes; row r of separator R (first column
//     s) with left neighbour ending at column l is column l + 1 + (r - s).
template <class E>
struct sweepdata {
  band_matrix<E> a;          // a(i, j)
  column_major<E> b;         // b(i, h), leading dimension N
  column_major<E> coupling;  // coupling(r, c), leading dimension N
  column_major<E> saved;     // savedcoupling(c, j), leading dimension M
  std::int64_t n, m, q, nrhs;
};

// target(k) <- target(k) - source(k)*factor, k = 0..count-1, for two ranges
// that never overlap: the update step of every triangular solve here.
template <class E>
inline void update(E* __restrict target, const E* __restrict source, const E factor,
                   std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) target[k] = mulsub(target[k], source[k], factor);
}

// target(k) <- target(k) / divisor, k = 0..count-1.
template <class E>
inline void scale(E* __restrict target, const E divisor, std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) target[k] = div(target[k], divisor);
}

// The column kernel on the diagonal block f..l: for each column i, the
// updates from the earlier columns of the block in increasing order, the
// pivot test, the square root and the division of the rows below. False,
// with the block partly factored, at the first rejected pivot.
template <class E>
bool factorcolumns(const sweepdata<E>& s, std::int64_t f, std::int64_t l,
                   const real_t<E>& tolerance) {
  for (std::int64_t i = f; i <= l; ++i) {
    const std::int64_t last = std::min(i + s.m, l);
    for (std::int64_t p = std::max(f, i - s.m); p <= i - 1; ++p) {
      const E factor = s.a(i, p);
      update(&s.a(i, i), &s.a(i, p), factor, std::min(p + s.m, l) - i + 1);
    }
    if (pivotrejected(tolerance, s.a(i, i))) return false;
    s.a(i, i) = principalsqrt(s.a(i, i));
    scale(&s.a(i + 1, i), s.a(i, i), last - i);
  }
  return true;
}

// Columns 1..count of the coupling rows f..l <- L_BB^-1 times them, L_BB
// the factor of the diagonal block f..l in a. Row p is divided and then
// updates the rows below it in every column: each element still receives
// its updates in increasing p and its division after them, and the columns
// are independent chains that run side by side.
template <class E>
void solveleft(const sweepdata<E>& s, std::int64_t f, std::int64_t l, std::int64_t count) {
  for (std::int64_t p = f; p <= l; ++p) {
    const std::int64_t below = std::min(p + s.m, l) - p;
    for (std::int64_t k = 1; k <= count; ++k) {
      s.coupling(p, k) = div(s.coupling(p, k), s.a(p, p));
      update(&s.coupling(p + 1, k), &s.a(p + 1, p), s.coupling(p, k), below);
    }
  }
}

// Copies the band entries between the block's rows f..l and the last
// columns j0..f-1 of its left separator into coupling columns 1..f-j0.
template <class E>
std::int64_t gatherleft(const sweepdata<E>& s, std::int64_t f, std::int64_t l) {
  const std::int64_t j0 = std::max<std::int64_t>(f - s.m, 1);
  for (std::int64_t k = 1; k <= f - j0; ++k) {
    const std::int64_t j = j0 + k - 1;
    const std::int64_t last = std::min(j + s.m, l);
    for (std::int64_t r = f; r <= last; ++r) s.coupling(r, k) = s.a(r, j);
    for (std::int64_t r = last + 1; r <= l; ++r) s.coupling(r, k) = E{};
  }
  return f - j0;
}

// Turns the band entries between the right separator's first rows l+1..
// and the block's last columns j1..l into the factor entries of those rows:
// gathered into coupling, then solved from the right with L_BB^T.
template <class E>
void rightfactor(const sweepdata<E>& s, std::int64_t f, std::int64_t l) {
  if (l >= s.n) return;  // the last block has no right separator
  const std::int64_t j1 = std::max(l - s.m + 1, f);
  const std::int64_t rows = std::min(l + s.m, s.n);
  for (std::int64_t k = 1; k <= l - j1 + 1; ++k) {
    const std::int64_t j = j1 + k - 1;
    const std::int64_t last = std::min(j + s.m, s.n);
    for (std::int64_t r = l + 1; r <= last; ++r) s.coupling(r, k) = s.a(r, j);
    for (std::int64_t r = last + 1; r <= rows; ++r) s.coupling(r, k) = E{};
  }
  for (std::int64_t k = 1; k <= l - j1 + 1; ++k) {
    const std::int64_t j = j1 + k - 1;
    const std::int64_t last = std::min(j + s.m, s.n);  // rows of column j's band
    scale(&s.coupling(l + 1, k), s.a(j, j), last - l);
    for (std::int64_t p = j + 1; p <= std::min(j + s.m, l); ++p) {
      update(&s.coupling(l + 1, k + p - j), &s.coupling(l + 1, k), s.a(p, j), last - l);
    }
  }
}

// The right separator's first rows sfirst..slast hold its (reduced)
// coupling with the block's last M columns; they become the factor entries
// of those rows, by a solve from the right with L_BB^T.
template <class E>
void solveright(const sweepdata<E>& s, std::int64_t l, std::int64_t sfirst, std::int64_t slast) {
  for (std::int64_t c = 1; c <= s.m; ++c) {
    const std::int64_t j = l - s.m + c;
    scale(&s.coupling(sfirst, c), s.a(j, j), slast - sfirst + 1);
    for (std::int64_t p = j + 1; p <= l; ++p) {
      update(&s.coupling(sfirst, c + p - j), &s.coupling(sfirst, c), s.a(p, j),
             slast - sfirst + 1);
    }
  }
}

// b(f..l, h) <- L_BB^-1 b(f..l, h) for every right-hand side.
template <class E>
void forwardcolumns(const sweepdata<E>& s, std::int64_t f, std::int64_t l) {
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    for (std::int64_t p = f; p <= l; ++p) {
      s.b(p, h) = div(s.b(p, h), s.a(p, p));
      const std::int64_t last = std::min(p + s.m, l);
      if (last > p) update(&s.b(p + 1, h), &s.a(p + 1, p), s.b(p, h), last - p);
    }
  }
}

// b(f..l, h) <- L_BB^-T b(f..l, h) for every right-hand side, each row's
// terms subtracted in increasing row order before its division.
template <class E>
void backwardcolumns(const sweepdata<E>& s, std::int64_t f, std::int64_t l) {
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    for (std::int64_t p = l; p >= f; --p) {
      E x = s.b(p, h);
      const std::int64_t last = std::min(p + s.m, l);
      for (std::int64_t r = p + 1; r <= last; ++r) x = mulsub(x, s.a(r, p), s.b(r, h));
      s.b(p, h) = div(x, s.a(p, p));
    }
  }
}

// Schur-complement update of a separator from its right neighbour (rows
// sfirst..slast, L^-1 times its coupling with the separator's last M
// columns in its coupling rows): the last M x M diagonal block loses
//   sigma(c, c') = sum over r of coupling(r, c')*coupling(r, c), c <= c',
// each sum formed from zero in increasing r, and the last M rows of b the
// matching terms.
template <class E>
void sigmaupdate(const sweepdata<E>& s, std::int64_t l, std::int64_t sfirst,
                 std::int64_t slast) {
  const std::int64_t corner = l - s.m;  // coupling column c stands for column corner + c
  for (std::int64_t c = 1; c <= s.m; ++c) {
    for (std::int64_t cc = c; cc <= s.m; ++cc) {
      E sigma{};
      for (std::int64_t r = sfirst; r <= slast; ++r) {
        sigma = sigma + mul(s.coupling(r, cc), s.coupling(r, c));
      }
      E& target = s.a(corner + cc, corner + c);
      target = target - sigma;
    }
  }
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    for (std::int64_t c = 1; c <= s.m; ++c) {
      E x = s.b(corner + c, h);
      for (std::int64_t r = sfirst; r <= slast; ++r) x = mulsub(x, s.coupling(r, c), s.b(r, h));
      s.b(corner + c, h) = x;
    }
  }
}

// Schur-complement update of a separator's first rows f..g from its left
// neighbour (last M columns from column before+1 on), whose factor entries
// in those rows are in coupling(f..g, 1..M); the entries are then kept in
// savedcoupling for the backward pass, from column `savedfirst` on.
template <class E>
void leftupdate(const sweepdata<E>& s, std::int64_t f, std::int64_t g, std::int64_t before,
                std::int64_t savedfirst) {
  for (std::int64_t j = f; j <= g; ++j) {
    for (std::int64_t r = j; r <= g; ++r) {
      E x = s.a(r, j);
      for (std::int64_t c = 1; c <= s.m; ++c) x = mulsub(x, s.coupling(r, c), s.coupling(j, c));
      s.a(r, j) = x;
    }
  }
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    for (std::int64_t r = f; r <= g; ++r) {
      E x = s.b(r, h);
      for (std::int64_t c = 1; c <= s.m; ++c) x = mulsub(x, s.coupling(r, c), s.b(before + c, h));
      s.b(r, h) = x;
    }
  }
  for (std::int64_t r = f; r <= g; ++r) {
    for (std::int64_t c = 1; c <= s.m; ++c) s.saved(c, savedfirst + r - f) = s.coupling(r, c);
  }
}

// The fill between a separator's first rows f..g and the last M columns of
// the block two neighbours to the left, replacing the factor entries in
// coupling(f..g, 1..M); coupling rows g+1..l become zero. The left
// neighbour's last M rows, from row before+1 on, hold L^-1 times its own
// left coupling. The M band entries below the diagonal of column f-1 are no
// longer needed (they were gathered into coupling in the first interior
// pass) and buffer one row at a time.
template <class E>
void fill(const sweepdata<E>& s, std::int64_t f, std::int64_t g, std::int64_t l,
          std::int64_t before) {
  for (std::int64_t r = f; r <= g; ++r) {
    for (std::int64_t k = 1; k <= s.m; ++k) {
      s.a(f + k - 1, f - 1) = s.coupling(r, k);
      s.coupling(r, k) = E{};
    }
    for (std::int64_t c = 1; c <= s.m; ++c) {
      E x = s.coupling(r, c);
      for (std::int64_t k = 1; k <= s.m; ++k) {
        x = mulsub(x, s.a(f + k - 1, f - 1), s.coupling(before + k, c));
      }
      s.coupling(r, c) = x;
    }
  }
  for (std::int64_t c = 1; c <= s.m; ++c) {
    for (std::int64_t r = g + 1; r <= l; ++r) s.coupling(r, c) = E{};
  }
}

// The terms of a block's left separator, whose solution stands in b from
// row before+1 on, leave b(f..l).
template <class E>
void leftterms(const sweepdata<E>& s, std::int64_t f, std::int64_t l, std::int64_t before) {
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    for (std::int64_t r = f; r <= l; ++r) {
      E x = s.b(r, h);
      for (std::int64_t c = 1; c <= s.m; ++c) x = mulsub(x, s.coupling(r, c), s.b(before + c, h));
      s.b(r, h) = x;
    }
  }
}

// The terms of a block's right separator (first row `right`, `rows` of its
// rows coupled to the block) leave the block's last M rows of b.
template <class E>
void rightterms(const sweepdata<E>& s, std::int64_t l, std::int64_t right, std::int64_t rows) {
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    for (std::int64_t k = 1; k <= s.m; ++k) {
      E x = s.b(l - s.m + k, h);
      for (std::int64_t i = 1; i <= rows; ++i) x = mulsub(x, s.saved(k, l + i), s.b(right + i - 1, h));
      s.b(l - s.m + k, h) = x;
    }
  }
}

}  // namespace kernel
