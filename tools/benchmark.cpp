// The measurement loop of cspbench.

#include "tools/benchmark.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <memory>
#include <type_traits>

#include "csp/csp.h"
#include "runtime/runtime.hpp"
#include "solver/csp.hpp"
#include "solver/element.hpp"
#include "tools/lapack.hpp"
#include "tools/testsystem.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

enum class method { mesolution, solution, decomposition, automatic, factorized, batched };

method methodof(const std::string& name) {
  if (name == "solution") return method::solution;
  if (name == "decomposition") return method::decomposition;
  if (name == "auto") return method::automatic;
  if (name == "factorized") return method::factorized;
  if (name == "batched") return method::batched;
  return method::mesolution;
}

// The solver entries of each element kind: the library's own and the C
// interface's, whose element type is `element`.
template <class T>
struct entries;
template <>
struct entries<float> {
  using element = float;
  static constexpr auto mesolution = mesolution_csp_4;
  static constexpr auto solution = solution_csp_4;
  static constexpr auto decomposition = decomposition_csp_4;
  static constexpr auto substitution = substitution_csp_4;
  static constexpr auto solvetasks = csp_solve_tasks_s;
  static constexpr auto factorizetasks = csp_factorize_tasks_s;
  static constexpr auto solvefactorizedtasks = csp_solve_factorized_tasks_s;
  static constexpr auto solvebatchedtasks = csp_solve_batched_tasks_s;
};
template <>
struct entries<double> {
  using element = double;
  static constexpr auto mesolution = mesolution_csp_8;
  static constexpr auto solution = solution_csp_8;
  static constexpr auto decomposition = decomposition_csp_8;
  static constexpr auto substitution = substitution_csp_8;
  static constexpr auto solvetasks = csp_solve_tasks_d;
  static constexpr auto factorizetasks = csp_factorize_tasks_d;
  static constexpr auto solvefactorizedtasks = csp_solve_factorized_tasks_d;
  static constexpr auto solvebatchedtasks = csp_solve_batched_tasks_d;
};
template <>
struct entries<std::complex<float>> {
  using element = csp_complex_float;
  static constexpr auto mesolution = mesolution_csp_z4;
  static constexpr auto solution = solution_csp_z4;
  static constexpr auto decomposition = decomposition_csp_z4;
  static constexpr auto substitution = substitution_csp_z4;
  static constexpr auto solvetasks = csp_solve_tasks_c;
  static constexpr auto factorizetasks = csp_factorize_tasks_c;
  static constexpr auto solvefactorizedtasks = csp_solve_factorized_tasks_c;
  static constexpr auto solvebatchedtasks = csp_solve_batched_tasks_c;
};
template <>
struct entries<std::complex<double>> {
  using element = csp_complex_double;
  static constexpr auto mesolution = mesolution_csp_z8;
  static constexpr auto solution = solution_csp_z8;
  static constexpr auto decomposition = decomposition_csp_z8;
  static constexpr auto substitution = substitution_csp_z8;
  static constexpr auto solvetasks = csp_solve_tasks_z;
  static constexpr auto factorizetasks = csp_factorize_tasks_z;
  static constexpr auto solvefactorizedtasks = csp_solve_factorized_tasks_z;
  static constexpr auto solvebatchedtasks = csp_solve_batched_tasks_z;
};

// An array of T as the C interface's element type; csp.h guarantees the
// complex structs the layout of std::complex.
template <class T>
auto* celements(T* p) {
  return reinterpret_cast<typename entries<T>::element*>(p);
}
template <class T>
const auto* celements(const T* p) {
  return reinterpret_cast<const typename entries<T>::element*>(p);
}

// One solve by a one-shot method; returns the solver's status. The
// decomposition method substitutes only with a factor that succeeded; the
// C interface's solve takes the band in LAPACK's lower storage.
template <class T>
std::int32_t solveonce(method how, T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                       const std::int32_t& nrhs, T* work, std::int32_t tasks) {
  std::int32_t status = 0;
  switch (how) {
    case method::mesolution:
      entries<T>::mesolution(a, n, m, b, nrhs, work, status);
      break;
    case method::solution:
      entries<T>::solution(a, n, m, b, nrhs, status);
      break;
    case method::decomposition:
      entries<T>::decomposition(a, n, m, status);
      if (status == 0) entries<T>::substitution(a, n, m, b, nrhs);
      break;
    case method::automatic:
      status = entries<T>::solvetasks('L', n, m, nrhs, celements(a), m + 1, celements(b), n, tasks);
      break;
    case method::factorized:
      break;  // not one-shot: see cspfactorized
    case method::batched:
      break;  // many systems: see cspbatched
  }
  return status;
}

