// Run timing: the interval arithmetic on synthetic readings, and a real
// interval measured around a busy loop (no thresholds, only consistency).

#include <gtest/gtest.h>
#include <sys/times.h>

#include <cstdint>

#include "bench/timing.hpp"

namespace {

constexpr std::int64_t big = std::int64_t{1} << 40;  // readings far above 2^24

tms record(std::int64_t user, std::int64_t system, std::int64_t childuser, std::int64_t childsystem) {
  tms r{};
  r.tms_utime = user;
  r.tms_stime = system;
  r.tms_cutime = childuser;
  r.tms_cstime = childsystem;
  return r;
}

// Near 2^40 a 32-bit real has a spacing of 2^17 ticks: converting the
// readings first would give 0 for all three times. Their differences are
// small and exact.
TEST(IntervalTimes, DifferencesOfLargeReadingsAreExact) {
  const tms start = record(big + 1, 2 * big, (std::int64_t{1} << 33) + 1, 7);
  const tms end = record(big + 151, 2 * big + 25, (std::int64_t{1} << 33) + 51, 7);
  const std::int64_t clockstart = big + 3, clockend = big + 103;
  const std::int32_t tck = 100;
  float elapsed = -1, user = -1, kernel = -1, total = -1;
  intervaltimes(start, clockstart, end, clockend, tck, elapsed, user, kernel, total);
  EXPECT_EQ(elapsed, 1.0f);
  EXPECT_EQ(user, 2.0f);    // 150 own + 50 children's ticks
  EXPECT_EQ(kernel, 0.25f);  // 25 own ticks
  EXPECT_EQ(total, 2.25f);
}

// 1/60 + 2/60 added as 32-bit reals is one unit in the last place above
// the 32-bit 3/60: total is the sum of the two stored values.
TEST(IntervalTimes, TotalIsSumOfStoredValues) {
  const tms start = record(big, big, 0, 0);
  const tms end = record(big + 1, big + 2, 0, 0);
  const std::int32_t tck = 60;
  float elapsed = -1, user = -1, kernel = -1, total = -1;
  intervaltimes(start, 0, end, 0, tck, elapsed, user, kernel, total);
  EXPECT_EQ(elapsed, 0.0f);
  EXPECT_EQ(user, 1.0f / 60.0f);
  EXPECT_EQ(kernel, 2.0f / 60.0f);
  EXPECT_EQ(total, kernel + user);
  EXPECT_NE(total, 3.0f / 60.0f);
}

TEST(IntervalTimes, BackwardStepIsSmallAndNegative) {
  const tms same = record(5, 5, 5, 5);
  const std::int32_t tck = 100;
  float elapsed = 0, user = -1, kernel = -1, total = -1;
  intervaltimes(same, big + 100, same, big, tck, elapsed, user, kernel, total);
  EXPECT_EQ(elapsed, -1.0f);
  EXPECT_EQ(user, 0.0f);
  EXPECT_EQ(kernel, 0.0f);
  EXPECT_EQ(total, 0.0f);
}

TEST(LongToReal, ReadsTheCountUnsigned) {
  EXPECT_EQ(long_to_real(std::int64_t{100}), 100.0f);
  EXPECT_EQ(long_to_real(big), 1099511627776.0f);
  EXPECT_EQ(long_to_real(std::int64_t{-1}), 18446744073709551616.0f);  // 2^64 after rounding
}

TEST(GetUserTimes, BusyIntervalIsConsistent) {
  tms before{}, after{};
  const std::int64_t clockbefore = binding::times(before);
  collectusertimes();
  volatile double sink = 0.0;
  for (int k = 0; k < 20000000; ++k) sink = sink + 1.0 / (k + 1.0);
  float elapsed = -1, user = -1, kernel = -1, total = -1;
  getusertimes(elapsed, user, kernel, total);
  const std::int64_t clockafter = binding::times(after);
  EXPECT_GE(clockafter, clockbefore);
  EXPECT_GE(elapsed, 0.0f);
  EXPECT_GE(user, 0.0f);
  EXPECT_GE(kernel, 0.0f);
  EXPECT_EQ(total, kernel + user);

  // A second reading measures from the same start.
  float elapsed2 = -1, user2 = -1, kernel2 = -1, total2 = -1;
  getusertimes(elapsed2, user2, kernel2, total2);
  EXPECT_GE(elapsed2, elapsed);
  EXPECT_GE(user2, user);
  EXPECT_GE(kernel2, kernel);
}

}  // namespace
