// The measurement loop of cspbench.

#include "tools/benchmark.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <type_traits>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"
#include "solver/element.hpp"
#include "tools/lapack.hpp"
#include "tools/testsystem.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

enum class method { mesolution, solution, decomposition };

method methodof(const std::string& name) {
  if (name == "solution") return method::solution;
  if (name == "decomposition") return method::decomposition;
  return method::mesolution;
}

// The solver entries of each element kind.
template <class T>
struct entries;
template <>
struct entries<float> {
  static constexpr auto mesolution = mesolution_csp_4;
  static constexpr auto solution = solution_csp_4;
  static constexpr auto decomposition = decomposition_csp_4;
  static constexpr auto substitution = substitution_csp_4;
};
template <>
struct entries<double> {
  static constexpr auto mesolution = mesolution_csp_8;
  static constexpr auto solution = solution_csp_8;
  static constexpr auto decomposition = decomposition_csp_8;
  static constexpr auto substitution = substitution_csp_8;
};
template <>
struct entries<std::complex<float>> {
  static constexpr auto mesolution = mesolution_csp_z4;
  static constexpr auto solution = solution_csp_z4;
  static constexpr auto decomposition = decomposition_csp_z4;
  static constexpr auto substitution = substitution_csp_z4;
};
template <>
struct entries<std::complex<double>> {
  static constexpr auto mesolution = mesolution_csp_z8;
  static constexpr auto solution = solution_csp_z8;
  static constexpr auto decomposition = decomposition_csp_z8;
  static constexpr auto substitution = substitution_csp_z8;
};

// One solve by the method asked for; returns the solver's status. The
// decomposition method substitutes only with a factor that succeeded.
template <class T>
std::int32_t solveonce(method how, T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                       const std::int32_t& nrhs, T* work) {
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
  }
  return status;
}

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

// Working arrays of the solves, refilled from the pristine system before
// every timed solve (the solvers overwrite the band and the right-hand
// sides).
template <class T>
struct workingset {
  std::vector<T> band, b, work;
  void refill(const testsystem<T>& s) {
    std::copy(s.band.begin(), s.band.end(), band.begin());
    std::copy(s.b.begin(), s.b.end(), b.begin());
  }
};

template <class T>
taskrun runtaskcount(const testsystem<T>& s, const benchoptions& options, std::size_t index,
                     const systemnorms& norms, workingset<T>& w, progressline& progress) {
  taskrun run;
  run.requested = options.tasks[index];
  settasks(run.requested);
  gettasks(run.used);
  const method how = methodof(options.method);
  for (std::int32_t repeat = 1; repeat <= options.repeat; ++repeat) {
    progress.show("cspbench: task count %d (%zu of %zu), solve %d of %d", run.used, index + 1,
                  options.tasks.size(), repeat, options.repeat);
    w.refill(s);
    const clockreading start = readclocks();
    const std::int32_t status =
        solveonce(how, w.band.data(), s.n, s.m, w.b.data(), s.nrhs, w.work.data());
    const interval spent = between(start, readclocks());
    run.wall.push_back(spent.wall);
    run.cpu.push_back(spent.cpu);
    const checkresult check = checksolution(s, w.b, status, norms);
    run.check = repeat == 1 ? check : worstof(run.check, check);
  }
  run.time = summarize(run.wall);
  run.cputime = summarize(run.cpu);
  return run;
}

template <class T>
lapackrun runlapack(const testsystem<T>& s, const benchoptions& options, const systemnorms& norms,
                    workingset<T>& w, progressline& progress) {
  lapackrun run;
  if constexpr (is_complex_v<T>) {
    run.note =
        "no LAPACK counterpart: LAPACK's complex band Cholesky (?pbsv) is for Hermitian "
        "matrices, and this system is complex symmetric (A = A^T, no conjugation); "
        "no comparison is made";
  } else {
    run.made = true;
    run.routine = std::is_same_v<T, float> ? "spbsv" : "dpbsv";
    for (std::int32_t repeat = 1; repeat <= options.repeat; ++repeat) {
      progress.show("cspbench: LAPACK %s, solve %d of %d", run.routine.c_str(), repeat,
                    options.repeat);
      w.refill(s);
      const clockreading start = readclocks();
      const std::int32_t info = lapackbandsolve(w.band.data(), s.n, s.m, w.b.data(), s.nrhs);
      run.wall.push_back(between(start, readclocks()).wall);
      const checkresult check = checksolution(s, w.b, info, norms);
      run.check = repeat == 1 ? check : worstof(run.check, check);
    }
    run.time = summarize(run.wall);
  }
  return run;
}

// Speedup and efficiency against the first run with one task, GFLOP/s,
// the LAPACK ratio and the overall verdict.
void derive(benchresult& result) {
  const auto single = std::find_if(result.runs.begin(), result.runs.end(),
                                   [](const taskrun& run) { return run.used == 1; });
  const double baseline = single != result.runs.end() ? single->time.median : nan;
  for (taskrun& run : result.runs) {
    run.gflops = result.flops / run.time.median * 1e-9;
    run.speedup = baseline / run.time.median;
    run.efficiency = run.speedup / run.used;
    run.lapackratio = result.lapack.made ? result.lapack.time.median / run.time.median : nan;
    result.pass = result.pass && run.check.pass;
  }
  if (result.lapack.made) {
    result.lapack.gflops = result.flops / result.lapack.time.median * 1e-9;
    result.pass = result.pass && result.lapack.check.pass;
  }
}

template <class T>
benchresult runkind(const benchoptions& options) {
  benchresult result;
  result.options = options;
  getcpus(result.processors);
  result.flops = flopcount(options.n, options.m, options.nrhs, is_complex_v<T>);
  progressline progress;
  progress.show("cspbench: building the test system");
  const testsystem<T> s = buildtestsystem<T>(options.n, options.m, options.nrhs);
  workingset<T> w;
  w.band.resize(s.band.size());
  w.b.resize(s.b.size());
  if (options.method == "mesolution")
    w.work.resize(static_cast<std::size_t>(std::max<std::int64_t>(2 * std::int64_t(s.n) * s.m, 1)));
  progress.show("cspbench: estimating the condition number");
  result.norms = systemnormsof(s, w.band);
  for (std::size_t index = 0; index < options.tasks.size(); ++index)
    result.runs.push_back(runtaskcount(s, options, index, result.norms, w, progress));
  if (options.comparelapack) result.lapack = runlapack(s, options, result.norms, w, progress);
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
