// ScaLAPACK's band Cholesky solver on cspbench-mpi's system: p?pbsv, and
// p?pbtrf with p?pbtrs, timed and checked as the csp solver is. ScaLAPACK
// takes one block size NB for every process, so it always runs on the even
// layout (NB = ceil(N/P)), whatever --layout gives the csp solver; its
// divide and conquer needs NB >= 2M when the matrix spans several
// processes. Its complex routines are for Hermitian matrices: for the
// complex kinds it solves the real kind's system of the same precision in
// complex storage (Hermitian and complex symmetric alike), whose
// arithmetic costs what the csp solver's complex symmetric system costs.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <string>

#include "tools/benchmark.hpp"
#include "tools/mpi/mpioptions.hpp"
#include "tools/verify.hpp"

// The ScaLAPACK run: wall and cpu hold the p?pbsv repeats, factorize and
// solve the p?pbtrf and p?pbtrs ones.
struct scalapackrun : measured {
  bool made = false;       // false: not asked for, or not possible (see note)
  std::string routine;     // "pdpbsv"
  std::string parts;       // "pdpbtrf + pdpbtrs"
  std::string system;      // how its system differs from the csp solver's, if it does
  std::string note;        // why no comparison was made
  std::int64_t block = 0;  // NB
  systemnorms norms;       // of its system
  double gflops = 0;
};

// Whether this build has ScaLAPACK (found when it was configured).
bool scalapackbuilt();

// runscalapack(options, comm): builds the system of options on the even
// layout over the processes of comm, which form a 1 x P BLACS grid in rank
// order, and times and checks options.repeat solves and factorizations.
// Collective; every process returns the same.
scalapackrun runscalapack(const mpioptions& options, MPI_Comm comm);
