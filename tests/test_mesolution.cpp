// The factor-and-solve kernel and its entry, in all four element kinds:
// solutions against reference LAPACK (real kinds) and a dense complex
// symmetric solve (complex kinds) over block layouts that exercise the
// hierarchy; identical bits for every task count; the failure path; and the
// runtime tables left clean by every solve, also when the task table is
// full.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <latch>
#include <limits>
#include <utility>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"
#include "solver/schedule.hpp"
#include "solver/team.hpp"
#include "tests/oracle.hpp"

namespace {

// The kernel and the entry of each element kind.
auto sweepkernel(float*) { return kernel::p_mesolution_csp_4; }
auto sweepkernel(double*) { return kernel::p_mesolution_csp_8; }
auto sweepkernel(std::complex<float>*) { return kernel::p_mesolution_csp_z4; }
auto sweepkernel(std::complex<double>*) { return kernel::p_mesolution_csp_z8; }

void entry(float* a, std::int32_t n, std::int32_t m, float* b, std::int32_t nrhs, float* work,
           std::int32_t& status) {
  mesolution_csp_4(a, n, m, b, nrhs, work, status);
}
void entry(double* a, std::int32_t n, std::int32_t m, double* b, std::int32_t nrhs, double* work,
           std::int32_t& status) {
  mesolution_csp_8(a, n, m, b, nrhs, work, status);
}
void entry(std::complex<float>* a, std::int32_t n, std::int32_t m, std::complex<float>* b,
           std::int32_t nrhs, std::complex<float>* work, std::int32_t& status) {
  mesolution_csp_z4(a, n, m, b, nrhs, work, status);
}
void entry(std::complex<double>* a, std::int32_t n, std::int32_t m, std::complex<double>* b,
           std::int32_t nrhs, std::complex<double>* work, std::int32_t& status) {
  mesolution_csp_z8(a, n, m, b, nrhs, work, status);
}

struct outcome {
  std::int32_t status;
  std::int32_t participants;  // tasks that really ran the kernel
  std::int64_t level, distance, stride, nextblock, backblock;
};

// What the entry does, with the block width q and the requested task count
// chosen by the test.
template <class T>
outcome solvewith(T* a, std::int32_t n, std::int32_t m, T* b, std::int32_t nrhs, T* work,
                  std::int32_t q, std::int32_t requested) {
  team t;
  openteam(t);
  std::int64_t level, distance, stride, firstblock, nextblock, backblock;
  sweep::startcounters(q, level, distance, stride, firstblock, nextblock, backblock);
  const real_t<T> tolerance = 0;
  std::int32_t info[2] = {0, 0};
  const std::int64_t split = n > 0 && m > 0 ? std::int64_t{n} * m : 0;
  runteam(t, requested, sweepkernel(a), a, n, m, b, nrhs, work, work + split, t.lockid,
          t.eventids, q, t.ntasks, level, distance, stride, firstblock, nextblock, backblock,
          tolerance, info);
  closeteam(t);
  return {info[0] != 0 ? 1 : info[1], t.ntasks, level, distance, stride, nextblock, backblock};
}

// A test system in arrays of exactly the sizes the solver is given, so that
// any access outside them is caught by the address sanitizer. The band's
// unused tail slots and the work array hold NaN: a value read before it was
// written poisons the solution.
template <class T>
struct problem {
  oracle::bandsystem<T> system;
  std::int32_t nrhs;
  std::vector<T> a, b, rhs, work;

