// Task runtime: processor and task counts, the task table with dispatch of a
// routine of 0 to 52 arguments onto a thread of its own, joining and freeing
// of tasks, parallel events (counting barriers) and parallel locks.
//
// Identifiers of tasks, events and locks are 1..64; 0 means "none was
// created". Every scalar argument is passed by reference, every array as a
// pointer to its first element.
//
// Programs with threads of their own may rely on this:
// - The task count is one for the whole process: a settasks on any thread
//   sets it for the solves of every thread. settasks, gettasks and resettasks
//   may be called on any thread at any time, also while solves run; a solve
//   reads the count once, when it starts.
// - Solves, dispatches, and the creation and deletion of events and locks
//   may run on several threads at once. Each thread waits for and frees only
//   the tasks it dispatched, and uses only the events and locks it created
//   (or was handed by their creator).
// - The 64 task slots, 64 events and 64 locks are shared by all threads. A
//   creation that finds its table full returns 0 at once; a solve that gets
//   fewer tasks, or no lock or events, runs with the participants it got, or
//   alone, and never waits for an entry to become free.
// - Within a process, the solvers' results are the same bits whichever
//   thread and whichever task count computed them (the block sizes of the
//   factor-and-solve sweep are fixed once, by its first call on any thread).
// - waitforalltasks, terminatealltasks, waitforandterminatealltasks and
//   mtaskdone act on the whole process: call them only while no other thread
//   uses the runtime.
// - fork may be called at any moment by a thread that is not itself inside a
//   solve or a call of the runtime, also while other threads solve: the
//   child can solve, with threads of its own, at once. Fork handlers hold
//   the runtime's table mutexes and the grain-size mutex across the fork, so
//   the child finds them free. The child inherits the task count, the grain
//   sizes and a task table with every slot free: no task of the parent runs
//   in the child, and identifiers of tasks that the forking thread
//   dispatched name no task there. Events and parallel locks that existed at
//   the fork stay in use in the child; those that solves on other threads
//   held are lost to it (three per solve, of 64 each), and a child that
//   finds a table full solves alone, as above.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

// ---------------------------------------------------------------------------
// Task and processor counts
// ---------------------------------------------------------------------------

namespace binding {
// sysconf(selector): the platform's sysconf, its result cut to 32 bits.
// Defined in a source of its own, so that a test program may define it
// instead and make getcpus report a processor count of its choosing.
std::int32_t sysconf(const std::int32_t& selector);
}  // namespace binding

// getcpus(n): n (out) <- number of processors configured on the machine.
void getcpus(std::int32_t& n);
// settasks(n): task count <- min(n, processors, 32); n (in) is only read.
// A request of 0 leaves the count unset.
void settasks(const std::int32_t& n);
// gettasks(n): n (out) <- current task count; the processor count when unset.
void gettasks(std::int32_t& n);
// resettasks(): task count <- processor count (no cap).
void resettasks();

// ---------------------------------------------------------------------------
// Task table and dispatch
// ---------------------------------------------------------------------------

namespace def_dispatch {
// Task table: word w of slot s is argu[s-1][w-1]. Word 1 is the slot number
// while in use and -1 when free; word 2 the thread handle (negated once the
// task has been waited for, 0 when free); word 3 the routine's address;
// word 4 the argument count; words 5..56 the argument addresses.
inline constexpr std::int32_t slots = 64;
inline constexpr std::int32_t words = 56;
inline constexpr std::int32_t maxarguments = 52;
extern std::int64_t argu[slots][words];
// nexttask and word 1 of every slot change only under tasklock, under which
// dispatches search them.
extern std::int32_t nexttask;      // slot at which the next search begins
extern pthread_mutex_t tasklock;   // serialises dispatches and the freeing of slots
extern std::int32_t tasklockflag;  // 1 while tasklock exists
}  // namespace def_dispatch

// pointer(x): the address of x as a 64-bit integer.
template <class T>
std::int64_t pointer(T& x) {
  return static_cast<std::int64_t>(
      reinterpret_cast<std::intptr_t>(static_cast<const volatile void*>(std::addressof(x))));
}

