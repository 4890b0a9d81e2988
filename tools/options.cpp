// Command line of cspbench, parsed by CLI11.

#include "tools/options.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <set>

#include "runtime/runtime.hpp"
#include "tools/measure.hpp"
#include "tools/testsystem.hpp"

namespace {

constexpr std::int32_t maxint = std::numeric_limits<std::int32_t>::max();
// A longer task list is almost certainly a typing slip (1-1000000).
constexpr std::size_t maxtaskcounts = 1024;

}  // namespace

// A whole decimal number in [lo, maxint]: "abc", "3.5", "0x10" and values
// beyond 32 bits are refused with a message that says which. On success the
// text is rewritten to plain decimal, so that CLI11 never reads "010" as
// octal.
CLI::Validator integerat(std::int32_t lo) {
  return CLI::Validator(
      [lo](std::string& text) -> std::string {
        std::int64_t value = 0;
        const char* end = text.data() + text.size();
        const auto [stop, fault] = std::from_chars(text.data(), end, value);
        if (text.empty() || fault == std::errc::invalid_argument || stop != end)
          return "'" + text + "' is not a whole number";
        if (fault == std::errc::result_out_of_range || value > maxint)
          return text + " is too large (at most " + std::to_string(maxint) + ")";
        if (value < lo) return text + " is out of range (at least " + std::to_string(lo) + ")";
        text = std::to_string(value);
        return {};
      },
      "");
}

CLI::Validator tasklist() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::vector<std::int32_t> tasks;
        std::string error;
        return parsetasklist(text, tasks, error) ? std::string() : error;
      },
      "");
}

// The folder of an output file must exist and be writable before the run
// starts, so that hours of measurement are not lost at the end.
CLI::Validator outputfile() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const std::filesystem::path path(text);
        if (text.empty() || !path.has_filename()) return "'" + text + "' names no file";
        const std::filesystem::path folder =
            path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
        if (access(folder.c_str(), W_OK | X_OK) != 0)
          return "folder '" + folder.string() + "' does not exist or is not writable";
        return {};
      },
      "");
}

namespace {

// The items of text between separators, empty ones included ("1,,2" has
// three, "" has one).
std::vector<std::string> splitat(const std::string& text, char separator) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (std::size_t stop; (stop = text.find(separator, start)) != std::string::npos;
       start = stop + 1)
    items.push_back(text.substr(start, stop - start));
  items.push_back(text.substr(start));
  return items;
}

bool gnuplotinstalled() {
  const char* path = std::getenv("PATH");
  for (const std::string& folder : splitat(path ? path : "", ':'))
    if (!folder.empty() && access((folder + "/gnuplot").c_str(), X_OK) == 0) return true;
  return false;
}

}  // namespace

std::string gibibytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GiB", bytes / (1024.0 * 1024.0 * 1024.0));
  return text;
}

double physicalmemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pagesize = sysconf(_SC_PAGESIZE);
  return pages > 0 && pagesize > 0 ? static_cast<double>(pages) * static_cast<double>(pagesize)
                                   : std::numeric_limits<double>::infinity();
}

namespace {

// Checks that need several options together; solvesgiven, methodgiven:
// --solves, --method was on the command line. Returns the error, or "".
std::string crosscheck(const benchoptions& options, bool solvesgiven, bool methodgiven) {
  if (options.batch > 0 && methodgiven)
    return "--batch times csp_solve_batched_tasks_X and takes no --method";
  if (solvesgiven && options.method != "factorized")
    return "--solves applies to --method factorized only";
  if (options.m >= options.n)
    return "--m: the half bandwidth " + std::to_string(options.m) +
           " must be below N = " + std::to_string(options.n);
  if (!options.plot.empty() && !gnuplotinstalled())
    return "--plot needs gnuplot, which is not installed: install the package gnuplot-nox "
           "(apt-get install gnuplot-nox)";
  const double needed = problembytes(options);
  const double available = physicalmemory();
  if (needed > available)
    return "the problem needs " + gibibytes(needed) + " of memory, more than the " +
           gibibytes(available) + " of physical memory of this machine";
  return {};
}

std::string footer() {
  return "Example:\n"
         "  cspbench --kind 8 --n 400000 --m 8 --tasks 1-2 --repeat 3 --compare-lapack \\\n"
         "           --json run.json --csv run.csv --plot run.svg\n"
         "Without options: bench1's problem, N = 2000000, M = 8, nrhs = 1, kind 4,\n"
         "method mesolution, task counts 1 .. processor count, 5 repeats.\n\n" +
         flopformula() +
         "\nChecks of every solve (inf-norms, x* the exact solution, eps of the kind):\n"
         "  error ratio    ||x - x*|| / (||x*|| * cond(A) * eps)       <= 30\n"
         "  residual ratio ||b - A*x|| / (||A|| * ||x|| * N * eps)     <= 30\n"
         "  and solver status 0. cond(A) from LAPACK ?pbtrf and ?lacn2 (real kinds) or the\n"
         "  diagonal dominance bound of the complex test system.\n\n"
         "--method factorized times the factorization and each solve apart; a row's\n"
         "time is their sum, and its operation count one factorization plus\n"
         "--solves times nrhs substitutions.\n"
         "--batch B times csp_solve_batched_tasks_X on B systems of order N per call:\n"
         "each repeat solves all B from fresh copies and checks every one; a row's\n"
         "time is the call's, per sys s that time / B, the operation count B solves'.\n"
         "With --matrix random system k is drawn from the seed of the single system\n"
         "plus k; with the generator all share its matrix, and system k > 0 gets its\n"
         "own random exact solution.\n"
         "Exit status: 0 every check PASS, 1 a check FAIL or an output file failed,\n"
         "2 bad input (nothing is run).\n";
}

}  // namespace

