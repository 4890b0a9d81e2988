// Who holds what in a distributed solve: the caller's column ranges, the
// partitions each process factors, and the rows each one's window spans.
//
// The partitions are those of the one-machine factorization for (n, m):
// the cut depends on nothing else, so neither the process count nor the
// layout changes a bit of the result. Partition p is factored by the
// process whose columns hold its first equation, in a window that spans
// its partitions and the separators on both sides; the rows a window needs
// beyond the process's own columns are brought to it once, and the window
// hands back the solution of its rows but the left separator (which the
// previous window owns).
#pragma once

#include <cstdint>
#include <vector>

#include "solver/partitions.hpp"

namespace dist {

// A run of equations, 1-based, empty when last < first.
struct rows {
  std::int64_t first = 1, last = 0;
  std::int64_t count() const { return last >= first ? last - first + 1 : 0; }
};

// The rows two runs share.
inline rows overlap(const rows& a, const rows& b) {
  return {std::max(a.first, b.first), std::min(a.last, b.last)};
}

struct plan {
  partitioned::layout whole;      // the cut of the whole system
  std::vector<rows> columns;      // per rank: the caller's columns
  std::vector<std::int64_t> firstpart, lastpart;  // per rank: partitions factored (none: last < first)
  int rank = 0;

  int ranks() const { return static_cast<int>(columns.size()); }
  bool holds(int r) const { return lastpart[r] >= firstpart[r]; }
  // Rank r's window (whole must be cut, r holding partitions).
  partitioned::layout windowof(int r) const;
  // The rows of rank r's window, and those of them it hands back.
  rows windowrows(int r) const;
  rows solvedrows(int r) const;
  // The ranks whose windows hold the partitions before and after this
  // rank's: -1 where there are none.
  int previous() const;
  int next() const;
};

// The plan for a system of order n >= 1 and half bandwidth mc <= n-1 over
// the ranges of every rank (they tile 1..n), as seen from `rank`.
plan makeplan(std::int64_t n, std::int64_t mc, const std::vector<rows>& columns, int rank);

}  // namespace dist
