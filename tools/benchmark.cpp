// The measurement loop of cspbench.

#include "tools/benchmark.hpp"

#include <unistd.h>

#include <algorithm>
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

enum class method { mesolution, solution, decomposition, automatic, factorized };

method methodof(const std::string& name) {
  if (name == "solution") return method::solution;
  if (name == "decomposition") return method::decomposition;
  if (name == "auto") return method::automatic;
  if (name == "factorized") return method::factorized;
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

template <class T, class Solver>
void measureoneshots(workbench<T>& bench, Solver& solver, const std::string& label, measured& out) {
  for (std::int32_t repeat = 1; repeat <= bench.options.repeat; ++repeat) {
    bench.progress.show("cspbench: %s, solve %d of %d", label.c_str(), repeat,
                        bench.options.repeat);
    solver.prepare();
    T* righthandsides = bench.refillrighthandsides();
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

template <class T>
taskrun runtaskcount(workbench<T>& bench, std::size_t index) {
  taskrun run;
  run.requested = bench.options.tasks[index];
  settasks(run.requested);
  gettasks(run.used);
  char label[64];
  std::snprintf(label, sizeof label, "task count %d (%zu of %zu)", run.used, index + 1,
                bench.options.tasks.size());
  const method how = methodof(bench.options.method);
  if (how == method::factorized) {
    cspfactorized<T> solver(bench.s, run.requested);
    measurecycles(bench, solver, label, run);
  } else {
    cspsolve<T> solver(bench.s, how, run.requested);
    measureoneshots(bench, solver, label, run);
  }
  return run;
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

template <class T>
lapackrun runlapack(workbench<T>& bench) {
  lapackrun run;
  if constexpr (is_complex_v<T>) {
    run.note =
        "no LAPACK counterpart: LAPACK's complex band Cholesky (?pbsv) is for Hermitian "
        "matrices, and this system is complex symmetric (A = A^T, no conjugation); "
        "no comparison is made";
  } else {
    run.made = true;
    run.routine = lapackroutines<T>(bench.options);
    const std::string label = "LAPACK " + run.routine;
    if (bench.s.m == 1) {
      lapacktridiagonal<T> solver(bench.s);
      measure(bench, solver, label, run);
    } else {
      lapackband<T> solver(bench.s);
      measure(bench, solver, label, run);
    }
  }
  return run;
}

// Speedup and efficiency against the first run with one task, GFLOP/s,
// the LAPACK ratios and the overall verdict.
void derive(benchresult& result) {
  const auto single = std::find_if(result.runs.begin(), result.runs.end(),
                                   [](const taskrun& run) { return run.used == 1; });
  const double baseline = single != result.runs.end() ? single->time.median : nan;
  const lapackrun& lapack = result.lapack;
  for (taskrun& run : result.runs) {
    run.gflops = result.flops / run.time.median * 1e-9;
    run.speedup = baseline / run.time.median;
    run.efficiency = run.speedup / run.used;
    run.lapackratio = lapack.made ? lapack.time.median / run.time.median : nan;
    run.factorizeratio = lapack.made ? lapack.factorizetime.median / run.factorizetime.median : nan;
    run.solveratio = lapack.made ? lapack.solvetime.median / run.solvetime.median : nan;
    result.pass = result.pass && run.check.pass;
  }
  if (lapack.made) {
    result.lapack.gflops = result.flops / lapack.time.median * 1e-9;
    result.pass = result.pass && lapack.check.pass;
  }
}

// Right-hand sides of one repeat: nrhs, or for the factorized method
// nrhs for each of its solves.
std::int64_t substitutedcolumns(const benchoptions& options) {
  const std::int64_t solves = options.method == "factorized" ? options.solves : 1;
  return solves * options.nrhs;
}

template <class T>
benchresult runkind(const benchoptions& options) {
  benchresult result;
  result.options = options;
  getcpus(result.processors);
  result.flops = flopcount(options.n, options.m, substitutedcolumns(options), is_complex_v<T>);
  progressline progress;
  progress.show("cspbench: building the test system");
  const matrixsource source =
      options.matrix == "random" ? matrixsource::random : matrixsource::generator;
  const testsystem<T> s = buildtestsystem<T>(options.n, options.m, options.nrhs, source);
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
