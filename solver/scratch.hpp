// Heap scratch kept per thread, for the working arrays of a kernel that are
// too large for a thread's stack. A caller's thread may have as little
// stack as the thread library allows, and arrays of hundreds of KiB there
// would run past its end: into a crash, or silently into whatever lies
// below it.
#pragma once

#include <cstddef>
#include <cstdint>

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

// largememory(bytes): `bytes` bytes (at least one), 64-byte aligned, freed
// with std::free; nullptr when they cannot be had. Several megabytes are
// asked for in huge pages, where the system gives them on request: in 4 KiB
// pages, the first touches of a factorization of 270 MB (N = 2,000,000,
// M = 8, double) took longer than factoring.
void* largememory(std::size_t bytes);

// `count` elements of T in largememory; nullptr also when the count is
// negative or its bytes would not fit in 62 bits.
template <class T>
T* allocate(std::int64_t count) {
  const std::int64_t most = (std::int64_t{1} << 62) / std::int64_t{sizeof(T)};
  if (count < 0 || count > most) return nullptr;
  return static_cast<T*>(largememory(static_cast<std::size_t>(count) * sizeof(T)));
}
