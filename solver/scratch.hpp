// Heap scratch kept per thread, for the working arrays of a kernel that are
// too large for a thread's stack. A caller's thread may have as little
// stack as the thread library allows, and arrays of hundreds of KiB there
// would run past its end: into a crash, or silently into whatever lies
// below it.
#pragma once

#include <cstddef>

// The scratch's alignment: a cache line, which also holds the widest
// vector register.
inline constexpr std::size_t scratchalignment = 64;

// threadscratch(bytes): at least `bytes` bytes of the calling thread's
// scratch, 64-byte aligned; nullptr when they cannot be allocated, and the
// caller then takes a path that needs none. The scratch only grows: a
// request no larger than an earlier one returns the same memory and
// allocates nothing, so that a thread's repeated solves allocate once. A
// request that grows it moves it, and what an earlier caller kept there is
// lost: it has one user at a time. It is freed when the thread ends.
void* threadscratch(std::size_t bytes);
