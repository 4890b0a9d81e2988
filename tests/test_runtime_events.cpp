// Parallel events: record search and reuse, one and three participants, the
// identifiers that name no event, and the pair of alternating events used as
// a barrier the way the parallel kernels use it.
//
// Each test reads the search start it begins with and leaves every event
// record and task slot free.

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/runtime.hpp"
#include "tests/solves.hpp"

namespace {

using def_event::events;

constexpr std::int32_t slots = def_event::slots;

std::int32_t following(std::int32_t s) { return s == slots ? 1 : s + 1; }

// Fields 2, 3, 4 of event ev: outstanding posts, arrivals, releases; read
// under the event's mutex, since participants may be changing them.
std::array<std::int32_t, 3> counts(std::int32_t ev) {
  pthread_mutex_lock(&def_event::passolock[ev]);
  const std::array<std::int32_t, 3> c = {events[ev - 1][1], events[ev - 1][2], events[ev - 1][3]};
  pthread_mutex_unlock(&def_event::passolock[ev]);
  return c;
}
using countsof = std::array<std::int32_t, 3>;

bool tablesclean() {
  const bool events_free =
      std::all_of(&events[0], &events[slots], [](const std::int32_t* f) { return f[0] == -1; });
  const bool slots_free = std::all_of(&def_dispatch::argu[0], &def_dispatch::argu[def_dispatch::slots],
                                      [](const std::int64_t* w) { return w[0] == -1; });
  return events_free && slots_free;
}

class Events : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tablesclean()); }
  void TearDown() override { EXPECT_TRUE(tablesclean()); }
};

TEST_F(Events, SearchOrderFullTableAndReuseOfAFreedRecord) {
  const std::int32_t first = def_event::index;
  std::vector<std::int32_t> ids(slots);
  std::int32_t expected = first;
  for (std::int32_t& ev : ids) {
    createparallelevent(ev);
    EXPECT_EQ(ev, expected);
    EXPECT_EQ(events[ev - 1][0], ev);
    expected = following(expected);
  }
  EXPECT_EQ(def_event::index, first);

  std::int32_t ev = -7;
  createparallelevent(ev);
  EXPECT_EQ(ev, 0);
  EXPECT_EQ(def_event::index, first);

  // A deleted record keeps its counts through deletion and creation.
  const std::int32_t freed = following(following(first));
  initializeparallelevent(freed, 5);
  postparallelevent(freed);
  deleteparallelevent(freed);
  EXPECT_EQ(events[freed - 1][0], -1);
  createparallelevent(ev);
  EXPECT_EQ(ev, freed);
  EXPECT_EQ(def_event::index, following(freed));
  EXPECT_EQ(counts(ev), (countsof{4, 5, 5}));

  for (std::int32_t id : ids) deleteparallelevent(id);
}

TEST_F(Events, OneParticipantIsLastAtOnce) {
  std::int32_t ev = 0;
  createparallelevent(ev);
  ASSERT_NE(ev, 0);

  initializeparallelevent(ev, 1);
  postparallelevent(ev);
  std::int32_t done = -7;
  ifcompleteparallelevent(ev, done);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(counts(ev), (countsof{0, 0, 1}));
  completeparallelevent(ev);
  EXPECT_EQ(counts(ev), (countsof{0, 0, 0}));

  initializeparallelevent(ev, 1);
  postparallelevent(ev);
  waitforparallelevent(ev);
  EXPECT_EQ(counts(ev), (countsof{0, 0, 0}));
  deleteparallelevent(ev);
}

// One participant of an ifcomplete barrier: post, arrive, count the leave.
void ifcompleteparticipant(const std::int32_t& ev, std::int32_t& done, std::atomic<int>& left) {
  postparallelevent(ev);
  ifcompleteparallelevent(ev, done);
  left += 1;
}

// Blocks until the event's outstanding arrivals have dropped to arrivals.
void awaitarrivals(std::int32_t ev, std::int32_t arrivals) {
  while (counts(ev)[1] > arrivals) std::this_thread::yield();
}

TEST_F(Events, ThreeParticipantsWaitForTheLastArrivalToComplete) {
  std::int32_t ev = 0;
  createparallelevent(ev);
  initializeparallelevent(ev, 3);
  std::atomic<int> left{0};
  std::int32_t done[3] = {-7, -7, -7};
  std::int32_t task[2];
  dispatch_3(task[0], ifcompleteparticipant, ev, done[0], left);
  awaitarrivals(ev, 2);
  dispatch_3(task[1], ifcompleteparticipant, ev, done[1], left);
  awaitarrivals(ev, 1);
  EXPECT_EQ(left, 0);

  // The caller arrives last: it does not wait, and the others stay blocked
  // until it completes the event.
  postparallelevent(ev);
  ifcompleteparallelevent(ev, done[2]);
  EXPECT_EQ(done[2], 0);
  EXPECT_EQ(counts(ev), (countsof{0, 0, 3}));
  EXPECT_EQ(left, 0);
  completeparallelevent(ev);
  for (std::int32_t t : task) waitforandterminatetask(t);

  EXPECT_EQ(left, 2);
  EXPECT_EQ(done[0], 1);
  EXPECT_EQ(done[1], 1);
  EXPECT_EQ(counts(ev), (countsof{0, 0, 0}));
  deleteparallelevent(ev);
}

