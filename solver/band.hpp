// Index arithmetic of the band solver, in one place.
//
// Every routine keeps the 1-based row and column numbers of the algorithm in
// its loops and reaches the arrays through these accessors, which turn them
// into 0-based offsets formed in 64 bits: a band of a few hundred million
// equations has more than 2^31 entries.
#pragma once

#include <cstdint>

// Band storage of the lower triangle of a symmetric matrix of half bandwidth
// M, column by column, diagonal first: element (i, j), j <= i <= j + M, at
// 1-based position M*(j-1) + i. Column j ends where column j+1 begins.
template <class T>
struct band_matrix {
  T* a;
  std::int64_t m;

  T& operator()(std::int64_t i, std::int64_t j) const { return a[m * (j - 1) + i - 1]; }
  // Address of element (j, j): column j's entries follow it contiguously,
  // element (j + k, j) at offset k.
  T* column(std::int64_t j) const { return a + (m + 1) * (j - 1); }
};

// The same storage of consecutive columns kept in up to three separate
// runs, the pieces: a window of a distributed solve reads its middle
// columns where the caller holds them and its ends from copies. Piece k
// holds columns start[k] .. start[k+1]-1, column j's entries from
// at[k] + (M+1)*(j - start[k]) on, diagonal first.
template <class T>
struct piecedband {
  T* at[3];
  std::int64_t start[4];
  int count;
  std::int64_t m;

  // One piece: the whole band_matrix storage from column 1 on.
  piecedband(T* a, std::int64_t halfwidth) : at{a, a, a}, start{1, 1, 1, 1}, count(1), m(halfwidth) {}
  piecedband(T* const (&pieces)[3], const std::int64_t (&starts)[4], int pieces_, std::int64_t halfwidth)
      : at{pieces[0], pieces[1], pieces[2]}, start{starts[0], starts[1], starts[2], starts[3]},
        count(pieces_), m(halfwidth) {}

  int piece(std::int64_t j) const {
    int k = 0;
    while (k + 1 < count && j >= start[k + 1]) ++k;
    return k;
  }
  T& operator()(std::int64_t i, std::int64_t j) const {
    const int k = piece(j);
    return at[k][(m + 1) * (j - start[k]) + i - j];
  }
  // Whether columns j0 <= j1 lie in one piece: a walk along a row through
  // them then steps M elements at a time through one array.
  bool together(std::int64_t j0, std::int64_t j1) const { return count == 1 || piece(j0) == piece(j1); }
};

// A column-major array with leading dimension ld, element (i, j) 1-based:
// the right-hand sides b(i, h) (ld = N), coupling(r, c) (ld = N) and
// savedcoupling(c, j) (ld = M).
template <class T>
struct column_major {
  T* p;
  std::int64_t ld;

  T& operator()(std::int64_t i, std::int64_t j) const { return p[ld * (j - 1) + i - 1]; }
  T* column(std::int64_t j) const { return p + ld * (j - 1); }
};

// Number of entries of the band storage of order n and half bandwidth m:
// M*(N-1) + N.
inline std::int64_t bandlength(std::int64_t n, std::int64_t m) { return m * (n - 1) + n; }
