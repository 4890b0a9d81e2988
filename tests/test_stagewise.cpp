// The stage-wise parallel kernels (factorization, substitution, and the two
// together) and their entries, in all four element kinds: the factor bit for
// bit against the column kernel over columns 1..N, the solutions against
// reference LAPACK (real kinds) and the dense complex symmetric solve
// (complex kinds), the independence of the task count, and a rejected pivot
// in odd and even stages.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"
#include "solver/stage.hpp"
#include "solver/stagewise.hpp"
#include "solver/team.hpp"
#include "tests/oracle.hpp"
#include "tests/solves.hpp"

namespace {

using stagewise::kernels;

using solves::entries;
using solves::samebits;
using solves::tablesinuse;

// The shared cursors and failure flags of one kernel run, as an entry sets
// them up before the tasks start.
struct shared {
  std::int64_t kstage = 1, knext = 1, jstage, jnext;
  std::int32_t info[2] = {0, 0};
  explicit shared(std::int32_t n) : jstage(n), jnext(n) {}
};

// What an entry does, with the block width q and the number of participants
// given: one run of the kernel by a team, the cursors and flags returned.
template <class T>
shared decomposewith(std::vector<T>& band, std::int32_t n, std::int32_t m, std::int32_t q,
                     std::int32_t requested) {
  shared s(n);
  const real_t<T> tolerance = 0;
  team t;
  openteam(t);
  runteam(t, requested, kernels<T>::decompose, band.data(), n, m, q, t.lockid, t.eventids,
          t.ntasks, s.kstage, s.knext, tolerance, s.info);
  closeteam(t);
  return s;
}

template <class T>
shared substitutewith(const std::vector<T>& band, std::vector<T>& b, std::int32_t n,
                      std::int32_t m, std::int32_t q, std::int32_t requested) {
  shared s(n);
  team t;
  openteam(t);
  runteam(t, requested, kernels<T>::substitute, band.data(), n, m, b.data(), q, t.lockid,
          t.eventids, t.ntasks, s.kstage, s.knext, s.jstage, s.jnext);
  closeteam(t);
  return s;
}

template <class T>
shared solvewith(std::vector<T>& band, std::vector<T>& b, std::int32_t n, std::int32_t m,
                 std::int32_t q, std::int32_t requested) {
  shared s(n);
  const real_t<T> tolerance = 0;
  team t;
  openteam(t);
  runteam(t, requested, kernels<T>::solution, band.data(), n, m, b.data(), q, t.lockid,
          t.eventids, t.ntasks, s.kstage, s.knext, s.jstage, s.jnext, tolerance, s.info);
  closeteam(t);
  return s;
}

// The column kernel over columns 1..N: the factor every stage-wise kernel
// must reproduce bit for bit.
template <class T>
std::vector<T> columnfactor(std::vector<T> band, std::int32_t n, std::int32_t m) {
  const real_t<T> tolerance = 0;
  const std::int32_t first = 1;
  std::int32_t info[2] = {0, 0};
  kernel::columnkernel(band.data(), m, first, n, tolerance, info, first);
  return band;
}

// The substitutions one element at a time in the order the kernels give
// them: the forward one column by column, each b(r) receiving its terms in
// increasing column order; the backward one in blocks of w rows from the
// last, each row receiving the terms of one block per stage, highest block
// first, each block's in increasing row order, its own block's last.
template <class T>
std::vector<T> transcription(const std::vector<T>& factor, std::vector<T> b, std::int64_t n,
                             std::int64_t m, std::int64_t w) {
  const band_matrix<const T> a{factor.data(), m};
  for (std::int64_t c = 1; c <= n; ++c) {
    b[c - 1] = div(b[c - 1], a(c, c));
    for (std::int64_t r = c + 1; r <= std::min(c + m, n); ++r) {
      b[r - 1] = mulsub(b[r - 1], a(r, c), b[c - 1]);
    }
  }
  for (std::int64_t j = n, h = n; j >= 1; h = j, j -= w) {
    for (std::int64_t i = std::max<std::int64_t>(1, j + 1 - m); i <= j; ++i) {
      for (std::int64_t r = j + 1; r <= std::min(i + m, h); ++r) {
        b[i - 1] = mulsub(b[i - 1], a(r, i), b[r - 1]);
      }
    }
    for (std::int64_t i = j; i >= std::max<std::int64_t>(1, j - w + 1); --i) {
      for (std::int64_t r = i + 1; r <= std::min(i + m, j); ++r) {
        b[i - 1] = mulsub(b[i - 1], a(r, i), b[r - 1]);
      }
      b[i - 1] = div(b[i - 1], a(i, i));
    }
  }
  return b;
}

// 1 + q*ceil(n/q) and n - w*ceil(n/w): the forward and backward cursors
// after every stage has run.
std::int64_t pastlast(std::int64_t n, std::int64_t q) { return 1 + q * ((n + q - 1) / q); }
std::int64_t beforefirst(std::int64_t n, std::int64_t w) { return n - w * ((n + w - 1) / w); }

// Block widths around M: 1, below M, M, M+1, past N, and one whose cursors
// pass 2^31.
std::vector<std::int32_t> widths(std::int32_t n, std::int32_t m) {
  std::vector<std::int32_t> q = {1, std::max(m, 1), m + 1, n, stagewise::onestage};
  if (m > 2) q.push_back(m / 2);
  return q;
}

struct shape {
  std::int32_t n, m;
};
constexpr shape shapes[] = {{23, 0}, {41, 3}, {47, 9}};
constexpr std::int32_t taskcounts[] = {1, 2, 5};

template <class T>
class Stagewise : public ::testing::Test {};
TYPED_TEST_SUITE(Stagewise, oracle::element_kinds);

// The factorization gives the column kernel's factor, bit for bit, for every
// block width and participant count, and leaves the cursors one past the
// last stage (beyond 2^31 with the widest block).
TYPED_TEST(Stagewise, FactorIsTheColumnKernels) {
  using T = TypeParam;
  for (const shape& shape : shapes) {
    const oracle::bandsystem<T> s = oracle::makesystem<T>(shape.n, shape.m, 5 + shape.m);
    const std::vector<T> expected = columnfactor(s.band, s.n, s.m);
    for (const std::int32_t q : widths(s.n, s.m)) {
      for (const std::int32_t tasks : taskcounts) {
        SCOPED_TRACE(::testing::Message() << "N = " << s.n << ", M = " << s.m << ", q = " << q
                                          << ", tasks = " << tasks);
        std::vector<T> band = s.band;
        const shared run = decomposewith(band, s.n, s.m, q, tasks);
        EXPECT_EQ(run.info[0], 0);
        EXPECT_EQ(run.info[1], 0);
        EXPECT_EQ(run.kstage, pastlast(s.n, q));
        EXPECT_EQ(run.knext, run.kstage);
        EXPECT_TRUE(samebits(band, expected));
      }
    }
  }
}

// The solution kernel factors exactly as the column kernel does and solves
// as the transcription does with blocks of 2q; the substitution kernel on
// that factor as the transcription with blocks of q. Both bit for bit for
// every participant count, and within rounding of the true solution.
TYPED_TEST(Stagewise, SolutionAndSubstitutionKernels) {
  using T = TypeParam;
  for (const shape& shape : shapes) {
    const oracle::bandsystem<T> s = oracle::makesystem<T>(shape.n, shape.m, 9 + shape.m);
    const std::vector<T> rhs = oracle::randomvector<T>(s.n, 21);
    const std::vector<T> factor = columnfactor(s.band, s.n, s.m);
    for (const std::int32_t q : widths(s.n, s.m)) {
      SCOPED_TRACE(::testing::Message() << "N = " << s.n << ", M = " << s.m << ", q = " << q);
      const std::vector<T> single = transcription(factor, rhs, s.n, s.m, q);
      const std::vector<T> doubled = transcription(factor, rhs, s.n, s.m, 2 * std::int64_t{q});
      for (const std::int32_t tasks : taskcounts) {
        SCOPED_TRACE(::testing::Message() << "tasks = " << tasks);
        std::vector<T> band = s.band, x = rhs, y = rhs;
        const shared solved = solvewith(band, x, s.n, s.m, q, tasks);
        EXPECT_EQ(solved.info[0], 0);
        EXPECT_EQ(solved.info[1], 0);
        EXPECT_EQ(solved.kstage, pastlast(s.n, q));
        EXPECT_EQ(solved.jstage, beforefirst(s.n, 2 * std::int64_t{q}));
        EXPECT_EQ(solved.jnext, solved.jstage);
        EXPECT_TRUE(samebits(band, factor));
        EXPECT_TRUE(samebits(x, doubled));
        EXPECT_LT(oracle::residualratio(s, rhs, x, 1), 30.0);

        const shared substituted = substitutewith(factor, y, s.n, s.m, q, tasks);
        EXPECT_EQ(substituted.kstage, pastlast(s.n, q));
        EXPECT_EQ(substituted.jstage, beforefirst(s.n, q));
        EXPECT_TRUE(samebits(y, single));
        EXPECT_LT(oracle::residualratio(s, rhs, y, 1), 30.0);
      }
    }
  }
}

// The entries as a caller sees them, several right-hand sides: the solutions
// of decomposition + substitution and of solution agree with the oracle's
// (residual, and forward error against ||A||_inf * eps, a bound on the
// condition number of these diagonally dominant matrices, whose inverse has
// inf-norm <= 1); solution's columns after the first are substitution's.
TYPED_TEST(Stagewise, EntriesAgreeWithTheOracle) {
  using T = TypeParam;
  const std::int32_t nrhs = 3;
  for (const shape& shape : shapes) {
    SCOPED_TRACE(::testing::Message() << "N = " << shape.n << ", M = " << shape.m);
    const oracle::bandsystem<T> s = oracle::makesystem<T>(shape.n, shape.m, 13);
    const std::vector<T> rhs = oracle::randomvector<T>(std::int64_t{s.n} * nrhs, 17);
    const std::vector<T> reference = oracle::referencesolve(s, rhs, nrhs);
    const double condition = oracle::infnorm(s);

    std::vector<T> factor = s.band, x = rhs;
    std::int32_t status = 7;
    entries<T>::decomposition(factor.data(), s.n, s.m, status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(samebits(factor, columnfactor(s.band, s.n, s.m)));
    entries<T>::substitution(factor.data(), s.n, s.m, x.data(), nrhs);
    EXPECT_LT(oracle::residualratio(s, rhs, x, nrhs), 30.0);
    EXPECT_LT(oracle::differenceratio(x, reference) / condition, 30.0);

    std::vector<T> band = s.band, z = rhs;
    status = 7;
    entries<T>::solution(band.data(), s.n, s.m, z.data(), nrhs, status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(samebits(band, factor));
    EXPECT_LT(oracle::residualratio(s, rhs, z, nrhs), 30.0);
    EXPECT_LT(oracle::differenceratio(z, reference) / condition, 30.0);
    EXPECT_TRUE(samebits(std::vector<T>(z.begin() + s.n, z.end()),
                         std::vector<T>(x.begin() + s.n, x.end())));
  }
  EXPECT_EQ(tablesinuse(), 0);
}

// The entries' bodies with one block width and 1, 2 or 5 participants give
// the same bits, with several pieces per stage (q < M) and with the
// entries' own width.
TYPED_TEST(Stagewise, EntriesIndependentOfTaskCount) {
  using T = TypeParam;
  const std::int32_t n = 53, m = 10, nrhs = 2;
  const oracle::bandsystem<T> s = oracle::makesystem<T>(n, m, 29);
  const std::vector<T> rhs = oracle::randomvector<T>(std::int64_t{n} * nrhs, 31);
  for (const std::int32_t q : {3, stagewidth(m)}) {
    std::vector<T> firstfactor, firstx, firstz;
    for (const std::int32_t tasks : taskcounts) {
      SCOPED_TRACE(::testing::Message() << "q = " << q << ", tasks = " << tasks);
      std::vector<T> factor = s.band, x = rhs, band = s.band, z = rhs;
      std::int32_t status = 7;
      stagewise::decomposition(factor.data(), n, m, q, tasks, status);
      EXPECT_EQ(status, 0);
      stagewise::substitution(factor.data(), n, m, x.data(), nrhs, q, tasks);
      status = 7;
      stagewise::solution(band.data(), n, m, z.data(), nrhs, q, q, tasks, status);
      EXPECT_EQ(status, 0);
      if (tasks == taskcounts[0]) {
        firstfactor = factor, firstx = x, firstz = z;
        continue;
      }
      EXPECT_TRUE(samebits(factor, firstfactor));
      EXPECT_TRUE(samebits(band, firstfactor));
      EXPECT_TRUE(samebits(x, firstx));
      EXPECT_TRUE(samebits(z, firstz));
    }
  }
  EXPECT_EQ(tablesinuse(), 0);
}

// Row c of the lower triangle made zero, diagonal included: L(c, p) = 0 for
// every p < c, so the updated pivot of column c is exactly 0 and rejected
// by every element kind with tolerance 0.
template <class T>
oracle::bandsystem<T> singularat(std::int32_t n, std::int32_t m, std::int64_t c) {
  oracle::bandsystem<T> s = oracle::makesystem<T>(n, m, 37);
  for (std::int64_t p = std::max<std::int64_t>(1, c - m); p <= c; ++p) s.at()(c, p) = T(0);
  return s;
}

// A pivot rejected in stage 1, 2 or 3, at the start or the end of its
// block: the flag of that stage's phase is set and the other not, every
// task stops after that stage (kstage = 1 + q*s), the columns before the
// failing block are final, those after it untouched, and the solution
// kernel never starts its backward phase. The entries report status 1 and
// leave no task, event or lock in use.
TYPED_TEST(Stagewise, RejectedPivotStopsAfterItsStage) {
  using T = TypeParam;
  const std::int32_t n = 30, m = 5, q = 3, nrhs = 2;
  const std::vector<T> rhs = oracle::randomvector<T>(std::int64_t{n} * nrhs, 41);
  const struct {
    std::int32_t stage;
    std::int64_t column;
  } cases[] = {{1, 1}, {1, 3}, {2, 4}, {2, 6}, {3, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "zero pivot in column " << c.column << ", stage "
                                      << c.stage);
    const oracle::bandsystem<T> s = singularat<T>(n, m, c.column);
    const std::vector<T> partial = columnfactor(s.band, n, m);
    const std::int64_t blockstart = 1 + std::int64_t{q} * (c.stage - 1);
    const std::int64_t finalentries = std::int64_t{m + 1} * (blockstart - 1);
    const std::int64_t untouched = std::int64_t{m + 1} * (blockstart + q - 1);
    const int phase = (c.stage - 1) % 2;

    for (const bool withrhs : {false, true}) {
      std::vector<T> band = s.band, b = rhs;
      const shared run =
          withrhs ? solvewith(band, b, n, m, q, 5) : decomposewith(band, n, m, q, 5);
      EXPECT_EQ(run.info[phase], 1);
      EXPECT_EQ(run.info[1 - phase], 0);
      EXPECT_EQ(run.kstage, 1 + std::int64_t{q} * c.stage);
      EXPECT_EQ(run.knext, run.kstage);
      EXPECT_EQ(run.jstage, n);
      EXPECT_EQ(std::memcmp(band.data(), partial.data(), finalentries * sizeof(T)), 0);
      EXPECT_EQ(std::memcmp(band.data() + untouched, s.band.data() + untouched,
                            (band.size() - untouched) * sizeof(T)),
                0);
    }

    std::vector<T> band = s.band, b = rhs;
    std::int32_t status = 0;
    stagewise::decomposition(band.data(), n, m, q, 5, status);
    EXPECT_EQ(status, 1);
    status = 0;
    band = s.band;
    stagewise::solution(band.data(), n, m, b.data(), nrhs, q, q, 5, status);
    EXPECT_EQ(status, 1);
    status = 0;
    band = s.band;
    entries<T>::decomposition(band.data(), n, m, status);
    EXPECT_EQ(status, 1);
    status = 0;
    band = s.band;
    entries<T>::solution(band.data(), n, m, b.data(), nrhs, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(tablesinuse(), 0);
  }
}

// Nothing to solve: N <= 0 reports success and touches nothing; nrhs <= 0
// makes the solution entry a factorization and leaves b alone.
TYPED_TEST(Stagewise, EmptyProblems) {
  using T = TypeParam;
  const std::int32_t m = 4;
  const oracle::bandsystem<T> s = oracle::makesystem<T>(12, m, 43);
  const std::vector<T> rhs = oracle::randomvector<T>(12, 47);
  for (const std::int32_t n : {0, -3}) {
    std::vector<T> band = s.band, b = rhs;
    std::int32_t status = 7;
    entries<T>::decomposition(band.data(), n, m, status);
    EXPECT_EQ(status, 0);
    entries<T>::substitution(band.data(), n, m, b.data(), 1);
    status = 7;
    entries<T>::solution(band.data(), n, m, b.data(), 1, status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(samebits(band, s.band));
    EXPECT_TRUE(samebits(b, rhs));
  }
  for (const std::int32_t nrhs : {0, -1}) {
    std::vector<T> band = s.band, b = rhs;
    std::int32_t status = 7;
    entries<T>::solution(band.data(), s.n, m, b.data(), nrhs, status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(samebits(band, columnfactor(s.band, s.n, m)));
    entries<T>::substitution(band.data(), s.n, m, b.data(), nrhs);
    EXPECT_TRUE(samebits(b, rhs));
  }
  EXPECT_EQ(tablesinuse(), 0);
}

}  // namespace
