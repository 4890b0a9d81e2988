// The pass schedule of the factor-and-solve sweep, walked barrier by barrier
// as the last participant and every task step through it, against the block
// hierarchy written in block numbers: with nb = ceil(N/q) blocks and K the
// largest integer with 2^K <= nb, the top level is T = 2^max(K,1); the
// passes are the first interior pass, a separator and an interior pass for
// each level 2, 4, ..., T, and a backward pass for each level T, ..., 1;
// the interior (and backward) pass of level l takes the odd multiples of l,
// the separator pass after it the multiples of 2l. Nothing here allocates,
// so orders up to 2^31 - 1 are walked in full without touching 30 million
// blocks.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <ostream>

#include "solver/schedule.hpp"

namespace {

using sweep::pass;

// The blocks a pass takes, from the counter and the stride as they stand
// when it starts: first columns counter, counter + stride, ... while <= N.
struct taken {
  std::int64_t count, first, last;  // number of blocks, first columns of the first and last
};
taken blocksfrom(std::int64_t counter, std::int64_t stride, std::int64_t n) {
  if (counter > n) return {0, 0, 0};
  const std::int64_t count = (n - counter) / stride + 1;
  return {count, counter, counter + (count - 1) * stride};
}

// The blocks of index step*k + offset, k = 0, 1, ..., among blocks 1..nb,
// as first columns.
taken blocksnumbered(std::int64_t offset, std::int64_t step, std::int64_t nb, std::int64_t q) {
  if (offset > nb) return {0, 0, 0};
  const std::int64_t count = (nb - offset) / step + 1;
  return {count, (offset - 1) * q + 1, (offset + (count - 1) * step - 1) * q + 1};
}

// Names a pass in failure messages (only formatted when a check fails).
struct where {
  std::int64_t n, q, j;
};
std::ostream& operator<<(std::ostream& out, const where& w) {
  return out << "N=" << w.n << " q=" << w.q << " pass " << w.j;
}

struct walk {
  std::int64_t barriers = 0;
  std::int64_t level, distance, stride, firstblock, nextblock, backblock;
};

// Steps through the schedule for order n and width q, checking every pass
// against the hierarchy; returns the barrier count and the final counters.
walk walkschedule(std::int64_t n, std::int32_t q) {
  const std::int64_t nb = n > 0 ? (n + q - 1) / q : 0;
  const int k = nb > 0 ? std::bit_width(static_cast<std::uint64_t>(nb)) - 1 : 0;
  const int top = std::max(k, 1);  // log2 of the top level

  walk w;
  sweep::startcounters(q, w.level, w.distance, w.stride, w.firstblock, w.nextblock,
                       w.backblock);
  pass current = pass::firstinterior;
  while (current != pass::finished) {
    const std::int64_t j = w.barriers;  // index of this pass in the sweep
    const where at{n, q, j};
    // The pass expected at index j, with its level l.
    pass expected;
    std::int64_t l;
    if (j == 0) {
      expected = pass::firstinterior, l = 1;
    } else if (j <= 2 * top) {
      expected = j % 2 == 1 ? pass::separator : pass::interior;
      l = std::int64_t{1} << ((j - 1) / 2 + (j % 2 == 0 ? 1 : 0));
    } else {
      expected = pass::backward, l = std::int64_t{1} << (3 * top + 1 - j);
    }
    EXPECT_EQ(current, expected) << at;
    if (current != expected) return w;

    const std::int64_t counter = current == pass::backward ? w.backblock : w.nextblock;
    const taken got = blocksfrom(counter, w.stride, n);
    const taken want = current == pass::separator ? blocksnumbered(2 * l, 2 * l, nb, q)
                                                  : blocksnumbered(l, 2 * l, nb, q);
    EXPECT_EQ(got.count, want.count) << at;
    EXPECT_EQ(got.first, want.first) << at;
    EXPECT_EQ(got.last, want.last) << at;
    // The neighbours of a block of level l are l blocks away.
    EXPECT_EQ(w.distance, l * q) << at;
    if (current == pass::interior || current == pass::separator) {
      EXPECT_EQ(w.firstblock, (l - 1) * q + 1) << at;  // block l, the level's first interior block
    }
    if (current == pass::interior && l == std::int64_t{1} << top) {
      EXPECT_LE(got.count, 1) << at;  // the top level has at most one interior block
    }

    sweep::endpass(current, n, q, w.level, w.distance, w.stride, w.firstblock, w.nextblock,
                   w.backblock);
    current = sweep::followingpass(current, w.level, w.backblock);
    ++w.barriers;
    if (w.barriers > 3 * 62 + 2) {
      ADD_FAILURE() << "the sweep does not end";
      return w;
    }
  }
  EXPECT_EQ(w.barriers, 2 + 3 * top) << "N=" << n << " q=" << q;
  return w;
}

// The counters after the backward pass of level 1.
void expectfinal(const walk& w, std::int32_t q) {
  EXPECT_EQ(w.level, 0) << "q=" << q;
  EXPECT_EQ(w.stride, q) << "q=" << q;
  EXPECT_EQ(w.distance, q / 2) << "q=" << q;
  EXPECT_EQ(w.backblock, 1 - q) << "q=" << q;
}

TEST(Schedule, LargestOrder) {
  constexpr std::int64_t n = 2147483647;  // 2^31 - 1
  // q = 72: 29,826,162 blocks (the last of 55 columns), 2^24 <= nb < 2^25.
  const walk wide = walkschedule(n, 72);
  EXPECT_EQ(wide.barriers, 2 + 3 * 24);
  expectfinal(wide, 72);
  // q = 9: 238,609,295 blocks (the last of 1 column), 2^27 <= nb < 2^28.
  const walk narrow = walkschedule(n, 9);
  EXPECT_EQ(narrow.barriers, 2 + 3 * 27);
  expectfinal(narrow, 9);
  // One block, as wide as the matrix.
  const walk one = walkschedule(n, 2147483647);
  EXPECT_EQ(one.barriers, 5);
  expectfinal(one, 2147483647);
}

TEST(Schedule, BenchmarkProblem) {
  // N = 2,000,000, q = 72: 27,778 blocks, K = 14.
  const walk w = walkschedule(2000000, 72);
  EXPECT_EQ(w.barriers, 44);
  expectfinal(w, 72);
}

TEST(Schedule, SmallOrders) {
  // No equations, one block, and every layout of up to 300 columns.
  for (const std::int32_t q : {1, 2, 3, 7, 64}) {
    for (std::int64_t n = 0; n <= 300; ++n) {
      const walk w = walkschedule(n, q);
      if (n <= q) {
        EXPECT_EQ(w.barriers, 5) << "N=" << n << " q=" << q;
      }
      expectfinal(w, q);
    }
  }
}

}  // namespace