bool parsetasklist(const std::string& text, std::vector<std::int32_t>& tasks, std::string& error) {
  tasks.clear();
  std::set<std::int32_t> seen;
  for (const std::string& item : splitat(text, ',')) {
    const std::size_t dash = item.find('-', 1);
    const std::string firsttext = item.substr(0, dash);
    const std::string lasttext = dash == std::string::npos ? firsttext : item.substr(dash + 1);
    std::int32_t first = 0, last = 0;
    const auto number = [](const std::string& s, std::int32_t& value) {
      const auto [stopat, fault] = std::from_chars(s.data(), s.data() + s.size(), value);
      return !s.empty() && fault == std::errc() && stopat == s.data() + s.size();
    };
    if (!number(firsttext, first) || !number(lasttext, last)) {
      error = "'" + item + "' is not a task count or a range such as 1-8";
      return false;
    }
    if (first < 1 || last < 1) {
      error =
          "task count " + std::to_string(std::min(first, last)) + " is out of range (at least 1)";
      return false;
    }
    if (last < first) {
      error = "range '" + item + "' runs backwards";
      return false;
    }
    for (std::int64_t t = first; t <= last; ++t) {
      if (seen.insert(static_cast<std::int32_t>(t)).second)
        tasks.push_back(static_cast<std::int32_t>(t));
      if (tasks.size() > maxtaskcounts) {
        error = "the list holds more than " + std::to_string(maxtaskcounts) + " task counts";
        return false;
      }
    }
  }
  return true;
}

bool parseoptions(int argc, char** argv, benchoptions& options, int& exitcode) {
  CLI::App app{
      "cspbench: times and verifies the parallel band solver (csp family) on a\n"
      "symmetric positive definite band system for a list of task counts.",
      "cspbench"};
  app.footer(footer());
  std::string tasks;
  app.add_option("--n", options.n, "order N of the system, >= 1")
      ->check(integerat(1))
      ->capture_default_str();
  app.add_option("--m", options.m, "half bandwidth M, 0 <= M < N")
      ->check(integerat(0))
      ->capture_default_str();
  app.add_option("--nrhs", options.nrhs, "number of right-hand sides, >= 1")
      ->check(integerat(1))
      ->capture_default_str();
  app.add_option("--kind", options.kind,
                 "element kind: 4 float, 8 double, z4 complex<float>, z8 complex<double>")
      ->check(CLI::IsMember({"4", "8", "z4", "z8"}))
      ->capture_default_str();
  CLI::Option* method =
      app.add_option("--method", options.method,
                     "solver entry: mesolution, solution, decomposition (decomposition_csp "
                     "then substitution_csp), auto (the C interface's csp_solve_tasks_X), or "
                     "factorized (csp_factorize_tasks_X once, then --solves calls of "
                     "csp_solve_factorized_tasks_X)")
          ->check(CLI::IsMember({"mesolution", "solution", "decomposition", "auto", "factorized"}))
          ->capture_default_str();
  CLI::Option* solves = app.add_option("--solves", options.solves,
                                       "solves per factorization of --method factorized, >= 1")
                            ->check(integerat(1))
                            ->capture_default_str();
  app.add_option("--matrix", options.matrix,
                 "test system: generator (the benchmark library's, see docs/cspbench.md) or "
                 "random (diagonally dominant, fixed seed)")
      ->check(CLI::IsMember({"generator", "random"}))
      ->capture_default_str();
  app.add_option("--batch", options.batch,
                 "time csp_solve_batched_tasks_X on B different systems of order N per "
                 "call, B >= 1 (default: one system, --method's entry)")
      ->type_name("B")
      ->check(integerat(1));
  app.add_option("--tasks", tasks,
                 "task counts >= 1, e.g. 1,2,4 or 1-8 or 1,4-6 (default 1 to the processor "
                 "count); settasks caps each at min(processors, 32)")
      ->type_name("LIST")
      ->check(tasklist());
  app.add_option("--repeat", options.repeat,
                 "timed solves (factorized: cycles; batched: calls) per task count, >= 1")
      ->check(integerat(1))
      ->capture_default_str();
  app.add_flag("--compare-lapack", options.comparelapack,
               "also time reference LAPACK on the same system (real kinds): ?pbsv, ?ptsv "
               "for M = 1, and for --method factorized ?pbtrf (?pttrf) with ?pbtrs (?pttrs); with "
               "--batch a loop of ?pbsv (?ptsv) over the systems");
  app.add_option("--json", options.json, "write the results as JSON")
      ->type_name("FILE")
      ->check(outputfile());
  app.add_option("--csv", options.csv, "write the results as CSV")
      ->type_name("FILE")
      ->check(outputfile());
  app.add_option("--plot", options.plot,
                 "plot time and speedup against task count as SVG (needs gnuplot)")
      ->type_name("FILE.svg")
      ->check(outputfile());
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& fault) {
    if (fault.get_exit_code() == 0) {
      exitcode = app.exit(fault);
      return false;
    }
    std::fprintf(stderr, "cspbench: error: %s (see --help)\n", fault.what());
    exitcode = 2;
    return false;
  }
  std::string error;
  if (!tasks.empty()) {
    parsetasklist(tasks, options.tasks, error);
  } else {
    std::int32_t processors = 0;
    getcpus(processors);
    for (std::int32_t t = 1; t <= std::max(processors, 1); ++t) options.tasks.push_back(t);
  }
  const bool methodgiven = method->count() > 0;
  if (options.batch > 0 && !methodgiven) options.method = "batched";
  error = crosscheck(options, solves->count() > 0, methodgiven);
  if (!error.empty()) {
    std::fprintf(stderr, "cspbench: error: %s\n", error.c_str());
    exitcode = 2;
    return false;
  }
  return true;
}
