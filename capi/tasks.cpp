// csp_set_tasks, csp_get_tasks, csp_version.

#include <algorithm>

#include "capi/include/csp/csp.h"
#include "runtime/runtime.hpp"

namespace {
// The most tasks one solve runs: the solver entries keep at most this many
// participants, whatever the processor count.
constexpr std::int32_t mosttasks = 32;
}  // namespace

extern "C" {

void csp_set_tasks(int32_t tasks) {
  if (tasks <= 0) {
    resettasks();
  } else {
    settasks(tasks);
  }
}

int32_t csp_get_tasks(void) {
  std::int32_t tasks = 1;
  gettasks(tasks);
  return std::clamp(tasks, std::int32_t{1}, mosttasks);
}

const char* csp_version(void) { return CSP_VERSION; }

}  // extern "C"