// The solvers below share two shapes. One-shot: prepare() refills the
// working copies from the pristine system, solve(b) factors and solves.
// Factorized: prepare() likewise, factor(), then any number of
// substitute(b), and release().

// The csp solver's one-shot methods.
template <class T>
class cspsolve {
 public:
  cspsolve(const testsystem<T>& s, method how, std::int32_t tasks)
      : s_(s),
        how_(how),
        tasks_(tasks),
        band_(s.band.size()),
        work_(how == method::mesolution ? workentries(s) : 0) {}
  void prepare() { std::copy(s_.band.begin(), s_.band.end(), band_.begin()); }
  std::int32_t solve(T* b) {
    return solveonce(how_, band_.data(), s_.n, s_.m, b, s_.nrhs, work_.data(), tasks_);
  }

 private:
  static std::size_t workentries(const testsystem<T>& s) {
    return static_cast<std::size_t>(std::max<std::int64_t>(2 * std::int64_t(s.n) * s.m, 1));
  }
  const testsystem<T>& s_;
  method how_;
  std::int32_t tasks_;
  std::vector<T> band_, work_;
};

// The C interface's kept factorization; it reads the pristine band, so
// there is nothing to prepare.
template <class T>
class cspfactorized {
 public:
  cspfactorized(const testsystem<T>& s, std::int32_t tasks) : s_(s), tasks_(tasks) {}
  void prepare() {}
  std::int32_t factor() {
    csp_factorization* f = nullptr;
    const std::int32_t status = entries<T>::factorizetasks(
        'L', s_.n, s_.m, celements(s_.band.data()), s_.m + 1, &f, tasks_);
    factorization_.reset(f);
    return status;
  }
  std::int32_t substitute(T* b) {
    return entries<T>::solvefactorizedtasks(factorization_.get(), s_.nrhs, celements(b), s_.n,
                                            tasks_);
  }
  void release() { factorization_.reset(); }

 private:
  struct freer {
    void operator()(csp_factorization* f) const { csp_free_factorization(f); }
  };
  const testsystem<T>& s_;
  std::int32_t tasks_;
  std::unique_ptr<csp_factorization, freer> factorization_;
};

// Reference LAPACK's band Cholesky, ?pbsv or ?pbtrf with ?pbtrs.
template <class T>
class lapackband {
 public:
  explicit lapackband(const testsystem<T>& s) : s_(s), band_(s.band.size()) {}
  void prepare() { std::copy(s_.band.begin(), s_.band.end(), band_.begin()); }
  std::int32_t solve(T* b) { return lapackbandsolve(band_.data(), s_.n, s_.m, b, s_.nrhs); }
  std::int32_t factor() { return lapackbandfactor(band_.data(), s_.n, s_.m); }
  std::int32_t substitute(T* b) {
    return lapackbandsubstitute(band_.data(), s_.n, s_.m, b, s_.nrhs);
  }
  void release() {}

 private:
  const testsystem<T>& s_;
  std::vector<T> band_;
};

// Reference LAPACK's tridiagonal L*D*L^T for M = 1, ?ptsv or ?pttrf with
// ?pttrs, on the diagonal and subdiagonal taken out of the band.
template <class T>
class lapacktridiagonal {
 public:
  explicit lapacktridiagonal(const testsystem<T>& s)
      : s_(s), diagonal_(static_cast<std::size_t>(s.n)), subdiagonal_(diagonal_.size()) {}
  void prepare() {
    for (std::size_t j = 0; j < diagonal_.size(); ++j) {
      diagonal_[j] = s_.band[2 * j];
      subdiagonal_[j] = s_.band[2 * j + 1];
    }
  }
  std::int32_t solve(T* b) {
    return lapacktridiagonalsolve(diagonal_.data(), subdiagonal_.data(), s_.n, b, s_.nrhs);
  }
  std::int32_t factor() {
    return lapacktridiagonalfactor(diagonal_.data(), subdiagonal_.data(), s_.n);
  }
  std::int32_t substitute(T* b) {
    return lapacktridiagonalsubstitute(diagonal_.data(), subdiagonal_.data(), s_.n, b, s_.nrhs);
  }
  void release() {}

 private:
  const testsystem<T>& s_;
  std::vector<T> diagonal_, subdiagonal_;  // N entries each, the last subdiagonal one unused
};

