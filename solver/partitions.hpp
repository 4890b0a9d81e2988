// How the partitioned factorization cuts the columns of a band matrix.
//
// The columns 1..N are cut into P partitions separated by P-1 separators of
// M columns each:
//
//   interior 1 | separator 1 | interior 2 | separator 2 | ... | interior P
//
// Two interiors have a whole separator between them and so share no band
// entry: each is factored on its own, and a block tridiagonal system over
// the separators (the reduced system) joins them. The cut depends on N, M
// and the element kind alone, never on a task or processor count, so every
// result is the same bits whoever computes it.
//
// Partitions travel through vector lanes side by side, one per lane, and
// lanes step together: every partition is given `rows` rows. Interiors are
// `rows` or `rows - 1` equations long; a shorter one starts with one padding
// row (an identity row coupled to nothing), so that all of them end on the
// same row, next to their right separators.
//
// A window of a layout is what one process of a distributed solve holds:
// a run of whole partitions with the separators on both sides, its rows
// numbered from 1 at its first equation.
#pragma once

#include <algorithm>
#include <cstdint>

namespace partitioned {

struct layout {
  std::int64_t n = 0;      // order N
  std::int64_t m = 0;      // half bandwidth M <= N-1: also each separator's width
  std::int64_t parts = 1;  // partitions P >= 1
  std::int64_t rows = 0;   // rows of every partition, its padding row included
  std::int64_t longer = 0; // partitions 1..longer have no padding row
  // The window: partitions firstheld..lastheld, equation offset+1 its row 1
  // (the whole system: every partition, offset 0).
  std::int64_t firstheld = 1, lastheld = 0, offset = 0;

  // Padding rows (0 or 1) at the top of partition p (1-based).
  std::int64_t padding(std::int64_t p) const { return p <= longer ? 0 : 1; }
  // Equations of partition p's interior.
  std::int64_t interior(std::int64_t p) const { return rows - padding(p); }
  // The row of partition p's first interior equation.
  std::int64_t first(std::int64_t p) const {
    return 1 - offset + (p - 1) * (rows - 1 + m) + std::min(p - 1, longer);
  }
  // The first row of separator p (between partitions p and p+1).
  std::int64_t separator(std::int64_t p) const { return first(p) + interior(p); }
  // Partitions held, and separators whose reduced blocks the window
  // factors: firstheld .. lastseparator().
  std::int64_t held() const { return lastheld - firstheld + 1; }
  std::int64_t lastseparator() const { return std::min(lastheld, parts - 1); }
  // The window's rows: from its first partition's left separator (equation
  // 1 for partition 1) to its last one's right separator (N for the last).
  std::int64_t windowrows() const {
    return lastheld < parts ? first(lastheld + 1) - 1 : n - offset;
  }
};

// The cut for a system of order n and half bandwidth m (m <= n-1). It is
// the same for every element kind: the kind changes how many partitions
// share a vector, not how long a partition should be.
layout partitionlayout(std::int64_t n, std::int64_t m);

// The layout with exactly `parts` partitions (1 <= parts, and every
// interior at least m equations long): partitionlayout's, and tests'.
layout cut(std::int64_t n, std::int64_t m, std::int64_t parts);

// The window of s (a whole layout) that holds partitions first..last.
layout window(const layout& s, std::int64_t first, std::int64_t last);

}  // namespace partitioned
