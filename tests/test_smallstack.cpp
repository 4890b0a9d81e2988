// Solves on threads with small stacks. A caller's thread may have as little
// stack as the thread library allows, and the process's stack limit may be
// small enough that the default stack of every new thread is: the sweep's
// working arrays live in per-thread heap scratch, and the runtime gives its
// own threads a stack of at least a fixed floor. Every solve here must give
// the same bits as on a thread with a large stack, and the right solution;
// where the heap scratch cannot be allocated, the solver takes its paths
// without scratch, which must give the same bits too.
//
// The solves run in child processes under a watchdog, so that a stack
// overrun or a hang fails its test instead of ending or blocking the suite.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"
#include "solver/schedule.hpp"
#include "solver/team.hpp"
#include "tests/oracle.hpp"
#include "tests/children.hpp"
#include "tests/solves.hpp"

// The aligned allocations without exceptions are the solver's heap scratch.
// This program replaces them (and the other aligned forms, so that every
// aligned block is taken and given back alike), counts them, and refuses
// them on request, as an exhausted heap would.
namespace {
std::atomic<bool> refusing{false};
std::atomic<int> granted{0}, refused{0};

void* alignedblock(std::size_t bytes, std::align_val_t alignment) {
  void* p = nullptr;
  return posix_memalign(&p, static_cast<std::size_t>(alignment), bytes) == 0 ? p : nullptr;
}
}  // namespace

void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  if (refusing) {
    ++refused;
    return nullptr;
  }
  ++granted;
  return alignedblock(bytes, alignment);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) {
  void* p = alignedblock(bytes, alignment);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }

namespace {

using solves::output;
using solves::problem;

// ---------------------------------------------------------------------------
// Solves
// ---------------------------------------------------------------------------

auto sweepkernel(float*) { return kernel::p_mesolution_csp_4; }
auto sweepkernel(double*) { return kernel::p_mesolution_csp_8; }
auto sweepkernel(std::complex<double>*) { return kernel::p_mesolution_csp_z8; }

template <class T>
void requiregrain() {
  if constexpr (is_complex_v<T>) {
    requiregrainsizeforcomplex();
  } else {
    requiregrainsize();
  }
}

// A solve's output and the participants that ran it.
template <class T>
struct sweepresult {
  output<T> out;
  std::int32_t participants = 0;
};

// Solves p by the factor-and-solve sweep with `tasks` participants, the
// block width as the solver entries take it. (The entries start no more
// participants than the problem repays, one for these orders.)
template <class T>
sweepresult<T> sweepsolve(const problem<T>& p, std::int32_t tasks) {
  const std::int32_t n = p.system.n, m = p.system.m;
  sweepresult<T> r;
  r.out.a.assign(p.system.band.begin(), p.system.band.begin() + bandlength(n, m));
  r.out.b = p.rhs;
  r.out.work.assign(static_cast<std::size_t>(2 * std::int64_t{n} * m), T(0));
  requiregrain<T>();
  const std::int32_t q = blockwidth(m);
  std::int64_t level, distance, stride, firstblock, nextblock, backblock;
  sweep::startcounters(q, level, distance, stride, firstblock, nextblock, backblock);
  const real_t<T> tolerance = 0;
  std::int32_t info[2] = {0, 0};
  T* const savedcoupling = r.out.work.data();
  T* const coupling = savedcoupling + std::int64_t{n} * m;
  team t;
  openteam(t);
  runteam(t, tasks, sweepkernel(r.out.a.data()), r.out.a.data(), n, m, r.out.b.data(), p.nrhs,
          savedcoupling, coupling, t.lockid, t.eventids, q, t.ntasks, level, distance, stride,
          firstblock, nextblock, backblock, tolerance, info);
  closeteam(t);
  r.out.status = info[0] != 0 ? 1 : info[1];
  r.participants = t.ntasks;
  return r;
}

// The systems: the narrow bands at an order that the C interface solves
// with the sweep, in groups of blocks side by side in lanes; and bands of
// 40 and 200, whose blocks go one by one with sets of lanes of M+1 rows
// where their groups would take too much scratch (every pass at 200).
struct shape {
  std::int32_t n, m, nrhs;
};
constexpr shape realshapes[] = {{25000, 1, 1}, {25000, 2, 1}, {25000, 4, 2}, {25000, 8, 1},
                                {2000, 40, 1}, {2000, 200, 1}};
constexpr shape complexshapes[] = {{25000, 2, 1}};

// Calls visit(problem) for every system: the real kinds and one complex.
template <class Visit>
void eachsystem(Visit visit) {
  for (const shape& c : realshapes) {
    visit(problem<float>(c.n, c.m, c.nrhs, 3 + c.m));
    visit(problem<double>(c.n, c.m, c.nrhs, 3 + c.m));
  }
  for (const shape& c : complexshapes) {
    visit(problem<std::complex<double>>(c.n, c.m, c.nrhs, 3 + c.m));
  }
}

template <class T>
std::string describe(const problem<T>& p) {
  return std::string(is_complex_v<T> ? "complex " : "real ") + std::to_string(sizeof(T)) +
         " bytes, N=" + std::to_string(p.system.n) + " M=" + std::to_string(p.system.m);
}

// The solve on a thread with a large stack, which must solve the system.
template <class T>
output<T> reference(const problem<T>& p) {
  const sweepresult<T> r = sweepsolve(p, 1);
  EXPECT_EQ(r.out.status, 0);
  EXPECT_LT(oracle::residualratio(p.system, p.rhs, r.out.b, p.nrhs), 30.0);
  return r.out;
}

// Runs body() on a new thread with a stack of `bytes` and waits for it.
template <class Body>
void onstack(std::size_t bytes, Body& body) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, bytes), 0);
  pthread_t thread;
  const auto run = [](void* b) -> void* {
    (*static_cast<Body*>(b))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, &body), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