// The systems of a batch side by side, as the batched entry takes them:
// system k's band at k*bandstride, its right-hand sides at k*rhsstride.
template <class T>
std::int64_t bandstride(const std::vector<testsystem<T>>& systems) {
  return static_cast<std::int64_t>(systems.front().band.size());
}
template <class T>
std::int64_t rhsstride(const std::vector<testsystem<T>>& systems) {
  return static_cast<std::int64_t>(systems.front().b.size());
}

// Copies every pristine band into its place in bands.
template <class T>
void gatherbands(const std::vector<testsystem<T>>& systems, std::vector<T>& bands) {
  T* place = bands.data();
  for (const testsystem<T>& s : systems) place = std::copy(s.band.begin(), s.band.end(), place);
}

// The C interface's batched solve: one call of csp_solve_batched_tasks_X
// on every system, each system's status in info.
template <class T>
class cspbatched {
 public:
  cspbatched(const std::vector<testsystem<T>>& systems, std::int32_t* info, std::int32_t tasks)
      : systems_(systems),
        info_(info),
        tasks_(tasks),
        bands_(systems.size() * bandstride(systems)) {}
  void prepare() { gatherbands(systems_, bands_); }
  std::int32_t solve(T* b) {
    const testsystem<T>& s = systems_.front();
    return entries<T>::solvebatchedtasks(
        'L', s.n, s.m, s.nrhs, static_cast<std::int32_t>(systems_.size()), celements(bands_.data()),
        s.m + 1, bandstride(systems_), celements(b), s.n, rhsstride(systems_), info_, tasks_);
  }

 private:
  const std::vector<testsystem<T>>& systems_;
  std::int32_t* info_;
  std::int32_t tasks_;
  std::vector<T> bands_;
};

// Reference LAPACK over a batch: a loop of ?pbsv, or ?ptsv for M = 1, one
// call per system, on the same layout as the batched solve; each call's
// info in info.
template <class T>
class lapackbatched {
 public:
  lapackbatched(const std::vector<testsystem<T>>& systems, std::int32_t* info)
      : systems_(systems), info_(info) {
    if (tridiagonal()) {
      diagonals_.resize(systems.size() * static_cast<std::size_t>(systems.front().n));
      subdiagonals_.resize(diagonals_.size());
    } else {
      bands_.resize(systems.size() * bandstride(systems));
    }
  }
  void prepare() {
    if (!tridiagonal()) {
      gatherbands(systems_, bands_);
      return;
    }
    std::size_t j = 0;
    for (const testsystem<T>& s : systems_) {
      for (std::size_t i = 0; i < static_cast<std::size_t>(s.n); ++i, ++j) {
        diagonals_[j] = s.band[2 * i];
        subdiagonals_[j] = s.band[2 * i + 1];
      }
    }
  }
  std::int32_t solve(T* b) {
    const std::int32_t n = systems_.front().n, m = systems_.front().m;
    const std::int32_t nrhs = systems_.front().nrhs;
    const std::int64_t rhs = rhsstride(systems_), band = bandstride(systems_);
    for (std::size_t k = 0; k < systems_.size(); ++k) {
      T* bk = b + static_cast<std::int64_t>(k) * rhs;
      info_[k] = tridiagonal() ? lapacktridiagonalsolve(diagonals_.data() + k * n,
                                                        subdiagonals_.data() + k * n, n, bk, nrhs)
                               : lapackbandsolve(bands_.data() + k * band, n, m, bk, nrhs);
    }
    return 0;
  }

 private:
  bool tridiagonal() const { return systems_.front().m == 1; }
  const std::vector<testsystem<T>>& systems_;
  std::int32_t* info_;
  std::vector<T> bands_, diagonals_, subdiagonals_;
};

// One line of progress on standard error, rewritten in place; only when
// standard error is a terminal, so that logs and pipes stay clean.
class progressline {
 public:
  progressline() : shown_(isatty(STDERR_FILENO) == 1) {}
  ~progressline() { clear(); }
  template <class... Args>
  void show(const char* format, Args... args) {
    if (!shown_) return;
    char text[160];
    const int length = std::snprintf(text, sizeof text, format, args...);
    std::fprintf(stderr, "\r%s%*s", text, std::max(0, width_ - length), "");
    std::fflush(stderr);
    width_ = std::max(width_, length);
  }
  void clear() {
    if (!shown_ || width_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", width_, "");
    std::fflush(stderr);
    width_ = 0;
  }

 private:
  bool shown_;
  int width_ = 0;
};

// What the measurement of every solver shares: the pristine system, its
// norms, the right-hand sides every solve works on, and the progress line.
template <class T>
struct workbench {
  const testsystem<T>& s;
  const benchoptions& options;
  const systemnorms& norms;
  std::vector<T>& righthandsides;
  progressline& progress;

