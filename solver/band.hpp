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
