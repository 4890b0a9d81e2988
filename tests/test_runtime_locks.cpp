// Parallel locks: search order and reuse, the full table, identifiers that
// name no lock, that locking holds the named mutex against other threads, and
// creations and deletions on several threads at once.
//
// Each test reads the search start it begins with and leaves every lock free.

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/runtime.hpp"
#include "tests/solves.hpp"

namespace {

using def_lock::lockflag;
using def_lock::lockindex;

constexpr std::int32_t slots = def_lock::slots;

std::int32_t following(std::int32_t s) { return s == slots ? 1 : s + 1; }

bool tableclean() {
  return std::all_of(&lockflag[0], &lockflag[slots], [](std::int32_t f) { return f == 0; });
}

class Locks : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tableclean()); }
  void TearDown() override { EXPECT_TRUE(tableclean()); }
};

// Whether another thread finds lock lk held.
bool heldelsewhere(std::int32_t lk) {
  int result = 0;
  std::thread([&] {
    result = pthread_mutex_trylock(&def_lock::lock[lk - 1]);
    if (result == 0) pthread_mutex_unlock(&def_lock::lock[lk - 1]);
  }).join();
  return result == EBUSY;
}

TEST_F(Locks, CreatedAndDeletedOverAndOverTakesEachLockInTurn) {
  std::int32_t expected = lockindex;
  for (std::int32_t k = 1; k <= slots + 2; ++k) {
    std::int32_t lk = -7;
    createparallellock(lk);
    ASSERT_EQ(lk, expected);
    EXPECT_EQ(lockflag[lk - 1], 1);
    expected = following(expected);
    EXPECT_EQ(lockindex, expected);
    deleteparallellock(lk);
    EXPECT_EQ(lockflag[lk - 1], 0);
  }
}

TEST_F(Locks, FullTableGivesZeroUntilALockIsDeleted) {
  const std::int32_t first = lockindex;
  std::vector<std::int32_t> ids(slots);
  for (std::int32_t& lk : ids) createparallellock(lk);
  std::vector<std::int32_t> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  for (std::int32_t s = 1; s <= slots; ++s) EXPECT_EQ(sorted[s - 1], s);
  EXPECT_EQ(lockindex, first);

  std::int32_t lk = -7;
  createparallellock(lk);
  EXPECT_EQ(lk, 0);
  EXPECT_EQ(lockindex, first);

  const std::int32_t freed = following(following(first));
  deleteparallellock(freed);
  createparallellock(lk);
  EXPECT_EQ(lk, freed);
  EXPECT_EQ(lockindex, following(freed));
  EXPECT_FALSE(heldelsewhere(lk));  // a lock made anew is unlocked

  for (std::int32_t id : ids) deleteparallellock(id);
}

TEST_F(Locks, LockAndUnlockActOnTheNamedMutex) {
  std::int32_t lk[2];
  for (std::int32_t& id : lk) createparallellock(id);
  lockonparallellock(lk[1]);
  EXPECT_TRUE(heldelsewhere(lk[1]));
  EXPECT_FALSE(heldelsewhere(lk[0]));
  unlockparallellock(lk[1]);
  EXPECT_FALSE(heldelsewhere(lk[1]));
  for (std::int32_t id : lk) deleteparallellock(id);
}

TEST_F(Locks, IdentifiersNamingNoLockDoNothing) {
  std::int32_t lk = 0;
  createparallellock(lk);
  deleteparallellock(lk);  // lk now names no lock

  std::int32_t flags[slots];
  std::memcpy(flags, lockflag, sizeof flags);
  const std::int32_t index = lockindex;
  for (std::int32_t bad : {0, -1, slots + 1, lk}) {
    lockonparallellock(bad);  // must neither block nor touch a destroyed mutex
    unlockparallellock(bad);
    deleteparallellock(bad);
  }
  EXPECT_EQ(std::memcmp(flags, lockflag, sizeof flags), 0);
  EXPECT_EQ(lockindex, index);
}

// Solves on several threads create and delete their locks at the same time:
// no lock is ever handed to two of them, and the search start stays a lock
// number.
TEST_F(Locks, CreationsOnSeveralThreadsNeverShareALock) {
  solves::holders held;
  solves::runtogether(8, [&](int k) {
    for (int round = 0; round < 2000; ++round) {
      std::int32_t lk[2] = {0, 0};
      for (std::int32_t& id : lk) {
        createparallellock(id);
        held.take(id, k);
      }
      lockonparallellock(lk[0]);
      unlockparallellock(lk[0]);
      for (const std::int32_t id : lk) {
        held.giveback(id);
        deleteparallellock(id);
      }
    }
  });
  EXPECT_EQ(held.clashes, 0);
  EXPECT_EQ(held.missing, 0);  // 16 locks at most in use at once
  EXPECT_GE(lockindex, 1);
  EXPECT_LE(lockindex, slots);
}

}  // namespace
