// The factor-and-solve kernel against a transcription of its passes, bit for
// bit: the matrix, the right-hand sides and both work arrays. The kernel
// chooses its inner loops by the half bandwidth (groups of blocks side by
// side in lanes, sets of 4, 8 or 16 lanes within a block, plain loops
// beyond 1024), so the band widths below take every one of them;
// the strongly dominant systems let the couplings decay through the
// subnormal range, where the single precision kinds take other paths than
// with normal numbers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/band.hpp"
#include "solver/csp.hpp"
#include "solver/schedule.hpp"
#include "solver/team.hpp"
#include "tests/oracle.hpp"

namespace {

auto sweepkernel(float*) { return kernel::p_mesolution_csp_4; }
auto sweepkernel(double*) { return kernel::p_mesolution_csp_8; }
auto sweepkernel(std::complex<float>*) { return kernel::p_mesolution_csp_z4; }
auto sweepkernel(std::complex<double>*) { return kernel::p_mesolution_csp_z8; }

// The arrays of one solve, reached by the algorithm's 1-based indices.
template <class T>
struct arrays {
  band_matrix<T> a;
  column_major<T> b, coupling, saved;
  std::int64_t n, m, q, nrhs;
};

// The column kernel's steps on the block f..l, element by element.
template <class T>
void factor(const arrays<T>& s, std::int64_t f, std::int64_t l) {
  for (std::int64_t i = f; i <= l; ++i) {
    for (std::int64_t p = std::max(f, i - s.m); p <= i - 1; ++p) {
      for (std::int64_t r = i; r <= std::min(p + s.m, l); ++r) {
        s.a(r, i) = mulsub(s.a(r, i), s.a(r, p), s.a(i, p));
      }
    }
    s.a(i, i) = principalsqrt(s.a(i, i));
    for (std::int64_t r = i + 1; r <= std::min(i + s.m, l); ++r) {
      s.a(r, i) = div(s.a(r, i), s.a(i, i));
    }
  }
}

// Forward solve of coupling columns 1..count, rows f..l.
template <class T>
void leftsolve(const arrays<T>& s, std::int64_t f, std::int64_t l, std::int64_t count) {
  for (std::int64_t k = 1; k <= count; ++k) {
    for (std::int64_t p = f; p <= l; ++p) {
      s.coupling(p, k) = div(s.coupling(p, k), s.a(p, p));
      for (std::int64_t r = p + 1; r <= std::min(p + s.m, l); ++r) {
        s.coupling(r, k) = mulsub(s.coupling(r, k), s.coupling(p, k), s.a(r, p));
      }
    }
  }
}

template <class T>
void forward(const arrays<T>& s, std::int64_t f, std::int64_t l) {
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    for (std::int64_t p = f; p <= l; ++p) {
      s.b(p, h) = div(s.b(p, h), s.a(p, p));
      for (std::int64_t r = p + 1; r <= std::min(p + s.m, l); ++r) {
        s.b(r, h) = mulsub(s.b(r, h), s.a(r, p), s.b(p, h));
      }
    }
  }
}

template <class T>
void firstinterior(const arrays<T>& s, std::int64_t f, std::int64_t l) {
  factor(s, f, l);
  const std::int64_t j0 = std::max<std::int64_t>(f - s.m, 1);
  for (std::int64_t k = 1; k <= f - j0; ++k) {
    const std::int64_t j = j0 + k - 1;
    for (std::int64_t r = f; r <= l; ++r) s.coupling(r, k) = r <= j + s.m ? s.a(r, j) : T(0);
  }
  leftsolve(s, f, l, f - j0);
  if (l < s.n) {
    const std::int64_t j1 = std::max(l - s.m + 1, f), last = std::min(l + s.m, s.n);
    for (std::int64_t k = 1; k <= l - j1 + 1; ++k) {
      const std::int64_t j = j1 + k - 1;
      for (std::int64_t r = l + 1; r <= last; ++r) {
        s.coupling(r, k) = r <= j + s.m ? s.a(r, j) : T(0);
      }
    }
    for (std::int64_t k = 1; k <= l - j1 + 1; ++k) {
      const std::int64_t j = j1 + k - 1;
      for (std::int64_t r = l + 1; r <= std::min(j + s.m, s.n); ++r) {
        s.coupling(r, k) = div(s.coupling(r, k), s.a(j, j));
      }
      for (std::int64_t p = j + 1; p <= std::min(j + s.m, l); ++p) {
        for (std::int64_t r = l + 1; r <= std::min(j + s.m, s.n); ++r) {
          s.coupling(r, k + p - j) = mulsub(s.coupling(r, k + p - j), s.a(p, j), s.coupling(r, k));
        }
      }
    }
  }
  forward(s, f, l);
}

