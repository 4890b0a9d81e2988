// Waiting for tasks, freeing their slots, and the runtime's shutdown.
//
// A task is waited for and freed by the thread that dispatched it, after its
// dispatches, and two threads never wait for the same task: the words of a
// slot in use are read and its handle changed without tasklock. Freeing a
// slot changes word 1, which dispatches on other threads search, so it
// happens under tasklock.

#include <pthread.h>

#include "runtime/runtime.hpp"
#include "runtime/tables.hpp"

namespace {

using def_dispatch::argu;

// True when task names a task: it lies in 1..64 and its slot holds it.
bool names(std::int32_t task) {
  return task >= 1 && task <= def_dispatch::slots && argu[task - 1][0] == task;
}

bool inuse(std::int32_t s) { return argu[s - 1][0] != -1; }
bool unjoined(std::int32_t s) { return argu[s - 1][1] > 0; }
bool joined(std::int32_t s) { return argu[s - 1][1] < 0; }

// Waits for the thread of slot s to end and marks the task as waited for by
// negating its handle, whatever the join returned.
void join(std::int32_t s) {
  pthread_join(static_cast<pthread_t>(argu[s - 1][1]), nullptr);
  argu[s - 1][1] = -argu[s - 1][1];
}

// Frees slot s.
void release(std::int32_t s) {
  tables::locktable(def_dispatch::tasklock, def_dispatch::tasklockflag);
  argu[s - 1][1] = 0;
  argu[s - 1][0] = -1;
  pthread_mutex_unlock(&def_dispatch::tasklock);
}

}  // namespace

// waitfortask(task)
//   task (in) task identifier
// Waits for the task's thread unless it has been waited for already; the
// slot stays in use. Does nothing when task names no task.
void waitfortask(const std::int32_t& task) {
  if (names(task) && unjoined(task)) join(task);
}

// terminatetask(task)
//   task (in) task identifier
// Frees the slot of a task that has been waited for. A task not yet waited
// for keeps its slot and its thread runs on.
void terminatetask(const std::int32_t& task) {
  if (names(task) && joined(task)) release(task);
}

// waitforandterminatetask(task)
//   task (in) task identifier
// Waits for the task unless it has been waited for already, then frees its
// slot. Does nothing when task names no task.
void waitforandterminatetask(const std::int32_t& task) {
  if (!names(task)) return;
  if (unjoined(task)) join(task);
  if (joined(task)) release(task);
}

// The three routines below act on every slot of the process, tasks of other
// threads included; they are meant for a program's end, while no other
// thread dispatches or waits.

// waitforalltasks()
// Waits, slot by slot from 1 to 64, for every task not yet waited for.
void waitforalltasks() {
  for (std::int32_t s = 1; s <= def_dispatch::slots; ++s)
    if (inuse(s) && unjoined(s)) join(s);
}

// terminatealltasks()
// Frees every slot whose task has been waited for.
void terminatealltasks() {
  for (std::int32_t s = 1; s <= def_dispatch::slots; ++s)
    if (inuse(s) && joined(s)) release(s);
}

// waitforandterminatealltasks()
// Waits, slot by slot from 1 to 64, for every task not yet waited for and
// frees every slot in use.
void waitforandterminatealltasks() {
  for (std::int32_t s = 1; s <= def_dispatch::slots; ++s) {
    if (!inuse(s)) continue;
    if (unjoined(s)) join(s);
    release(s);
  }
}

// mtaskdone()
// Destroys the mutexes of the task, event and lock tables where they exist
// and clears their flags, so that a runtime used again afterwards makes them
// anew. Waits for no task; single events and parallel locks are left alone.
// No other thread may use the runtime meanwhile.
void mtaskdone() {
  tables::destroytablemutex(def_dispatch::tasklock, def_dispatch::tasklockflag);
  tables::destroytablemutex(def_event::passolock[0], def_event::eventlockflag);
  tables::destroytablemutex(def_lock::tablelock, def_lock::tablelockflag);
}

// orvekdone()
// Shutdown of the solver library: mtaskdone.
void orvekdone() { mtaskdone(); }
