// Command line of cspbench-mpi: cspbench's options that apply to the
// distributed solver, the layout of the columns over the processes, and the
// ScaLAPACK comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mpi/layout.hpp"
#include "tools/testsystem.hpp"

struct mpioptions {
  std::int32_t n = 2000000;          // order N (bench1's problem by default)
  std::int32_t m = 8;                // half bandwidth M
  std::int32_t nrhs = 1;             // right-hand sides
  std::string kind = "8";            // 4, 8, z4 or z8
  std::string matrix = "generator";  // generator or random
  std::uint64_t seed = randomseed;   // of the random system
  std::vector<std::int32_t> tasks;   // task counts per process, in order
  std::int32_t repeat = 5;
  std::string layout = "even";  // even, uneven or weights
  bool comparescalapack = false;
  std::string json, csv;  // output files; empty when not asked for
};

// The processes of the run, as the checks of the options see them.
struct processgroup {
  int rank = 0;
  int count = 1;
  int pernode = 1;              // the most processes on one machine
  std::int32_t processors = 1;  // usable processors per process, the fewest of any
};

// parsempioptions(argc, argv, group, options, columns, exitcode)
//   argc, argv (in)  the command line, the same on every process.
//   group      (in)  the processes.
//   options    (out) the run; tasks default to 1 .. group.processors.
//   columns    (out) the layout of --layout over group.count processes.
//   exitcode   (out) when the function returns false: 0 after --help,
//                    2 after a one-line error (both printed by rank 0).
//   Returns true when the run may start; every process returns the same.
//   Checked here: numbers and their ranges, kind and matrix, --seed only
//   with --matrix random, the task list, the layout and its weights, the
//   output folders, --compare-scalapack in a build without ScaLAPACK, and
//   the memory of the processes of one machine against its physical memory.
bool parsempioptions(int argc, char** argv, const processgroup& group, mpioptions& options,
                     layout& columns, int& exitcode);