  problem(std::int32_t n, std::int32_t m, std::int32_t k, std::uint32_t seed = 7)
      : system(oracle::makesystem<T>(n, m, seed)), nrhs(k) {
    const T nan(std::numeric_limits<real_t<T>>::quiet_NaN());
    a.assign(system.band.begin(), system.band.begin() + bandlength(n, m));
    const band_matrix<T> band{a.data(), m};
    for (std::int64_t j = std::max(1, n - m); j < n; ++j) {
      for (std::int64_t i = n + 1; i <= j + m; ++i) band(i, j) = nan;
    }
    rhs = oracle::randomvector<T>(std::int64_t{n} * k, seed + 1);
    b = rhs;
    work.assign(static_cast<std::size_t>(2 * std::int64_t{n} * m), nan);
  }
  outcome solve(std::int32_t q, std::int32_t tasks) {
    return solvewith(a.data(), system.n, system.m, b.data(), nrhs, work.data(), q, tasks);
  }
};

// The computed solutions against the oracle, with LAPACK's two testing
// ratios: the residual ratio, and the forward error against the oracle's
// solution in units of eps times the condition number, which for these
// diagonally dominant matrices (every row's diagonal exceeds the sum of its
// off-diagonal moduli by at least 1, so ||A^-1||_inf <= 1) is at most
// ||A||_inf.
template <class T>
void expectsolved(const problem<T>& p) {
  const double residual = oracle::residualratio(p.system, p.rhs, p.b, p.nrhs);
  EXPECT_LT(residual, 30.0);
  const std::vector<T> expected = oracle::referencesolve(p.system, p.rhs, p.nrhs);
  const double condition = oracle::infnorm(p.system);
  EXPECT_LT(oracle::differenceratio(p.b, expected) / condition, 30.0);
}

bool tablesfree() {
  for (std::int32_t s = 0; s < def_dispatch::slots; ++s) {
    if (def_dispatch::argu[s][0] != -1) return false;
  }
  for (std::int32_t e = 0; e < def_event::slots; ++e) {
    if (def_event::events[e][0] != -1) return false;
  }
  for (std::int32_t k = 0; k < def_lock::slots; ++k) {
    if (def_lock::lockflag[k] != 0) return false;
  }
  return true;
}

template <class T>
class Mesolution : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tablesfree()); }
  // No solve leaves a task slot, an event or a lock in use.
  void TearDown() override { EXPECT_TRUE(tablesfree()); }
};
TYPED_TEST_SUITE(Mesolution, oracle::element_kinds);

struct layout {
  std::int32_t n, m, q;
};

// Block layouts: one block (N = 1, N < q, N = q); two and three blocks with
// a last block shorter than M; full and partial last blocks over several
// levels; q = M + 1, where a separator's first and last M columns overlap;
// M = 0 and M = 1; a large M.
constexpr layout layouts[] = {
    {1, 0, 1},   {1, 2, 3},    {5, 2, 8},    {8, 2, 8},   {9, 2, 8},   {16, 3, 8},
    {19, 3, 8},  {23, 3, 8},   {17, 3, 4},   {37, 4, 5},  {40, 4, 5},  {61, 5, 6},
    {50, 0, 3},  {30, 1, 2},   {45, 1, 7},   {100, 6, 7}, {130, 2, 3}, {20, 12, 13},
    {40, 12, 13}};

TYPED_TEST(Mesolution, AgreesWithReferenceOverBlockLayouts) {
  for (const layout& c : layouts) {
    for (const std::int32_t nrhs : {1, 3}) {
      SCOPED_TRACE(::testing::Message() << "N=" << c.n << " M=" << c.m << " q=" << c.q
                                        << " nrhs=" << nrhs);
      problem<TypeParam> p(c.n, c.m, nrhs);
      const outcome o = p.solve(c.q, 3);
      ASSERT_EQ(o.status, 0);
      EXPECT_EQ(o.participants, 3);
      // A completed sweep leaves the counters past the backward pass of level 1.
      EXPECT_EQ(o.level, 0);
      EXPECT_EQ(o.stride, c.q);
      EXPECT_EQ(o.distance, c.q / 2);
      EXPECT_EQ(o.backblock, 1 - c.q);
      expectsolved(p);
    }
  }
}

TYPED_TEST(Mesolution, SameBitsForEveryTaskCount) {
  for (const layout& c : {layout{130, 2, 3}, layout{61, 5, 6}, layout{100, 6, 7},
                          layout{23, 3, 8}}) {
    SCOPED_TRACE(::testing::Message() << "N=" << c.n << " M=" << c.m << " q=" << c.q);
    problem<TypeParam> alone(c.n, c.m, 2);
    ASSERT_EQ(alone.solve(c.q, 1).status, 0);
    for (const std::int32_t tasks : {2, 5, 32}) {
      problem<TypeParam> p(c.n, c.m, 2);
      const outcome o = p.solve(c.q, tasks);
      ASSERT_EQ(o.status, 0);
      EXPECT_EQ(o.participants, tasks);
      const auto bytes = [](const std::vector<TypeParam>& v) { return v.size() * sizeof v[0]; };
      EXPECT_EQ(std::memcmp(p.a.data(), alone.a.data(), bytes(p.a)), 0) << tasks << " tasks";
      EXPECT_EQ(std::memcmp(p.b.data(), alone.b.data(), bytes(p.b)), 0) << tasks << " tasks";
      EXPECT_EQ(std::memcmp(p.work.data(), alone.work.data(), bytes(p.work)), 0)
          << tasks << " tasks";
    }
  }
}

