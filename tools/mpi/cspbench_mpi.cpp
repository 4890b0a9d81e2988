// cspbench-mpi: times the distributed band solver over MPI for a list of
// task counts per process, verifies every solve, optionally against
// ScaLAPACK's band solver, and reports a table (and JSON, CSV) on rank 0.

#include <mpi.h>

#include <cstdio>
#include <new>
#include <string>

#include "capi/tasks.hpp"
#include "runtime/runtime.hpp"
#include "tools/mpi/distbench.hpp"
#include "tools/mpi/report.hpp"

namespace {

processgroup describeprocesses(MPI_Comm comm) {
  processgroup group;
  MPI_Comm_rank(comm, &group.rank);
  MPI_Comm_size(comm, &group.count);
  MPI_Comm machine;
  MPI_Comm_split_type(comm, MPI_COMM_TYPE_SHARED, group.rank, MPI_INFO_NULL, &machine);
  MPI_Comm_size(machine, &group.pernode);
  MPI_Comm_free(&machine);
  MPI_Allreduce(MPI_IN_PLACE, &group.pernode, 1, MPI_INT, MPI_MAX, comm);
  group.processors = capi::usablecpus();
  MPI_Allreduce(MPI_IN_PLACE, &group.processors, 1, MPI_INT32_T, MPI_MIN, comm);
  return group;
}

// Writes every output file asked for (rank 0); reports each failure on its
// own line. Every process returns whether all were written.
bool writeoutputs(const mpiresult& result, MPI_Comm comm) {
  const mpioptions& o = result.options;
  int written = 1;
  if (result.group.rank == 0) {
    std::string error;
    const auto report = [&](bool ok) {
      if (!ok) std::fprintf(stderr, "cspbench-mpi: error: %s\n", error.c_str());
      written = written && ok;
    };
    if (!o.json.empty()) report(writempijson(o.json, result, error));
    if (!o.csv.empty()) report(writempicsv(o.csv, result, error));
  }
  MPI_Bcast(&written, 1, MPI_INT, 0, comm);
  return written != 0;
}

int run(const mpioptions& options, const processgroup& group, const layout& columns) {
  if (group.rank == 0) printmpiheading(stdout, options, group, columns);
  try {
    const mpiresult result = runmpibenchmark(options, group, columns, MPI_COMM_WORLD);
    if (group.rank == 0) printmpitable(stdout, result);
    const bool written = writeoutputs(result, MPI_COMM_WORLD);
    return result.pass && written ? 0 : 1;
  } catch (const std::bad_alloc&) {
    // The other processes may wait in a collective call: end them all.
    std::fprintf(stderr, "cspbench-mpi: error: out of memory on process %d\n", group.rank);
    MPI_Abort(MPI_COMM_WORLD, 2);
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  const processgroup group = describeprocesses(MPI_COMM_WORLD);
  mpioptions options;
  layout columns;
  int exitcode = 0;
  if (parsempioptions(argc, argv, group, options, columns, exitcode))
    exitcode = run(options, group, columns);
  orvekdone();
  MPI_Finalize();
  return exitcode;
}
