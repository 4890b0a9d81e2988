// The measurement of cspbench-mpi and the results it produces.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <vector>

#include "tools/benchmark.hpp"
#include "tools/mpi/layout.hpp"
#include "tools/mpi/mpioptions.hpp"
#include "tools/mpi/scalapack.hpp"

// The repeats of one task count per process: wall and cpu hold the
// one-shot solves, factorize and solve the factorizations and the solves
// with them; check is the worst over all of them.
struct mpitaskrun : measured {
  std::int32_t requested = 0;  // the task count asked for
  std::int32_t used = 0;       // the fewest any process runs with (capped at its processors)
  double gflops = 0;           // flop count / median one-shot time
  double speedup = 0;          // one-task median / median; NaN without a one-task run
  double efficiency = 0;       // speedup / used
  double scalapackratio = 0;   // ScaLAPACK's p?pbsv median / median; NaN without ScaLAPACK
  double factorizeratio = 0;   // the same of p?pbtrf and the factorization
  double solveratio = 0;       // the same of p?pbtrs and the solve with the factorization
};

struct mpiresult {
  mpioptions options;
  processgroup group;
  layout columns;     // the csp solver's layout
  double flops = 0;   // of one solve: factorization and substitution
  systemnorms norms;  // of the csp solver's system
  std::vector<mpitaskrun> runs;
  scalapackrun scalapack;
  bool pass = true;  // every check of every solve passed
};

// runmpibenchmark(options, group, columns, comm): builds this process's
// share of the test system, times and checks options.repeat repeats per
// task count, then ScaLAPACK's when asked. Collective over comm, whose
// processes group describes; every process returns the same results.
mpiresult runmpibenchmark(const mpioptions& options, const processgroup& group,
                          const layout& columns, MPI_Comm comm);
