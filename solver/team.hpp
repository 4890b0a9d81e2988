// The team of tasks of one parallel solve: its lock, its two alternating
// barrier events and its participant count, how the solver entries start and
// join it, and the barrier step every parallel kernel ends a pass with.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>

#include "runtime/runtime.hpp"

// The most participants one solve runs: the size of an entry's list of task
// identifiers, and the cap settasks applies.
inline constexpr std::int32_t maxteam = 32;

struct team {
  std::int32_t lockid = 0;
  std::int32_t eventids[2] = {0, 0};
  std::int32_t ntasks = 1;  // participants actually running, the caller included
};

// Creates the lock and the two events of one solve.
inline void openteam(team& t) {
  createparallellock(t.lockid);
  createparallelevent(t.eventids[0]);
  createparallelevent(t.eventids[1]);
}

// Deletes what openteam created, once every task has been joined.
inline void closeteam(team& t) {
  deleteparallellock(t.lockid);
  deleteparallelevent(t.eventids[0]);
  deleteparallelevent(t.eventids[1]);
}

// The task count a solver entry runs with: gettasks, capped at maxteam so
// that the entry's list of task identifiers never overflows (gettasks
// falls back to the uncapped processor count when no settasks was made).
inline std::int32_t teamsize() {
  std::int32_t requested = 1;
  gettasks(requested);
  return std::clamp(requested, std::int32_t{1}, maxteam);
}

// Runs kernel(arguments...) with `requested` participants (clamped to
// 1..maxteam): dispatches the others, runs one share on the calling thread,
// and joins them in dispatch order. The arguments must include
// t.lockid, t.eventids and t.ntasks where the kernel expects them.
//
// The solve's lock is held while dispatching: every kernel's first step is to
// take work under that lock, so no task reaches a barrier before t.ntasks and
// the first event count hold the number of participants really started. A
// dispatch that finds no free slot, or whose thread cannot be created, thus
// makes the solve run with fewer participants instead of hanging it. When the
// lock or an event could not be created at all, the caller solves alone.
template <class... P, class... A>
void runteam(team& t, std::int32_t requested, void (*kernel)(P...), A&&... arguments) {
  requested = std::clamp(requested, std::int32_t{1}, maxteam);
  if (t.lockid == 0 || t.eventids[0] == 0 || t.eventids[1] == 0) requested = 1;

  std::int32_t tasks[maxteam] = {};
  std::int32_t started = 1;
  lockonparallellock(t.lockid);
  for (std::int32_t i = 1; i < requested; ++i) {
    dispatch(tasks[i - 1], kernel, arguments...);
    if (tasks[i - 1] != 0) ++started;
  }
  t.ntasks = started;
  initializeparallelevent(t.eventids[0], t.ntasks);
  unlockparallellock(t.lockid);

  kernel(std::forward<A>(arguments)...);

  for (std::int32_t i = 1; i < requested; ++i) waitforandterminatetask(tasks[i - 1]);
}

// One participant's arrival at the barrier that ends a pass: post, then
// arrive. Returns true for the last arrival; every other participant stays
// blocked in the event until that one has updated the shared state of the
// solve and called releasebarrier.
inline bool arrivelast(const std::int32_t& ev) {
  postparallelevent(ev);
  std::int32_t done = 0;  // a solve run alone without events counts as last
  ifcompleteparallelevent(ev, done);
  return done == 0;
}

// Arms the other event of the pair, eventids(3 - phase), for the next pass and
// releases the participants waiting on eventids(phase). Re-arming the other
// event, never this one, keeps a count from being reset while released
// participants are still leaving.
inline void releasebarrier(std::int32_t* eventids, std::int32_t phase, const std::int32_t& ntasks) {
  initializeparallelevent(eventids[2 - phase], ntasks);
  completeparallelevent(eventids[phase - 1]);
}

// Takes the next item below `count` from a cursor shared by the team, under
// its lock; false when none is left, or when *failed (if given) is set.
inline bool takeitem(const std::int32_t& lockid, std::int64_t& next, std::int64_t count,
                     const std::int32_t* failed, std::int64_t& item) {
  lockonparallellock(lockid);
  item = next++;
  const bool go = item < count && (failed == nullptr || *failed == 0);
  unlockparallellock(lockid);
  return go;
}

// Runs task(job) on a team of `tasks` participants, job.t its team (alone,
// with no lock or events made, when 1).
template <class Job>
void runjob(Job& job, std::int32_t tasks, void (*task)(Job&)) {
  if (tasks > 1) openteam(job.t);
  runteam(job.t, tasks, task, job);
  if (tasks > 1) closeteam(job.t);
}
