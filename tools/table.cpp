// The readable report of cspbench.

#include "tools/table.hpp"

#include <cmath>
#include <string>

#include "runtime/runtime.hpp"

const char* kindname(const std::string& kind) {
  if (kind == "8") return "double";
  if (kind == "z4") return "complex<float>";
  if (kind == "z8") return "complex<double>";
  return "float";
}

std::string field(const char* format, double value) {
  if (std::isnan(value)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

namespace {

bool batched(const benchoptions& options) { return options.batch > 0; }

void printrow(std::FILE* out, const taskrun& run, bool lapack, bool batch) {
  std::fprintf(out, "%6d %9.4g", run.used, run.time.median);
  if (batch) std::fprintf(out, " %9.4g", run.persystemtime.median);
  std::fprintf(out, " %9.4g %9.4g %9.4g %8.4g %8s %6s %11s %11s %6d  %s", run.time.min,
               run.time.max, run.cputime.median, run.gflops, field("%.2f", run.speedup).c_str(),
               field("%.2f", run.efficiency).c_str(), field("%.3g", run.check.errorratio).c_str(),
               field("%.3g", run.check.residualratio).c_str(), run.check.status,
               run.check.pass ? "PASS" : "FAIL");
  if (lapack) std::fprintf(out, " %9s", field("%.2fx", run.lapackratio).c_str());
  std::fprintf(out, "\n");
}

void printcapped(std::FILE* out, const benchresult& result) {
  std::string capped;
  for (const taskrun& run : result.runs) {
    if (run.used == run.requested) continue;
    capped += (capped.empty() ? "" : ", ") + std::to_string(run.requested) + " -> " +
              std::to_string(run.used);
  }
  if (!capped.empty())
    std::fprintf(out, "Capped task counts (settasks allows at most min(processors, 32)): %s\n",
                 capped.c_str());
}

bool factorized(const benchoptions& options) { return options.method == "factorized"; }

// The parts of the factorized cycles, one row per task count.
void printcycles(std::FILE* out, const benchresult& result) {
  const bool lapack = result.lapack.made;
  std::fprintf(out,
               "\nFactorized cycles: 1 factorization + %d solves, each timed apart; median s "
               "above = their sum (total)\n",
               result.options.solves);
  std::fprintf(out, "%6s %10s %10s %10s%s\n", "tasks", "factor s", "per solve", "total s",
               lapack ? "  factor vs  solve vs  total vs LAPACK" : "");
  for (const taskrun& run : result.runs) {
    std::fprintf(out, "%6d %10.4g %10.4g %10.4g", run.used, run.factorizetime.median,
                 run.solvetime.median, run.time.median);
    if (lapack)
      std::fprintf(out, "  %9s %9s %9s", field("%.2fx", run.factorizeratio).c_str(),
                   field("%.2fx", run.solveratio).c_str(), field("%.2fx", run.lapackratio).c_str());
    std::fprintf(out, "\n");
  }
  std::fprintf(out,
               "factor s: median over the cycles; per solve: median over every solve of every "
               "cycle; total s: median over the cycles of factorization + solves\n");
  if (lapack)
    std::fprintf(out, "LAPACK %s: factor %.4g s, per solve %.4g s, total %.4g s\n",
                 result.lapack.routine.c_str(), result.lapack.factorizetime.median,
                 result.lapack.solvetime.median, result.lapack.time.median);
}

void printlapack(std::FILE* out, const benchresult& result) {
  const lapackrun& lapack = result.lapack;
  if (!lapack.made) {
    if (!lapack.note.empty()) std::fprintf(out, "LAPACK comparison: %s.\n", lapack.note.c_str());
    return;
  }
  const std::string each = batched(result.options) ? ", one call per system" : "";
  char persystem[48] = "";
  if (batched(result.options))
    std::snprintf(persystem, sizeof persystem, " (per system %.4g s)", lapack.persystemtime.median);
  std::fprintf(out,
               "LAPACK %s%s (reference LAPACK, serial): median %.4g s%s, min %.4g s, max %.4g s, "
               "%.4g GFLOP/s, error ratio %s, residual ratio %s, info %d, %s\n",
               lapack.routine.c_str(), each.c_str(), lapack.time.median, persystem, lapack.time.min,
               lapack.time.max, lapack.gflops, field("%.3g", lapack.check.errorratio).c_str(),
               field("%.3g", lapack.check.residualratio).c_str(), lapack.check.status,
               lapack.check.pass ? "PASS" : "FAIL");
  std::fprintf(
      out, "vs LAPACK = LAPACK median / median of the row (above 1: the csp solver is faster)\n");
}

}  // namespace

void printheading(std::FILE* out, const benchoptions& options) {
  std::int32_t processors = 0;
  getcpus(processors);
  const std::string cycle =
      factorized(options) ? " (" + std::to_string(options.solves) + " solves per factorization)"
      : batched(options)
          ? " (csp_solve_batched_tasks_X, " + std::to_string(options.batch) + " systems per call)"
          : "";
  std::fprintf(out,
               "cspbench: N = %d, M = %d, nrhs = %d, kind %s (%s), method %s%s, matrix %s, "
               "%d repeats\n",
               options.n, options.m, options.nrhs, options.kind.c_str(), kindname(options.kind),
               options.method.c_str(), cycle.c_str(), options.matrix.c_str(), options.repeat);
  std::fprintf(out, "Machine: %d processors\n", processors);
  std::fprintf(out,
               "Checks of every %s: error ratio ||x-x*||/(||x*|| cond(A) eps) <= %g, "
               "residual ratio ||b-Ax||/(||A|| ||x|| N eps) <= %g, status 0\n",
               batched(options) ? "system of every solve" : "solve", checkthreshold,
               checkthreshold);
  std::fflush(out);
}

void printtable(std::FILE* out, const benchresult& result) {
  std::fprintf(out, "Condition estimate: cond_inf(A) = %s (%s)\n",
               field("%.3g", result.norms.condition).c_str(), result.norms.source.c_str());
  const bool batch = batched(result.options);
  const std::string per = factorized(result.options) ? "cycle of factorization and solves"
                          : batch
                              ? "batched solve of " + std::to_string(result.systems) + " systems"
                              : "solve";
  std::fprintf(out, "Operation count: %.6g flops per %s (formula: cspbench --help)\n\n",
               result.flops, per.c_str());
  const bool lapack = result.lapack.made;
  std::fprintf(out, "%6s %9s", "tasks", "median s");
  if (batch) std::fprintf(out, " %9s", "per sys s");
  std::fprintf(out, " %9s %9s %9s %8s %8s %6s %11s %11s %6s  %s%s\n", "min s", "max s", "cpu s",
               "GFLOP/s", "speedup", "effic.", "error ratio", "resid ratio", "status", "check",
               lapack ? " vs LAPACK" : "");
  for (const taskrun& run : result.runs) printrow(out, run, lapack, batch);
  std::fprintf(out,
               "\nWall seconds over %d repeats (monotonic clock); cpu s: median processor time of "
               "the process, all threads; speedup and effic. against the one-task row\n",
               result.options.repeat);
  if (batch)
    std::fprintf(out,
                 "Each repeat solves all %d systems in one call; per sys s = median s / %d; "
                 "error and residual ratios: the worst over every system\n",
                 result.systems, result.systems);
  if (std::isnan(result.runs.front().speedup))
    std::fprintf(out, "No speedup: the task list has no run with one task\n");
  printcapped(out, result);
  printlapack(out, result);
  if (factorized(result.options)) printcycles(out, result);
  std::fprintf(out, "Result: %s\n",
               result.pass ? "PASS, every solve verified" : "FAIL, see the rows marked FAIL");
  std::fflush(out);
}
