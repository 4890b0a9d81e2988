// The pass schedule of the block-hierarchy factor-and-solve sweep: which
// pass follows which, and how the shared counters move at every barrier.
//
// The columns are cut into blocks of q columns; block i starts at column
// (i-1)*q + 1. At level l (1, 2, 4, ...) the interior blocks are the odd
// multiples of l and the separators the multiples of 2*l. The sweep runs
//   first interior (level 1), separator, interior (level 2), separator,
//   interior (level 4), ..., interior (top level),
//   backward (top level), ..., backward (level 1),
// each pass ended by a barrier at which the last participant to arrive
// advances the counters. A forward pass takes blocks from nextblock, a
// backward pass from backblock, in steps of stride, while the first column
// is <= N.
//
// The counters are 64-bit: at the top of the hierarchy nextblock and stride
// pass 2^31 for N close to 2^31 - 1.
#pragma once

#include <cstdint>

namespace sweep {

enum class pass { firstinterior, separator, interior, backward, finished };

// Counter values at the start of a sweep with block width q.
inline void startcounters(std::int32_t q, std::int64_t& level, std::int64_t& distance,
                          std::int64_t& stride, std::int64_t& firstblock,
                          std::int64_t& nextblock, std::int64_t& backblock) {
  level = 1;
  distance = q;
  stride = 2 * std::int64_t{q};
  firstblock = 1;
  nextblock = 1;
  backblock = 0;  // 0 while the forward sweep is not finished
}

// The updates the last participant makes at the barrier that ends pass
// `ended`, for order n and block width q, while every other participant is
// held in the barrier.
inline void endpass(pass ended, std::int64_t n, std::int64_t q, std::int64_t& level,
                    std::int64_t& distance, std::int64_t& stride, std::int64_t& firstblock,
                    std::int64_t& nextblock, std::int64_t& backblock) {
  switch (ended) {
    case pass::firstinterior:
      level = 2 * level;
      nextblock = (level - 1) * q + 1;
      break;
    case pass::separator:
      distance = 2 * distance;
      nextblock = (level - 1) * q + 1;
      firstblock = nextblock;
      stride = 2 * stride;
      break;
    case pass::interior:
      level = 2 * level;
      nextblock = (level - 1) * q + 1;
      if (nextblock > n) {  // block `level` does not exist: the level before is the top
        level = level / 2;
        backblock = (level - 1) * q + 1;
      }
      break;
    case pass::backward:
      level = level / 2;
      stride = stride / 2;
      distance = distance / 2;
      backblock = (level - 1) * q + 1;
      break;
    case pass::finished:
      break;
  }
}

// The pass after `ended`, chosen by every participant from the counters as
// the last participant left them.
inline pass followingpass(pass ended, std::int64_t level, std::int64_t backblock) {
  switch (ended) {
    case pass::firstinterior:
      return pass::separator;
    case pass::separator:
      return pass::interior;
    case pass::interior:
      return backblock == 0 ? pass::separator : pass::backward;
    case pass::backward:
      return level > 0 ? pass::backward : pass::finished;
    case pass::finished:
      break;
  }
  return pass::finished;
}

// Whether a pass factors diagonal blocks, and so may end the sweep early on
// a rejected pivot.
inline bool factors(pass p) { return p == pass::firstinterior || p == pass::interior; }

}  // namespace sweep
