// Command line of cspbench-mpi, parsed by CLI11 with cspbench's checks.

#include "tools/mpi/mpioptions.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "tools/measure.hpp"
#include "tools/mpi/scalapack.hpp"
#include "tools/options.hpp"

namespace {

// "even", "uneven" or weights; their count is checked against the
// processes once the layout is made.
CLI::Validator layoutvalue() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text == "even" || text == "uneven") return {};
        std::vector<std::int64_t> weights;
        std::string error;
        return parseweights(text, weights, error) ? std::string() : error;
      },
      "");
}

CLI::Validator seedvalue() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::uint64_t value = 0;
        const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || fault != std::errc() || end != text.data() + text.size())
          return "'" + text + "' is not a seed (a whole number from 0 to 2^64-1)";
        return {};
      },
      "");
}

// The memory of one process holding `columns` columns: its share of the
// system (band with M columns more, b, x, the right-hand sides solved and
// the solution rows with their neighbours), the solver's window and
// factorization, (5M+1) columns' worth as cspbench counts it, and with
// ScaLAPACK its copy of its share, the working copy and the fill-in.
double processbytes(const mpioptions& o, double columns, double block) {
  const double m = o.m, nrhs = o.nrhs;
  double elements = (m + 1) * (columns + m) + 4 * columns * nrhs + (5 * m + 1) * columns;
  if (o.comparescalapack) elements += 2 * (m + 1) * block + (block + 2 * m) * m + 4 * block * nrhs;
  return elements * static_cast<double>(elementbytes(o.kind));
}

// Checks that need several options together, or the processes; returns the
// error, or "".
std::string crosscheck(const mpioptions& o, const processgroup& group, bool seedgiven,
                       layout& columns) {
  if (seedgiven && o.matrix != "random") return "--seed applies to --matrix random only";
  if (o.m >= o.n)
    return "--m: the half bandwidth " + std::to_string(o.m) +
           " must be below N = " + std::to_string(o.n);
  if (o.comparescalapack && !scalapackbuilt())
    return "--compare-scalapack: this cspbench-mpi was built without ScaLAPACK (the build "
           "found no libscalapack-openmpi; install libscalapack-openmpi-dev and build again)";
  std::string error;
  if (!makelayout(o.layout, o.n, group.count, columns, error)) return error;
  double largest = 0;
  for (const columnrange& c : columns.columns) largest = std::max(largest, double(c.count));
  const double block = evenlayout(o.n, group.count).columns.front().count;
  const double needed = group.pernode * processbytes(o, largest, block);
  const double available = physicalmemory();
  if (needed > available)
    return "the " + std::to_string(group.pernode) + " processes of one machine need " +
           gibibytes(needed) + " of memory, more than its " + gibibytes(available) +
           " of physical memory";
  return {};
}

std::string footer() {
  return "Example:\n"
         "  mpirun -np 2 cspbench-mpi --n 400000 --m 32 --tasks 1 --compare-scalapack \\\n"
         "           --json run.json --csv run.csv\n"
         "Without options: bench1's problem, N = 2000000, M = 8, nrhs = 1, kind 8,\n"
         "the even layout, task counts 1 .. the processors of each process, 5 repeats.\n\n"
         "Every repeat times csp_dist_solve_tasks_X (factor and solve in one call), then\n"
         "csp_dist_factorize_tasks_X and one csp_dist_solve_factorized_tasks_X apart;\n"
         "each time is the slowest process's, from a barrier. Medians over the repeats.\n"
         "--tasks is the task count of each process, passed to those calls.\n"
         "--compare-scalapack times ScaLAPACK's p?pbsv and p?pbtrf + p?pbtrs on the same\n"
         "processes, always with the even layout (one block size for all processes);\n"
         "for the complex kinds on the real kind's system in complex storage, since\n"
         "ScaLAPACK's complex routines are Hermitian (see docs/cspbench-mpi.md).\n\n" +
         flopformula() +
         "\nChecks of every solve (inf-norms, x* the exact solution, eps of the kind),\n"
         "formed by each process on its rows and reduced over the processes:\n"
         "  error ratio    ||x - x*|| / (||x*|| * cond(A) * eps)       <= 30\n"
         "  residual ratio ||b - A*x|| / (||A|| * ||x|| * N * eps)     <= 30\n"
         "  and status 0. cond(A) from LAPACK's ?lacn2 estimator run over the processes\n"
         "  with csp_dist solves (real kinds) or the diagonal dominance bound (complex).\n"
         "Exit status: 0 every check PASS, 1 a check FAIL or an output file failed,\n"
         "2 bad input (nothing is run).\n";
}

