// Helpers shared by the runtime's three tables (tasks, events, locks): the
// search for a free entry and the table mutexes that serialise it.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace tables {

// Number of entries of every runtime table.
inline constexpr std::int32_t entries = 64;

// CSP_FREE_ENTRIES: initialiser of a table of 64 entries whose first word
// is -1 (free) and all other words 0.
#define CSP_FREE_ENTRIES \
  { \
    {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, \
    {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, \
    {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, \
    {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, \
    {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, \
    {-1}, {-1}, {-1}, {-1} \
  }
static_assert(entries == 64, "CSP_FREE_ENTRIES lists 64 entries");

// following(s): the entry searched after entry s: s + 1, or 1 after 64.
constexpr std::int32_t following(std::int32_t s) { return s == entries ? 1 : s + 1; }

// findfree(start, isfree): the first entry s, in the order start, start+1,
// ..., 64, 1, ..., start-1, for which isfree(s) holds; 0 when there is none.
// Each entry is tested at most once.
template <class Free>
std::int32_t findfree(std::int32_t start, Free isfree) {
  std::int32_t s = start;
  do {
    if (isfree(s)) return s;
    s = following(s);
  } while (s != start);
  return 0;
}

// createtablemutex(mutex, flag): initialises mutex with default attributes
// and sets flag to 1, unless flag is 1 already. Safe when several threads
// make the first creation at the same time.
void createtablemutex(pthread_mutex_t& mutex, std::int32_t& flag);

// locktable(mutex, flag): locks the table mutex, creating it first where it
// does not exist yet. Every search of a table, and every store that frees one
// of its entries, happens under its mutex: solves on other threads search
// the same table.
void locktable(pthread_mutex_t& mutex, std::int32_t& flag);

// destroytablemutex(mutex, flag): when flag is 1, destroys mutex and sets
// flag to 0, so that a later createtablemutex makes the mutex anew.
void destroytablemutex(pthread_mutex_t& mutex, std::int32_t& flag);

// registerforkhandlers(): installs, once per process, the fork handlers that
// take the guard and the table mutexes before a fork and let them go in the
// parent and the child, and free the child's task slots. Called while the
// runtime is loaded; a second call installs nothing, so that one fork never
// takes the table mutexes twice. (The installed libraries keep their
// copies of the runtime to themselves: each copy has tables and handlers of
// its own.)
void registerforkhandlers();

}  // namespace tables
