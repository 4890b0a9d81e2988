// Forks made while other threads solve, the way a program whose threads use
// the solver starts worker processes: every child, forked at whatever point
// the other threads had reached, solves a small system with a task of its
// own (alone under the sanitizers, see below), then finds every task slot
// free and every table mutex unlocked; and a child forked while another
// thread fixes the grain sizes fixes them too. Each child has a deadline:
// one still running then is killed and counts as hung, so that a child left
// waiting on a mutex fails the test instead of blocking the suite.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"
#include "tests/children.hpp"
#include "tests/solves.hpp"

// This program reports four configured processors, whatever the machine
// has, so that a task count of two can be set on any machine.
std::int32_t binding::sysconf(const std::int32_t& selector) {
  return selector == _SC_NPROCESSORS_CONF ? 4 : static_cast<std::int32_t>(::sysconf(selector));
}

namespace {

using solves::output;
using solves::problem;
using solves::route;

// The sanitizers' runtimes cannot start a thread in the child of a
// multi-threaded fork. ThreadSanitizer ends such a child ("starting new
// threads after multi-threaded fork is not supported"; the option that
// allows it is read before the program starts). AddressSanitizer's
// allocator does not hold its locks across a fork, so the child's new
// thread may wait forever on one that another thread held. Under them the
// child solves alone, which still takes the event and lock tables' mutexes,
// and the task table's mutex is checked free instead of used; and fewer
// forks run, each much slower there.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

constexpr int forkcount = sanitized ? 60 : 300;
constexpr std::chrono::seconds childlimit{20};

// How a child ended: its exit code, or hung or signalled.
enum childend : int {
  solved = 0,
  wronganswer = 1,
  slotinuse = 2,
  tablelocked = 3,
  dispatchedwrongly = 4,
  hung = children::hung,
  signalled = children::signalled,
  notforked = 102,
};

std::string describe(int end) {
  switch (end) {
    case solved: return "solved";
    case wronganswer: return "solved wrongly";
    case slotinuse: return "found a task slot in use after its solve";
    case tablelocked: return "found a table mutex locked after its solve";
    case dispatchedwrongly: return sanitized ? "dispatched a task" : "dispatched no task";
    case hung: return "hung and was killed";
    case signalled: return "ended by a signal";
    case notforked: return "could not be forked";
    default: return "exited with " + std::to_string(end);
  }
}

bool noslotinuse() {
  for (const auto& slot : def_dispatch::argu)
    if (slot[0] != -1) return false;
  return true;
}

// A table mutex that exists can be locked at once.
bool lockable(pthread_mutex_t& mutex, std::int32_t flag) {
  if (flag != 1) return true;
  if (pthread_mutex_trylock(&mutex) != 0) return false;
  pthread_mutex_unlock(&mutex);
  return true;
}

bool tablemutexesfree() {
  return lockable(def_dispatch::tasklock, def_dispatch::tasklockflag) &&
         lockable(def_event::passolock[0], def_event::eventlockflag) &&
         lockable(def_lock::tablelock, def_lock::tablelockflag);
}

// Solves p by route r with the task count in force; dispatched (out) tells
// whether the solve started a task, which moves the task table's search
// start.
output<double> solveanddispatch(const problem<double>& p, route r, bool& dispatched) {
  const std::int32_t start = def_dispatch::nexttask;
  output<double> o = solves::solve(p, r);
  dispatched = def_dispatch::nexttask != start;
  return o;
}

// What a child does: solves a wide band by the factorization with the
// solve, with two tasks (alone under the sanitizers), checked against the
// same solve made in the parent. Returns how it ended. The child allocates
// nothing, so that no allocator lock held by another thread at the fork
// can stop it: its system is the parent's copy unsolved, which it solves in
// place (the parent's stays unsolved for the next child).
int childsolves(const problem<double>& p, output<double>& unsolved, const output<double>& alone) {
  settasks(sanitized ? 1 : 2);
  const std::int32_t start = def_dispatch::nexttask;
  solution_csp_8(unsolved.a.data(), p.system.n, p.system.m, unsolved.b.data(), p.nrhs,
                 unsolved.status);
  if (!(unsolved == alone)) return wronganswer;
  if ((def_dispatch::nexttask != start) == sanitized) return dispatchedwrongly;
  if (!noslotinuse()) return slotinuse;
  if (!tablemutexesfree()) return tablelocked;
  return solved;
}

// The systems one solving thread goes through over and over, by every
// route: a narrow one, which the solves make alone, so that they mostly
// create and delete their events and lock; and one of a wide band, which
// they make with a dispatched task.
struct item {
  problem<double> p;
  route r;
  output<double> alone;
};

std::vector<item> workload(std::uint32_t seed) {
  std::vector<item> items;
  for (const route r : solves::routes) {
    items.push_back({problem<double>(24, 2, 1, seed), r, {}});
    items.push_back({problem<double>(70, 512, 1, seed + 10), r, {}});
  }
  for (item& x : items) {
    bool dispatched = false;
    x.alone = solveanddispatch(x.p, x.r, dispatched);
    EXPECT_EQ(dispatched, x.p.system.m == 512) << "N=" << x.p.system.n << " route "
                                                << static_cast<int>(x.r);
  }
  return items;
}

// Forks children one at a time while others(k), k = 0..count-1, runs on a
// thread of its own, over and over until forking stops. Each child ends with
// the code childbody returns; forking stops after forkcount children or at
// the first that does not end with solved, whose number and ending are
// returned.
struct forkrun {
  int forks = 0;
  int end = solved;
};

forkrun forkwhile(int count, const std::function<void(int)>& others,
                  const std::function<int()>& childbody) {
  std::atomic<bool> forking{true};
  forkrun run;
  solves::runtogether(count + 1, [&](int k) {
    if (k < count) {
      while (forking) others(k);
      return;
    }
    while (run.forks < forkcount && run.end == solved) {
      run.forks += 1;
      const pid_t child = fork();
      if (child == 0) _exit(childbody());
      run.end = child == -1 ? notforked : children::await(child, childlimit);
    }
    forking = false;
  });
  return run;
}

// Three threads solve, half their solves with a dispatched task, while
// another forks.
TEST(Fork, ChildForkedWhileOtherThreadsSolveSolvesWithTasksOfItsOwn) {
  constexpr int solvers = 3;
  settasks(2);
  const problem<double> childproblem(24, 512, 1, 7);
  const output<double> childalone = solves::solve(childproblem, route::solution);
  ASSERT_EQ(childalone.status, 0);
  output<double> unsolved;
  unsolved.a.assign(childproblem.system.band.begin(),
                    childproblem.system.band.begin() + bandlength(24, 512));
  unsolved.b = childproblem.rhs;
  std::vector<std::vector<item>> loads;
  for (std::uint32_t k = 0; k < solvers; ++k) loads.push_back(workload(100 + 40 * k));

  const forkrun run = forkwhile(
      solvers,
      [&](int k) {
        for (const item& x : loads[k]) EXPECT_TRUE(solves::solve(x.p, x.r) == x.alone);
      },
      [&] { return childsolves(childproblem, unsolved, childalone); });
  EXPECT_EQ(run.end, solved) << "child " << run.forks << " of " << forkcount << " "
                             << describe(run.end);
  EXPECT_EQ(solves::tablesinuse(), 0);
  resettasks();
}

// Another thread fixes the grain sizes over and over (fixed already, it only
// takes and lets go their mutex) while one forks; every child fixes them
// too, which it could not do with the mutex left locked.
TEST(Fork, ChildForkedWhileAnotherThreadFixesTheGrainSizesFixesThem) {
  requiregrainsize();
  const forkrun run = forkwhile(
      1, [](int) { requiregrainsize(); },
      [] {
        requiregrainsize();
        return solved;
      });
  EXPECT_EQ(run.end, solved) << "child " << run.forks << " of " << forkcount << " "
                             << describe(run.end);
}

}  // namespace
