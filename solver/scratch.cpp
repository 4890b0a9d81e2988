// The per-thread heap scratch of the kernels.

#include "solver/scratch.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace {

constexpr std::align_val_t alignment{scratchalignment};

// One thread's scratch, freed with the thread.
struct scratchbuffer {
  void* data = nullptr;
  std::size_t bytes = 0;
  ~scratchbuffer() { ::operator delete(data, alignment); }
};

}  // namespace

void* threadscratch(std::size_t bytes) {
  thread_local scratchbuffer buffer;
  if (bytes > buffer.bytes) {
    void* const grown = ::operator new(bytes, alignment, std::nothrow);
    if (grown == nullptr) return nullptr;
    ::operator delete(buffer.data, alignment);
    buffer.data = grown;
    buffer.bytes = bytes;
  }
  return buffer.data;
}

void* largememory(std::size_t bytes) {
  constexpr std::size_t hugepage = std::size_t{1} << 21;
  bytes = std::max<std::size_t>(bytes, 1);
  if (bytes < 2 * hugepage) return std::aligned_alloc(scratchalignment, (bytes + 63) / 64 * 64);
  bytes = (bytes + hugepage - 1) / hugepage * hugepage;
  void* const memory = std::aligned_alloc(hugepage, bytes);
#ifdef MADV_HUGEPAGE
  if (memory != nullptr) madvise(memory, bytes, MADV_HUGEPAGE);  // a hint: no huge pages is no error
#endif
  return memory;
}
