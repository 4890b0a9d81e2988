// The per-thread heap scratch of the kernels.

#include "solver/scratch.hpp"

#include <new>

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
