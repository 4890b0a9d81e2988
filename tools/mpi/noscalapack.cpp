// cspbench-mpi without ScaLAPACK, which was not found when the build was
// configured: --compare-scalapack is refused before any work.

#include "tools/mpi/scalapack.hpp"

bool scalapackbuilt() { return false; }

scalapackrun runscalapack(const mpioptions&, MPI_Comm) {
  scalapackrun run;
  run.note = "this build of cspbench-mpi has no ScaLAPACK";
  return run;
}