  T* refillrighthandsides() {
    std::copy(s.b.begin(), s.b.end(), righthandsides.begin());
    return righthandsides.data();
  }
  checkresult check(std::int32_t status) const {
    return checksolution(s, righthandsides, status, norms);
  }
};

// The same for a batch: every system's right-hand sides side by side, and
// the status of each system's solve, which the solver writes. A call that
// refuses its arguments (a negative status) fails every system.
template <class T>
struct batchbench {
  const std::vector<testsystem<T>>& systems;
  const benchoptions& options;
  const std::vector<systemnorms>& norms;  // of each system
  std::vector<T>& righthandsides;
  std::vector<std::int32_t>& info;
  progressline& progress;

  T* refillrighthandsides() {
    T* place = righthandsides.data();
    for (const testsystem<T>& s : systems) place = std::copy(s.b.begin(), s.b.end(), place);
    // A solver that leaves a system's status unwritten fails its check.
    std::fill(info.begin(), info.end(), unwritten);
    return righthandsides.data();
  }
  checkresult check(std::int32_t status) const {
    checkresult worst;
    if (status != 0) {
      worst.status = status;
      worst.pass = false;
    }
    const std::int64_t stride = rhsstride(systems);
    for (std::size_t k = 0; k < systems.size(); ++k) {
      const T* solution = righthandsides.data() + static_cast<std::int64_t>(k) * stride;
      worst = worstof(worst,
                      checksolution(systems[k], solution, status < 0 ? status : info[k], norms[k]));
    }
    return worst;
  }