// ---------------------------------------------------------------------------
// Child processes under a watchdog
// ---------------------------------------------------------------------------

constexpr std::chrono::seconds childlimit{300};

void inchild(const std::function<void()>& body) { children::inchild(body, childlimit); }

// Set in the environment of a process that reruns one test of this program.
constexpr char childmarker[] = "CSP_SMALLSTACK_CHILD";

bool rerun() { return std::getenv(childmarker) != nullptr; }

// Reruns the current test in a new process of this program started with a
// stack limit of `bytes`. The limit in force at the start fixes the main
// thread's stack and the default stack of every thread the process creates,
// which is why the program is started anew rather than only forked.
void rerunwithstacklimit(rlim_t bytes) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter =
      std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  std::string program = "test_smallstack", marker = std::string(childmarker) + "=1";
  char* arguments[] = {program.data(), filter.data(), nullptr};
  std::vector<char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.push_back(*variable);
  }
  environment.push_back(marker.data());
  environment.push_back(nullptr);
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &limit), 0);
  ASSERT_LE(bytes, limit.rlim_max);
  limit.rlim_cur = bytes;

  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    setrlimit(RLIMIT_STACK, &limit);
    execve("/proc/self/exe", arguments, environment.data());
    _exit(127);
  }
  children::expectsuccess(child, childlimit);
}

// ---------------------------------------------------------------------------
// Small stacks of the calling thread
// ---------------------------------------------------------------------------

// The stacks of the callers below: from the least that the thread library
// allows (PTHREAD_STACK_MIN, 16 KiB here) up to 256 KiB, the least that the
// runtime gives its own threads. Under AddressSanitizer, whose frames are
// larger, a solve takes up to about 29 KiB of stack, and the least stack
// below is 32 KiB there. (ThreadSanitizer enlarges every thread's stack by
// itself.)
#if defined(__SANITIZE_ADDRESS__)
const std::size_t leastcallerstack = 32 * 1024;
#else
const std::size_t leastcallerstack = PTHREAD_STACK_MIN;
#endif
const std::size_t callerstacks[] = {leastcallerstack, 64 * 1024, 128 * 1024, 256 * 1024};

// Every system solved with one and two participants on callers with small
// stacks, the same bits as on the large stack of the main thread.
TEST(SmallStack, SweepOnSmallCallerStacks) {
  inchild([] {
    eachsystem([](const auto& p) {
      SCOPED_TRACE(describe(p));
      const auto expected = reference(p);
      for (const std::size_t bytes : callerstacks) {
        for (const std::int32_t tasks : {1, 2}) {
          SCOPED_TRACE(::testing::Message() << tasks << " tasks, " << bytes / 1024 << " KiB");
          decltype(sweepsolve(p, tasks)) r;
          auto body = [&] { r = sweepsolve(p, tasks); };
          onstack(bytes, body);
          EXPECT_EQ(r.participants, tasks);
          EXPECT_TRUE(r.out == expected);
        }
      }
    });
  });
}

