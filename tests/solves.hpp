// Test support for whole solves through the public entries: the entries of
// each element kind, the three ways a caller solves a system with them, a
// solve's complete output for bit-for-bit comparison, threads started
// together under a watchdog, the runtime table entries left in use, and a
// record of which thread holds which identifier of a table.
#pragma once

#include <atomic>
#include <chrono>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/band.hpp"
#include "solver/csp.hpp"
#include "solver/entries.hpp"
#include "tests/oracle.hpp"

namespace solves {

// The public entries of each element kind.
template <class T>
using entries = cspentries<T>;

// x and y hold the same bits (memcmp, so that NaNs compare too; an empty
// vector may hold no array at all, which memcmp must not be given).
template <class T>
bool samebits(const std::vector<T>& x, const std::vector<T>& y) {
  return x.size() == y.size() &&
         (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0);
}

// The ways a caller solves a system: the factor-and-solve sweep, the
// factorization with the solve, and the factorization followed by a
// substitution with its factor.
enum class route { mesolution, solution, factorthensubstitute };
inline constexpr route routes[] = {route::mesolution, route::solution,
                                   route::factorthensubstitute};

// A test system and its right-hand sides.
template <class T>
struct problem {
  oracle::bandsystem<T> system;
  std::int32_t nrhs;
  std::vector<T> rhs;
  problem(std::int32_t n, std::int32_t m, std::int32_t k, std::uint32_t seed)
      : system(oracle::makesystem<T>(n, m, seed)),
        nrhs(k),
        rhs(oracle::randomvector<T>(std::int64_t{n} * k, seed + 1)) {}
};

// Everything a solve writes: the band (factor or scratch), the solutions,
// the work array and the status.
template <class T>
struct output {
  std::vector<T> a, b, work;
  std::int32_t status = -1;
  bool operator==(const output& o) const {
    return status == o.status && samebits(a, o.a) && samebits(b, o.b) && samebits(work, o.work);
  }
};

// Solves p by route r with the task count in force.
template <class T>
output<T> solve(const problem<T>& p, route r) {
  const std::int32_t n = p.system.n, m = p.system.m;
  output<T> o;
  o.a.assign(p.system.band.begin(), p.system.band.begin() + bandlength(n, m));
  o.b = p.rhs;
  switch (r) {
    case route::mesolution:
      o.work.assign(static_cast<std::size_t>(2 * std::int64_t{n} * m), T(0));
      entries<T>::mesolution(o.a.data(), n, m, o.b.data(), p.nrhs, o.work.data(), o.status);
      break;
    case route::solution:
      entries<T>::solution(o.a.data(), n, m, o.b.data(), p.nrhs, o.status);
      break;
    case route::factorthensubstitute:
      entries<T>::decomposition(o.a.data(), n, m, o.status);
      if (o.status == 0) entries<T>::substitution(o.a.data(), n, m, o.b.data(), p.nrhs);
      break;
  }
  return o;
}

// Runs body(k), k = 0..count-1, each on a thread of its own, all released
// together. Threads that have not all returned within limit mean that a
// solve hangs: the process then ends with a message instead of blocking the
// whole suite.
inline void runtogether(int count, const std::function<void(int)>& body,
                        std::chrono::seconds limit = std::chrono::seconds(600)) {
  std::latch start(count);
  std::mutex guard;
  std::condition_variable returned;
  int finished = 0;
  std::vector<std::jthread> threads;
  for (int k = 0; k < count; ++k) {
    threads.emplace_back([&, k] {
      start.arrive_and_wait();
      body(k);
      std::lock_guard<std::mutex> hold(guard);
      ++finished;
      returned.notify_one();
    });
  }
  std::unique_lock<std::mutex> hold(guard);
  if (!returned.wait_for(hold, limit, [&] { return finished == count; })) {
    std::fprintf(stderr, "%d of %d threads still running after %lld s: a solve hangs\n",
                 count - finished, count, static_cast<long long>(limit.count()));
    std::abort();
  }
}

// Task slots, events and locks of the runtime in use.
inline int tablesinuse() {
  int count = 0;
  for (const auto& slot : def_dispatch::argu) count += slot[0] != -1;
  for (const auto& event : def_event::events) count += event[0] != -1;
  for (const std::int32_t flag : def_lock::lockflag) count += flag != 0;
  return count;
}

// Which thread holds each identifier 1..64 of a runtime table, for tests in
// which several threads take and give back identifiers at once: taking one
// that another thread holds is a clash.
struct holders {
  std::atomic<int> holder[64] = {};  // 0: nobody; k + 1: thread k
  std::atomic<int> clashes{0};
  std::atomic<int> missing{0};  // creations that found no free entry

  void take(std::int32_t id, int thread) {
    if (id < 1 || id > 64) {
      missing += 1;
      return;
    }
    int nobody = 0;
    if (!holder[id - 1].compare_exchange_strong(nobody, thread + 1)) clashes += 1;
  }
  // Called before the identifier is freed, so that its next holder finds it
  // given back.
  void giveback(std::int32_t id) {
    if (id >= 1 && id <= 64) holder[id - 1] = 0;
  }
};

}  // namespace solves
