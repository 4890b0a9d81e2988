// The first solves of a process, made on four threads at once: the task
// count, the processor count and the grain sizes are still unset and the
// table mutexes not yet made, so the four solves obtain them together.
//
// Each test runs in a child forked from this program's untouched state, so
// that it sees a fresh process however the tests are run. The child reports
// its failures like any test and exits with 1 when it had any.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"
#include "tests/children.hpp"
#include "tests/oracle.hpp"
#include "tests/solves.hpp"

// This program reports four configured processors, whatever the machine
// has: the default task count is then 4, above the two tasks up to which the
// complex grain table differs.
std::int32_t binding::sysconf(const std::int32_t& selector) {
  return selector == _SC_NPROCESSORS_CONF ? 4 : static_cast<std::int32_t>(::sysconf(selector));
}

namespace {

using solves::output;
using solves::problem;
using solves::route;

using children::inchild;

// Nothing of the runtime or the grain sizes obtained yet.
void expectfresh() {
  EXPECT_EQ(def_orvek::maxchunk, 0);
  EXPECT_EQ(def_dispatch::tasklockflag, 0);
  EXPECT_EQ(def_event::eventlockflag, 0);
  EXPECT_EQ(def_lock::tablelockflag, 0);
}

struct grainset {
  std::int32_t cpus, maxchunk, middlechunk, minchunk;
  bool operator==(const grainset&) const = default;
};
std::ostream& operator<<(std::ostream& out, const grainset& g) {
  return out << "cpus " << g.cpus << ", " << g.maxchunk << "/" << g.middlechunk << "/"
             << g.minchunk;
}
grainset fixedgrain() {
  return {def_orvek::cpus, def_orvek::maxchunk, def_orvek::middlechunk, def_orvek::minchunk};
}
// The tables with the default task count of four processors.
constexpr grainset realgrain{4, 24, 12, 8};
constexpr grainset complexgrain{4, 8, 6, 4};

template <class T>
constexpr grainset grainof() {
  return is_complex_v<T> ? complexgrain : realgrain;
}

// Thread k solves its own system by route k; two of the four make a
// factor-and-solve sweep, which fixes the grain sizes.
template <class T>
void firstsolvesofonekind() {
  expectfresh();
  constexpr route byroute[] = {route::mesolution, route::solution, route::factorthensubstitute,
                               route::mesolution};
  std::vector<problem<T>> systems;
  for (std::uint32_t k = 0; k < 4; ++k) systems.emplace_back(200 + 10 * k, 4 + k, 2, 60 + k);
  std::vector<output<T>> first(4);
  solves::runtogether(4, [&](int k) { first[k] = solves::solve(systems[k], byroute[k]); });

  std::int32_t tasks = 0;
  gettasks(tasks);
  EXPECT_EQ(tasks, 4);
  EXPECT_EQ(fixedgrain(), grainof<T>());
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(first[k].status, 0) << "thread " << k;
    EXPECT_TRUE(first[k] == solves::solve(systems[k], byroute[k])) << "thread " << k;
  }
  EXPECT_EQ(solves::tablesinuse(), 0);
}

template <class T>
class FirstSolves : public ::testing::Test {};
TYPED_TEST_SUITE(FirstSolves, oracle::element_kinds);

TYPED_TEST(FirstSolves, OnFourThreadsAtOnceMatchTheSolvesMadeAfterwards) {
  inchild(firstsolvesofonekind<TypeParam>);
}

// One factor-and-solve sweep per kind, all four first at once: the real and
// the complex table race to fix the grain sizes, and exactly one of them
// wins, whole, for every kind.
void firstsolvesofeverykind() {
  expectfresh();
  problem<float> p4(300, 5, 1, 71);
  problem<double> p8(300, 5, 1, 72);
  problem<std::complex<float>> pz4(300, 5, 1, 73);
  problem<std::complex<double>> pz8(300, 5, 1, 74);
  output<float> o4;
  output<double> o8;
  output<std::complex<float>> oz4;
  output<std::complex<double>> oz8;
  solves::runtogether(4, [&](int k) {
    if (k == 0) o4 = solves::solve(p4, route::mesolution);
    if (k == 1) o8 = solves::solve(p8, route::mesolution);
    if (k == 2) oz4 = solves::solve(pz4, route::mesolution);
    if (k == 3) oz8 = solves::solve(pz8, route::mesolution);
  });

  const grainset fixed = fixedgrain();
  EXPECT_TRUE(fixed == realgrain || fixed == complexgrain) << fixed;
  EXPECT_TRUE(o4 == solves::solve(p4, route::mesolution));
  EXPECT_TRUE(o8 == solves::solve(p8, route::mesolution));
  EXPECT_TRUE(oz4 == solves::solve(pz4, route::mesolution));
  EXPECT_TRUE(oz8 == solves::solve(pz8, route::mesolution));
  EXPECT_EQ(fixedgrain(), fixed);
  EXPECT_EQ(solves::tablesinuse(), 0);
}

TEST(FirstSolves, OfEveryKindAtOnceShareOneWholeGrainTable) { inchild(firstsolvesofeverykind); }

}  // namespace
