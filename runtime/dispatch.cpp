// The task table and the dispatch of a routine onto a thread of its own.

#include <pthread.h>

#include <cstddef>
#include <type_traits>

#include "runtime/runtime.hpp"
#include "runtime/tables.hpp"

// A slot keeps its thread's handle in a 64-bit word. On this platform the
// handle is the address of the thread's control block, a user-space address
// below 2^47, so it is positive as a signed word and its negation marks a
// joined task unambiguously.
static_assert(std::is_integral_v<pthread_t> && sizeof(pthread_t) == sizeof(std::int64_t),
              "a thread handle must fit one word of the task table");

namespace def_dispatch {

// Every slot starts free: word 1 is -1, every other word 0.
static_assert(slots == tables::entries);
std::int64_t argu[slots][words] = CSP_FREE_ENTRIES;

std::int32_t nexttask = 1;
pthread_mutex_t tasklock;
std::int32_t tasklockflag = 0;

}  // namespace def_dispatch

namespace {

using def_dispatch::argu;

// The least stack a task's thread gets. The default stack of new threads
// follows the process's stack limit at start (ulimit -s), which may be far
// below the usual 8 MiB, down to what the thread library allows; a task's
// routine must not depend on it. The solver's kernels keep their large
// working arrays in heap scratch: a whole solve takes up to about 10 KiB of
// stack and runs on the least stack the thread library allows (16 KiB), and
// up to about 29 KiB under AddressSanitizer, whose frames are larger.
// 256 KiB leaves a wide margin for them and for any other routine, and is a
// whole number of pages of every page size in use (4, 16 and 64 KiB).
constexpr std::size_t leaststack = 256 * 1024;

// attributes <- the process's default thread attributes, with the stack
// raised to leaststack where the default is smaller (a larger default is
// kept). False, with nothing to destroy, when they cannot be had.
bool taskattributes(pthread_attr_t& attributes) {
  if (pthread_getattr_default_np(&attributes) != 0) return false;
  std::size_t stack = 0;
  if (pthread_attr_getstacksize(&attributes, &stack) == 0 && stack >= leaststack) return true;
  if (pthread_attr_setstacksize(&attributes, leaststack) == 0) return true;
  pthread_attr_destroy(&attributes);
  return false;
}

// Records the task in slot s, words in the order 1, 4, 5..count+4, 3, and
// advances the search start behind s. task (out) <- s.
void record(std::int32_t s, std::int32_t& task, std::int64_t routine, std::int32_t count,
            const std::int64_t* arguments) {
  std::int64_t* word = argu[s - 1];
  word[0] = s;
  task = s;
  word[3] = count;
  def_dispatch::nexttask = tables::following(s);
  for (std::int32_t k = 1; k <= count; ++k) word[3 + k] = arguments[k - 1];
  word[2] = routine;
}

// Starts the thread of the task recorded in slot s, with taskattributes;
// its handle goes into word 2. When the thread cannot be created, the slot
// is freed again, the search start restored to first and task set to 0, so
// that no slot stays in use without a thread behind it.
void start(std::int32_t s, std::int32_t& task, std::int32_t first) {
  pthread_attr_t attributes;
  pthread_t handle;
  bool started = false;
  if (taskattributes(attributes)) {
    started = pthread_create(&handle, &attributes, parallelworker, &argu[s - 1][2]) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (started) {
    argu[s - 1][1] = static_cast<std::int64_t>(handle);
  } else {
    argu[s - 1][1] = 0;
    argu[s - 1][0] = -1;
    def_dispatch::nexttask = first;
    task = 0;
  }
}

}  // namespace

// dispatchslot(task, routine, count, arguments)
//   task      (out) identifier of the new task, 1..64; 0 when every slot is
//                   in use or the thread could not be created
//   routine   (in)  address of the routine the task runs
//   count     (in)  number of arguments of the routine, 0..52
//   arguments (in)  count words: the address recorded for each argument
// The search, the recording and the thread creation all happen under
// tasklock, so that dispatches from several threads take distinct slots.
// Every word the worker reads is written before its thread is created.
void dispatch_detail::dispatchslot(std::int32_t& task, std::int64_t routine, std::int32_t count,
                                   const std::int64_t* arguments) {
  using namespace def_dispatch;
  tables::locktable(tasklock, tasklockflag);
  const std::int32_t first = nexttask;
  const std::int32_t s = tables::findfree(first, [](std::int32_t k) { return argu[k - 1][0] <= 0; });
  if (s == 0) {
    task = 0;
  } else {
    record(s, task, routine, count, arguments);
    start(s, task, first);
  }
  pthread_mutex_unlock(&tasklock);
}
