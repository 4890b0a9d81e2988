// solverbench: times the band solver's entries against LAPACK's band
// Cholesky solve ?pbsv on the same matrices in the same process.
//
// Problems: the benchmark's own system (N = 2,000,000, M = 8, one
// right-hand side) in single and double precision, for every task count
// from 1 to the processors; and a sweep over the half bandwidth at a smaller
// fixed N. Each timed iteration first restores the matrix and right-hand
// side from a pristine copy, then times the solve alone with a monotonic
// clock (manual time). Every case is solved once beforehand outside timing
// and must return status 0 with a small residual, or it is reported as an
// error instead of a time. At the end a summary table gives each case's
// median with its ratio to reference LAPACK and to the solver's own one-task
// time, measured in this run.
//
// Google Benchmark's flags apply, e.g. --benchmark_filter=mesolution.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "bench/generate.hpp"
#include "benchmarks/baselines.hpp"
#include "benchmarks/problem.hpp"
#include "runtime/runtime.hpp"
#include "solver/csp.hpp"

namespace {

// The benchmark's problem and the bandwidth sweep, with the number of
// timed solves whose median is reported. The sweep's N and repetitions keep
// its widest case (M = 128, about N*M^2 = 8e8 flops per solve) to a few
// seconds, so that the whole run stays within about three minutes on a
// two-core machine.
constexpr std::int32_t benchmarkn = 2000000;
constexpr std::int32_t benchmarkm = 8;
constexpr int benchmarkrepetitions = 5;
constexpr std::int32_t sweepn = 50000;
constexpr std::int32_t sweepms[] = {2, 8, 32, 128};
constexpr int sweeprepetitions = 3;
// A sound band Cholesky solve keeps the residual ratio of residualratio_4
// far below this; a wrong solution lands near 1/((M+1)*eps).
constexpr double residuallimit = 100;

enum class method { mesolution, decompsubst, solution, reference, openblas };

lapacklibrary reference;
lapacklibrary openblas;

// The entries and helpers of one element kind.
template <class T>
struct kind;
template <>
struct kind<float> {
  static constexpr const char* suffix = "_4";
  static constexpr const char* pbsv = "spbsv";
  static constexpr auto mesolution = &mesolution_csp_4;
  static constexpr auto decomposition = &decomposition_csp_4;
  static constexpr auto substitution = &substitution_csp_4;
  static constexpr auto solution = &solution_csp_4;
  static constexpr auto makeproblem = &makeproblem_4;
  static constexpr auto residualratio = &residualratio_4;
};
template <>
struct kind<double> {
  static constexpr const char* suffix = "_8";
  static constexpr const char* pbsv = "dpbsv";
  static constexpr auto mesolution = &mesolution_csp_8;
  static constexpr auto decomposition = &decomposition_csp_8;
  static constexpr auto substitution = &substitution_csp_8;
  static constexpr auto solution = &solution_csp_8;
  static constexpr auto makeproblem = &makeproblem_8;
  static constexpr auto residualratio = &residualratio_8;
};

// One benchmark case; tasks is 0 for the LAPACK baselines.
struct benchcase {
  std::string name;    // the benchmark's name, also the key of its median
  std::string solver;  // the solver column of the summary
  method how;
  bool single;  // float, else double
  std::int32_t n, m, tasks;
  int repetitions;
  bool checked = false;
  std::int32_t status = 0;
  double residual = 0;
};
std::vector<benchcase> cases;

// The pristine system of the cases now running and the solvers' working
// copies of it. One per element kind; rebuilt when N or M changes, so the
// cases of one problem are registered together.
template <class T>
struct workspace {
  bandproblem<T> problem;
  std::vector<T> band, b, work;
};

template <class T>
workspace<T>& workspacefor(std::int32_t n, std::int32_t m) {
  static workspace<T> w;
  if (w.problem.n != n || w.problem.m != m || w.problem.band.empty()) {
    kind<T>::makeproblem(n, m, w.problem);
    w.band.resize(w.problem.band.size());
    w.b.resize(w.problem.b.size());
    w.work.resize(static_cast<std::size_t>(2 * std::int64_t(n) * m));
  }
  return w;
}

template <class T>
void restore(workspace<T>& w) {
  std::copy(w.problem.band.begin(), w.problem.band.end(), w.band.begin());
  std::copy(w.problem.b.begin(), w.problem.b.end(), w.b.begin());
}

// Solves the working copies by method how; returns 0 when solved.
template <class T>
std::int32_t solve(method how, workspace<T>& w) {
  const std::int32_t n = w.problem.n, m = w.problem.m, nrhs = 1;
  std::int32_t status = 0;
  switch (how) {
    case method::mesolution:
      kind<T>::mesolution(w.band.data(), n, m, w.b.data(), nrhs, w.work.data(), status);
      break;
    case method::decompsubst:
      kind<T>::decomposition(w.band.data(), n, m, status);
      if (status == 0) kind<T>::substitution(w.band.data(), n, m, w.b.data(), nrhs);
      break;
    case method::solution:
      kind<T>::solution(w.band.data(), n, m, w.b.data(), nrhs, status);
      break;
    case method::reference:
      status = pbsv(reference, n, m, w.band.data(), w.b.data());
      break;
    case method::openblas:
      status = pbsv(openblas, n, m, w.band.data(), w.b.data());
      break;
  }
  return status;
}

// The untimed solve that every case must pass before it is timed.
template <class T>
void check(benchcase& c, workspace<T>& w) {
  restore(w);
  c.status = solve(c.how, w);
  c.residual = kind<T>::residualratio(w.problem, w.b.data());
  c.checked = true;
}

bool failed(const benchcase& c) { return c.status != 0 || !(c.residual < residuallimit); }

template <class T>
void timesolves(benchmark::State& state, benchcase& c) {
  workspace<T>& w = workspacefor<T>(c.n, c.m);
  if (c.tasks > 0) settasks(c.tasks);
  if (!c.checked) check(c, w);
  if (failed(c)) {
    const std::string why = "check failed: status " + std::to_string(c.status) +
                            ", residual " + std::to_string(c.residual) + "; not timed";
    state.SkipWithError(why.c_str());
    return;
  }
  for (auto _ : state) {
    restore(w);
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t status = solve(c.how, w);
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    if (status != 0) {
      state.SkipWithError("solve failed while timed");
      break;
    }
  }
}

std::string solvername(method how, const std::string& suffix, const std::string& pbsvname) {
  switch (how) {
    case method::mesolution: return "mesolution_csp" + suffix;
    case method::decompsubst: return "decomposition+substitution_csp" + suffix;
    case method::solution: return "solution_csp" + suffix;
    case method::reference: return pbsvname + " reference";
    case method::openblas: return pbsvname + " OpenBLAS";
  }
  return "";
}

template <class T>
void addcase(method how, std::int32_t n, std::int32_t m, std::int32_t tasks, int repetitions) {
  benchcase c{"", solvername(how, kind<T>::suffix, kind<T>::pbsv), how,
              std::is_same_v<T, float>, n, m, tasks, repetitions};
  c.name = c.solver + "/N:" + std::to_string(n) + "/M:" + std::to_string(m);
  std::replace(c.name.begin(), c.name.end(), ' ', '_');
  if (tasks > 0) c.name += "/tasks:" + std::to_string(tasks);
  cases.push_back(c);
}

// The cases of one problem in one element kind: the solver's methods for
// each of the given task counts, then the baselines.
template <class T>
void addproblem(std::int32_t n, std::int32_t m, const std::vector<method>& methods,
                const std::vector<std::int32_t>& taskcounts, int repetitions) {
  for (method how : methods) {
    for (std::int32_t tasks : taskcounts) addcase<T>(how, n, m, tasks, repetitions);
  }
  addcase<T>(method::reference, n, m, 0, repetitions);
  if (openblas.spbsv != nullptr) addcase<T>(method::openblas, n, m, 0, repetitions);
}

void addcases() {
  std::int32_t processors = 0;
  getcpus(processors);
  const std::int32_t maxtasks = std::clamp(processors, 1, 32);  // settasks caps at 32
  std::vector<std::int32_t> everycount;
  for (std::int32_t t = 1; t <= maxtasks; ++t) everycount.push_back(t);
  const std::vector<std::int32_t> oneandall =
      maxtasks > 1 ? std::vector<std::int32_t>{1, maxtasks} : std::vector<std::int32_t>{1};
  const std::vector<method> all = {method::mesolution, method::decompsubst, method::solution};

  addproblem<float>(benchmarkn, benchmarkm, all, everycount, benchmarkrepetitions);
  addproblem<double>(benchmarkn, benchmarkm, all, everycount, benchmarkrepetitions);
  for (std::int32_t m : sweepms) {
    addproblem<float>(sweepn, m, {method::mesolution}, oneandall, sweeprepetitions);
    addproblem<double>(sweepn, m, {method::mesolution}, oneandall, sweeprepetitions);
  }
}

void registercases() {
  for (std::size_t k = 0; k < cases.size(); ++k) {
    auto body = [k](benchmark::State& state) {
      if (cases[k].single) {
        timesolves<float>(state, cases[k]);
      } else {
        timesolves<double>(state, cases[k]);
      }
    };
    benchmark::RegisterBenchmark(cases[k].name.c_str(), body)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(cases[k].repetitions)
        ->ReportAggregatesOnly(true);
  }
}

// The console report, keeping the median of every case for the summary.
class summaryreporter : public benchmark::ConsoleReporter {
 public:
  summaryreporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  std::map<std::string, double> medians;  // milliseconds, by case name

