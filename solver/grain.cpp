// Grain sizes of the parallel kernels, fixed once per run.
//
// Whichever of the three routines runs first fixes all four values of
// def_orvek for the rest of the run (maxchunk > 0 marks them fixed); the
// complex table depends on the task count in force at that first call.
//
// Solves on several threads may make their first call at the same time, so
// the test of maxchunk and the four stores are one step under a mutex: one
// call fixes the whole set from its table and the others find it fixed.
// Every caller passes the mutex after the stores, so a solve that has called
// one of the routines reads the values (blockwidth) without a lock.

#include <pthread.h>

#include <algorithm>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"

namespace def_orvek {
std::int32_t cpus = 0;
std::int32_t minchunk = 0;
std::int32_t maxchunk = 0;
std::int32_t middlechunk = 0;
}  // namespace def_orvek

namespace {

pthread_mutex_t grainlock = PTHREAD_MUTEX_INITIALIZER;

// A fork holds the mutex across it, so that a child forked while another
// thread fixes the grain sizes finds it free and the four values complete.
// Its holder takes no other lock (gettasks reads atomics only), so the
// order against the runtime's own fork handlers does not matter.
void takegrainlock() { pthread_mutex_lock(&grainlock); }
void releasegrainlock() { pthread_mutex_unlock(&grainlock); }
[[maybe_unused]] const int forkhandlers =
    pthread_atfork(takegrainlock, releasegrainlock, releasegrainlock);

struct grain {
  std::int32_t maxchunk, middlechunk, minchunk;
};

// Fixes the grain sizes to table(task count) unless they are fixed already.
void fixonce(grain (*table)(std::int32_t cpus)) {
  pthread_mutex_lock(&grainlock);
  if (def_orvek::maxchunk <= 0) {
    gettasks(def_orvek::cpus);
    const grain g = table(def_orvek::cpus);
    def_orvek::maxchunk = g.maxchunk;
    def_orvek::middlechunk = g.middlechunk;
    def_orvek::minchunk = g.minchunk;
  }
  pthread_mutex_unlock(&grainlock);
}

grain realtable(std::int32_t) { return {24, 12, 8}; }
grain complextable(std::int32_t cpus) { return cpus > 2 ? grain{8, 6, 4} : grain{16, 8, 6}; }
grain qptable(std::int32_t) { return {8, 6, 4}; }

}  // namespace

void requiregrainsize() { fixonce(realtable); }

void requiregrainsizeforcomplex() { fixonce(complextable); }

void requiregrainsizeforqp() { fixonce(qptable); }

std::int32_t blockwidth(const std::int32_t& m) {
  const std::int32_t chunk = def_orvek::maxchunk;
  return std::max(chunk * chunk / std::max(m, std::int32_t{1}), m + 1);
}
