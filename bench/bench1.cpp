// bench1: times the parallel band solver on one fixed positive definite band
// system for every task count from 1 to the number of processors configured
// on the machine, and prints the elapsed and processor times of each solve.

#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/generate.hpp"
#include "bench/report.hpp"
#include "bench/timing.hpp"
#include "runtime/runtime.hpp"
#include "solver/band.hpp"
#include "solver/csp.hpp"

namespace {

// The problem: equations, half bandwidth, right-hand sides.
constexpr std::int32_t n = 2000000;
constexpr std::int32_t m = 8;
constexpr std::int32_t nrhs = 1;

// The one work array, static and never allocated: the band, the right-hand
// side, the exact solution and the solver's work area, one after the other.
constexpr std::int32_t worksize = 54000000;
float a[worksize];

// 1-based index of the first entry after the regions,
// (M*(N-1)+N+1) + N + N + 2*N*M, in 32-bit arithmetic.
constexpr std::int32_t firstpastregions(std::int32_t n, std::int32_t m) {
  return (m * (n - 1) + n + 1) + n + n + 2 * n * m;
}
// Constant evaluation rejects signed overflow, so this proves that the
// 32-bit check below cannot overflow for the fixed sizes.
static_assert(firstpastregions(n, m) > 0, "the memory check overflows 32 bits");

// The regions may end at the array's last entry but not beyond it.
bool memoryfits() { return firstpastregions(n, m) <= worksize; }

// The region starting at 1-based index first of the work array.
float* region(std::int64_t first) { return a + (first - 1); }

void printline(const std::string& line) { std::puts(line.c_str()); }

void printheadings() {
  printline(freeformatline("Number of equations: ", n));
  printline(freeformatline("Half bandwidth: ", m));
}

// One pass with task count i: build the system, time the solve, report.
void runpass(const std::int32_t& i) {
  printline("");
  printline((i == 1 ? " Processor: " : " Processors: ") + countfield(i));
  settasks(i);
  const std::int64_t l = bandlength(n, m);
  float* const band = region(1);
  float* const b = region(l + 1);
  float* const x = region(l + n + 1);
  float* const work = region(l + 2 * std::int64_t{n} + 1);
  std::int32_t status;  // the solver's report, never read
  generatedata(band, b, x, n, m, nrhs);
  float elapsed = 0, user = 0, kernel = 0, total = 0;
  // The timed interval holds the solve and nothing else.
  collectusertimes();
  mesolution_csp_4(band, n, m, b, nrhs, work, status);
  getusertimes(elapsed, user, kernel, total);
  printline(" Elapsed Time (Seconds): " + timefield(elapsed));
  printline(" CPU Time in User Mode (Seconds): " + timefield(user));
  printline(" CPU Time in Kernel Mode (Seconds): " + timefield(kernel));
  printline(" Total CPU Time (Seconds): " + timefield(total));
}

}  // namespace

int main() {
  printheadings();
  if (!memoryfits()) {
    printline(" Memory overflow");
    return 0;
  }
  std::int32_t nproc = 0;
  getcpus(nproc);
  for (std::int32_t i = 1; i <= nproc; ++i) runpass(i);
  printline("");
  orvekdone();
  return 0;
}
