// Processor count and task count.
//
// settasks, gettasks and resettasks share the two saved counts below.
// physicalprocessors is asked of the platform at the first need only (and
// again while the platform answered 0); tasks is 0 until first set.
//
// Solves on several threads read the counts while another thread may set
// the task count, so both are atomic. Two threads that find the processor
// count missing at once both ask the platform and store the same answer; a
// gettasks that falls back to the processor count stores it only while the
// count is still unset, so it never overwrites a settasks made meanwhile.

#include <unistd.h>

#include <atomic>

#include "runtime/runtime.hpp"

namespace {
std::atomic<std::int32_t> physicalprocessors{0};
std::atomic<std::int32_t> tasks{0};

// The cap settasks applies: a solve keeps at most 32 task identifiers.
constexpr std::int32_t taskcap = 32;

// The processor count, asked of the platform while it is still 0.
std::int32_t ensureprocessors() {
  std::int32_t processors = physicalprocessors.load();
  if (processors == 0) {
    getcpus(processors);
    physicalprocessors.store(processors);
  }
  return processors;
}
}  // namespace

void getcpus(std::int32_t& n) {
  const std::int32_t selector = _SC_NPROCESSORS_CONF;
  n = binding::sysconf(selector);
}

void settasks(const std::int32_t& n) {
  const std::int32_t processors = ensureprocessors();
  const std::int32_t cap = processors <= taskcap ? processors : taskcap;
  tasks.store(n <= cap ? n : cap);
}

void gettasks(std::int32_t& n) {
  std::int32_t current = tasks.load();
  if (current == 0) {
    const std::int32_t processors = ensureprocessors();
    // On failure current receives the count another thread set meanwhile.
    if (tasks.compare_exchange_strong(current, processors)) current = processors;
  }
  n = current;
}

void resettasks() { tasks.store(ensureprocessors()); }
