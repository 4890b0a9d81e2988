// The report and files of cspbench-mpi.

#include "tools/mpi/report.hpp"

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "tools/table.hpp"
#include "tools/writers.hpp"

namespace {

const char* pass(const checkresult& c) { return c.pass ? "PASS" : "FAIL"; }

// The columns of every process, listed for a few processes and as a range
// for many.
std::string columncounts(const layout& columns) {
  std::int64_t fewest = columns.columns.front().count, most = fewest;
  std::string list;
  for (const columnrange& c : columns.columns) {
    fewest = std::min(fewest, c.count);
    most = std::max(most, c.count);
    list += (list.empty() ? "" : ", ") + std::to_string(c.count);
  }
  if (columns.columns.size() <= 16) return list;
  return std::to_string(fewest) + " to " + std::to_string(most);
}

// The ScaLAPACK line, or why there is none.
void printscalapack(std::FILE* out, const mpiresult& result) {
  const scalapackrun& sc = result.scalapack;
  if (!sc.made) {
    if (!sc.note.empty()) std::fprintf(out, "ScaLAPACK comparison: %s.\n", sc.note.c_str());
    return;
  }
  std::fprintf(out,
               "ScaLAPACK %s on the even layout (NB = %lld, 1 x %d grid): median %.4g s, min "
               "%.4g s, max %.4g s, cpu %.4g s, %.4g GFLOP/s, error ratio %s, residual ratio %s, "
               "info %d, %s\n",
               sc.routine.c_str(), static_cast<long long>(sc.block), result.group.count,
               sc.time.median, sc.time.min, sc.time.max, sc.cputime.median, sc.gflops,
               field("%.3g", sc.check.errorratio).c_str(),
               field("%.3g", sc.check.residualratio).c_str(), sc.check.status, pass(sc.check));
  std::fprintf(out, "ScaLAPACK %s: factor %.4g s, solve %.4g s (medians)\n", sc.parts.c_str(),
               sc.factorizetime.median, sc.solvetime.median);
  if (!sc.system.empty())
    std::fprintf(out, "ScaLAPACK solved %s: cond_inf(A) = %s (%s)\n", sc.system.c_str(),
                 field("%.3g", sc.norms.condition).c_str(), sc.norms.source.c_str());
  if (result.columns.name != "even")
    std::fprintf(out, "ScaLAPACK ran with the even layout; the csp solver with --layout %s\n",
                 result.columns.name.c_str());
  std::fprintf(out,
               "vs ScaLAPACK = ScaLAPACK median / csp median of the row (above 1: the csp solver "
               "is faster)\n");
}

void printcapped(std::FILE* out, const mpiresult& result) {
  std::string capped;
  for (const mpitaskrun& run : result.runs) {
    if (run.used == run.requested) continue;
    capped += (capped.empty() ? "" : ", ") + std::to_string(run.requested) + " -> " +
              std::to_string(run.used);
  }
  if (!capped.empty())
    std::fprintf(out,
                 "Capped task counts (each call runs at most the processors its process may "
                 "use, at most 32): %s\n",
                 capped.c_str());
}

void printoneshots(std::FILE* out, const mpiresult& result) {
  const bool scalapack = result.scalapack.made;
  std::fprintf(out, "csp_dist_solve_tasks_X, factorization and solve in one call:\n");
  std::fprintf(out, "%6s %9s %9s %9s %9s %8s %8s %6s %11s %11s %6s  %s%s\n", "tasks", "median s",
               "min s", "max s", "cpu s", "GFLOP/s", "speedup", "effic.", "error ratio",
               "resid ratio", "status", "check", scalapack ? " vs ScaLAPACK" : "");
  for (const mpitaskrun& run : result.runs) {
    std::fprintf(out, "%6d %9.4g %9.4g %9.4g %9.4g %8.4g %8s %6s %11s %11s %6d  %s", run.used,
                 run.time.median, run.time.min, run.time.max, run.cputime.median, run.gflops,
                 field("%.2f", run.speedup).c_str(), field("%.2f", run.efficiency).c_str(),
                 field("%.3g", run.check.errorratio).c_str(),
                 field("%.3g", run.check.residualratio).c_str(), run.check.status, pass(run.check));
    if (scalapack) std::fprintf(out, " %12s", field("%.2fx", run.scalapackratio).c_str());
    std::fprintf(out, "\n");
  }
}

void printparts(std::FILE* out, const mpiresult& result) {
  const scalapackrun& sc = result.scalapack;
  std::fprintf(out,
               "\ncsp_dist_factorize_tasks_X, then csp_dist_solve_factorized_tasks_X, timed "
               "apart:\n");
  std::fprintf(out, "%6s %10s %10s", "tasks", "factor s", "solve s");
  if (sc.made)
    std::fprintf(out, " %13s %13s", ("vs " + sc.parts.substr(0, sc.parts.find(' '))).c_str(),
                 ("vs " + sc.parts.substr(sc.parts.rfind(' ') + 1)).c_str());
  std::fprintf(out, "\n");
  for (const mpitaskrun& run : result.runs) {
    std::fprintf(out, "%6d %10.4g %10.4g", run.used, run.factorizetime.median,
                 run.solvetime.median);
    if (sc.made)
      std::fprintf(out, " %13s %13s", field("%.2fx", run.factorizeratio).c_str(),
                   field("%.2fx", run.solveratio).c_str());
    std::fprintf(out, "\n");
  }
}

nlohmann::json timesjson(const measured& m) {
  return {{"wall_seconds", m.wall},
          {"cpu_seconds", m.cpu},
          {"time", tojson(m.time)},
          {"cpu_time", tojson(m.cputime)},
          {"factorize_seconds", m.factorize},
          {"solve_seconds", m.solve},
          {"factorize_time", tojson(m.factorizetime)},
          {"solve_time", tojson(m.solvetime)},
          {"check", tojson(m.check)}};
}

nlohmann::json tojson(const mpitaskrun& run) {
  nlohmann::json j = timesjson(run);
  j.update({{"tasks_requested", run.requested},
            {"tasks", run.used},
            {"capped", run.used != run.requested},
            {"gflops", run.gflops},
            {"speedup", jsonnumber(run.speedup)},
            {"efficiency", jsonnumber(run.efficiency)},
            {"scalapack_ratio", jsonnumber(run.scalapackratio)},
            {"scalapack_factorize_ratio", jsonnumber(run.factorizeratio)},
            {"scalapack_solve_ratio", jsonnumber(run.solveratio)}});
  return j;
}

nlohmann::json tojson(const scalapackrun& sc) {
  if (!sc.made) return nullptr;
  nlohmann::json j = timesjson(sc);
  j.update({{"routine", sc.routine},
            {"parts", sc.parts},
            {"layout", "even"},
            {"block", sc.block},
            {"system", sc.system},
            {"gflops", sc.gflops},
            {"anorm", sc.norms.anorm},
            {"condition", jsonnumber(sc.norms.condition)},
            {"condition_source", sc.norms.source}});
  return j;
}

nlohmann::json tojson(const mpiresult& result) {
  const mpioptions& o = result.options;
  nlohmann::json runs = nlohmann::json::array();
  for (const mpitaskrun& run : result.runs) runs.push_back(tojson(run));
  std::vector<std::int64_t> counts;
  for (const columnrange& c : result.columns.columns) counts.push_back(c.count);
  return {{"program", "cspbench-mpi"},
          {"problem",
           {{"n", o.n},
            {"m", o.m},
            {"nrhs", o.nrhs},
            {"kind", o.kind},
            {"matrix", o.matrix},
            {"seed", o.matrix == "random" ? nlohmann::json(o.seed) : nlohmann::json()},
            {"repeat", o.repeat},
            {"layout", o.layout}}},
          {"processes", result.group.count},
          {"processes_per_machine", result.group.pernode},
          {"processors", result.group.processors},
          {"columns", counts},
          {"flops", result.flops},
          {"anorm", result.norms.anorm},
          {"condition", jsonnumber(result.norms.condition)},
          {"condition_source", result.norms.source},
          {"threshold", checkthreshold},
          {"runs", runs},
          {"scalapack", tojson(result.scalapack)},
          {"scalapack_note", result.scalapack.note},
          {"pass", result.pass}};
}

// A CSV field that may hold a comma (a layout's weights), quoted.
std::string csvtext(const std::string& text) {
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

void printmpiheading(std::FILE* out, const mpioptions& o, const processgroup& group,
                     const layout& columns) {
  std::fprintf(out,
               "cspbench-mpi: N = %d, M = %d, nrhs = %d, kind %s (%s), matrix %s, %d repeats\n",
               o.n, o.m, o.nrhs, o.kind.c_str(), kindname(o.kind), o.matrix.c_str(), o.repeat);
  std::fprintf(out,
               "Processes: %d (at most %d on one machine), usable processors per process: %d; "
               "layout %s, columns per process: %s\n",
               group.count, group.pernode, group.processors, columns.name.c_str(),
               columncounts(columns).c_str());
  std::fprintf(out,
               "Checks of every solve: error ratio ||x-x*||/(||x*|| cond(A) eps) <= %g, "
               "residual ratio ||b-Ax||/(||A|| ||x|| N eps) <= %g, status 0\n",
               checkthreshold, checkthreshold);
  std::fflush(out);
}

void printmpitable(std::FILE* out, const mpiresult& result) {
  std::fprintf(out, "Condition estimate: cond_inf(A) = %s (%s)\n",
               field("%.3g", result.norms.condition).c_str(), result.norms.source.c_str());
  std::fprintf(out, "Operation count: %.6g flops per solve (formula: cspbench-mpi --help)\n\n",
               result.flops);
  printoneshots(out, result);
  printparts(out, result);
  std::fprintf(out,
               "\nWall seconds of the slowest process, medians over %d repeats (monotonic clock, "
               "from a barrier); cpu s: the largest processor time of a process, all threads; "
               "tasks: per process; speedup and effic. against the one-task row\n",
               result.options.repeat);
  if (!result.runs.empty() && std::isnan(result.runs.front().speedup))
    std::fprintf(out, "No speedup: the task list has no run with one task\n");
  printcapped(out, result);
  printscalapack(out, result);
  std::fprintf(out, "Result: %s\n",
               result.pass ? "PASS, every solve verified" : "FAIL, see the rows marked FAIL");
  std::fflush(out);
}

bool writempijson(const std::string& path, const mpiresult& result, std::string& error) {
  return writeatomically(path, tojson(result).dump(2) + "\n", error);
}

bool writempicsv(const std::string& path, const mpiresult& result, std::string& error) {
  const mpioptions& o = result.options;
  const scalapackrun& sc = result.scalapack;
  std::string text =
      "n,m,nrhs,kind,tasks_requested,tasks,median_s,min_s,max_s,cpu_median_s,gflops,speedup,"
      "efficiency,relative_error,error_ratio,residual_ratio,status,check,scalapack_median_s,"
      "scalapack_ratio,matrix,factorize_median_s,solve_median_s,scalapack_factorize_median_s,"
      "scalapack_solve_median_s,scalapack_factorize_ratio,scalapack_solve_ratio,processes,"
      "layout\n";
  const auto scalapackvalue = [&](double value) { return sc.made ? csvnumber(value) : ""; };
  for (const mpitaskrun& run : result.runs) {
    const std::string fields[] = {std::to_string(o.n),
                                  std::to_string(o.m),
                                  std::to_string(o.nrhs),
                                  o.kind,
                                  std::to_string(run.requested),
                                  std::to_string(run.used),
                                  csvnumber(run.time.median),
                                  csvnumber(run.time.min),
                                  csvnumber(run.time.max),
                                  csvnumber(run.cputime.median),
                                  csvnumber(run.gflops),
                                  csvnumber(run.speedup),
                                  csvnumber(run.efficiency),
                                  csvnumber(run.check.relativeerror),
                                  csvnumber(run.check.errorratio),
                                  csvnumber(run.check.residualratio),
                                  std::to_string(run.check.status),
                                  pass(run.check),
                                  scalapackvalue(sc.time.median),
                                  csvnumber(run.scalapackratio),
                                  o.matrix,
                                  csvnumber(run.factorizetime.median),
                                  csvnumber(run.solvetime.median),
                                  scalapackvalue(sc.factorizetime.median),
                                  scalapackvalue(sc.solvetime.median),
                                  csvnumber(run.factorizeratio),
                                  csvnumber(run.solveratio),
                                  std::to_string(result.group.count),
                                  csvtext(result.columns.name)};
    for (std::size_t k = 0; k < std::size(fields); ++k) text += (k ? "," : "") + fields[k];
    text += "\n";
  }
  return writeatomically(path, text, error);
}