namespace dispatch_detail {

// Takes a free slot, records the routine and the argument words in it and
// starts the task's thread. task (out) is the slot number, or 0 when the
// table is full or the thread could not be created.
void dispatchslot(std::int32_t& task, std::int64_t routine, std::int32_t count,
                  const std::int64_t* arguments);

// A parameter of a dispatched routine is either a reference, which receives
// the caller's object itself, or a pointer to the first element of an array.
template <class P, class A>
constexpr bool matches() {
  if constexpr (std::is_pointer_v<P>) {
    return std::is_convertible_v<A, P>;
  } else if constexpr (std::is_lvalue_reference_v<P>) {
    using Object = std::remove_reference_t<P>;
    // The argument must be an lvalue of exactly the parameter's type, so the
    // routine binds to the caller's object and never to a temporary.
    return std::is_lvalue_reference_v<A> &&
           std::is_same_v<std::remove_cvref_t<A>, std::remove_cv_t<Object>> &&
           (std::is_const_v<Object> || !std::is_const_v<std::remove_reference_t<A>>);
  } else {
    return false;
  }
}

// The word recorded for one argument: the pointer's value for an array, the
// object's address for a reference.
template <class P, class A>
std::int64_t argumentword(A&& argument) {
  if constexpr (std::is_pointer_v<P>) {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(
        static_cast<const volatile void*>(static_cast<P>(argument))));
  } else {
    return pointer(argument);
  }
}

}  // namespace dispatch_detail

// dispatch(task, routine, a1, ..., aN): starts routine(a1, ..., aN) on a new
// thread and returns at once. task (out): the task identifier, 0 when no
// task was started. The arguments are passed exactly as to the routine
// itself; the routine receives the caller's objects, which must stay alive
// until the task has been waited for.
template <class... P, class... A>
void dispatch(std::int32_t& task, void (*routine)(P...), A&&... arguments) {
  static_assert(sizeof...(P) <= def_dispatch::maxarguments,
                "a dispatched routine takes at most 52 arguments");
  static_assert(sizeof...(P) == sizeof...(A),
                "dispatch needs exactly one argument per parameter of the routine");
  static_assert((dispatch_detail::matches<P, A&&>() && ...),
                "each argument must be an lvalue of the parameter's type (reference "
                "parameters) or convert to the parameter's pointer type (arrays)");
  const std::int64_t words[sizeof...(P) + 1] = {
      dispatch_detail::argumentword<P>(std::forward<A>(arguments))..., 0};
  dispatch_detail::dispatchslot(task, reinterpret_cast<std::int64_t>(routine),
                                static_cast<std::int32_t>(sizeof...(P)), words);
}

// CSP_FOR_EACH_ARGUMENT_COUNT(X): X(0) X(1) ... X(52), one for each argument
// count a dispatched routine may have; generates the numbered members of the
// dispatch and adapter families.
#define CSP_FOR_EACH_ARGUMENT_COUNT(X) \
  X(0) X(1) X(2) X(3) X(4) X(5) X(6) X(7) X(8) X(9) X(10) X(11) X(12) X(13) \
  X(14) X(15) X(16) X(17) X(18) X(19) X(20) X(21) X(22) X(23) X(24) X(25) \
  X(26) X(27) X(28) X(29) X(30) X(31) X(32) X(33) X(34) X(35) X(36) X(37) \
  X(38) X(39) X(40) X(41) X(42) X(43) X(44) X(45) X(46) X(47) X(48) X(49) \
  X(50) X(51) X(52)

// dispatch_0 ... dispatch_52: dispatch for a routine of exactly N arguments.
#define CSP_DISPATCH_MEMBER(N)                                                      \
  template <class... P, class... A>                                                 \
  void dispatch_##N(std::int32_t& task, void (*routine)(P...), A&&... arguments) {  \
    static_assert(sizeof...(P) == N, "dispatch_" #N " takes a routine of " #N       \
                                     " arguments");                                 \
    dispatch(task, routine, std::forward<A>(arguments)...);                         \
  }
CSP_FOR_EACH_ARGUMENT_COUNT(CSP_DISPATCH_MEMBER)
#undef CSP_DISPATCH_MEMBER

// ---------------------------------------------------------------------------
// Task worker
// ---------------------------------------------------------------------------

// parallelworker(p): thread entry of every task; p is the address of word 3
// of the task's slot. Calls the routine with the recorded argument addresses
// through the adapter for the slot's argument count; calls nothing for a
// count outside 0..52. Returns nullptr.
void* parallelworker(void* p);