  void ReportRuns(const std::vector<Run>& report) override {
    for (const Run& run : report) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
          !run.error_occurred) {
        medians[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(report);
  }
};

// The median of the case matching c in kind and problem, by method and task
// count; 0 when it did not run.
double medianof(const summaryreporter& reporter, const benchcase& c, method how,
                std::int32_t tasks) {
  for (const benchcase& other : cases) {
    if (other.how == how && other.single == c.single && other.n == c.n && other.m == c.m &&
        other.tasks == tasks) {
      const auto found = reporter.medians.find(other.name);
      return found == reporter.medians.end() ? 0 : found->second;
    }
  }
  return 0;
}

// "  -" where a ratio has no operands.
std::string ratio(double numerator, double denominator) {
  if (numerator <= 0 || denominator <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", numerator / denominator);
  return text;
}

void printsummary(const summaryreporter& reporter) {
  std::printf("\nSummary: median of the timed solves (runs), each after restoring the system\n");
  std::printf("%-34s %8s %4s %5s %4s %10s %10s %7s %8s\n", "solver", "N", "M", "tasks", "runs",
              "median ms", "/ref ?pbsv", "/1 task", "residual");
  for (const benchcase& c : cases) {
    if (!c.checked) continue;  // filtered out
    const bool ours = c.tasks > 0;
    const std::string tasks = ours ? std::to_string(c.tasks) : "-";
    std::printf("%-34s %8d %4d %5s %4d ", c.solver.c_str(), c.n, c.m, tasks.c_str(),
                c.repetitions);
    const auto found = reporter.medians.find(c.name);
    if (failed(c)) {
      std::printf("FAILED its check: status %d, residual %.3g\n", c.status, c.residual);
    } else if (found == reporter.medians.end()) {
      std::printf("FAILED while timed\n");
    } else {
      const double median = found->second;
      std::printf("%10.1f %10s %7s %8.2f\n", median,
                  ratio(median, medianof(reporter, c, method::reference, 0)).c_str(),
                  ours ? ratio(median, medianof(reporter, c, c.how, 1)).c_str() : "-",
                  c.residual);
    }
  }
  std::printf("residual: ||b - A*x||inf / (||A||inf ||x||inf (M+1) eps), checked below %.0f\n",
              residuallimit);
}

void printlibraries() {
  reference = referencelapack();
  std::string note;
  loadopenblas(openblas, note);
  std::printf("reference LAPACK: %s\n", reference.path.c_str());
  std::error_code error;
  const auto folder = std::filesystem::canonical(CSP_REFERENCE_LAPACK_DIR, error);
  if (error || std::filesystem::path(reference.path).parent_path() != folder) {
    std::printf("WARNING: spbsv_ is not taken from the reference build in %s\n",
                CSP_REFERENCE_LAPACK_DIR);
  }
  std::printf("OpenBLAS: %s\n", note.c_str());
  std::printf("sweep over M at N = %d\n\n", sweepn);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  printlibraries();
  addcases();
  registercases();
  summaryreporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::fflush(stdout);
  printsummary(reporter);
  benchmark::Shutdown();
  orvekdone();
  return 0;
}
