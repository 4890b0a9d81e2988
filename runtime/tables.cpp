// The table mutexes come into being at the first dispatch or event creation,
// which any thread may make, and shutdown destroys them; a runtime used again
// after shutdown makes them anew. A once-only initialiser could not run again
// after shutdown, so the flags are tested and changed under one statically
// initialised guard instead. The guard is held only around the flag test and
// the creation or destruction, and across a fork (below); no thread takes
// the guard while it holds a table mutex.
//
// Fork: a thread forking while others solve must not leave the child a table
// mutex that a thread of the parent held, since no thread of the child would
// ever unlock it. The fork therefore takes the guard and then every table
// mutex that exists, and both processes let them go after it. Each holder
// of one of these mutexes lets it go without waiting for any other of them
// (a dispatch holds the task table's mutex across calls of the thread
// library only, and the C library runs fork handlers before it takes its
// own locks), so the fork takes them in any order without a deadlock; the
// guard goes first so that the flags it tests cannot change meanwhile.

#include <pthread.h>

#include "runtime/runtime.hpp"
#include "runtime/tables.hpp"

namespace {

pthread_mutex_t guard = PTHREAD_MUTEX_INITIALIZER;

struct tablemutex {
  pthread_mutex_t* mutex;
  std::int32_t* flag;
};
constexpr tablemutex tablemutexes[] = {
    {&def_dispatch::tasklock, &def_dispatch::tasklockflag},
    {&def_event::passolock[0], &def_event::eventlockflag},
    {&def_lock::tablelock, &def_lock::tablelockflag},
};

void takeforfork() {
  pthread_mutex_lock(&guard);
  for (const tablemutex& t : tablemutexes)
    if (*t.flag == 1) pthread_mutex_lock(t.mutex);
}

void releaseafterfork() {
  for (const tablemutex& t : tablemutexes)
    if (*t.flag == 1) pthread_mutex_unlock(t.mutex);
  pthread_mutex_unlock(&guard);
}

// The child's one thread forked outside any solve and every other thread is
// gone, so no thread stands behind a slot still in use: the slots are freed
// for the child's own dispatches (a task of the parent is never waited for
// in the child). Events and parallel locks held at the fork stay in use:
// the forking thread may hold some itself, created outside a solve, which
// cannot be told apart from those of the vanished solves.
void releaseinchild() {
  for (auto& slot : def_dispatch::argu) {
    slot[1] = 0;
    slot[0] = -1;
  }
  releaseafterfork();
}

// Registered while the runtime is loaded, before the program's threads can
// use it, and never under one of the mutexes above: a registration waits for
// a fork that is running its handlers.
[[maybe_unused]] const bool forkhandlers = (tables::registerforkhandlers(), true);

}  // namespace

void tables::registerforkhandlers() {
  static const int registered = pthread_atfork(takeforfork, releaseafterfork, releaseinchild);
  static_cast<void>(registered);
}

void tables::createtablemutex(pthread_mutex_t& mutex, std::int32_t& flag) {
  pthread_mutex_lock(&guard);
  if (flag == 0) {
    pthread_mutex_init(&mutex, nullptr);
    flag = 1;
  }
  pthread_mutex_unlock(&guard);
}

void tables::destroytablemutex(pthread_mutex_t& mutex, std::int32_t& flag) {
  pthread_mutex_lock(&guard);
  if (flag == 1) {
    pthread_mutex_destroy(&mutex);
    flag = 0;
  }
  pthread_mutex_unlock(&guard);
}

void tables::locktable(pthread_mutex_t& mutex, std::int32_t& flag) {
  createtablemutex(mutex, flag);
  pthread_mutex_lock(&mutex);
}
