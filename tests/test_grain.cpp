// Grain sizes and block width: the first call of any of the three routines
// fixes the grain sizes from the task count of that moment, for good.
//
// The grain-size state is public and lives for the whole process, so every
// test sets it back to unset before it starts: the tests then pass run one
// per process or all in one.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <ostream>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"
#include "tests/solves.hpp"

// The complex table changes above two tasks, and task counts are capped by
// the processor count: this program reports four configured processors,
// whatever the machine has, so that every task count up to four can be set.
// It supplies the runtime's binding rather than the C library's sysconf, so
// that this holds under the sanitizers too.
std::int32_t binding::sysconf(const std::int32_t& selector) {
  return selector == _SC_NPROCESSORS_CONF ? 4 : static_cast<std::int32_t>(::sysconf(selector));
}

namespace {

struct grainset {
  std::int32_t cpus, maxchunk, middlechunk, minchunk;
  bool operator==(const grainset&) const = default;
};
std::ostream& operator<<(std::ostream& out, const grainset& g) {
  return out << "cpus " << g.cpus << ", " << g.maxchunk << "/" << g.middlechunk << "/"
             << g.minchunk;
}

// Sets the task count, or skips the test where the program sees too few
// processors for it.
void settaskcount(std::int32_t tasks) {
  std::int32_t processors = 0;
  getcpus(processors);
  if (tasks > processors) GTEST_SKIP() << "needs " << tasks << " processors";
  settasks(tasks);
}

grainset current() {
  return {def_orvek::cpus, def_orvek::maxchunk, def_orvek::middlechunk, def_orvek::minchunk};
}

struct firstcall {
  const char* name;
  void (*fix)();
  std::int32_t tasks;  // task count in force at the first call
  grainset expected;
};

class GrainSize : public ::testing::TestWithParam<firstcall> {
 protected:
  void SetUp() override {
    def_orvek::cpus = def_orvek::minchunk = def_orvek::maxchunk = def_orvek::middlechunk = 0;
    settaskcount(GetParam().tasks);
  }
};

// The first call sets the table of its family for the task count in force;
// later calls of any of the three routines, under every task count, leave it
// as it is (so a complex solve after a real one keeps the real table).
TEST_P(GrainSize, FirstCallFixesTheTableForGood) {
  const firstcall& first = GetParam();
  first.fix();
  EXPECT_EQ(current(), first.expected);
  for (const std::int32_t tasks : {1, 2, 3, 4}) {
    settasks(tasks);
    requiregrainsize();
    requiregrainsizeforcomplex();
    requiregrainsizeforqp();
    EXPECT_EQ(current(), first.expected) << "after later calls with " << tasks << " tasks";
  }
}

INSTANTIATE_TEST_SUITE_P(
    FirstCall, GrainSize,
    ::testing::Values(firstcall{"real_1task", requiregrainsize, 1, {1, 24, 12, 8}},
                      firstcall{"real_3tasks", requiregrainsize, 3, {3, 24, 12, 8}},
                      firstcall{"complex_1task", requiregrainsizeforcomplex, 1, {1, 16, 8, 6}},
                      firstcall{"complex_2tasks", requiregrainsizeforcomplex, 2, {2, 16, 8, 6}},
                      firstcall{"complex_3tasks", requiregrainsizeforcomplex, 3, {3, 8, 6, 4}},
                      firstcall{"complex_4tasks", requiregrainsizeforcomplex, 4, {4, 8, 6, 4}},
                      firstcall{"qp_2tasks", requiregrainsizeforqp, 2, {2, 8, 6, 4}}),
    [](const ::testing::TestParamInfo<firstcall>& info) { return info.param.name; });

// Solves of both families on several threads make their first call at once:
// one table is fixed, whole, and every thread's block width comes from it.
TEST(GrainSizeRace, FirstCallsOnSeveralThreadsFixOneWholeTable) {
  settaskcount(3);
  for (int round = 0; round < 20; ++round) {
    def_orvek::cpus = def_orvek::minchunk = def_orvek::maxchunk = def_orvek::middlechunk = 0;
    std::int32_t widths[8] = {};
    solves::runtogether(8, [&](int k) {
      if (k % 2 == 0) {
        requiregrainsize();
      } else {
        requiregrainsizeforcomplex();
      }
      widths[k] = blockwidth(8);
    });
    const grainset fixed = current();
    EXPECT_TRUE(fixed == (grainset{3, 24, 12, 8}) || fixed == (grainset{3, 8, 6, 4})) << fixed;
    for (const std::int32_t q : widths) EXPECT_EQ(q, blockwidth(8));
  }
}

struct widthcase {
  const char* name;
  void (*fix)();
  std::int32_t tasks, m, q;
};

class BlockWidth : public ::testing::TestWithParam<widthcase> {
 protected:
  void SetUp() override {
    def_orvek::cpus = def_orvek::minchunk = def_orvek::maxchunk = def_orvek::middlechunk = 0;
    settaskcount(GetParam().tasks);
    GetParam().fix();
  }
};

// q = max(maxchunk^2 / max(M, 1), M + 1), worked out by hand for each table.
TEST_P(BlockWidth, FromTheFixedGrainSize) {
  const widthcase& c = GetParam();
  EXPECT_EQ(blockwidth(c.m), c.q);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, BlockWidth,
    ::testing::Values(widthcase{"real_m0", requiregrainsize, 1, 0, 576},  // divisor clamped to 1
                      widthcase{"real_m1", requiregrainsize, 1, 1, 576},
                      widthcase{"real_m8", requiregrainsize, 1, 8, 72},
                      widthcase{"real_m23", requiregrainsize, 1, 23, 25},  // 576/23 = 25
                      widthcase{"real_m24", requiregrainsize, 1, 24, 25},  // M + 1
                      widthcase{"real_m1000000", requiregrainsize, 1, 1000000, 1000001},
                      widthcase{"complex_2tasks_m0", requiregrainsizeforcomplex, 2, 0, 256},
                      widthcase{"complex_2tasks_m8", requiregrainsizeforcomplex, 2, 8, 32},
                      widthcase{"complex_3tasks_m7", requiregrainsizeforcomplex, 3, 7, 9},
                      widthcase{"complex_3tasks_m8", requiregrainsizeforcomplex, 3, 8, 9}),
    [](const ::testing::TestParamInfo<widthcase>& info) { return info.param.name; });

}  // namespace
