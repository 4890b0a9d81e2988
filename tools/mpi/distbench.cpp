// The measurement of cspbench-mpi.

#include "tools/mpi/distbench.hpp"

#include <algorithm>
#include <complex>
#include <limits>
#include <memory>

#include "capi/tasks.hpp"
#include "solver/element.hpp"
#include "tools/measure.hpp"
#include "tools/mpi/distentries.hpp"
#include "tools/mpi/repeats.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// The csp_dist routines on one process's share, with a per-call task
// count. They only read the band, so there is nothing to prepare.
template <class T>
class cspdist {
 public:
  cspdist(const localsystem<T>& s, std::int32_t tasks, MPI_Comm comm)
      : s_(s), tasks_(tasks), comm_(comm) {}
  void prepare() {}
  std::int32_t solve(T* b) {
    return distentries<T>::solve(comm_, 'L', s_.n, s_.m, s_.nrhs, s_.own.first, s_.own.count,
                                 celements(s_.ownband()), s_.m + 1, celements(b), s_.ld(), tasks_);
  }
  std::int32_t factor() {
    csp_dist_factorization* f = nullptr;
    const std::int32_t status =
        distentries<T>::factorize(comm_, 'L', s_.n, s_.m, s_.own.first, s_.own.count,
                                  celements(s_.ownband()), s_.m + 1, &f, tasks_);
    factorization_.reset(f);
    return status;
  }
  std::int32_t substitute(T* b) {
    return distentries<T>::solvefactorized(factorization_.get(), s_.nrhs, celements(b), s_.ld(),
                                           tasks_);
  }
  // Collective: the factorization frees its communicator.
  void release() { factorization_.reset(); }

 private:
  struct freer {
    void operator()(csp_dist_factorization* f) const { csp_dist_free_factorization(f); }
  };
  const localsystem<T>& s_;
  std::int32_t tasks_;
  MPI_Comm comm_;
  std::unique_ptr<csp_dist_factorization, freer> factorization_;
};

// The task count the calls of every process run with, the fewest of them.
std::int32_t usedtasks(std::int32_t requested, MPI_Comm comm) {
  std::int32_t used = capi::calltasks(requested);
  MPI_Allreduce(MPI_IN_PLACE, &used, 1, MPI_INT32_T, MPI_MIN, comm);
  return used;
}

// Speedup and efficiency against the first run with one task, GFLOP/s,
// the ScaLAPACK ratios and the overall verdict.
void derive(mpiresult& result) {
  const auto single = std::find_if(result.runs.begin(), result.runs.end(),
                                   [](const mpitaskrun& run) { return run.used == 1; });
  const double baseline = single != result.runs.end() ? single->time.median : nan;
  const scalapackrun& scalapack = result.scalapack;
  const auto against = [&](double theirs, double ours) {
    return scalapack.made ? theirs / ours : nan;
  };
  for (mpitaskrun& run : result.runs) {
    run.gflops = result.flops / run.time.median * 1e-9;
    run.speedup = baseline / run.time.median;
    run.efficiency = run.speedup / run.used;
    run.scalapackratio = against(scalapack.time.median, run.time.median);
    run.factorizeratio = against(scalapack.factorizetime.median, run.factorizetime.median);
    run.solveratio = against(scalapack.solvetime.median, run.solvetime.median);
    result.pass = result.pass && run.check.pass;
  }
  if (scalapack.made) result.pass = result.pass && scalapack.check.pass;
}

// The csp solver's runs; the system is freed before ScaLAPACK builds its own.
template <class T>
void runtaskcounts(mpiresult& result, MPI_Comm comm) {
  const mpioptions& o = result.options;
  const matrixsource source = o.matrix == "random" ? matrixsource::random : matrixsource::generator;
  const localsystem<T> s =
      buildlocalsystem<T>(o.n, o.m, o.nrhs, source, o.seed,
                          result.columns.columns[static_cast<std::size_t>(result.group.rank)]);
  result.norms = distributednorms(s, comm);
  benchsystem<T> bench{s, result.columns.columns, result.norms, comm, {}};
  for (const std::int32_t tasks : o.tasks) {
    mpitaskrun run;
    run.requested = tasks;
    run.used = usedtasks(tasks, comm);
    cspdist<T> solver(s, tasks, comm);
    measurerepeats(bench, solver, o.repeat, run);
    result.runs.push_back(run);
  }
}

template <class T>
mpiresult runkind(const mpioptions& options, const processgroup& group, const layout& columns,
                  MPI_Comm comm) {
  mpiresult result;
  result.options = options;
  result.group = group;
  result.columns = columns;
  result.flops = flopcount(options.n, options.m, options.nrhs, is_complex_v<T>);
  runtaskcounts<T>(result, comm);
  if (options.comparescalapack) result.scalapack = runscalapack(options, comm);
  derive(result);
  return result;
}

}  // namespace

mpiresult runmpibenchmark(const mpioptions& options, const processgroup& group,
                          const layout& columns, MPI_Comm comm) {
  if (options.kind == "8") return runkind<double>(options, group, columns, comm);
  if (options.kind == "z4") return runkind<std::complex<float>>(options, group, columns, comm);
  if (options.kind == "z8") return runkind<std::complex<double>>(options, group, columns, comm);
  return runkind<float>(options, group, columns, comm);
}
