// The task worker: the thread entry of every task and the call adapters
// through which it calls the task's routine.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#include "runtime/runtime.hpp"

namespace {

// The type every argument takes in the erased call below.
template <std::size_t>
using address = void*;

// Calls the routine at address routine with the sizeof...(I) argument
// addresses addresses[I].
//
// This is the one place where the routine's type is erased: it is called
// through a function type taking sizeof...(I) void* parameters instead of its
// own. That is sound on this platform (x86-64, System V calling convention)
// because dispatch admits only routines returning void whose parameters are
// all references or pointers, and every such parameter is passed as a 64-bit
// address of class INTEGER: the first six in rdi, rsi, rdx, rcx, r8, r9, the
// rest in consecutive 8-byte stack slots, exactly where a void* parameter in
// the same position goes. The routine thus receives each address in the
// place it reads its reference or pointer from, and binds to the very object
// the dispatcher passed.
template <std::size_t... I>
#if defined(__clang__)
__attribute__((no_sanitize("function")))  // the mismatch is deliberate, see above
#endif
void callroutine(std::int64_t routine, const std::int64_t* addresses, std::index_sequence<I...>) {
  using erased = void (*)(address<I>...);
  const auto call = reinterpret_cast<erased>(static_cast<std::intptr_t>(routine));
  call(reinterpret_cast<void*>(static_cast<std::intptr_t>(addresses[I]))...);
}

}  // namespace

#define CSP_PWORKER_DEFINITION(K)                                                 \
  void pworker##K(std::int64_t routine, const std::int64_t* addresses) {          \
    callroutine(routine, addresses, std::make_index_sequence<K>{});               \
  }
CSP_FOR_EACH_ARGUMENT_COUNT(CSP_PWORKER_DEFINITION)
#undef CSP_PWORKER_DEFINITION

namespace {

using adapter = void (*)(std::int64_t routine, const std::int64_t* addresses);

// adapters[K] is pworkerK.
#define CSP_PWORKER_ENTRY(K) pworker##K,
constexpr adapter adapters[] = {CSP_FOR_EACH_ARGUMENT_COUNT(CSP_PWORKER_ENTRY)};
#undef CSP_PWORKER_ENTRY
static_assert(std::size(adapters) == def_dispatch::maxarguments + 1);

}  // namespace

// parallelworker(p)
//   p (in) address of word 3 of the task's slot: word 3 holds the routine's
//          address, word 4 the argument count N, words 5..N+4 the argument
//          addresses, read in place
// Calls the routine through pworkerN; a count outside 0..52, which dispatch
// never records, calls nothing. Takes no lock and writes nothing: the slot
// stays in use until the dispatcher waits for the task and frees it.
void* parallelworker(void* p) {
  const auto* word = static_cast<const std::int64_t*>(p);
  const std::int64_t count = word[1];
  if (count >= 0 && count <= def_dispatch::maxarguments) adapters[count](word[0], word + 2);
  return nullptr;
}
