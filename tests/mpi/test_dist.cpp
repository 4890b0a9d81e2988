// The distributed solves against the one-machine factorization and solve:
// the same bits on every layout of the columns, for every system shape,
// storage, leading dimension, right-hand side count and task count, solved
// at once or through a factorization kept for several solves; and a matrix
// that is not positive definite, wherever its rejected pivot lies.

#include <complex>
#include <cstdint>
#include <vector>

#include "tests/mpi/distributed.hpp"

namespace {

using namespace disttest;

// A system of order n and half bandwidth m, alike on every rank.
struct shape {
  std::int32_t n, m;
};

// Each rank's share of a system and its right-hand sides under a layout,
// in the given storage and padding, kept with copies to check that the
// band is never written nor the rows of B past the rank's.
template <class T>
struct share {
  columns own;
  char uplo;
  std::int32_t ldab;
  std::int64_t ldb;
  std::vector<T> ab, b, abbefore;

  share(const oracle::bandsystem<T>& s, const columns& c, char storage, std::int32_t abpadding,
        std::int64_t bpadding)
      : own(c),
        uplo(storage),
        ldab(s.m + 1 + abpadding),
        ldb(std::max<std::int64_t>(1, c.count) + bpadding),
        ab(bandcolumns(s, storage, c, ldab)),
        abbefore(ab) {}