template <class T>
void separator(const arrays<T>& s, std::int64_t f, std::int64_t l, std::int64_t d,
               std::int64_t firstblock) {
  const std::int64_t right = f + d, t = f - d, g = std::min(f + s.m - 1, s.n);
  const std::int64_t before = t + s.q - s.m - 1;
  if (right <= s.n) {
    const std::int64_t e = std::min(right + s.q - 1, s.n);
    for (std::int64_t c = 1; c <= s.m; ++c) {
      for (std::int64_t cc = c; cc <= s.m; ++cc) {
        T sigma(0);
        for (std::int64_t r = right; r <= e; ++r) {
          sigma = sigma + mul(s.coupling(r, cc), s.coupling(r, c));
        }
        s.a(l - s.m + cc, l - s.m + c) = s.a(l - s.m + cc, l - s.m + c) - sigma;
      }
    }
    for (std::int64_t h = 1; h <= s.nrhs; ++h) {
      for (std::int64_t c = 1; c <= s.m; ++c) {
        for (std::int64_t r = right; r <= e; ++r) {
          s.b(l - s.m + c, h) = mulsub(s.b(l - s.m + c, h), s.coupling(r, c), s.b(r, h));
        }
      }
    }
  }
  if (t >= firstblock) {
    for (std::int64_t c = 1; c <= s.m; ++c) {
      for (std::int64_t j = f; j <= g; ++j) {
        for (std::int64_t r = j; r <= g; ++r) {
          s.a(r, j) = mulsub(s.a(r, j), s.coupling(r, c), s.coupling(j, c));
        }
      }
    }
    for (std::int64_t h = 1; h <= s.nrhs; ++h) {
      for (std::int64_t c = 1; c <= s.m; ++c) {
        for (std::int64_t r = f; r <= g; ++r) {
          s.b(r, h) = mulsub(s.b(r, h), s.coupling(r, c), s.b(before + c, h));
        }
      }
    }
    for (std::int64_t c = 1; c <= s.m; ++c) {
      for (std::int64_t r = f; r <= g; ++r) s.saved(c, t + s.q + r - f) = s.coupling(r, c);
    }
  }
  if (t > firstblock) {
    for (std::int64_t r = f; r <= g; ++r) {
      for (std::int64_t k = 1; k <= s.m; ++k) {
        s.a(f + k - 1, f - 1) = s.coupling(r, k);
        s.coupling(r, k) = T(0);
      }
      for (std::int64_t c = 1; c <= s.m; ++c) {
        for (std::int64_t k = 1; k <= s.m; ++k) {
          s.coupling(r, c) =
              mulsub(s.coupling(r, c), s.a(f + k - 1, f - 1), s.coupling(before + k, c));
        }
      }
    }
    for (std::int64_t c = 1; c <= s.m; ++c) {
      for (std::int64_t r = g + 1; r <= l; ++r) s.coupling(r, c) = T(0);
    }
  }
}

template <class T>
void interior(const arrays<T>& s, std::int64_t f, std::int64_t l, std::int64_t d,
              std::int64_t firstblock) {
  factor(s, f, l);
  const std::int64_t right = f + d, t = f - d;
  if (t >= firstblock && s.m > 0) leftsolve(s, f, l, s.m);
  if (right <= s.n && s.m > 0) {
    const std::int64_t e = std::min(right + s.m - 1, s.n);
    for (std::int64_t c = 1; c <= s.m; ++c) {
      const std::int64_t j = l - s.m + c;
      for (std::int64_t r = right; r <= e; ++r) s.coupling(r, c) = div(s.coupling(r, c), s.a(j, j));
      for (std::int64_t p = j + 1; p <= l; ++p) {
        for (std::int64_t r = right; r <= e; ++r) {
          s.coupling(r, c + p - j) = mulsub(s.coupling(r, c + p - j), s.a(p, j), s.coupling(r, c));
        }
      }
    }
  }
  forward(s, f, l);
}