// Row and column j of the band set to zero: the pivot of column j becomes
// exactly zero in every kind, whichever level of the hierarchy eliminates it.
template <class T>
void zerorow(std::vector<T>& band, std::int64_t n, std::int64_t m, std::int64_t j) {
  const band_matrix<T> a{band.data(), m};
  for (std::int64_t k = std::max<std::int64_t>(1, j - m); k <= std::min(n, j + m); ++k) {
    a(std::max(k, j), std::min(k, j)) = T(0);
  }
}

// With no right-hand side the matrix is factored exactly as with one, and
// b is never touched.
TYPED_TEST(Mesolution, NoRightHandSideFactorsOnly) {
  using T = TypeParam;
  problem<T> with(23, 3, 1), without(23, 3, 0);
  ASSERT_EQ(with.solve(8, 3).status, 0);
  EXPECT_EQ(solvewith(without.a.data(), 23, 3, static_cast<T*>(nullptr), 0, without.work.data(),
                      8, 3).status,
            0);
  EXPECT_EQ(std::memcmp(with.a.data(), without.a.data(), with.a.size() * sizeof(T)), 0);

  problem<T> singular(23, 3, 0);
  zerorow(singular.a, 23, 3, 12);
  EXPECT_EQ(solvewith(singular.a.data(), 23, 3, static_cast<T*>(nullptr), 0,
                      singular.work.data(), 8, 3).status,
            1);
}

// A pivot rejected anywhere stops every task after the barrier of the
// interior pass that factors its block, with status 1. Ten blocks of 4
// columns: block i is interior at level 1 (i odd), 2 (i = 2, 6, 10), 4
// (i = 4) or 8 (i = 8, the top); the barrier after the interior pass of
// level l leaves level = 2l, or at the top level = l and backblock = the
// top block's first column.
TYPED_TEST(Mesolution, RejectedPivotStopsAfterItsInteriorPass) {
  using T = TypeParam;
  constexpr std::int32_t n = 40, m = 3, q = 4;
  const T nan(std::numeric_limits<real_t<T>>::quiet_NaN());
  struct fault {
    std::int64_t i, j;  // entry (i, j); a zero row and column j when i = 0
    T value;
    std::int64_t level, backblock;  // the counters the failing pass leaves
  };
  std::vector<fault> faults = {
      {0, 1, T(0), 2, 0},     // block 1
      {0, 6, T(0), 4, 0},     // block 2, level 2
      {0, 40, T(0), 4, 0},    // block 10, the last one, level 2
      {0, 29, T(0), 8, 29},   // block 8, the top
      {17, 17, nan, 2, 0},    // NaN pivot of block 5
      {22, 20, nan, 4, 0}};   // coupling of blocks 5 and 6 reaches block 6's pivot
  if constexpr (!is_complex_v<T>) faults.push_back({14, 14, T(-100), 8, 0});  // block 4
  for (const fault& x : faults) {
    SCOPED_TRACE(::testing::Message() << "entry (" << x.i << ", " << x.j << ")");
    problem<T> p(n, m, 1);
    if (x.i == 0) {
      zerorow(p.a, n, m, x.j);
    } else {
      band_matrix<T>{p.a.data(), m}(x.i, x.j) = x.value;
    }
    const outcome o = p.solve(q, 3);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.participants, 3);
    EXPECT_EQ(o.level, x.level);
    EXPECT_EQ(o.backblock, x.backblock);
  }
}

