// Run timing of the benchmark: the wall-clock time of one interval and the
// processor time the whole process spends in it in user and kernel mode.
// collectusertimes marks the start, getusertimes the end; they share saved
// readings of the platform's times().
#pragma once

#include <sys/times.h>

#include <cstdint>

namespace binding {
// times(record)
//   record (out) the process times: user, system, and the user and system
//                times of waited-for children, in clock ticks.
//   Returns the clock reading in ticks since an arbitrary fixed point,
//   unchanged.
std::int64_t times(tms& record);
}  // namespace binding

// long_to_real(count)
//   count (in) a 64-bit count, read as an unsigned 64-bit integer.
//   Returns it as a 32-bit real (rounded to nearest).
float long_to_real(const std::int64_t& count);

// collectusertimes()
//   Records the start of the interval (process times and clock reading).
void collectusertimes();

// getusertimes(elapsed, user, kernel, total)
//   Records the end of the interval and measures from the last
//   collectusertimes (from all-zero readings when there was none).
//   elapsed (out) wall-clock seconds.
//   user    (out) user-mode processor seconds of the process and its
//                 waited-for children.
//   kernel  (out) kernel-mode processor seconds, likewise.
//   total   (out) kernel + user, added as 32-bit reals.
void getusertimes(float& elapsed, float& user, float& kernel, float& total);

// intervaltimes(start, clockstart, end, clockend, tck, elapsed, user, kernel, total)
//   The arithmetic of getusertimes on two given readings.
//   start, clockstart (in) process times and clock reading at the start.
//   end, clockend     (in) process times and clock reading at the end.
//   tck               (in) clock ticks per second.
//   elapsed, user, kernel, total (out) as for getusertimes.
// Each difference of tick counts is formed in 64-bit integer arithmetic
// before it is converted to a 32-bit real, so no tick is lost however large
// the readings are; only the difference is rounded.
void intervaltimes(const tms& start, const std::int64_t& clockstart, const tms& end,
                   const std::int64_t& clockend, const std::int32_t& tck, float& elapsed,
                   float& user, float& kernel, float& total);