// The whole numbers go through transform, not check: CLI11 runs a check on
// a copy of the text, and only a transform's plain decimal rewrite reaches
// the conversion (which would read "010" as octal).
void addoptions(CLI::App& app, mpioptions& o, std::string& tasks, std::string& seed) {
  app.add_option("--n", o.n, "order N of the system, >= 1")
      ->transform(integerat(1))
      ->capture_default_str();
  app.add_option("--m", o.m, "half bandwidth M, 0 <= M < N")
      ->transform(integerat(0))
      ->capture_default_str();
  app.add_option("--nrhs", o.nrhs, "number of right-hand sides, >= 1")
      ->transform(integerat(1))
      ->capture_default_str();
  app.add_option("--kind", o.kind,
                 "element kind: 4 float, 8 double, z4 complex<float>, z8 complex<double>")
      ->check(CLI::IsMember({"4", "8", "z4", "z8"}))
      ->capture_default_str();
  app.add_option("--matrix", o.matrix,
                 "test system: generator (cspbench's, see docs/cspbench.md) or random "
                 "(diagonally dominant, from --seed)")
      ->check(CLI::IsMember({"generator", "random"}))
      ->capture_default_str();
  app.add_option("--seed", seed, "seed of --matrix random (default 20240611, cspbench's)")
      ->type_name("S")
      ->check(seedvalue());
  app.add_option("--tasks", tasks,
                 "task counts of each process, e.g. 1,2 or 1-4 (default 1 to the processors "
                 "each process may use); each call caps them at those processors")
      ->type_name("LIST")
      ->check(tasklist());
  app.add_option("--repeat", o.repeat, "timed repeats per task count, >= 1")
      ->transform(integerat(1))
      ->capture_default_str();
  app.add_option("--layout", o.layout,
                 "columns per process: even (blocks of ceil(N/P)), uneven (process r gets "
                 "r+1 shares), or P weights such as 3,1")
      ->type_name("LAYOUT")
      ->check(layoutvalue())
      ->capture_default_str();
  app.add_flag("--compare-scalapack", o.comparescalapack,
               "also time ScaLAPACK's p?pbsv and p?pbtrf + p?pbtrs on the same processes "
               "(even layout)");
  app.add_option("--json", o.json, "write the results as JSON")
      ->type_name("FILE")
      ->check(outputfile());
  app.add_option("--csv", o.csv, "write the results as CSV")
      ->type_name("FILE")
      ->check(outputfile());
}

}  // namespace

bool parsempioptions(int argc, char** argv, const processgroup& group, mpioptions& options,
                     layout& columns, int& exitcode) {
  const bool speaker = group.rank == 0;
  CLI::App app{
      "cspbench-mpi: times and verifies the distributed band solver (csp_dist) on a\n"
      "symmetric positive definite band system spread over the MPI processes.",
      "cspbench-mpi"};
  app.footer(footer());
  std::string tasks, seed;
  addoptions(app, options, tasks, seed);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& fault) {
    if (fault.get_exit_code() == 0) {
      exitcode = speaker ? app.exit(fault) : 0;
      return false;
    }
    if (speaker) std::fprintf(stderr, "cspbench-mpi: error: %s (see --help)\n", fault.what());
    exitcode = 2;
    return false;
  }
  std::string error;
  if (!seed.empty()) options.seed = std::stoull(seed);
  if (!tasks.empty()) {
    parsetasklist(tasks, options.tasks, error);
  } else {
    for (std::int32_t t = 1; t <= std::max(group.processors, 1); ++t) options.tasks.push_back(t);
  }
  error = crosscheck(options, group, !seed.empty(), columns);
  if (!error.empty()) {
    if (speaker) std::fprintf(stderr, "cspbench-mpi: error: %s\n", error.c_str());
    exitcode = 2;
    return false;
  }
  return true;
}
