// Measurement of cspbench: clocks, summary statistics and the operation
// count behind GFLOP/s.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A reading of the two clocks: wall time from a monotonic clock, and the
// processor time of the whole process, every thread, user and kernel mode.
struct clockreading {
  double wall = 0;
  double user = 0;
  double system = 0;
};
clockreading readclocks();

// Seconds between two readings.
struct interval {
  double wall = 0;
  double cpu = 0;  // user + system
};
interval between(const clockreading& start, const clockreading& end);

// Median, minimum and maximum of a sample; the median of an even count is
// the mean of the two middle values. All three are NaN for an empty one.
struct summary {
  double median = 0;
  double min = 0;
  double max = 0;
};
summary summarize(std::vector<double> values);

// flopcount(n, m, nrhs, complexkind): real floating-point operations of the
// band Cholesky factorization of order N and half bandwidth M plus the
// forward and backward substitution of nrhs right-hand sides (see
// flopformula). The same count serves every method and LAPACK, so GFLOP/s
// compare the rates of one fixed amount of work; a factorized cycle of K
// solves of nrhs columns each counts as K*nrhs right-hand sides.
double flopcount(std::int64_t n, std::int64_t m, std::int64_t nrhs, bool complexkind);

// The text that states the count, for --help and the report.
std::string flopformula();
