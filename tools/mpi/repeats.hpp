// The timed repeats of cspbench-mpi, shared by the csp solver and
// ScaLAPACK: every repeat times a one-shot solve, then a factorization and
// one solve with it, each as the slowest process saw it, and checks both
// solutions.
#pragma once

#include <mpi.h>

#include <algorithm>
#include <vector>

#include "tools/benchmark.hpp"
#include "tools/measure.hpp"
#include "tools/mpi/distcheck.hpp"

// Runs work() on every process of comm, from a barrier, between two clock
// readings; spent is the slowest process's interval (the largest wall and
// processor times). Returns work's status.
template <class Work>
std::int32_t timedcollective(Work&& work, interval& spent, MPI_Comm comm) {
  MPI_Barrier(comm);
  const clockreading start = readclocks();
  const std::int32_t status = work();
  spent = between(start, readclocks());
  double slowest[2] = {spent.wall, spent.cpu};
  MPI_Allreduce(MPI_IN_PLACE, slowest, 2, MPI_DOUBLE, MPI_MAX, comm);
  spent = {slowest[0], slowest[1]};
  return status;
}

// A system, its layout and norms, and the right-hand sides a solve works on.
template <class T>
struct benchsystem {
  const localsystem<T>& s;
  const std::vector<columnrange>& columns;
  const systemnorms& norms;
  MPI_Comm comm;
  std::vector<T> righthandsides;

  T* refill() {
    righthandsides = s.b;
    return righthandsides.data();
  }
  checkresult check(std::int32_t status) const {
    return distributedcheck(s, columns, righthandsides.data(), status, norms, comm);
  }
};

// The verdict on a solve that could not be made: a factorization failed.
inline checkresult failedcheck(std::int32_t status) {
  checkresult failed;
  failed.status = status;
  failed.pass = false;
  return failed;
}

// measurerepeats(bench, solver, repeats, out): out.wall and out.cpu get the
// one-shot solves (solver.solve), out.factorize the factorizations
// (solver.factor) and out.solve the solves with them (solver.substitute);
// solver.prepare() restores what a solver overwrites and
// solver.release() drops a factorization, both untimed, as are the copies
// of the right-hand sides and the checks.
template <class T, class Solver>
void measurerepeats(benchsystem<T>& bench, Solver& solver, std::int32_t repeats, measured& out) {
  for (std::int32_t repeat = 1; repeat <= repeats; ++repeat) {
    interval spent;
    solver.prepare();
    T* b = bench.refill();
    std::int32_t status = timedcollective([&] { return solver.solve(b); }, spent, bench.comm);
    out.wall.push_back(spent.wall);
    out.cpu.push_back(spent.cpu);
    out.check = worstof(out.check, bench.check(status));
    solver.prepare();
    status = timedcollective([&] { return solver.factor(); }, spent, bench.comm);
    out.factorize.push_back(spent.wall);
    if (status == 0) {
      b = bench.refill();
      status = timedcollective([&] { return solver.substitute(b); }, spent, bench.comm);
      out.solve.push_back(spent.wall);
      out.check = worstof(out.check, bench.check(status));
    } else {
      out.check = worstof(out.check, failedcheck(status));
    }
    solver.release();
  }
  out.time = summarize(out.wall);
  out.cputime = summarize(out.cpu);
  out.factorizetime = summarize(out.factorize);
  out.solvetime = summarize(out.solve);
}
