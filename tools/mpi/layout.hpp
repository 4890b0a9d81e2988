// How the columns of the band are spread over the processes: each process
// holds one range of consecutive columns, the ranges in rank order tiling
// 1..N (a range may be empty), as the csp_dist routines take them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Columns first .. first+count-1 (1-based); count may be 0.
struct columnrange {
  std::int64_t first = 1;
  std::int64_t count = 0;
  std::int64_t last() const { return first + count - 1; }
};

struct layout {
  std::string name;                  // "even", "uneven" or the weights as given
  std::vector<columnrange> columns;  // one range per process, in rank order
};

// evenlayout(n, processes): blocks of ceil(N / P) columns, the last block
// what remains (ScaLAPACK's 1D block distribution with NB = ceil(N / P));
// for small N the last processes may get fewer columns or none.
layout evenlayout(std::int64_t n, int processes);

// weightedlayout(n, weights, name): process r gets about N * w_r / sum(w)
// columns: the boundaries are floor(N * (w_1 + .. + w_r) / sum(w)). The
// weights are >= 0 with a positive sum, one per process.
layout weightedlayout(std::int64_t n, const std::vector<std::int64_t>& weights,
                      const std::string& name);

// makelayout(text, n, processes, layout, error): the layout of --layout:
// "even", "uneven" (weights 1, 2, .., P: rank r gets r+1 shares, so the
// last process has P times the first's columns) or P comma-separated
// whole-number weights such as "3,1". Returns false with error set when
// the weights are not one per process or do not form a layout.
bool makelayout(const std::string& text, std::int64_t n, int processes, layout& result,
                std::string& error);

// parseweights(text, weights, error): comma-separated whole numbers in
// [0, 2^31-1] with a positive sum.
bool parseweights(const std::string& text, std::vector<std::int64_t>& weights, std::string& error);