// pworker0 ... pworker52: the call adapters, one for each argument count K.
// pworkerK(routine, addresses) calls the routine at address routine, which
// takes K arguments, each a reference or a pointer, with the K addresses
// addresses[0], ..., addresses[K-1] in order.
#define CSP_PWORKER_DECLARATION(K) \
  void pworker##K(std::int64_t routine, const std::int64_t* addresses);
CSP_FOR_EACH_ARGUMENT_COUNT(CSP_PWORKER_DECLARATION)
#undef CSP_PWORKER_DECLARATION

// ---------------------------------------------------------------------------
// Task joining and termination
// ---------------------------------------------------------------------------

// waitfortask(task): wait for the task's thread unless already waited for.
void waitfortask(const std::int32_t& task);
// terminatetask(task): free the slot of a task that has been waited for.
void terminatetask(const std::int32_t& task);
// waitforandterminatetask(task): wait for the task if needed, free its slot.
void waitforandterminatetask(const std::int32_t& task);
// waitforalltasks(): wait for every task not yet waited for.
void waitforalltasks();
// terminatealltasks(): free every slot whose task has been waited for.
void terminatealltasks();
// waitforandterminatealltasks(): wait for every task, free every slot in use.
void waitforandterminatealltasks();
// mtaskdone(): destroy the mutexes of the task, event and lock tables and
// clear their flags; a later dispatch or creation makes them anew.
void mtaskdone();
// orvekdone(): shutdown of the solver library; calls mtaskdone.
void orvekdone();

// ---------------------------------------------------------------------------
// Parallel events
// ---------------------------------------------------------------------------

namespace def_event {
// Event table: field f of event e is events[e-1][f-1]. Field 1 is the event's
// number while it exists and -1 while free; fields 2, 3, 4 count the
// outstanding posts, arrivals and releases.
inline constexpr std::int32_t slots = 64;
extern std::int32_t events[slots][4];
extern pthread_cond_t pevent[slots];        // pevent[e-1]: event e's condition
extern pthread_mutex_t passolock[slots + 1];  // [0]: table mutex; [e]: event e's
extern std::int32_t eventlockflag;           // 1 while passolock[0] exists
extern std::int32_t index;                   // record at which the next search begins
// index and field 1 of every record change only under passolock[0], under
// which creations search them.
}  // namespace def_event

// Every routine but createparallelevent does nothing when ev names no
// existing event.
// createparallelevent(ev): ev (out) <- a new event, or 0 when none is free.
void createparallelevent(std::int32_t& ev);
// initializeparallelevent(ev, n): arm the event for n participants.
void initializeparallelevent(const std::int32_t& ev, const std::int32_t& n);
// postparallelevent(ev): one participant's post.
void postparallelevent(const std::int32_t& ev);
// waitforparallelevent(ev): arrive and wait until all have arrived.
void waitforparallelevent(const std::int32_t& ev);
// ifcompleteparallelevent(ev, done): arrive; done (out) = 0 for the last
// arrival, which must then call completeparallelevent; 1 after a wait.
void ifcompleteparallelevent(const std::int32_t& ev, std::int32_t& done);
// completeparallelevent(ev): release the participants waiting on the event.
void completeparallelevent(const std::int32_t& ev);
// deleteparallelevent(ev): destroy the event and free its record.
void deleteparallelevent(const std::int32_t& ev);

// ---------------------------------------------------------------------------
// Parallel locks
// ---------------------------------------------------------------------------

namespace def_lock {
inline constexpr std::int32_t slots = 64;
extern pthread_mutex_t lock[slots];  // lock[k-1]: lock k
extern std::int32_t lockflag[slots];  // lockflag[k-1]: 1 while lock k exists
// lockindex and the flags change only under tablelock, under which creations
// search them.
extern std::int32_t lockindex;        // lock at which the next search begins
extern pthread_mutex_t tablelock;     // serialises creations and deletions
extern std::int32_t tablelockflag;    // 1 while tablelock exists
}  // namespace def_lock

// The routines but createparallellock do nothing when lk names no created
// lock.
// createparallellock(lk): lk (out) <- a new lock, or 0 when none is free.
void createparallellock(std::int32_t& lk);
// lockonparallellock(lk): lock lock lk, blocking until it is free.
void lockonparallellock(const std::int32_t& lk);
// unlockparallellock(lk): unlock lock lk.
void unlockparallellock(const std::int32_t& lk);
// deleteparallellock(lk): destroy lock lk and mark it free.
void deleteparallellock(const std::int32_t& lk);
