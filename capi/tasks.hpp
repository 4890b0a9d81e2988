// The task count of the C interface: the runtime's process-wide count (or a
// call's own), narrowed to the processors the caller may really use.
#pragma once

#include <cstdint>
#include <string>

namespace capi {

// The most tasks one solve runs: the solver entries keep at most this many
// participants, whatever the processor count.
inline constexpr std::int32_t mosttasks = 32;

// The processors a solve started on the calling thread may use: those of
// its CPU affinity mask (threads it starts inherit the mask), capped by the
// process's CPU quota. At least 1.
std::int32_t usablecpus();

// The CPU quota of the process's control group, in processors rounded up;
// 0 when none is set or none can be read. `root` is where the control
// group file systems are mounted (/sys/fs/cgroup) and `membership` the text
// of /proc/self/cgroup; the quota is the smallest of the process's group
// and the groups above it: cgroup v2's cpu.max ("max PERIOD" or "QUOTA
// PERIOD"), or v1's cpu.cfs_quota_us / cpu.cfs_period_us of the cpu
// controller (quota -1: none).
std::int32_t cgroupcpus(const std::string& root, const std::string& membership);

// The task count of one call: `requested` (0: the process-wide count of
// csp_set_tasks, itself capped at the configured processors) capped at
// mosttasks and at usablecpus(), which never exceeds the configured
// processors. At least 1.
std::int32_t calltasks(std::int32_t requested);

}  // namespace capi
