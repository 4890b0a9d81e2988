// A process's share of cspbench's test system: the band columns it passes
// to the solver, and the rows of b and of the exact solution x that go with
// them. Every process builds its own share alone, with memory in proportion
// to its columns, and the shares of all processes are, entry for entry and
// bit for bit, the system buildtestsystem builds whole: the same for every
// process count and layout.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tools/mpi/layout.hpp"
#include "tools/testsystem.hpp"

// The rows a process needs beside its own to form band products for its
// rows: M on either side, within 1..N. Empty for a process without columns.
columnrange haloof(const columnrange& own, std::int64_t n, std::int32_t m);

template <class T>
struct localsystem {
  std::int32_t n = 0;
  std::int32_t m = 0;
  std::int32_t nrhs = 0;
  columnrange own;      // this process's columns (and rows of b and x)
  std::int64_t lo = 1;  // the band's first column: that of haloof(own)
  // Columns lo .. own.last() in band storage, M+1 entries each (LAPACK's
  // lower band storage, LDAB = M+1); the slots below row N are zero. The
  // M columns before own.first serve the band products of the first rows.
  std::vector<T> band;
  std::vector<T> b, x;  // own.count x nrhs, leading dimension ld()

  std::int64_t ld() const { return std::max<std::int64_t>(1, own.count); }
  T* ownband() { return band.data() + (own.first - lo) * (m + 1); }
  const T* ownband() const { return band.data() + (own.first - lo) * (m + 1); }
  // A(i, j) of the symmetric matrix for |i - j| <= M, lo <= i, j <= own.last().
  T entry(std::int64_t i, std::int64_t j) const {
    const std::int64_t column = std::min(i, j);
    return band[(column - lo) * (m + 1) + (std::max(i, j) - column)];
  }
};

// buildlocalsystem(n, m, nrhs, source, seed, own): the share of the
// columns own of buildtestsystem<T>(n, m, nrhs, source, seed).
template <class T>
localsystem<T> buildlocalsystem(std::int32_t n, std::int32_t m, std::int32_t nrhs,
                                matrixsource source, std::uint64_t seed, const columnrange& own);
