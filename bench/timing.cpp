// Run timing: collectusertimes and getusertimes share the readings below.

#include "bench/timing.hpp"

#include <unistd.h>

#include <cstdint>

#include "runtime/runtime.hpp"

namespace {

// Readings at the start and the end of the interval; zero at program start.
tms tms_init = {};
std::int64_t timeinit = 0;
tms tms_end = {};
std::int64_t timeend = 0;

std::uint64_t ticks(clock_t count) { return static_cast<std::uint64_t>(count); }

// A signed tick difference formed modulo 2^64 (no overflow whatever the
// readings), converted to a 32-bit real with its sign, so a reading that
// steps backwards yields a small negative time rather than one near 2^64.
float seconds(std::uint64_t difference, float tickrate) {
  return static_cast<float>(static_cast<std::int64_t>(difference)) / tickrate;
}

}  // namespace

std::int64_t binding::times(tms& record) { return static_cast<std::int64_t>(::times(&record)); }

float long_to_real(const std::int64_t& count) {
  return static_cast<float>(static_cast<std::uint64_t>(count));
}

void intervaltimes(const tms& start, const std::int64_t& clockstart, const tms& end,
                   const std::int64_t& clockend, const std::int32_t& tck, float& elapsed,
                   float& user, float& kernel, float& total) {
  const std::int64_t rate = tck;
  const float t = long_to_real(rate);
  elapsed = seconds(static_cast<std::uint64_t>(clockend) - static_cast<std::uint64_t>(clockstart), t);
  user = seconds(ticks(end.tms_utime) + ticks(end.tms_cutime) - ticks(start.tms_utime) -
                     ticks(start.tms_cutime),
                 t);
  kernel = seconds(ticks(end.tms_stime) + ticks(end.tms_cstime) - ticks(start.tms_stime) -
                       ticks(start.tms_cstime),
                   t);
  total = kernel + user;
}

void collectusertimes() { timeinit = binding::times(tms_init); }

void getusertimes(float& elapsed, float& user, float& kernel, float& total) {
  timeend = binding::times(tms_end);
  const std::int32_t selector = _SC_CLK_TCK;
  const std::int32_t tck = binding::sysconf(selector);
  intervaltimes(tms_init, timeinit, tms_end, timeend, tck, elapsed, user, kernel, total);
}
