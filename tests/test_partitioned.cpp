// The partitioned factorization and its solves: accuracy against the
// oracle for cuts at awkward places, the same bits for every task count,
// rejected pivots wherever they arise, and solves sharing one factorization.

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <thread>
#include <vector>

#include "solver/partitioned.hpp"
#include "tests/oracle.hpp"
#include "tests/solves.hpp"

namespace {

using partitioned::layout;

template <class T>
struct owned {
  partitioned::factorization<T>* f = nullptr;
  ~owned() {
    if (f != nullptr) partitioned::release(f);
  }
};

// Factors s with the given cut (the library's when parts is 0) on `tasks`
// tasks and solves for b; the outcome, and the solution in x.
template <class T>
partitioned::outcome factorsolve(const oracle::bandsystem<T>& s, std::int64_t parts,
                                 std::int32_t tasks, const std::vector<T>& b, std::int32_t nrhs,
                                 std::vector<T>& x) {
  const layout shape = parts > 0 ? partitioned::cut(s.n, s.m, parts)
                                 : partitioned::partitionlayout(s.n, s.m);
  owned<T> f;
  const auto status = partitioned::factorize(s.band.data(), s.n, s.m, tasks, f.f, &shape);
  x = b;
  if (status == partitioned::outcome::factored) {
    EXPECT_TRUE(partitioned::solve(*f.f, x.data(), s.n, nrhs, tasks));
  }
  return status;
}

template <class T>
class Partitioned : public ::testing::Test {};
TYPED_TEST_SUITE(Partitioned, oracle::element_kinds);

// Cuts where a naive one would break: interiors exactly M long, one
// padding row on most partitions, a partition count not a multiple of the
// lanes, a single partition, M = 0 and M = N-1.
TYPED_TEST(Partitioned, SolvesAtAwkwardCuts) {
  using T = TypeParam;
  struct shape {
    std::int32_t n, m, parts;
  };
  const shape shapes[] = {{1, 0, 1},    {7, 6, 1},     {50, 3, 1},   {50, 3, 2},
                          {23, 2, 5},   {22, 2, 5},    {39, 4, 5},   {300, 8, 17},
                          {301, 8, 16}, {1000, 1, 33}, {64, 0, 20},  {520, 12, 9},
                          {900, 31, 3}};
  for (const shape& c : shapes) {
    SCOPED_TRACE(::testing::Message() << "n " << c.n << " m " << c.m << " parts " << c.parts);
    const auto s = oracle::makesystem<T>(c.n, c.m, 7);
    const std::int32_t nrhs = 3;
    const auto b = oracle::randomvector<T>(std::int64_t{c.n} * nrhs, 9);
    std::vector<T> x;
    ASSERT_EQ(factorsolve(s, c.parts, 2, b, nrhs, x), partitioned::outcome::factored);
    EXPECT_LT(oracle::residualratio(s, b, x, nrhs), 30);
    EXPECT_LT(oracle::differenceratio(x, oracle::referencesolve(s, b, nrhs)), 100.0 * c.n);
  }
}

// The library's own cut, for systems from tiny to thousands of partitions'
// worth, the same bits on 1, 2, 3, 5 and 16 tasks.
TYPED_TEST(Partitioned, SameBitsForEveryTaskCount) {
  using T = TypeParam;
  const std::int32_t sizes[][2] = {{5, 2}, {3000, 1}, {20000, 4}, {9000, 17}, {4000, 40}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(::testing::Message() << "n " << size[0] << " m " << size[1]);
    const auto s = oracle::makesystem<T>(size[0], size[1], 3);
    const std::int32_t nrhs = 2;
    const auto b = oracle::randomvector<T>(std::int64_t{size[0]} * nrhs, 4);
    std::vector<T> first;
    ASSERT_EQ(factorsolve(s, 0, 1, b, nrhs, first), partitioned::outcome::factored);
    EXPECT_LT(oracle::residualratio(s, b, first, nrhs), 30);
    for (const std::int32_t tasks : {2, 3, 5, 16}) {
      std::vector<T> x;
      ASSERT_EQ(factorsolve(s, 0, tasks, b, nrhs, x), partitioned::outcome::factored);
      EXPECT_TRUE(solves::samebits(x, first)) << tasks << " tasks";
    }
  }
}

// A pivot rejected in the first, a middle or the last partition, in a
// padding-free and a padded partition, or only in the reduced system.
TYPED_TEST(Partitioned, RejectsPivotsWhereverTheyArise) {
  using T = TypeParam;
  const std::int32_t n = 400, m = 3, parts = 9;
  const layout shape = partitioned::cut(n, m, parts);
  const std::int64_t rows[] = {1, shape.first(1) + 5, shape.first(5) + 2, shape.separator(5) - 1,
                               n, shape.separator(3), shape.separator(8) + 2};
  for (const std::int64_t row : rows) {
    SCOPED_TRACE(::testing::Message() << "row " << row);
    auto s = oracle::makesystem<T>(n, m, 5);
    for (std::int64_t j = std::max<std::int64_t>(1, row - m); j <= row; ++j) s.at()(row, j) = T(0);
    for (std::int64_t i = row; i <= std::min<std::int64_t>(n, row + m); ++i) s.at()(i, row) = T(0);
    std::vector<T> x;
    for (const std::int32_t tasks : {1, 3}) {
      EXPECT_EQ(factorsolve(s, parts, tasks, oracle::randomvector<T>(n, 1), 1, x),
                partitioned::outcome::rejected);
    }
  }
}

// Right-hand sides go through the factor several at a time; each column
// comes out the same bits as solved alone, whatever its place in a pass.
TYPED_TEST(Partitioned, ColumnsTogetherAsAlone) {
  using T = TypeParam;
  const std::int32_t n = 5000, m = 6, nrhs = 7;
  const auto s = oracle::makesystem<T>(n, m, 13);
  owned<T> f;
  ASSERT_EQ(partitioned::factorize(s.band.data(), n, m, 2, f.f), partitioned::outcome::factored);
  const auto b = oracle::randomvector<T>(std::int64_t{n} * nrhs, 14);
  std::vector<T> together = b;
  ASSERT_TRUE(partitioned::solve(*f.f, together.data(), n, nrhs, 3));
  EXPECT_LT(oracle::residualratio(s, b, together, nrhs), 30);
  for (std::int32_t h = 0; h < nrhs; ++h) {
    std::vector<T> alone(b.begin() + std::int64_t{h} * n, b.begin() + std::int64_t{h + 1} * n);
    ASSERT_TRUE(partitioned::solve(*f.f, alone.data(), n, 1, 1));
    EXPECT_TRUE(solves::samebits(alone, std::vector<T>(together.begin() + std::int64_t{h} * n,
                                                       together.begin() + std::int64_t{h + 1} * n)))
        << "column " << h;
  }
}

// Four threads solving with one factorization at once get the bits of a
// solve alone.
TYPED_TEST(Partitioned, ThreadsShareOneFactorization) {
  using T = TypeParam;
  const std::int32_t n = 6000, m = 5;
  const auto s = oracle::makesystem<T>(n, m, 11);
  owned<T> f;
  ASSERT_EQ(partitioned::factorize(s.band.data(), n, m, 2, f.f), partitioned::outcome::factored);
  std::vector<std::vector<T>> alone(4), shared(4);
  for (int k = 0; k < 4; ++k) {
    alone[k] = shared[k] = oracle::randomvector<T>(n, 20 + k);
    ASSERT_TRUE(partitioned::solve(*f.f, alone[k].data(), n, 1, 1));
  }
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] {
      for (int repeat = 0; repeat < 20; ++repeat) {
        std::vector<T> x = shared[k];
        EXPECT_TRUE(partitioned::solve(*f.f, x.data(), n, 1, 2));
        EXPECT_TRUE(solves::samebits(x, alone[k]));
      }
    });
  }
  for (auto& t : threads) t.join();
}

}  // namespace
