// Parallel locks: plain mutexes named 1..64 that the tasks of one solve
// share. Solves on several threads create and delete locks at the same
// time, so the table has a mutex of its own, made at the first creation like
// the event table's: the search, the marking of the lock taken and the
// advance of lockindex happen under it, and so does the store that frees a
// lock.

#include <pthread.h>

#include "runtime/runtime.hpp"
#include "runtime/tables.hpp"

namespace def_lock {

static_assert(slots == tables::entries);
pthread_mutex_t lock[slots];
std::int32_t lockflag[slots] = {};
std::int32_t lockindex = 1;
pthread_mutex_t tablelock;
std::int32_t tablelockflag = 0;

}  // namespace def_lock

namespace {

// True when lk names a created lock.
bool exists(std::int32_t lk) {
  return lk >= 1 && lk <= def_lock::slots && def_lock::lockflag[lk - 1] == 1;
}

}  // namespace

// createparallellock(lk)
//   lk (out) identifier of a new, unlocked lock, 1..64; 0 when all 64 are
//            in use
void createparallellock(std::int32_t& lk) {
  using namespace def_lock;
  tables::locktable(tablelock, tablelockflag);
  const std::int32_t s = tables::findfree(lockindex, [](std::int32_t k) { return lockflag[k - 1] == 0; });
  lk = s;
  if (s != 0) {
    lockindex = tables::following(s);
    pthread_mutex_init(&lock[s - 1], nullptr);
    lockflag[s - 1] = 1;
  }
  pthread_mutex_unlock(&tablelock);
}

// lockonparallellock(lk)
//   lk (in) lock identifier
// Locks the lock, blocking until it is free. Does nothing when lk names no
// created lock.
void lockonparallellock(const std::int32_t& lk) {
  if (exists(lk)) pthread_mutex_lock(&def_lock::lock[lk - 1]);
}

// unlockparallellock(lk)
//   lk (in) lock identifier, held by the caller
// Unlocks the lock. Does nothing when lk names no created lock.
void unlockparallellock(const std::int32_t& lk) {
  if (exists(lk)) pthread_mutex_unlock(&def_lock::lock[lk - 1]);
}

// deleteparallellock(lk)
//   lk (in) lock identifier of an unlocked lock
// Destroys the lock and marks it free, after the destruction, so that a
// creation on another thread never initialises a mutex still being
// destroyed. Does nothing when lk names no created lock.
void deleteparallellock(const std::int32_t& lk) {
  using namespace def_lock;
  if (!exists(lk)) return;
  pthread_mutex_destroy(&lock[lk - 1]);
  tables::locktable(tablelock, tablelockflag);
  lockflag[lk - 1] = 0;
  pthread_mutex_unlock(&tablelock);
}
