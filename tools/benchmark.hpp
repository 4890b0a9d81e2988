// The measurement loop of cspbench and the results it produces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/measure.hpp"
#include "tools/options.hpp"
#include "tools/verify.hpp"

// The timed repeats of one solver and the worst of their checks. A repeat
// is one solve, or for the factorized method one cycle: a factorization,
// then options.solves solves, each on a fresh copy of the right-hand sides
// and each timed apart (the copies are not timed), or for the batched
// method one solve of all options.batch systems.
struct measured {
  std::vector<double> wall;       // seconds of each repeat; a cycle's: its parts' sum
  std::vector<double> cpu;        // processor seconds of each repeat, all threads
  std::vector<double> factorize;  // seconds of each cycle's factorization
  std::vector<double> solve;      // seconds of every solve of every cycle
  summary time;                   // of wall
  summary cputime;                // of cpu
  summary factorizetime;          // of factorize; NaN for one-shot methods
  summary solvetime;              // of solve: the time per solve; NaN likewise
  summary persystemtime;          // time / systems per repeat (batched: / batch)
  checkresult check;              // worst over every solve (batched: every system's)
};

// The solves of one task count.
struct taskrun : measured {
  std::int32_t requested = 0;  // the task count asked for
  std::int32_t used = 0;       // gettasks after settasks(requested)
  double gflops = 0;           // flop count / median time
  double speedup = 0;          // one-task median / median; NaN without a one-task run
  double efficiency = 0;       // speedup / used
  double lapackratio = 0;      // LAPACK median / median; NaN without LAPACK
  double factorizeratio = 0;   // the same of the factorization; NaN unless factorized
  double solveratio = 0;       // the same of the time per solve; NaN unless factorized
};

// The reference LAPACK run of --compare-lapack.
struct lapackrun : measured {
  bool made = false;    // false: not asked for, or no counterpart (see note)
  std::string routine;  // "dpbsv", or "dpbtrf + dpbtrs" for the factorized method
  std::string note;     // why no comparison was made, when asked for
  double gflops = 0;
};

struct benchresult {
  benchoptions options;
  std::int32_t processors = 0;
  std::int32_t systems = 1;  // systems solved per repeat: options.batch when batched
  double flops = 0;          // of one repeat: a solve, a factorized cycle, or a batch
  systemnorms norms;         // batched: the largest norm and condition over the systems
  std::vector<taskrun> runs;
  lapackrun lapack;
  bool pass = true;  // every check of every solve passed
};

// runbenchmark(options): builds the test system (or batch of systems) of
// the kind asked for and times and checks options.repeat solves (or
// factorized cycles, or batched solves) per task count, and LAPACK's when
// asked. Progress goes to standard error when it is
// a terminal.
benchresult runbenchmark(const benchoptions& options);