  static constexpr std::int32_t unwritten = std::numeric_limits<std::int32_t>::min();
};

// Runs work() between two clock readings; returns its status.
template <class Work>
std::int32_t timed(Work&& work, interval& spent) {
  const clockreading start = readclocks();
  const std::int32_t status = work();
  spent = between(start, readclocks());
  return status;
}

void addto(interval& total, const interval& part) {
  total.wall += part.wall;
  total.cpu += part.cpu;
}

void summarizeall(measured& out) {
  out.time = summarize(out.wall);
  out.cputime = summarize(out.cpu);
  out.factorizetime = summarize(out.factorize);
  out.solvetime = summarize(out.solve);
}

template <class Bench, class Solver>
void measureoneshots(Bench& bench, Solver& solver, const std::string& label, measured& out) {
  for (std::int32_t repeat = 1; repeat <= bench.options.repeat; ++repeat) {
    bench.progress.show("cspbench: %s, solve %d of %d", label.c_str(), repeat,
                        bench.options.repeat);
    solver.prepare();
    auto* righthandsides = bench.refillrighthandsides();
    interval spent;
    const std::int32_t status = timed([&] { return solver.solve(righthandsides); }, spent);
    out.wall.push_back(spent.wall);
    out.cpu.push_back(spent.cpu);
    out.check = worstof(out.check, bench.check(status));
  }
  summarizeall(out);
}

// The solves of one cycle, after a factorization that succeeded.
template <class T, class Solver>
void measuresolves(workbench<T>& bench, Solver& solver, const std::string& label,
                   std::int32_t cycle, interval& total, measured& out) {
  for (std::int32_t k = 1; k <= bench.options.solves; ++k) {
    bench.progress.show("cspbench: %s, cycle %d of %d, solve %d of %d", label.c_str(), cycle,
                        bench.options.repeat, k, bench.options.solves);
    T* righthandsides = bench.refillrighthandsides();
    interval spent;
    const std::int32_t status = timed([&] { return solver.substitute(righthandsides); }, spent);
    out.solve.push_back(spent.wall);
    addto(total, spent);
    out.check = worstof(out.check, bench.check(status));
  }
}

template <class T, class Solver>
void measurecycles(workbench<T>& bench, Solver& solver, const std::string& label, measured& out) {
  for (std::int32_t cycle = 1; cycle <= bench.options.repeat; ++cycle) {
    bench.progress.show("cspbench: %s, cycle %d of %d, factorization", label.c_str(), cycle,
                        bench.options.repeat);
    solver.prepare();
    interval total;
    const std::int32_t status = timed([&] { return solver.factor(); }, total);
    out.factorize.push_back(total.wall);
    if (status == 0) {
      measuresolves(bench, solver, label, cycle, total, out);
    } else {
      checkresult failed;
      failed.status = status;
      failed.pass = false;
      out.check = worstof(out.check, failed);
    }
    solver.release();
    out.wall.push_back(total.wall);
    out.cpu.push_back(total.cpu);
  }
  summarizeall(out);
}

// LAPACK's solvers have both shapes; the method picks one.
template <class T, class Solver>
void measure(workbench<T>& bench, Solver& solver, const std::string& label, measured& out) {
  if (methodof(bench.options.method) == method::factorized) {
    measurecycles(bench, solver, label, out);
  } else {
    measureoneshots(bench, solver, label, out);
  }
}

// The run of the index-th task count: sets it, then timesolver(run, label)
// measures the solver.
template <class Measure>
taskrun runtaskcount(const benchoptions& options, std::size_t index, Measure&& timesolver) {
  taskrun run;
  run.requested = options.tasks[index];
  settasks(run.requested);
  gettasks(run.used);
  char label[64];
  std::snprintf(label, sizeof label, "task count %d (%zu of %zu)", run.used, index + 1,
                options.tasks.size());
  timesolver(run, std::string(label));
  return run;
}

template <class T>
taskrun runtaskcount(workbench<T>& bench, std::size_t index) {
  return runtaskcount(bench.options, index, [&](taskrun& run, const std::string& label) {
    const method how = methodof(bench.options.method);
    if (how == method::factorized) {
      cspfactorized<T> solver(bench.s, run.requested);
      measurecycles(bench, solver, label, run);
    } else {
      cspsolve<T> solver(bench.s, how, run.requested);
      measureoneshots(bench, solver, label, run);
    }
  });
}

template <class T>
taskrun runtaskcount(batchbench<T>& bench, std::size_t index) {
  return runtaskcount(bench.options, index, [&](taskrun& run, const std::string& label) {
    cspbatched<T> solver(bench.systems, bench.info.data(), run.requested);
    measureoneshots(bench, solver, label, run);
  });
}

// LAPACK's routines that match the method: one-shot or factorization and
// substitution, tridiagonal for M = 1.
template <class T>
std::string lapackroutines(const benchoptions& options) {
  const std::string p = std::is_same_v<T, float> ? "s" : "d";
  const std::string shape = options.m == 1 ? "pt" : "pb";
  if (options.method == "factorized") return p + shape + "trf + " + p + shape + "trs";
  return p + shape + "sv";
}

// LAPACK's run, measured by timesolver(run, label) for the real kinds; the
// complex kinds have none.
template <class T, class Measure>
lapackrun runlapack(const benchoptions& options, Measure&& timesolver) {
  lapackrun run;
  if constexpr (is_complex_v<T>) {
    run.note =
        "no LAPACK counterpart: LAPACK's complex band Cholesky (?pbsv) is for Hermitian "
        "matrices, and this system is complex symmetric (A = A^T, no conjugation); "
        "no comparison is made";
  } else {
    run.made = true;
    run.routine = lapackroutines<T>(options);
    timesolver(run, "LAPACK " + run.routine);
  }
  return run;
}

template <class T>
lapackrun runlapack(workbench<T>& bench) {
  return runlapack<T>(bench.options, [&](lapackrun& run, const std::string& label) {
    if (bench.s.m == 1) {
      lapacktridiagonal<T> solver(bench.s);
      measure(bench, solver, label, run);
    } else {
      lapackband<T> solver(bench.s);
      measure(bench, solver, label, run);
    }
  });
}

template <class T>
lapackrun runlapack(batchbench<T>& bench) {
  return runlapack<T>(bench.options, [&](lapackrun& run, const std::string& label) {
    lapackbatched<T> solver(bench.systems, bench.info.data());
    measureoneshots(bench, solver, label, run);
  });
}

summary divided(const summary& s, double divisor) {
  return {s.median / divisor, s.min / divisor, s.max / divisor};
}

// Speedup and efficiency against the first run with one task, GFLOP/s,
// the time per system, the LAPACK ratios and the overall verdict.
void derive(benchresult& result) {
  const auto single = std::find_if(result.runs.begin(), result.runs.end(),
                                   [](const taskrun& run) { return run.used == 1; });
  const double baseline = single != result.runs.end() ? single->time.median : nan;
  const lapackrun& lapack = result.lapack;
  for (taskrun& run : result.runs) {
    run.gflops = result.flops / run.time.median * 1e-9;
    run.persystemtime = divided(run.time, result.systems);
    run.speedup = baseline / run.time.median;
    run.efficiency = run.speedup / run.used;
    run.lapackratio = lapack.made ? lapack.time.median / run.time.median : nan;
    run.factorizeratio = lapack.made ? lapack.factorizetime.median / run.factorizetime.median : nan;
    run.solveratio = lapack.made ? lapack.solvetime.median / run.solvetime.median : nan;
    result.pass = result.pass && run.check.pass;
  }
  if (lapack.made) {
    result.lapack.gflops = result.flops / lapack.time.median * 1e-9;
    result.lapack.persystemtime = divided(lapack.time, result.systems);
    result.pass = result.pass && lapack.check.pass;
  }
}

// Right-hand sides of one repeat: nrhs, or for the factorized method
// nrhs for each of its solves.
std::int64_t substitutedcolumns(const benchoptions& options) {
  const std::int64_t solves = options.method == "factorized" ? options.solves : 1;
  return solves * options.nrhs;
}

matrixsource sourceof(const benchoptions& options) {
  return options.matrix == "random" ? matrixsource::random : matrixsource::generator;
}

// The norms of every system of a batch, and the largest norm and condition
// over them for the report.
template <class T>
std::vector<systemnorms> batchnorms(const std::vector<testsystem<T>>& systems,
                                    systemnorms& largest) {
  std::vector<systemnorms> norms;
  norms.reserve(systems.size());
  std::vector<T> scratch(systems.front().band.size());
  for (const testsystem<T>& s : systems) {
    norms.push_back(systemnormsof(s, scratch));
    const systemnorms& next = norms.back();
    largest.anorm = std::max(largest.anorm, next.anorm);
    // A condition that could not be estimated (NaN) is the worst and stays.
    if (!std::isnan(largest.condition) && !(largest.condition >= next.condition))
      largest.condition = next.condition;
  }
  largest.source =
      norms.front().source + ", the largest over " + std::to_string(systems.size()) + " systems";
  return norms;
}

template <class T>
benchresult runbatched(const benchoptions& options) {
  benchresult result;
  result.options = options;
  result.systems = options.batch;
  getcpus(result.processors);
  result.flops = options.batch * flopcount(options.n, options.m, options.nrhs, is_complex_v<T>);
  progressline progress;
  progress.show("cspbench: building %d test systems", options.batch);
  const std::vector<testsystem<T>> systems =
      buildtestbatch<T>(options.n, options.m, options.nrhs, sourceof(options), options.batch);
  progress.show("cspbench: estimating the condition numbers");
  const std::vector<systemnorms> norms = batchnorms(systems, result.norms);
  std::vector<T> righthandsides(systems.size() * rhsstride(systems));
  std::vector<std::int32_t> info(systems.size());
  batchbench<T> bench{systems, options, norms, righthandsides, info, progress};
  for (std::size_t index = 0; index < options.tasks.size(); ++index)
    result.runs.push_back(runtaskcount(bench, index));
  if (options.comparelapack) result.lapack = runlapack(bench);
  derive(result);
  return result;
}

template <class T>
benchresult runkind(const benchoptions& options) {
  if (options.batch > 0) return runbatched<T>(options);
  benchresult result;
  result.options = options;
  getcpus(result.processors);
  result.flops = flopcount(options.n, options.m, substitutedcolumns(options), is_complex_v<T>);
  progressline progress;
  progress.show("cspbench: building the test system");
  const testsystem<T> s = buildtestsystem<T>(options.n, options.m, options.nrhs, sourceof(options));
  progress.show("cspbench: estimating the condition number");
  {
    std::vector<T> scratch(s.band.size());
    result.norms = systemnormsof(s, scratch);
  }
  std::vector<T> righthandsides(s.b.size());
  workbench<T> bench{s, options, result.norms, righthandsides, progress};
  for (std::size_t index = 0; index < options.tasks.size(); ++index)
    result.runs.push_back(runtaskcount(bench, index));
  if (options.comparelapack) result.lapack = runlapack(bench);
  derive(result);
  return result;
}

}  // namespace

benchresult runbenchmark(const benchoptions& options) {
  if (options.kind == "8") return runkind<double>(options);
  if (options.kind == "z4") return runkind<std::complex<float>>(options);
  if (options.kind == "z8") return runkind<std::complex<double>>(options);
  return runkind<float>(options);
}
