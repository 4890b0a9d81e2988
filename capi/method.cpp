#include "capi/method.hpp"

namespace capi {

// Median wall seconds of one solve (cspbench, 3 to 5 repeats, one right-hand
// side), sweep (mesolution) against stage-wise (solution), 1 task / 2 tasks,
// on a shared two-processor machine (AMD EPYC, -march=native):
//
//   kind    N        M     sweep              stage-wise         sweep/stage-wise, 1 task
//   d       2000000  1     0.087  / 0.093     0.061  / 0.069     1.42
//   d       2000000  2     0.154  / 0.177     0.103  / 0.101     1.50
//   d       2000000  4     0.126  / 0.126     0.064  / 0.064     1.97
//   d       2000000  8     0.367  / 0.381     0.112  / 0.113     3.27
//   d       400000   32    0.463  / 0.464     0.081  / 0.043     5.71
//   d       50000    128   0.451  / 0.442     0.162  / 0.141     2.78
//   d       10000    512   1.77   / 1.67      0.195  / 0.176     9.07
//   d       50000    2     0.0019 / 0.0075    0.0016 / 0.0016    1.21
//   d       2000     8     9.5e-5 / 1.9e-4    9.1e-5 / 7.1e-5    1.04
//   s       2000000  1     0.072  / 0.073     0.055  / 0.059     1.30
//   s       2000000  8     0.195  / 0.207     0.071  / 0.068     2.75
//   s       400000   32    0.201  / 0.194     0.039  / 0.039     5.20
//   s       50000    128   0.151  / 0.150     0.058  / 0.057     2.61
//   z       1000000  8     0.318  / 0.318     0.111  / 0.110     2.88
//   z       50000    64    0.204  / 0.204     0.120  / 0.083     1.70
//   c       1000000  8     0.342  / 0.306     0.163  / 0.169     2.10
//
// The other developers' builds held the processors during most of these
// runs, so the sweep's second task rarely showed. On a quiet machine:
//
//   d       2000000  8     0.249  / 0.127     0.074  / 0.074     3.36 (1.71 at 2 tasks)
//
// The stage-wise entry was the faster at every point, with either task
// count: the sweep does two to three times the arithmetic of the column
// Cholesky and needs a work array of 2*N*M elements, and on two processors
// its second task does not make up for that. (On a 16-core machine the
// sweep ran N = 2,000,000, M = 8, float in 0.057 s; it should win there on
// narrow bands, where the stage-wise entry runs on one task below M = 512.)
// The complex sweep also takes its block width from grain sizes that depend
// on the task count of the first solve of the process.
//
// So every system goes to the stage-wise entry for now. When the sweep gets
// faster, measure again and give it the region where it wins here.
method solvemethod(kind, std::int32_t, std::int32_t) { return method::stagewise; }

}  // namespace capi
