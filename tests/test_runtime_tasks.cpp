// Task table, dispatch, worker and joining: slot search and reuse (through
// dispatch_0), the full table, thread-creation failure, an end-to-end call
// with 52 arguments, the state changes of the joining routines and shutdown.
//
// Each test reads the search start it begins with and leaves every slot free.

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <latch>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "runtime/runtime.hpp"
#include "tests/solves.hpp"

namespace {

using def_dispatch::argu;
using def_dispatch::nexttask;

constexpr std::int32_t slots = def_dispatch::slots;

std::int32_t following(std::int32_t s) { return s == slots ? 1 : s + 1; }

std::atomic<int> runs{0};
void countrun() { runs += 1; }

void waitgate(std::latch& gate) { gate.wait(); }

bool tableclean() {
  return std::all_of(&argu[0], &argu[slots], [](const std::int64_t* w) { return w[0] == -1 && w[1] == 0; });
}

class Tasks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tableclean());
    runs = 0;
  }
  void TearDown() override {
    EXPECT_TRUE(tableclean());
    waitforandterminatealltasks();
  }
};

// Copy of the whole table, for checking that a call changed nothing.
struct snapshot {
  std::int64_t words[slots][def_dispatch::words];
  std::int32_t next;
  snapshot() : next(nexttask) { std::memcpy(words, argu, sizeof words); }
  bool operator==(const snapshot& o) const {
    return next == o.next && std::memcmp(words, o.words, sizeof words) == 0;
  }
};

TEST_F(Tasks, SearchStartsBehindLastSlotTakenAndWrapsAfter64) {
  const std::int32_t first = nexttask;
  std::int32_t expected = first;
  std::int32_t task = 0;
  do {
    task = -7;
    dispatch_0(task, countrun);
    ASSERT_EQ(task, expected);
    EXPECT_EQ(argu[task - 1][0], task);
    EXPECT_GT(argu[task - 1][1], 0);
    EXPECT_EQ(argu[task - 1][2], reinterpret_cast<std::int64_t>(&countrun));
    EXPECT_EQ(argu[task - 1][3], 0);  // dispatch_0 records no argument
    expected = following(expected);
  } while (task != slots);
  EXPECT_EQ(nexttask, 1);
  waitforandterminatealltasks();
  EXPECT_EQ(runs, slots - first + 1);

  // Slots 1..3 in use and slot 1 freed: the search goes on behind slot 3.
  std::int32_t t[4];
  for (std::int32_t k = 0; k < 3; ++k) dispatch_0(t[k], countrun);
  EXPECT_EQ(t[0], 1);
  EXPECT_EQ(t[1], 2);
  EXPECT_EQ(t[2], 3);
  waitforandterminatetask(t[0]);
  EXPECT_EQ(argu[0][0], -1);
  dispatch_0(t[3], countrun);
  EXPECT_EQ(t[3], 4);
  EXPECT_EQ(nexttask, 5);
  waitforandterminatealltasks();
}

TEST_F(Tasks, FullTableStartsNothingUntilASlotIsFreed) {
  const std::int32_t first = nexttask;
  std::vector<std::int32_t> ids(slots);
  for (std::int32_t& id : ids) dispatch_0(id, countrun);
  std::vector<std::int32_t> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  for (std::int32_t s = 1; s <= slots; ++s) EXPECT_EQ(sorted[s - 1], s);
  EXPECT_EQ(ids.front(), first);
  EXPECT_EQ(nexttask, first);

  const snapshot before;
  std::int32_t task = -7;
  dispatch_0(task, countrun);
  EXPECT_EQ(task, 0);
  EXPECT_TRUE(snapshot() == before);
  waitforalltasks();
  EXPECT_EQ(runs, slots);  // the refused dispatch started no thread

  // One slot away from the search start freed: the search finds it.
  const std::int32_t freed = following(following(first));
  terminatetask(freed);
  dispatch_0(task, countrun);
  EXPECT_EQ(task, freed);
  EXPECT_EQ(nexttask, following(freed));
  waitforandterminatealltasks();
  EXPECT_EQ(runs, slots + 1);
}

// pthread_create with default attributes fails once the default stack size
// exceeds the address space.
class HugeDefaultStack {
 public:
  HugeDefaultStack() {
    pthread_getattr_default_np(&saved_);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, std::size_t{1} << 50);
    pthread_setattr_default_np(&huge);
    pthread_attr_destroy(&huge);
  }
  ~HugeDefaultStack() {
    pthread_setattr_default_np(&saved_);
    pthread_attr_destroy(&saved_);
  }

 private:
  pthread_attr_t saved_;
};

void* nothing(void*) { return nullptr; }