// ---------------------------------------------------------------------------
// A small stack limit for the whole process
// ---------------------------------------------------------------------------

// With a stack limit of 256 KiB, the main thread's stack and the default
// stack of new threads are 256 KiB: solves with one and with two
// participants, the second on a thread of the runtime, solve the system on
// the main thread, with the same bits.
TEST(SmallStackLimit, SweepOnTheMainThread) {
  constexpr rlim_t limit = 256 * 1024;
  if (!rerun()) {
    rerunwithstacklimit(limit);
    return;
  }
  rlimit started{};
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &started), 0);
  ASSERT_EQ(started.rlim_cur, limit);

  const problem<double> narrow(25000, 2, 1, 11);
  const problem<float> wide(2000, 40, 1, 12);
  const auto check = [](const auto& p) {
    SCOPED_TRACE(describe(p));
    const auto one = sweepsolve(p, 1), two = sweepsolve(p, 2);
    EXPECT_EQ(one.out.status, 0);
    EXPECT_LT(oracle::residualratio(p.system, p.rhs, one.out.b, p.nrhs), 30.0);
    EXPECT_EQ(two.participants, 2);
    EXPECT_TRUE(two.out == one.out);
  };
  check(narrow);
  check(wide);
}

// ---------------------------------------------------------------------------
// The stack of the runtime's threads
// ---------------------------------------------------------------------------

// The stack size of the calling thread.
void ownstack(std::int64_t& bytes) {
  pthread_attr_t attributes;
  std::size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
  }
  bytes = static_cast<std::int64_t>(size);
}

// The process's default thread stack set to `bytes` for its lifetime.
class defaultstack {
 public:
  explicit defaultstack(std::size_t bytes) {
    pthread_getattr_default_np(&saved_);
    pthread_attr_t changed;
    pthread_attr_init(&changed);
    pthread_attr_setstacksize(&changed, bytes);
    pthread_setattr_default_np(&changed);
    pthread_attr_destroy(&changed);
  }
  ~defaultstack() {
    pthread_setattr_default_np(&saved_);
    pthread_attr_destroy(&saved_);
  }
  defaultstack(const defaultstack&) = delete;
  defaultstack& operator=(const defaultstack&) = delete;

 private:
  pthread_attr_t saved_;
};

// The stack a task's thread gets with the process's default thread stack
// set to `bytes`.
std::int64_t taskstack(std::size_t bytes) {
  const defaultstack guard(bytes);
  std::int64_t stack = -1;
  std::int32_t task = 0;
  dispatch(task, ownstack, stack);
  EXPECT_NE(task, 0);
  if (task != 0) waitforandterminatetask(task);
  return stack;
}

// A smaller default is raised to 256 KiB, a larger one kept.
TEST(SmallStack, TaskThreadsGetAtLeastTheFloor) {
  EXPECT_GE(taskstack(64 * 1024), 256 * 1024);
  EXPECT_GE(taskstack(16 * 1024 * 1024), 16 * 1024 * 1024);
}

// ---------------------------------------------------------------------------
// The heap scratch
// ---------------------------------------------------------------------------

// With every scratch allocation refused, the solves on a fresh thread (whose
// scratch is not yet allocated) take the paths without scratch, and their
// results are the same bits.
TEST(SmallStack, SweepWithoutScratch) {
  inchild([] {
    eachsystem([](const auto& p) {
      SCOPED_TRACE(describe(p));
      const auto expected = reference(p);
      for (const std::int32_t tasks : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << tasks << " tasks");
        const int before = refused;
        refusing = true;
        std::jthread([&] {
          const auto r = sweepsolve(p, tasks);
          EXPECT_EQ(r.participants, tasks);
          EXPECT_TRUE(r.out == expected);
        }).join();
        refusing = false;
        EXPECT_GT(refused - before, 0) << "no scratch was asked for";
      }
    });
  });
}

// A thread's repeated solves allocate scratch for the first only.
TEST(SmallStack, RepeatedSolvesAllocateOnce) {
  inchild([] {
    const problem<float> p(25000, 8, 1, 13);
    std::jthread([&] {
      const int before = granted;
      sweepsolve(p, 1);
      const int first = granted;
      EXPECT_GT(first - before, 0);
      sweepsolve(p, 1);
      sweepsolve(p, 1);
      EXPECT_EQ(granted, first);
    }).join();
  });
}

}  // namespace
