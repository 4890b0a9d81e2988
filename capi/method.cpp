#include "capi/method.hpp"

namespace capi {

// The partitioned factorization (csp_factorize_X and its solve) against
// the paths before it, one right-hand side, 1 task, on this two-processor
// machine (AMD EPYC with AVX-512, 8 double or 16 float lanes), medians of
// 5, ratios to reference LAPACK ?pbsv (?ptsv at M = 1) in the same run:
//
//   M     N        partitioned d   stage-wise d   partitioned s
//   1     2000000  0.20            2.1 (sweep)    0.20
//   2     2000000  0.38            0.72 (sweep)   0.25
//   4     2000000  0.52            1.1 (sweep)    0.38
//   8     2000000  0.79            0.70-0.86      0.33
//   16    1000000  1.15            0.81           0.51
//   32    400000   1.9             0.50-0.57      0.62
//
// The partitioned path does about four times a serial Cholesky's
// arithmetic in vector lanes across partitions: it wins while the lanes
// more than repay that, to M = 8 in double and M = 32 in single precision,
// and it scales with the task count where the stage-wise path runs on one
// task below M = 512. The complex kinds, with half as many lanes per
// register as their reals, are given double's bound. Below N = 20,000 no
// path was measured to win anything over the stage-wise one.
//
// Measure again when either method gets faster.
method solvemethod(kind k, std::int32_t n, std::int32_t m) {
  if (n < 20000) return method::stagewise;
  const std::int32_t widest = k == kind::s ? 32 : 8;
  return m <= widest ? method::partitioned : method::stagewise;
}

}  // namespace capi