TEST_F(Tasks, FailedThreadCreationFreesTheSlotAndReturnsZero) {
  std::int32_t task = 0;
  const snapshot before;
  {
    HugeDefaultStack guard;
    pthread_t probe;
    if (pthread_create(&probe, nullptr, nothing, nullptr) == 0) {
      pthread_join(probe, nullptr);
      GTEST_SKIP() << "thread creation does not fail here";
    }
    task = -7;
    dispatch_0(task, countrun);
  }
  EXPECT_EQ(task, 0);
  EXPECT_EQ(nexttask, before.next);
  const std::int32_t tried = before.next;
  EXPECT_EQ(argu[tried - 1][0], -1);
  EXPECT_EQ(argu[tried - 1][1], 0);

  // The slot is taken by the next dispatch as if the failed one never was.
  dispatch_0(task, countrun);
  EXPECT_EQ(task, tried);
  waitforandterminatetask(task);
  EXPECT_EQ(runs, 1);
}

// A routine of 52 arguments cycling through four parameter kinds; argument k
// (1-based) receives values derived from k.
template <std::size_t K>
using parameter = std::conditional_t<
    K % 4 == 0, std::int32_t&,
    std::conditional_t<K % 4 == 1, double*,
                       std::conditional_t<K % 4 == 2, const std::int64_t&, float*>>>;

void store(std::int32_t& x, std::int32_t k) { x = 1000 + k; }
void store(double* x, std::int32_t k) {
  x[0] = k + 0.25;
  x[1] = -k;
}
void store(float* x, std::int32_t k) {
  x[0] = k + 0.5f;
  x[1] = -k;
}
// A read-only argument: the value read is kept for the caller to check.
std::int64_t lastread = 0;
void store(const std::int64_t& x, std::int32_t) { lastread = x; }

template <class... P>
void writeall(P... p) {
  std::int32_t k = 0;
  (store(p, ++k), ...);
}

struct objects52 {
  std::int32_t ints[13];
  double reals[13][2];
  std::int64_t words[13];
  float floats[13][2];

  objects52() {
    for (std::int32_t i = 0; i < 13; ++i) {
      ints[i] = 0;
      reals[i][0] = reals[i][1] = 0;
      words[i] = 7 * i;
      floats[i][0] = floats[i][1] = 0;
    }
  }

  template <std::size_t K>
  decltype(auto) argument() {
    if constexpr (K % 4 == 0) {
      return (ints[K / 4]);
    } else if constexpr (K % 4 == 1) {
      return &reals[K / 4][0];
    } else if constexpr (K % 4 == 2) {
      return (std::as_const(words[K / 4]));
    } else {
      return &floats[K / 4][0];
    }
  }

  template <std::size_t K>
  std::int64_t address() {
    if constexpr (K % 4 == 1 || K % 4 == 3) {
      return reinterpret_cast<std::int64_t>(argument<K>());
    } else {
      return reinterpret_cast<std::int64_t>(&argument<K>());
    }
  }
};

template <std::size_t... I>
void dispatchwriteall(std::int32_t& task, objects52& o, std::index_sequence<I...>) {
  dispatch_52(task, &writeall<parameter<I>...>, o.argument<I>()...);
}

template <std::size_t... I>
void expectrecorded(std::int32_t task, objects52& o, std::index_sequence<I...>) {
  const std::int64_t expected[] = {o.address<I>()...};
  for (std::size_t k = 1; k <= sizeof...(I); ++k)
    EXPECT_EQ(argu[task - 1][3 + k], expected[k - 1]) << "argument " << k;
}

TEST_F(Tasks, Dispatch52PassesEveryObjectItselfInOrder) {
  objects52 o;
  std::int32_t task = 0;
  constexpr auto all = std::make_index_sequence<52>{};
  dispatchwriteall(task, o, all);
  ASSERT_NE(task, 0);
  EXPECT_EQ(argu[task - 1][3], 52);
  expectrecorded(task, o, all);
  waitforandterminatetask(task);

  for (std::int32_t j = 0; j < 13; ++j) {
    const std::int32_t k = 4 * j + 1;  // position of the j-th group's first argument
    EXPECT_EQ(o.ints[j], 1000 + k);
    EXPECT_EQ(o.reals[j][0], k + 1 + 0.25);
    EXPECT_EQ(o.reals[j][1], -(k + 1));
    EXPECT_EQ(o.words[j], 7 * j);
    EXPECT_EQ(o.floats[j][0], k + 3 + 0.5f);
    EXPECT_EQ(o.floats[j][1], -(k + 3));
  }
  EXPECT_EQ(lastread, 7 * 12);  // the last read-only argument is argument 51
}

TEST_F(Tasks, WorkerCallsNothingForACountOutside0To52) {
  std::int64_t slot[def_dispatch::words - 2] = {reinterpret_cast<std::int64_t>(&countrun)};
  for (std::int64_t count : {-1, 53, 1000}) {
    slot[1] = count;
    EXPECT_EQ(parallelworker(slot), nullptr);
  }
  EXPECT_EQ(runs, 0);
  slot[1] = 0;
  parallelworker(slot);
  EXPECT_EQ(runs, 1);
}