  // This rank's first column, or a value that must not be looked at.
  std::int64_t first() const { return own.count > 0 ? own.first : -7; }
  void setrows(const std::vector<T>& x, std::int64_t n, std::int32_t nrhs) {
    b = rowsof(x, n, nrhs, own, ldb);
  }
  // b holds this rank's rows of x, its padding untouched, and ab is as
  // given.
  void expectrows(const std::vector<T>& x, std::int64_t n, std::int32_t nrhs) const {
    EXPECT_TRUE(samebits(b, rowsof(x, n, nrhs, own, ldb)))
        << "rows " << own.first << " .. " << own.first + own.count - 1;
    EXPECT_TRUE(samebits(ab, abbefore)) << "the band was written";
  }
};

template <class T>
class DistResults : public EveryRank {};
TYPED_TEST_SUITE(DistResults, oracle::element_kinds);

// Every layout, for hundreds of partitions (n = 20000, m = 2), a few
// (n = 3000, m = 7; n = 4000, m = 40), diagonal systems (m = 0) and
// systems of one partition with m >= n: the one-shot solve gives the
// one-machine bits, in lower and upper storage (either case of uplo), with
// ldab > m+1 and ldb > ncols on some, and 0, 1, 3, 5 or 6 right-hand
// sides.
TYPED_TEST(DistResults, OneShotSolveOnEveryLayout) {
  using T = TypeParam;
  const shape shapes[] = {{20000, 2}, {3000, 7}, {4000, 40}, {700, 0}, {10, 3},
                          {10, 12},   {2, 5},    {1, 0},     {1, 3}};
  const std::int32_t rhscounts[] = {3, 6, 1, 0, 5};
  std::int32_t k = 0;  // the case's number, which picks its variations
  for (const shape& sh : shapes) {
    const auto s = oracle::makesystem<T>(sh.n, sh.m, 31);
    const onemachine<T> reference(s);
    for (const spread& layout : spreads()) {
      for (const char uplo : {k % 2 ? 'l' : 'L', k % 3 ? 'U' : 'u'}) {
        const std::int32_t nrhs = rhscounts[k % 5];
        SCOPED_TRACE(::testing::Message() << "n " << sh.n << " m " << sh.m << ", " << layout.name
                                          << ", " << uplo << ", nrhs " << nrhs);
        const auto rhs = oracle::randomvector<T>(std::int64_t{sh.n} * nrhs, 32 + k);
        const std::vector<T> expected = reference.solve(rhs, nrhs);
        share<T> mine(s, columnsof(layout, sh.n, sh.m), uplo, k % 3 == 1 ? 2 : 0,
                      k % 4 == 2 ? 3 : 0);
        mine.setrows(rhs, sh.n, nrhs);
        EXPECT_EQ(agreed(door<T>::solve(MPI_COMM_WORLD, uplo, sh.n, sh.m, nrhs, mine.first(),
                                        mine.own.count, dataor(mine.ab), mine.ldab, dataor(mine.b),
                                        mine.ldb)),
                  0);
        mine.expectrows(expected, sh.n, nrhs);
        ++k;
      }
    }
  }
}

// One factorization per layout, from lower storage read where it lies
// (ldab = m+1) or upper storage with ldab > m+1, its band overwritten at
// once, serves solves of 3, then 6 (more than one pass of right-hand
// sides), then 0 right-hand sides, each the one-machine bits.
TYPED_TEST(DistResults, FactorizeOnceSolveTwice) {
  using T = TypeParam;
  const shape sh{3000, 7};
  const auto s = oracle::makesystem<T>(sh.n, sh.m, 41);
  const onemachine<T> reference(s);
  const std::int32_t nrhs[] = {3, 6};
  std::vector<T> rhs[2], expected[2];
  for (int t = 0; t < 2; ++t) {
    rhs[t] = oracle::randomvector<T>(std::int64_t{sh.n} * nrhs[t], 42 + t);
    expected[t] = reference.solve(rhs[t], nrhs[t]);
  }
  bool lower = true;
  for (const spread& layout : spreads()) {
    SCOPED_TRACE(::testing::Message() << layout.name << (lower ? ", lower" : ", upper"));
    share<T> mine(s, columnsof(layout, sh.n, sh.m), lower ? 'L' : 'U', lower ? 0 : 1, 2);
    lower = !lower;
    csp_dist_factorization* f = nullptr;
    ASSERT_EQ(agreed(door<T>::factorize(MPI_COMM_WORLD, mine.uplo, sh.n, sh.m, mine.first(),
                                        mine.own.count, dataor(mine.ab), mine.ldab, &f)),
              0);
    ASSERT_TRUE(everywhere(f != nullptr));
    EXPECT_TRUE(samebits(mine.ab, mine.abbefore));
    std::fill(mine.ab.begin(), mine.ab.end(), notanumber<T>());
    mine.abbefore = mine.ab;
    for (int t = 0; t < 2; ++t) {
      mine.setrows(rhs[t], sh.n, nrhs[t]);
      EXPECT_EQ(agreed(door<T>::solvefactorized(f, nrhs[t], dataor(mine.b), mine.ldb)), 0);
      mine.expectrows(expected[t], sh.n, nrhs[t]);
    }
    EXPECT_EQ(agreed(door<T>::solvefactorized(f, 0, nullptr, mine.ldb)), 0);
    csp_dist_free_factorization(f);
  }
}

// Two communicators at once, the world's even ranks and its odd ones, each
// in the reverse of the world's order: each solves a system of its own,
// laid out over its own ranks, in the one-machine bits.
TYPED_TEST(DistResults, CommunicatorsOfTheirOwn) {
  using T = TypeParam;
  const int rank = worldrank();
  MPI_Comm half;
  MPI_Comm_split(MPI_COMM_WORLD, rank % 2, -rank, &half);
  const shape sh = rank % 2 ? shape{5000, 3} : shape{7000, 5};
  const std::int32_t nrhs = 2;
  const auto s = oracle::makesystem<T>(sh.n, sh.m, 81);
  const auto rhs = oracle::randomvector<T>(std::int64_t{sh.n} * nrhs, 82);
  share<T> mine(s, columnsof(spreads()[1], sh.n, sh.m, half), 'L', 0, 0);
  mine.setrows(rhs, sh.n, nrhs);
  EXPECT_EQ(agreed(door<T>::solve(half, 'L', sh.n, sh.m, nrhs, mine.first(), mine.own.count,
                                  dataor(mine.ab), mine.ldab, dataor(mine.b), mine.ldb)),
            0);
  mine.expectrows(onemachine<T>(s).solve(rhs, nrhs), sh.n, nrhs);
  MPI_Comm_free(&half);
}

// The _tasks forms on 1 and 2 tasks, and on a count that differs between
// ranks, give the bits of the forms without a count, and so the
// one-machine bits.
TYPED_TEST(DistResults, TaskCountsChangeNoBit) {
  using T = TypeParam;
  const shape sh{20000, 2};
  const std::int32_t nrhs = 5;
  const auto s = oracle::makesystem<T>(sh.n, sh.m, 51);
  const auto rhs = oracle::randomvector<T>(std::int64_t{sh.n} * nrhs, 52);
  const std::vector<T> expected = onemachine<T>(s).solve(rhs, nrhs);
  const std::int32_t rankwise = 1 + worldrank() % 2;
  for (const std::int32_t tasks : {1, 2, rankwise}) {
    SCOPED_TRACE(::testing::Message() << tasks << " tasks");
    share<T> mine(s, columnsof(spreads()[1], sh.n, sh.m), 'L', 0, 0);
    mine.setrows(rhs, sh.n, nrhs);
    EXPECT_EQ(
        agreed(door<T>::solve(MPI_COMM_WORLD, 'L', sh.n, sh.m, nrhs, mine.first(), mine.own.count,
                              dataor(mine.ab), mine.ldab, dataor(mine.b), mine.ldb, tasks)),
        0);
    mine.expectrows(expected, sh.n, nrhs);

    csp_dist_factorization* f = nullptr;
    ASSERT_EQ(agreed(door<T>::factorize(MPI_COMM_WORLD, 'L', sh.n, sh.m, mine.first(),
                                        mine.own.count, dataor(mine.ab), mine.ldab, &f, tasks)),
              0);
    mine.setrows(rhs, sh.n, nrhs);
    EXPECT_EQ(agreed(door<T>::solvefactorized(f, nrhs, dataor(mine.b), mine.ldb, 3 - tasks)), 0);
    mine.expectrows(expected, sh.n, nrhs);
    csp_dist_free_factorization(f);
  }
}

// A zero row and column of A: a pivot rejected in the last rank's
// partitions (the last rank holding the last partition, or only the last
// M-1 columns), in the last rank's share of the reduced system, or in a
// middle rank's. Every rank gets 1, as on one machine, and a factorization
// is left on none.
TYPED_TEST(DistResults, NotPositiveDefinite) {
  using T = TypeParam;
  const shape sh{20000, 2};
  const partitioned::layout cut = partitioned::partitionlayout(sh.n, sh.m);
  const std::int64_t rows[] = {sh.n - 1, cut.separator(cut.parts - 1),
                               cut.separator(cut.parts / 2) + 1};
  for (const std::int64_t row : rows) {
    auto s = oracle::makesystem<T>(sh.n, sh.m, 61);
    for (std::int64_t j = std::max<std::int64_t>(1, row - sh.m); j <= row; ++j)
      s.at()(row, j) = T(0);
    for (std::int64_t i = row; i <= std::min<std::int64_t>(sh.n, row + sh.m); ++i)
      s.at()(i, row) = T(0);
    csp_factorization* whole = nullptr;
    EXPECT_EQ(onemachinefactor(s, whole), 1);
    EXPECT_EQ(whole, nullptr);
    for (const spread& layout : {spreads()[0], spreads().back()}) {
      SCOPED_TRACE(::testing::Message() << "row " << row << ", " << layout.name);
      share<T> mine(s, columnsof(layout, sh.n, sh.m), 'L', 0, 0);
      mine.setrows(oracle::randomvector<T>(sh.n, 62), sh.n, 1);
      EXPECT_EQ(
          agreed(door<T>::solve(MPI_COMM_WORLD, 'L', sh.n, sh.m, 1, mine.first(), mine.own.count,
                                dataor(mine.ab), mine.ldab, dataor(mine.b), mine.ldb)),
          1);
      csp_dist_factorization* f = reinterpret_cast<csp_dist_factorization*>(&mine);  // stale
      EXPECT_EQ(agreed(door<T>::factorize(MPI_COMM_WORLD, 'L', sh.n, sh.m, mine.first(),
                                          mine.own.count, dataor(mine.ab), mine.ldab, &f)),
                1);
      EXPECT_EQ(f, nullptr);
    }
  }
}

}  // namespace
