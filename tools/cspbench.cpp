// cspbench: times the band solver's entries over a list of task counts,
// verifies every solve, and reports a table (and JSON, CSV, an SVG plot).

#include <cstdio>
#include <new>
#include <string>

#include "runtime/runtime.hpp"
#include "tools/benchmark.hpp"
#include "tools/options.hpp"
#include "tools/table.hpp"
#include "tools/writers.hpp"

namespace {

// Writes every output file asked for; reports each failure on its own line.
bool writeoutputs(const benchresult& result) {
  const benchoptions& o = result.options;
  bool written = true;
  std::string error;
  const auto report = [&](bool ok) {
    if (!ok) std::fprintf(stderr, "cspbench: error: %s\n", error.c_str());
    written = written && ok;
  };
  if (!o.json.empty()) report(writejson(o.json, result, error));
  if (!o.csv.empty()) report(writecsv(o.csv, result, error));
  if (!o.plot.empty()) report(writeplot(o.plot, result, error));
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  benchoptions options;
  int exitcode = 0;
  if (!parseoptions(argc, argv, options, exitcode)) return exitcode;
  printheading(stdout, options);
  try {
    const benchresult result = runbenchmark(options);
    printtable(stdout, result);
    const bool written = writeoutputs(result);
    orvekdone();
    return result.pass && written ? 0 : 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "cspbench: error: out of memory while allocating the problem\n");
    return 2;
  }
}
