// Grain sizes of the parallel kernels, fixed once per run.
//
// Whichever of the three routines runs first fixes all four values of
// def_orvek for the rest of the run (maxchunk > 0 marks them fixed); the
// complex table depends on the task count in force at that first call.

#include <algorithm>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"

namespace def_orvek {
std::int32_t cpus = 0;
std::int32_t minchunk = 0;
std::int32_t maxchunk = 0;
std::int32_t middlechunk = 0;
}  // namespace def_orvek

namespace {
void setgrain(std::int32_t maxchunk, std::int32_t middlechunk, std::int32_t minchunk) {
  def_orvek::maxchunk = maxchunk;
  def_orvek::middlechunk = middlechunk;
  def_orvek::minchunk = minchunk;
}
}  // namespace

void requiregrainsize() {
  if (def_orvek::maxchunk > 0) return;
  gettasks(def_orvek::cpus);
  setgrain(24, 12, 8);
}

void requiregrainsizeforcomplex() {
  if (def_orvek::maxchunk > 0) return;
  gettasks(def_orvek::cpus);
  if (def_orvek::cpus > 2) {
    setgrain(8, 6, 4);
  } else {
    setgrain(16, 8, 6);
  }
}

void requiregrainsizeforqp() {
  if (def_orvek::maxchunk > 0) return;
  gettasks(def_orvek::cpus);
  setgrain(8, 6, 4);
}

std::int32_t blockwidth(const std::int32_t& m) {
  const std::int32_t chunk = def_orvek::maxchunk;
  return std::max(chunk * chunk / std::max(m, std::int32_t{1}), m + 1);
}
