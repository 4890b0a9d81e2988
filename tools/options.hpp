// Command line of cspbench: the options, their checks and their defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class Validator;
}

// One benchmark run as the command line asks for it.
struct benchoptions {
  std::int32_t n = 2000000;  // order N (bench1's problem by default)
  std::int32_t m = 8;        // half bandwidth M
  std::int32_t nrhs = 1;     // right-hand sides
  std::string kind = "4";    // 4, 8, z4 or z8
  std::string method = "mesolution";
  std::int32_t solves = 10;          // solves per factorization (method factorized)
  std::string matrix = "generator";  // generator or random
  std::int32_t batch = 0;            // systems per batched solve; 0: one system, not batched
  std::vector<std::int32_t> tasks;   // requested task counts, in order
  std::int32_t repeat = 5;
  bool comparelapack = false;
  std::string json, csv, plot;  // output files; empty when not asked for
};

// parseoptions(argc, argv, options, exitcode)
//   argc, argv (in)  the command line.
//   options    (out) the run; tasks default to 1 .. processor count.
//   exitcode   (out) when the function returns false: 0 after --help,
//                    2 after a one-line error on standard error.
//   Returns true when the run may start. Every check that needs no work is
//   made here: numbers and their ranges, kind, method and matrix, --solves
//   given only with the factorized method, the task list,
//   the output folders, gnuplot for --plot, and the memory the problem
//   needs against the machine's physical memory. With --batch the method
//   becomes "batched" and an explicit --method is refused.
bool parseoptions(int argc, char** argv, benchoptions& options, int& exitcode);

// parsetasklist(text, tasks, error)
//   text  (in)  comma-separated items, each a count "4" or a range "1-8".
//   tasks (out) the counts in order, repeats dropped.
//   error (out) what is wrong when the function returns false.
bool parsetasklist(const std::string& text, std::vector<std::int32_t>& tasks, std::string& error);

// Checks of single options, shared with cspbench-mpi. Each refuses a value
// with a message that says what is wrong with it.
//   integerat(lo): a whole decimal number in [lo, 2^31-1], rewritten to plain
//     decimal; only an option's transform() passes the rewrite on to the
//     conversion (check() validates a copy), so that "010" is not octal.
//   tasklist():    a list parsetasklist accepts.
//   outputfile():  a file name whose folder exists and is writable.
CLI::Validator integerat(std::int32_t lo);
CLI::Validator tasklist();
CLI::Validator outputfile();

// The machine's physical memory in bytes (infinity when unknown), and a
// byte count as text such as "1.5 GiB".
double physicalmemory();
std::string gibibytes(double bytes);