TEST_F(Tasks, WaitingAndFreeingChangeOnlyWhatTheyShould) {
  std::latch gate(1);
  std::int32_t task = 0;
  dispatch_1(task, waitgate, gate);
  ASSERT_NE(task, 0);
  const std::int64_t handle = argu[task - 1][1];
  EXPECT_GT(handle, 0);

  terminatetask(task);  // not yet waited for: nothing happens, the task runs on
  EXPECT_EQ(argu[task - 1][0], task);
  EXPECT_EQ(argu[task - 1][1], handle);

  gate.count_down();
  waitfortask(task);
  EXPECT_EQ(argu[task - 1][0], task);
  EXPECT_EQ(argu[task - 1][1], -handle);
  waitfortask(task);  // already waited for
  EXPECT_EQ(argu[task - 1][1], -handle);

  const snapshot joined;
  for (std::int32_t bad : {0, -1, slots + 1, following(task)}) {
    waitfortask(bad);
    terminatetask(bad);
    waitforandterminatetask(bad);
  }
  EXPECT_TRUE(snapshot() == joined);

  waitforandterminatetask(task);  // already waited for: only frees the slot
  EXPECT_EQ(argu[task - 1][0], -1);
  EXPECT_EQ(argu[task - 1][1], 0);

  const snapshot freed;
  waitforandterminatetask(task);  // a stale identifier of a free slot
  terminatetask(task);
  waitfortask(task);
  waitforalltasks();
  terminatealltasks();
  waitforandterminatealltasks();
  EXPECT_TRUE(snapshot() == freed);
}

TEST_F(Tasks, WaitForAllThenTerminateAllFreesEverySlot) {
  std::int32_t t[3];
  for (std::int32_t& id : t) dispatch_0(id, countrun);
  waitfortask(t[1]);

  terminatealltasks();  // frees only the joined task
  EXPECT_EQ(argu[t[1] - 1][0], -1);
  EXPECT_EQ(argu[t[0] - 1][0], t[0]);
  EXPECT_EQ(argu[t[2] - 1][0], t[2]);

  const std::int64_t first = argu[t[0] - 1][1];
  waitforalltasks();
  EXPECT_EQ(argu[t[0] - 1][0], t[0]);
  EXPECT_EQ(argu[t[0] - 1][1], -first);
  EXPECT_LT(argu[t[2] - 1][1], 0);
  EXPECT_EQ(runs, 3);
  terminatealltasks();
}

// Several threads dispatch tasks and wait for them at the same time: no slot
// is ever handed to two tasks in use, and every task runs once.
TEST_F(Tasks, DispatchesOnSeveralThreadsNeverShareASlot) {
  solves::holders held;
  solves::runtogether(8, [&](int k) {
    for (int round = 0; round < 20; ++round) {
      std::int32_t t[4] = {};
      for (std::int32_t& id : t) {
        dispatch_0(id, countrun);
        held.take(id, k);
      }
      for (const std::int32_t id : t) {
        held.giveback(id);
        waitforandterminatetask(id);
      }
    }
  });
  EXPECT_EQ(held.clashes, 0);
  EXPECT_EQ(held.missing, 0);  // 32 slots at most in use at once
  EXPECT_EQ(runs, 8 * 20 * 4);
  EXPECT_GE(nexttask, 1);
  EXPECT_LE(nexttask, slots);
}

TEST_F(Tasks, ShutdownDestroysTableMutexesAndALaterUseMakesThemAnew) {
  std::int32_t task = 0;
  dispatch_0(task, countrun);
  waitforandterminatetask(task);
  std::int32_t ev = 0;
  createparallelevent(ev);
  deleteparallelevent(ev);
  std::int32_t lk = 0;
  createparallellock(lk);
  deleteparallellock(lk);
  EXPECT_EQ(def_dispatch::tasklockflag, 1);
  EXPECT_EQ(def_event::eventlockflag, 1);
  EXPECT_EQ(def_lock::tablelockflag, 1);

  orvekdone();
  EXPECT_EQ(def_dispatch::tasklockflag, 0);
  EXPECT_EQ(def_event::eventlockflag, 0);
  EXPECT_EQ(def_lock::tablelockflag, 0);
  mtaskdone();  // nothing left to destroy

  // Two threads make the first dispatch, event creation and lock creation at
  // once.
  std::int32_t ids[2] = {0, 0};
  std::int32_t evs[2] = {0, 0};
  std::int32_t lks[2] = {0, 0};
  {
    std::latch start(2);
    auto first = [&](std::int32_t k) {
      start.arrive_and_wait();
      dispatch_0(ids[k], countrun);
      createparallelevent(evs[k]);
      createparallellock(lks[k]);
    };
    std::jthread a(first, 0), b(first, 1);
  }
  EXPECT_NE(ids[0], 0);
  EXPECT_NE(ids[1], 0);
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_NE(evs[0], 0);
  EXPECT_NE(evs[1], 0);
  EXPECT_NE(evs[0], evs[1]);
  EXPECT_NE(lks[0], 0);
  EXPECT_NE(lks[1], 0);
  EXPECT_NE(lks[0], lks[1]);
  EXPECT_EQ(def_dispatch::tasklockflag, 1);
  EXPECT_EQ(def_event::eventlockflag, 1);
  EXPECT_EQ(def_lock::tablelockflag, 1);
  waitforandterminatealltasks();
  for (std::int32_t ev : evs) deleteparallelevent(ev);
  for (std::int32_t id : lks) deleteparallellock(id);
  EXPECT_EQ(runs, 3);
}

}  // namespace