template <class T>
void backward(const arrays<T>& s, std::int64_t f, std::int64_t l, std::int64_t d) {
  const std::int64_t right = f + d, t = f - d;
  for (std::int64_t h = 1; h <= s.nrhs; ++h) {
    if (t > 0) {
      for (std::int64_t c = 1; c <= s.m; ++c) {
        for (std::int64_t r = f; r <= l; ++r) {
          s.b(r, h) = mulsub(s.b(r, h), s.coupling(r, c), s.b(t + s.q - s.m - 1 + c, h));
        }
      }
    }
    if (right <= s.n) {
      const std::int64_t w = std::min(std::min(right + s.q - 1, s.n) - right + 1, s.m);
      for (std::int64_t i = l + 1; i <= std::min(l + w, s.n); ++i) {
        for (std::int64_t k = s.m; k >= 1; --k) {
          s.b(l - s.m + k, h) =
              mulsub(s.b(l - s.m + k, h), s.saved(k, i), s.b(right + i - l - 1, h));
        }
      }
    }
    for (std::int64_t p = l; p >= f; --p) {
      T x = s.b(p, h);
      for (std::int64_t r = p + 1; r <= std::min(p + s.m, l); ++r) {
        x = mulsub(x, s.a(r, p), s.b(r, h));
      }
      s.b(p, h) = div(x, s.a(p, p));
    }
  }
}

// The whole sweep on one thread, passes and blocks in order.
template <class T>
void transcription(const arrays<T>& s) {
  std::int64_t level, distance, stride, firstblock, nextblock, backblock;
  sweep::startcounters(static_cast<std::int32_t>(s.q), level, distance, stride, firstblock,
                       nextblock, backblock);
  sweep::pass current = sweep::pass::firstinterior;
  while (current != sweep::pass::finished) {
    const bool back = current == sweep::pass::backward;
    for (std::int64_t f = back ? backblock : nextblock; f <= s.n; f += stride) {
      const std::int64_t l = std::min(f + s.q - 1, s.n);
      switch (current) {
        case sweep::pass::firstinterior:
          firstinterior(s, f, l);
          break;
        case sweep::pass::separator:
          separator(s, f, l, distance, firstblock);
          break;
        case sweep::pass::interior:
          interior(s, f, l, distance, firstblock);
          break;
        case sweep::pass::backward:
          backward(s, f, l, distance);
          break;
        case sweep::pass::finished:
          break;
      }
    }
    sweep::endpass(current, s.n, s.q, level, distance, stride, firstblock, nextblock, backblock);
    current = sweep::followingpass(current, level, backblock);
  }
}

// A system with the diagonal of makesystem times `dominance`: the larger it
// is, the faster the couplings decay along a block.
template <class T>
struct problem {
  std::int32_t n, m, q, nrhs;
  std::vector<T> a, b, work;

  problem(std::int32_t n_, std::int32_t m_, std::int32_t q_, std::int32_t nrhs_, double dominance)
      : n(n_), m(m_), q(q_), nrhs(nrhs_) {
    oracle::bandsystem<T> s = oracle::makesystem<T>(n, m, 5 + m);
    for (std::int64_t j = 1; j <= n; ++j) s.at()(j, j) *= static_cast<real_t<T>>(dominance);
    a.assign(s.band.begin(), s.band.begin() + bandlength(n, m));
    b = oracle::randomvector<T>(std::int64_t{n} * nrhs, 9);
    work.assign(static_cast<std::size_t>(2 * std::int64_t{n} * m), T(0));
  }
  arrays<T> view() {
    const std::int64_t split = std::int64_t{n} * m;
    return {{a.data(), m}, {b.data(), n}, {work.data() + split, n}, {work.data(), m}, n, m, q,
            nrhs};
  }
  std::int32_t solve(std::int32_t tasks) {
    team t;
    openteam(t);
    std::int64_t level, distance, stride, firstblock, nextblock, backblock;
    sweep::startcounters(q, level, distance, stride, firstblock, nextblock, backblock);
    const real_t<T> tolerance = 0;
    std::int32_t info[2] = {0, 0};
    const std::int64_t split = std::int64_t{n} * m;
    runteam(t, tasks, sweepkernel(a.data()), a.data(), n, m, b.data(), nrhs, work.data(),
            work.data() + split, t.lockid, t.eventids, q, t.ntasks, level, distance, stride,
            firstblock, nextblock, backblock, tolerance, info);
    closeteam(t);
    return info[0] != 0 ? 1 : info[1];
  }
};

