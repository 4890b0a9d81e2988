// Processor count and task count.
//
// settasks, gettasks and resettasks share the two saved counts below.
// physicalprocessors is asked of the platform at the first need only (and
// again while the platform answered 0); tasks is 0 until first set.

#include <unistd.h>

#include "runtime/runtime.hpp"

namespace {
std::int32_t physicalprocessors = 0;
std::int32_t tasks = 0;

// The cap settasks applies: a solve keeps at most 32 task identifiers.
constexpr std::int32_t taskcap = 32;

void ensureprocessors() {
  if (physicalprocessors == 0) getcpus(physicalprocessors);
}
}  // namespace

std::int32_t binding::sysconf(const std::int32_t& selector) {
  return static_cast<std::int32_t>(::sysconf(selector));
}

void getcpus(std::int32_t& n) {
  const std::int32_t selector = _SC_NPROCESSORS_CONF;
  n = binding::sysconf(selector);
}

void settasks(const std::int32_t& n) {
  ensureprocessors();
  const std::int32_t cap = physicalprocessors <= taskcap ? physicalprocessors : taskcap;
  tasks = n <= cap ? n : cap;
}

void gettasks(std::int32_t& n) {
  if (tasks == 0) {
    ensureprocessors();
    tasks = physicalprocessors;
  }
  n = tasks;
}

void resettasks() {
  ensureprocessors();
  tasks = physicalprocessors;
}
