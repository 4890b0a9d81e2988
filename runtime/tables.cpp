// The table mutexes come into being at the first dispatch or event creation,
// which any thread may make, and shutdown destroys them; a runtime used again
// after shutdown makes them anew. A once-only initialiser could not run again
// after shutdown, so the flags are tested and changed under one statically
// initialised guard instead. The guard is held only around the flag test and
// the creation or destruction, never while a table mutex is locked.

#include "runtime/tables.hpp"

namespace {
pthread_mutex_t guard = PTHREAD_MUTEX_INITIALIZER;
}  // namespace

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