template <class T>
bool samebits(const std::vector<T>& x, const std::vector<T>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0;
}

template <class T>
std::int64_t subnormals(const std::vector<T>& v) {
  std::int64_t count = 0;
  for (const T& x : v) {
    if constexpr (is_complex_v<T>) {
      count +=
          std::fpclassify(x.real()) == FP_SUBNORMAL || std::fpclassify(x.imag()) == FP_SUBNORMAL;
    } else {
      count += std::fpclassify(x) == FP_SUBNORMAL;
    }
  }
  return count;
}

template <class T>
class SweepBits : public ::testing::Test {};
TYPED_TEST_SUITE(SweepBits, oracle::element_kinds);

struct shape {
  std::int32_t n, m, q, nrhs;
};

// Half bandwidths for each lane width (M <= 4, <= 8, <= 16 and beyond);
// full and partial lane sets; q = M + 1 and wider blocks; last blocks shorter than M; two right-hand sides; and the
// benchmark's bandwidth and block width over enough blocks for the strongly
// dominant system to reach subnormal couplings. The last rows have hundreds
// of blocks, so that every pass up to level 4 or 8 works groups of blocks
// side by side in lanes (16 or 8 per group) and leaves partial groups and
// irregular blocks at its ends to go one by one; the block counts are not
// multiples of the group widths, and some orders are not multiples of q.
constexpr shape shapes[] = {
    {40, 1, 3, 1},      {61, 3, 7, 2},      {90, 4, 5, 1},     {150, 5, 11, 1},
    {200, 8, 72, 2},    {97, 8, 9, 1},      {300, 13, 44, 1},  {150, 16, 17, 1},
    {160, 17, 33, 2},   {130, 40, 41, 1},   {300, 128, 129, 1}, {280, 130, 131, 1},
    {3000, 8, 72, 1},   {1201, 1, 2, 1},    {1500, 3, 4, 2},   {2003, 8, 9, 1},
    {1805, 5, 11, 1},   {2500, 16, 17, 1},  {2000, 24, 25, 3}, {4000, 32, 33, 1}};

TYPED_TEST(SweepBits, KernelMatchesTranscription) {
  using T = TypeParam;
  for (const shape& c : shapes) {
    for (const double dominance : {1.0, 30.0}) {
      SCOPED_TRACE(::testing::Message()
                   << "N=" << c.n << " M=" << c.m << " q=" << c.q << " dominance " << dominance);
      problem<T> expected(c.n, c.m, c.q, c.nrhs, dominance);
      transcription(expected.view());
      for (const std::int32_t tasks : {1, 3}) {
        problem<T> p(c.n, c.m, c.q, c.nrhs, dominance);
        ASSERT_EQ(p.solve(tasks), 0);
        EXPECT_TRUE(samebits(p.a, expected.a)) << tasks << " tasks";
        EXPECT_TRUE(samebits(p.b, expected.b)) << tasks << " tasks";
        EXPECT_TRUE(samebits(p.work, expected.work)) << tasks << " tasks";
      }
    }
  }
}

// Beyond the widest band the lane loops hold (1024), the plain loops: one
// full block and a short one, on one task.
TYPED_TEST(SweepBits, PlainLoopsBeyondTheWidestLaneBand) {
  using T = TypeParam;
  problem<T> expected(1030, 1025, 1026, 1, 1.0);
  transcription(expected.view());
  problem<T> p(1030, 1025, 1026, 1, 1.0);
  ASSERT_EQ(p.solve(1), 0);
  EXPECT_TRUE(samebits(p.a, expected.a));
  EXPECT_TRUE(samebits(p.b, expected.b));
  EXPECT_TRUE(samebits(p.work, expected.work));
}

// The strongly dominant systems do reach the subnormal range in single
// precision, so that the test above covers those paths.
TEST(SweepBitsCoverage, CouplingsDecayIntoSubnormals) {
  problem<float> p(3000, 8, 72, 1, 30.0);
  transcription(p.view());
  EXPECT_GT(subnormals(p.work), 100);
}

}  // namespace
