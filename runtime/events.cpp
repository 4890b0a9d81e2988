// Parallel events: counting rendezvous of a fixed number of participants.
//
// Field 1 of a record is the event's number or -1 when free; fields 2, 3, 4
// count the outstanding posts, arrivals and releases. The last arrival that
// finds every post in starts the releases; they form a chain: the starter
// takes one release from field 4 and wakes one waiter, and every waiter that
// leaves takes one release and wakes the next while releases remain. With n
// participants, n-1 wait and exactly n-1 signals are sent.
//
// A condition wait may return without a signal, so a waiter does not take
// its wake-up as its release. Next to the table each event keeps the number
// of releases handed on by a signal and not yet taken by a waiter (at most
// one, since each is handed on only after the previous one was taken). A
// waiter leaves only by taking one; none exists before the chain has been
// started, so no waiter leaves early, and whichever waiter takes a release
// passes the next one on, so every waiter leaves exactly once.

#include <pthread.h>

#include "runtime/runtime.hpp"
#include "runtime/tables.hpp"

namespace def_event {

static_assert(slots == tables::entries);
std::int32_t events[slots][4] = CSP_FREE_ENTRIES;
pthread_cond_t pevent[slots];
pthread_mutex_t passolock[slots + 1];
std::int32_t eventlockflag = 0;
std::int32_t index = 1;

}  // namespace def_event

namespace {

using def_event::events;
using def_event::passolock;
using def_event::pevent;

// handedon[e-1]: releases of event e handed on and not yet taken; guarded by
// the event's mutex, cleared when the event is initialised.
std::int32_t handedon[def_event::slots] = {};

// True when ev names an existing event.
bool exists(std::int32_t ev) {
  return ev >= 1 && ev <= def_event::slots && events[ev - 1][0] == ev;
}

std::int32_t& posts(std::int32_t ev) { return events[ev - 1][1]; }
std::int32_t& arrivals(std::int32_t ev) { return events[ev - 1][2]; }
std::int32_t& releases(std::int32_t ev) { return events[ev - 1][3]; }

// One arrival, under the event's mutex. True when the caller arrives last
// and finds every post in, so that it need not wait.
bool arrive(std::int32_t ev) {
  arrivals(ev) -= 1;
  return posts(ev) <= 0 && arrivals(ev) <= 0;
}

// Blocks, under the event's mutex, until a release has been handed on to
// the waiters, and takes it.
void awaitrelease(std::int32_t ev) {
  while (handedon[ev - 1] == 0) pthread_cond_wait(&pevent[ev - 1], &passolock[ev]);
  handedon[ev - 1] -= 1;
}

// Takes one release, under the event's mutex, and hands the next one on to
// one waiter while releases remain.
void release(std::int32_t ev) {
  releases(ev) -= 1;
  if (releases(ev) > 0) {
    handedon[ev - 1] += 1;
    pthread_cond_signal(&pevent[ev - 1]);
  }
}

}  // namespace

// createparallelevent(ev)
//   ev (out) identifier of a new event, 1..64; 0 when all 64 are in use
// Searches from index for a free record under the event table's mutex. A new
// event keeps the counts its record held before; it must be initialised
// before any participant posts or arrives.
void createparallelevent(std::int32_t& ev) {
  tables::locktable(passolock[0], def_event::eventlockflag);
  const std::int32_t s =
      tables::findfree(def_event::index, [](std::int32_t k) { return events[k - 1][0] == -1; });
  if (s == 0) {
    ev = 0;
  } else {
    events[s - 1][0] = s;
    def_event::index = tables::following(s);
    pthread_cond_init(&pevent[s - 1], nullptr);
    pthread_mutex_init(&passolock[s], nullptr);
    ev = s;
  }
  pthread_mutex_unlock(&passolock[0]);
}

// initializeparallelevent(ev, n)
//   ev (in) event identifier
//   n  (in) number of participants
// Arms the event for n participants: outstanding posts, arrivals and
// releases all become n. Takes no lock: it is called while no participant is
// inside an operation on the event (before the tasks start, or by the last
// arrival at the other event of an alternating pair).
void initializeparallelevent(const std::int32_t& ev, const std::int32_t& n) {
  if (!exists(ev)) return;
  posts(ev) = n;
  arrivals(ev) = n;
  releases(ev) = n;
  handedon[ev - 1] = 0;
}

// postparallelevent(ev)
//   ev (in) event identifier
// One participant's post. Wakes nobody.
void postparallelevent(const std::int32_t& ev) {
  if (!exists(ev)) return;
  pthread_mutex_lock(&passolock[ev]);
  posts(ev) -= 1;
  pthread_mutex_unlock(&passolock[ev]);
}

// waitforparallelevent(ev)
//   ev (in) event identifier
// One participant's arrival. Returns once all participants have arrived,
// every post is in and this participant has been released; the last arrival
// does not wait and starts the releases itself.
void waitforparallelevent(const std::int32_t& ev) {
  if (!exists(ev)) return;
  pthread_mutex_lock(&passolock[ev]);
  if (!arrive(ev)) awaitrelease(ev);
  release(ev);
  pthread_mutex_unlock(&passolock[ev]);
}

// ifcompleteparallelevent(ev, done)
//   ev   (in)  event identifier
//   done (out) 0: the caller arrived last and found every post in; it did not
//              wait and must call completeparallelevent to release the
//              others. 1: the caller waited and has been released.
//              Unchanged when ev names no event.
void ifcompleteparallelevent(const std::int32_t& ev, std::int32_t& done) {
  if (!exists(ev)) return;
  pthread_mutex_lock(&passolock[ev]);
  if (arrive(ev)) {
    done = 0;
  } else {
    awaitrelease(ev);
    release(ev);
    done = 1;
  }
  pthread_mutex_unlock(&passolock[ev]);
}

// completeparallelevent(ev)
//   ev (in) event identifier
// Starts the releases of the participants waiting on the event; called by
// the participant that got done = 0 from ifcompleteparallelevent.
void completeparallelevent(const std::int32_t& ev) {
  if (!exists(ev)) return;
  pthread_mutex_lock(&passolock[ev]);
  release(ev);
  pthread_mutex_unlock(&passolock[ev]);
}

// deleteparallelevent(ev)
//   ev (in) event identifier
// Destroys the event's condition variable and mutex and frees its record;
// the counts keep their values. Called when no participant uses the event.
// The record is marked free under the table's mutex, since creations on
// other threads search field 1 of every record, and only after its mutex and
// condition variable are gone, so that a creation never initialises them
// while they are being destroyed.
void deleteparallelevent(const std::int32_t& ev) {
  if (!exists(ev)) return;
  pthread_cond_destroy(&pevent[ev - 1]);
  pthread_mutex_destroy(&passolock[ev]);
  tables::locktable(passolock[0], def_event::eventlockflag);
  events[ev - 1][0] = -1;
  pthread_mutex_unlock(&passolock[0]);
}
