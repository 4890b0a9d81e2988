// csp_set_tasks, csp_get_tasks, csp_version, and the task count of a call.

#include "capi/tasks.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "capi/include/csp/csp.h"
#include "runtime/runtime.hpp"

namespace {

std::string contents(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return file ? text.str() : std::string();
}

// Processors granted by quota/period; 0 when there is no quota.
std::int32_t quotacpus(double quota, double period) {
  if (!(quota > 0) || !(period > 0)) return 0;
  return static_cast<std::int32_t>(std::min(std::ceil(quota / period), 1e6));
}

// The quota set in one control group folder (0: none). cgroup v2 writes
// "max 100000" or "200000 100000" in cpu.max; v1 keeps the two numbers in
// files of their own, with a quota of -1 for none.
std::int32_t folderquota(const std::string& folder, bool v2) {
  double quota = 0, period = 0;
  if (v2) {
    std::istringstream line(contents(folder + "/cpu.max"));
    std::string first;
    if (!(line >> first >> period) || first == "max") return 0;
    quota = std::atof(first.c_str());
  } else {
    quota = std::atof(contents(folder + "/cpu.cfs_quota_us").c_str());
    period = std::atof(contents(folder + "/cpu.cfs_period_us").c_str());
  }
  return quotacpus(quota, period);
}

// The smallest quota of `folder` and of the folders above it up to `top`.
// A folder that does not exist (a container's own group, mounted as the
// root, named by its path on the host) just has no quota of its own.
std::int32_t smallestquota(const std::string& top, std::string path, bool v2) {
  std::int32_t smallest = 0;
  while (true) {
    const std::int32_t here = folderquota(top + path, v2);
    if (here > 0) smallest = smallest == 0 ? here : std::min(smallest, here);
    if (path.empty() || path == "/") return smallest;
    const std::size_t slash = path.find_last_of('/');
    path.erase(slash == std::string::npos ? 0 : slash);
  }
}

// Whether the comma-separated controller list of a v1 line names "cpu".
bool namescpu(const std::string& controllers) {
  std::istringstream list(controllers);
  for (std::string name; std::getline(list, name, ',');) {
    if (name == "cpu") return true;
  }
  return false;
}

std::int32_t affinitycpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;  // more CPUs than the set holds
  return CPU_COUNT(&set);
}

// The quota is read once per process: it takes file reads, and a process
// seldom changes groups.
std::int32_t processquota() {
  static std::atomic<std::int32_t> cached{-1};
  std::int32_t quota = cached.load(std::memory_order_relaxed);
  if (quota < 0) {
    quota = capi::cgroupcpus("/sys/fs/cgroup", contents("/proc/self/cgroup"));
    cached.store(quota, std::memory_order_relaxed);
  }
  return quota;
}

}  // namespace

std::int32_t capi::cgroupcpus(const std::string& root, const std::string& membership) {
  // Lines "ID:CONTROLLERS:PATH"; v2's single line is "0::PATH".
  std::istringstream lines(membership);
  std::int32_t smallest = 0;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t first = line.find(':'), second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    std::int32_t quota = 0;
    if (controllers.empty()) {
      quota = smallestquota(root, path, true);
    } else if (namescpu(controllers)) {
      quota = smallestquota(root + "/cpu", path, false);
    }
    if (quota > 0) smallest = smallest == 0 ? quota : std::min(smallest, quota);
  }
  return smallest;
}

std::int32_t capi::usablecpus() {
  std::int32_t usable = affinitycpus();
  if (usable <= 0) getcpus(usable);
  if (const std::int32_t quota = processquota(); quota > 0) usable = std::min(usable, quota);
  return std::max(usable, std::int32_t{1});
}

std::int32_t capi::calltasks(std::int32_t requested) {
  std::int32_t tasks = requested;
  if (tasks <= 0) gettasks(tasks);
  tasks = std::clamp(tasks, std::int32_t{1}, mosttasks);
  return tasks == 1 ? 1 : std::min(tasks, usablecpus());
}

extern "C" {

void csp_set_tasks(int32_t tasks) {
  if (tasks <= 0) {
    resettasks();
  } else {
    settasks(tasks);
  }
}

int32_t csp_get_tasks(void) { return capi::calltasks(0); }

const char* csp_version(void) { return CSP_VERSION; }

}  // extern "C"
