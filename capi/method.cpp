#include "capi/method.hpp"

namespace capi {

// Median wall seconds of one csp_solve (5 repeats, one right-hand side,
// the sweep's work array allocated by each call), 1 task / 2 tasks, on a
// two-processor machine (AMD EPYC, -march=native), the sweep as of its
// vector-lane groups:
//
//   kind  N        M    sweep             stage-wise        sweep / stage-wise
//   d     2000000  1    0.031  / 0.030    0.063  / 0.063    0.49 / 0.47
//   d     2000000  2    0.042  / 0.039    0.065  / 0.065    0.65 / 0.60
//   d     2000000  4    0.065  / 0.054    0.064  / 0.065    1.02 / 0.83
//   d     2000000  8    0.136  / 0.096    0.071  / 0.070    1.91 / 1.36
//   d     2000000  16   0.373  / 0.218    0.102  / 0.112    3.66 / 1.95
//   d     400000   32   0.200  / 0.129    0.040  / 0.043    5.0  / 3.0
//   s     2000000  1    0.015  / 0.014    0.055  / 0.054    0.27 / 0.26
//   s     2000000  2    0.022  / 0.022    0.057  / 0.057    0.39 / 0.39
//   s     2000000  4    0.036  / 0.030    0.053  / 0.053    0.68 / 0.56
//   s     2000000  8    0.074  / 0.055    0.064  / 0.064    1.16 / 0.86
//   s     2000000  16   0.190  / 0.133    0.087  / 0.085    2.18 / 1.56
//   s     400000   32   0.118  / 0.075    0.037  / 0.037    3.2  / 2.0
//   d     20000    2    3.8e-4 / 3.7e-4   6.5e-4 / 6.5e-4   0.58 / 0.57
//   s     20000    8    4.1e-4 / 4.1e-4   6.4e-4 / 6.4e-4   0.64 / 0.64
//   d     2000     2    6.8e-5 / 6.8e-5   6.5e-5 / 6.5e-5   1.05 / 1.05
//   s     2000     8    9.5e-5 / 9.5e-5   6.4e-5 / 6.4e-5   1.49 / 1.49
//   s     200      8    6.6e-6 / 6.4e-6   6.6e-6 / 6.6e-6   1.00 / 0.96
//   z     1000000  2    0.041  / 0.030    0.043  / 0.043    0.98 / 0.70
//   c     1000000  2    0.038  / 0.021    0.055  / 0.055    0.69 / 0.37
//
// The sweep does more arithmetic than the column Cholesky, the more so the
// wider the band, but works in vector lanes across blocks and in parallel:
// it wins on narrow bands, M <= 4 in double (a tie on one task at M = 4)
// and M <= 8 in single precision (16% slower on one task, 14% faster on
// two, and it gains with every further task, while the stage-wise entry
// runs on one task below M = 512). Below N = 20,000 it won nothing.
// The complex kinds stay stage-wise whatever the times: the complex sweep
// takes its block width from grain sizes that depend on the task count in
// force at the first sweep of the process, so its bits would depend on a
// task count. (The real sweep's grain sizes depend on no task count; the
// C interface never runs the complex sweep, which would fix other ones.)
//
// Measure again when either method gets faster.
method solvemethod(kind k, std::int32_t n, std::int32_t m) {
  if (n >= 2000 && m <= 64) return method::partitioned;
  if (k == kind::c || k == kind::z || n < 20000) return method::stagewise;
  const std::int32_t widest = k == kind::s ? 8 : 4;
  return m <= widest ? method::sweep : method::stagewise;
}

}  // namespace capi