// The same when the failing block is worked in a group with others, side
// by side in lanes: 400 blocks of 5 columns; block 37 is interior at level
// 1, block 38 at level 2, both in the middle of a group of their pass.
// Nothing of such a group is written back, and the blocks worked one by one
// then find the pivot.
TYPED_TEST(Mesolution, RejectedPivotInsideAGroupStopsAfterItsInteriorPass) {
  using T = TypeParam;
  constexpr std::int32_t n = 2000, m = 4, q = 5;
  const T nan(std::numeric_limits<real_t<T>>::quiet_NaN());
  for (const auto& [column, level] : {std::pair{181, 2}, std::pair{186, 4}}) {
    for (const std::int32_t tasks : {1, 3}) {
      SCOPED_TRACE(::testing::Message() << "column " << column << ", " << tasks << " tasks");
      problem<T> p(n, m, 1);
      band_matrix<T>{p.a.data(), m}(column, column) = nan;
      const outcome o = p.solve(q, tasks);
      EXPECT_EQ(o.status, 1);
      EXPECT_EQ(o.level, level);
      EXPECT_EQ(o.backblock, 0);
    }
  }
}

// The public entry: its own block width and the current task count.
TYPED_TEST(Mesolution, EntrySolvesAndReportsFailure) {
  using T = TypeParam;
  settasks(2);
  // With the real grain sizes: one block, q = 72 (3 blocks), q = 31 (4 blocks).
  for (const auto& [n, m] : {std::pair{1, 0}, std::pair{40, 2}, std::pair{200, 8},
                             std::pair{100, 30}}) {
    SCOPED_TRACE(::testing::Message() << "N=" << n << " M=" << m);
    problem<T> p(n, m, 2);
    std::int32_t status = -1;
    entry(p.a.data(), n, m, p.b.data(), 2, p.work.data(), status);
    EXPECT_EQ(status, 0);
    expectsolved(p);
  }
  problem<T> singular(200, 8, 1);
  zerorow(singular.a, 200, 8, 150);
  std::int32_t status = -1;
  entry(singular.a.data(), 200, 8, singular.b.data(), 1, singular.work.data(), status);
  EXPECT_EQ(status, 1);
}

// Empty systems: nothing is read or written, so no array is needed at all.
TYPED_TEST(Mesolution, EntryWithNoEquationsTouchesNothing) {
  using T = TypeParam;
  for (const std::int32_t n : {0, -3}) {
    std::int32_t status = -1;
    entry(static_cast<T*>(nullptr), n, 4, static_cast<T*>(nullptr), 2, static_cast<T*>(nullptr),
          status);
    EXPECT_EQ(status, 0);
  }
  // M = 0: no coupling, so no work array either.
  problem<T> p(30, 0, 1);
  std::int32_t status = -1;
  entry(p.a.data(), 30, 0, p.b.data(), 1, static_cast<T*>(nullptr), status);
  EXPECT_EQ(status, 0);
  expectsolved(p);
}

void waitgate(std::latch& gate) { gate.wait(); }

// Tasks of another computation occupy the task table: dispatches that find
// no free slot make the solve run with fewer participants instead of
// hanging it.
TYPED_TEST(Mesolution, FullTaskTableRunsWithFewerParticipants) {
  std::latch one(1), rest(1);
  std::int32_t holders[def_dispatch::slots] = {};
  dispatch_1(holders[0], waitgate, one);
  for (std::int32_t s = 1; s < def_dispatch::slots; ++s) dispatch_1(holders[s], waitgate, rest);
  for (const std::int32_t h : holders) ASSERT_NE(h, 0);

  problem<TypeParam> full(61, 5, 1);
  const outcome alone = full.solve(6, 2);
  EXPECT_EQ(alone.status, 0);
  EXPECT_EQ(alone.participants, 1);
  expectsolved(full);

  one.count_down();
  waitforandterminatetask(holders[0]);
  problem<TypeParam> onefree(61, 5, 1);
  const outcome two = onefree.solve(6, 5);
  EXPECT_EQ(two.status, 0);
  EXPECT_EQ(two.participants, 2);
  expectsolved(onefree);

  rest.count_down();
  for (std::int32_t s = 1; s < def_dispatch::slots; ++s) waitforandterminatetask(holders[s]);
}

}  // namespace
