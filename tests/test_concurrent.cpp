// Solves on several threads at once, the way a program with threads of its
// own calls the solver: every kind and entry while another thread keeps
// changing the process-wide task count, more tasks than the task table holds,
// and lock and event tables held full by others. Each result must be the
// same bits as the same solve made alone, nothing may hang, and every task
// slot, event and lock must be free afterwards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "runtime/runtime.hpp"
#include "tests/oracle.hpp"
#include "tests/solves.hpp"

// This program reports 16 configured processors, whatever the machine has,
// so that task counts up to 16 can be set: eight solves of 16 tasks ask for
// more than the 64 task slots.
std::int32_t binding::sysconf(const std::int32_t& selector) {
  return selector == _SC_NPROCESSORS_CONF ? 16 : static_cast<std::int32_t>(::sysconf(selector));
}

namespace {

using solves::output;
using solves::problem;
using solves::route;

// The systems one thread solves: a factor-and-solve sweep over many blocks,
// a band of M >= 512, for which the stage-wise entries cut every stage into
// pieces among all their tasks, and a narrow band that they solve in one
// stage.
template <class T>
struct workload {
  struct item {
    problem<T> p;
    route r;
    output<T> alone;
  };
  std::vector<item> items;

  explicit workload(std::uint32_t seed) {
    for (const route r : solves::routes) {
      items.push_back({problem<T>(300, 6, 2, seed), r, {}});
      items.push_back({problem<T>(150, 512, 2, seed + 10), r, {}});
      items.push_back({problem<T>(90, 3, 1, seed + 20), r, {}});
    }
    for (auto& x : items) x.alone = solves::solve(x.p, x.r);
  }

  // Solves every item again, rounds times, each result against the solve
  // made alone.
  void repeat(int rounds) const {
    for (int round = 0; round < rounds; ++round) {
      for (const auto& x : items) {
        EXPECT_TRUE(solves::solve(x.p, x.r) == x.alone)
            << "N=" << x.p.system.n << " M=" << x.p.system.m << " route "
            << static_cast<int>(x.r) << " round " << round;
      }
    }
  }
};

template <class T>
class Concurrent : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(solves::tablesinuse(), 0); }
  void TearDown() override {
    EXPECT_EQ(solves::tablesinuse(), 0);
    resettasks();
  }
};
TYPED_TEST_SUITE(Concurrent, oracle::element_kinds);

// Four threads solve by every entry while a fifth sets the task count over
// and over, to values, to 0 (unset, so that the next reader falls back to
// the processor count) and back to the processor count.
TYPED_TEST(Concurrent, EveryEntryWhileTheTaskCountChanges) {
  constexpr int solvers = 4;
  settasks(3);
  std::vector<workload<TypeParam>> loads;
  for (int k = 0; k < solvers; ++k) loads.emplace_back(100 + 40 * k);
  for (const auto& x : loads[0].items) {
    ASSERT_EQ(x.alone.status, 0);
    EXPECT_LT(oracle::residualratio(x.p.system, x.p.rhs, x.alone.b, x.p.nrhs), 30.0);
  }

  std::atomic<int> running{solvers};
  solves::runtogether(solvers + 1, [&](int k) {
    if (k < solvers) {
      loads[k].repeat(2);
      running -= 1;
      return;
    }
    for (std::int32_t i = 0; running > 0; i = (i + 1) % 8) {
      constexpr std::int32_t counts[] = {1, 2, 16, 0, 5, 3, 40, 7};
      settasks(counts[i]);
      if (i == 7) resettasks();
      std::this_thread::yield();
    }
  });
}

// Eight threads each ask for 16 tasks, 120 dispatches for 64 slots: the
// solves that find the table full run with the tasks they got, or alone.
TYPED_TEST(Concurrent, MoreTasksThanTheTaskTableHolds) {
  settasks(16);
  std::int32_t tasks = 0;
  gettasks(tasks);
  ASSERT_EQ(tasks, 16);
  std::vector<workload<TypeParam>> loads;
  for (int k = 0; k < 8; ++k) loads.emplace_back(300 + 40 * k);
  solves::runtogether(8, [&](int k) { loads[k].repeat(1); });
}

// With the lock table or the event table held full, or all but one entry,
// by another computation, solves on eight threads that get no lock, or only
// one of their two events, run alone and give back what they got.
TYPED_TEST(Concurrent, LockAndEventTablesHeldFullByOthers) {
  settasks(4);
  struct held {
    std::int32_t locks, events;
  };
  for (const held h : {held{63, 0}, held{0, 63}, held{0, 62}, held{64, 64}}) {
    SCOPED_TRACE(::testing::Message() << h.locks << " locks and " << h.events << " events held");
    std::vector<std::int32_t> locks(h.locks), events(h.events);
    for (std::int32_t& lk : locks) createparallellock(lk);
    for (std::int32_t& ev : events) createparallelevent(ev);

    std::vector<workload<TypeParam>> loads;
    for (int k = 0; k < 8; ++k) loads.emplace_back(500 + 40 * k);
    solves::runtogether(8, [&](int k) { loads[k].repeat(1); });

    for (const std::int32_t lk : locks) deleteparallellock(lk);
    for (const std::int32_t ev : events) deleteparallelevent(ev);
  }
}

}  // namespace