void waitparticipant(const std::int32_t& ev, std::atomic<int>& left) {
  postparallelevent(ev);
  waitforparallelevent(ev);
  left += 1;
}

TEST_F(Events, ThreeParticipantsWaitingAllLeaveAfterTheLastArrival) {
  std::int32_t ev = 0;
  createparallelevent(ev);
  initializeparallelevent(ev, 3);
  std::atomic<int> left{0};
  std::int32_t task[3];
  for (std::int32_t& t : task) dispatch_2(t, waitparticipant, ev, left);
  for (std::int32_t t : task) waitforandterminatetask(t);
  EXPECT_EQ(left, 3);
  EXPECT_EQ(counts(ev), (countsof{0, 0, 0}));
  deleteparallelevent(ev);
}

TEST_F(Events, IdentifiersNamingNoEventChangeNothing) {
  std::int32_t ev = 0;
  createparallelevent(ev);
  initializeparallelevent(ev, 2);
  deleteparallelevent(ev);  // ev now names no event

  std::int32_t table[slots][4];
  std::memcpy(table, events, sizeof table);
  for (std::int32_t bad : {0, -1, slots + 1, ev}) {
    std::int32_t done = 5;
    initializeparallelevent(bad, 9);
    postparallelevent(bad);
    ifcompleteparallelevent(bad, done);
    EXPECT_EQ(done, 5);
    waitforparallelevent(bad);
    completeparallelevent(bad);
    deleteparallelevent(bad);
  }
  EXPECT_EQ(std::memcmp(table, events, sizeof table), 0);
}

// The shared state of the barrier stress test, handed to every task.
struct barrierstate {
  std::int32_t eventids[2];
  std::int32_t lock;
  std::int32_t ntasks;
  std::int32_t rounds;
  std::int64_t arrived;  // arrivals over all rounds, counted under lock
  std::int64_t round;    // barriers completed; advanced by each last arrival
  std::int64_t lasts;    // participants that got done = 0
  std::atomic<int> failures;
};

// One participant: at every round counts its arrival, posts and arrives at
// the round's event; the last arrival checks that all have arrived and none
// has moved on, advances the round, arms the other event and completes this
// one. After each barrier every participant must see the advanced round.
void barrierloop(barrierstate& s) {
  for (std::int32_t r = 0; r < s.rounds; ++r) {
    const std::int32_t& ev = s.eventids[r % 2];
    lockonparallellock(s.lock);
    s.arrived += 1;
    unlockparallellock(s.lock);
    postparallelevent(ev);
    std::int32_t done = 1;
    ifcompleteparallelevent(ev, done);
    if (done == 0) {
      lockonparallellock(s.lock);
      if (s.arrived != std::int64_t{s.ntasks} * (r + 1)) s.failures += 1;
      unlockparallellock(s.lock);
      s.round += 1;
      s.lasts += 1;
      initializeparallelevent(s.eventids[1 - r % 2], s.ntasks);
      completeparallelevent(ev);
    }
    if (s.round != r + 1) s.failures += 1;
  }
}

TEST_F(Events, AlternatingEventsNeverLetATaskPassABarrierEarly) {
  barrierstate s{};
  s.ntasks = 8;
  s.rounds = 5000;
  createparallelevent(s.eventids[0]);
  createparallelevent(s.eventids[1]);
  createparallellock(s.lock);
  initializeparallelevent(s.eventids[0], s.ntasks);

  std::vector<std::int32_t> tasks(s.ntasks - 1);
  for (std::int32_t& t : tasks) dispatch_1(t, barrierloop, s);
  barrierloop(s);  // the caller is the last participant
  for (std::int32_t t : tasks) waitforandterminatetask(t);

  EXPECT_EQ(s.failures, 0);
  EXPECT_EQ(s.round, s.rounds);
  EXPECT_EQ(s.lasts, s.rounds);
  EXPECT_EQ(s.arrived, std::int64_t{s.ntasks} * s.rounds);
  const std::int32_t lastevent = s.eventids[(s.rounds - 1) % 2];
  EXPECT_EQ(counts(lastevent), (countsof{0, 0, 0}));
  EXPECT_EQ(counts(s.eventids[s.rounds % 2]), (countsof{s.ntasks, s.ntasks, s.ntasks}));

  deleteparallellock(s.lock);
  for (std::int32_t ev : s.eventids) deleteparallelevent(ev);
}

// Solves on several threads create, use and delete their events at the same
// time: no event is ever handed to two of them, and each event counts only
// its own participant.
TEST_F(Events, CreationsOnSeveralThreadsNeverShareAnEvent) {
  solves::holders held;
  std::atomic<int> notlast{0};
  solves::runtogether(8, [&](int k) {
    for (int round = 0; round < 1000; ++round) {
      std::int32_t ev = 0;
      createparallelevent(ev);
      held.take(ev, k);
      initializeparallelevent(ev, 1);
      postparallelevent(ev);
      std::int32_t done = 1;
      ifcompleteparallelevent(ev, done);
      if (done != 0) notlast += 1;
      completeparallelevent(ev);
      held.giveback(ev);
      deleteparallelevent(ev);
    }
  });
  EXPECT_EQ(held.clashes, 0);
  EXPECT_EQ(held.missing, 0);
  EXPECT_EQ(notlast, 0);
  EXPECT_GE(def_event::index, 1);
  EXPECT_LE(def_event::index, slots);
}

}  // namespace
