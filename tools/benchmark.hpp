// The measurement loop of cspbench and the results it produces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/measure.hpp"
#include "tools/options.hpp"
#include "tools/verify.hpp"

// The solves of one task count.
struct taskrun {
  std::int32_t requested = 0;  // the task count asked for
  std::int32_t used = 0;       // gettasks after settasks(requested)
  std::vector<double> wall;    // seconds of each repeat
  std::vector<double> cpu;     // processor seconds of each repeat, all threads
  summary time;                // of wall
  summary cputime;             // of cpu
  double gflops = 0;           // flop count / median time
  double speedup = 0;          // one-task median / median; NaN without a one-task run
  double efficiency = 0;       // speedup / used
  double lapackratio = 0;      // LAPACK median / median; NaN without LAPACK
  checkresult check;           // worst over the repeats
};

// The reference LAPACK run of --compare-lapack.
struct lapackrun {
  bool made = false;  // false: not asked for, or no counterpart (see note)
  std::string routine;
  std::string note;  // why no comparison was made, when asked for
  std::vector<double> wall;
  summary time;
  double gflops = 0;
  checkresult check;
};

struct benchresult {
  benchoptions options;
  std::int32_t processors = 0;
  double flops = 0;
  systemnorms norms;
  std::vector<taskrun> runs;
  lapackrun lapack;
  bool pass = true;  // every check of every solve passed
};

// runbenchmark(options): builds the test system of the kind asked for and
// times and checks options.repeat solves per task count (and LAPACK's, when
// asked). Progress goes to standard error when it is a terminal.
benchresult runbenchmark(const benchoptions& options);
