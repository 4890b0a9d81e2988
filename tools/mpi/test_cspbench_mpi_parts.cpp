// cspbench-mpi's parts, run on the processes of MPI_COMM_WORLD: the
// layouts, each process's share of the test systems against the whole
// systems cspbench builds, the exchange of solution rows, and the
// distributed checks and norms against cspbench's own.

#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "tools/mpi/distcheck.hpp"
#include "tools/mpi/layout.hpp"
#include "tools/mpi/localsystem.hpp"
#include "tools/mpi/mpioptions.hpp"
#include "tools/mpi/scalapack.hpp"
#include "tools/testsystem.hpp"
#include "tools/verify.hpp"

namespace {

using kinds = ::testing::Types<float, double, std::complex<float>, std::complex<double>>;

int processes() {
  int count = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &count);
  return count;
}
int rank() {
  int r = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &r);
  return r;
}

void expecttiling(const layout& l, std::int64_t n) {
  std::int64_t next = 1;
  for (const columnrange& c : l.columns) {
    EXPECT_GE(c.count, 0);
    if (c.count > 0) {
      EXPECT_EQ(c.first, next) << l.name;
    }
    next += c.count;
  }
  EXPECT_EQ(next, n + 1) << l.name;
}

// The layouts of the tests on p processes: even, uneven, and one whose
// first process has no columns and whose second has fewer than M = 4
// (for N around 60), so that a process's neighbouring rows come from
// beyond its neighbours.
std::vector<layout> layoutsfor(std::int64_t n, int p) {
  std::vector<std::int64_t> uneven, ragged(static_cast<std::size_t>(p), 30);
  for (int r = 1; r <= p; ++r) uneven.push_back(r);
  if (p > 1) {
    ragged[0] = 0;
    ragged[1] = 1;
  }
  return {evenlayout(n, p), weightedlayout(n, uneven, "uneven"),
          weightedlayout(n, ragged, "ragged")};
}

// ---------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------

struct parsed {
  bool ok = false;
  int exitcode = -1;
  std::string err;
  mpioptions options;
  layout columns;
};

// Parses the words after the program name as the process `rank` of
// `count`, two processors each, one machine.
parsed parse(std::vector<std::string> words, int rank = 0, int count = 2) {
  words.insert(words.begin(), "cspbench-mpi");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  const processgroup group{rank, count, count, 2};
  parsed result;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  result.ok = parsempioptions(static_cast<int>(argv.size()), argv.data(), group, result.options,
                              result.columns, result.exitcode);
  ::testing::internal::GetCapturedStdout();
  result.err = ::testing::internal::GetCapturedStderr();
  return result;
}

// Bad input stops every process with status 2 before any work, and rank 0
// alone says why, as cspbench does.
TEST(Options, RefusedWithOneLineFromRankZero) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--n", "abc"}, "'abc' is not a whole number"},
      {{"--n", "0"}, "out of range"},
      {{"--n", "4294967296"}, "too large"},
      {{"--n", "10", "--m", "10"}, "must be below N = 10"},
      {{"--nrhs", "0"}, "out of range"},
      {{"--kind", "16"}, "--kind"},
      {{"--matrix", "dense"}, "--matrix"},
      {{"--tasks", "0"}, "out of range"},
      {{"--tasks", "3-1"}, "runs backwards"},
      {{"--tasks", "1,,2"}, "is not a task count"},
      {{"--repeat", "0"}, "out of range"},
      {{"--seed", "5"}, "--seed applies to --matrix random only"},
      {{"--matrix", "random", "--seed", "-5"}, "is not a seed"},
      {{"--layout", "1,2,3"}, "3 weights for 2 processes"},
      {{"--layout", "0,0"}, "sum to 0"},
      {{"--layout", "odd"}, "is not a weight"},
      {{"--json", "/nonexistent-folder/run.json"}, "does not exist or is not writable"},
      {{"--method", "auto"}, "not expected"},
      {{"--n", "2000000000", "--m", "4000"}, "physical memory"}};
  for (const auto& [words, message] : cases) {
    for (const int r : {0, 1}) {
      const parsed p = parse(words, r);
      EXPECT_FALSE(p.ok) << words.front();
      EXPECT_EQ(p.exitcode, 2) << words.front();
      if (r == 0) {
        EXPECT_EQ(p.err.rfind("cspbench-mpi: error: ", 0), 0u) << p.err;
        EXPECT_NE(p.err.find(message), std::string::npos) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
      } else {
        EXPECT_EQ(p.err, "") << "rank 1 spoke";
      }
    }
  }
}

TEST(Options, DefaultsAreBench1sProblemInDoubleOnTheEvenLayout) {
  const parsed p = parse({});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_EQ(p.options.n, 2000000);
  EXPECT_EQ(p.options.m, 8);
  EXPECT_EQ(p.options.nrhs, 1);
  EXPECT_EQ(p.options.kind, "8");
  EXPECT_EQ(p.options.matrix, "generator");
  EXPECT_EQ(p.options.tasks, (std::vector<std::int32_t>{1, 2}));
  EXPECT_FALSE(p.options.comparescalapack);
  ASSERT_EQ(p.columns.columns.size(), 2u);
  EXPECT_EQ(p.columns.columns[1].first, 1000001);
}

TEST(Options, TakesTheRunAsGiven) {
  const parsed p = parse(
      {"--n", "010", "--m", "3", "--nrhs", "2", "--kind", "z4", "--matrix", "random", "--seed",
       "18446744073709551615", "--tasks", "4,1-2", "--repeat", "3", "--layout", "uneven"},
      1, 3);
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_EQ(p.options.n, 10);
  EXPECT_EQ(p.options.seed, 18446744073709551615u);
  EXPECT_EQ(p.options.tasks, (std::vector<std::int32_t>{4, 1, 2}));
  std::vector<std::int64_t> counts;
  for (const columnrange& c : p.columns.columns) counts.push_back(c.count);
  EXPECT_EQ(counts, (std::vector<std::int64_t>{1, 4, 5}));
  const parsed scalapack = parse({"--compare-scalapack"});
  EXPECT_EQ(scalapack.ok, scalapackbuilt()) << scalapack.err;
  const parsed help = parse({"--help"});
  EXPECT_FALSE(help.ok);
  EXPECT_EQ(help.exitcode, 0);
}

// ---------------------------------------------------------------------------
// Layouts
// ---------------------------------------------------------------------------

TEST(Layout, EvenIsOneBlockOfCeilNOverPPerProcess) {
  for (const std::int64_t n : {1, 7, 10, 1000, 1001}) {
    for (const int p : {1, 2, 3, 4, 7}) {
      const layout l = evenlayout(n, p);
      ASSERT_EQ(l.columns.size(), static_cast<std::size_t>(p));
      expecttiling(l, n);
      const std::int64_t block = (n + p - 1) / p;
      for (int r = 0; r < p; ++r)
        EXPECT_EQ(l.columns[r].count, std::clamp<std::int64_t>(n - r * block, 0, block))
            << "N = " << n << ", P = " << p << ", rank " << r;
    }
  }
}

TEST(Layout, WeightsShareTheColumnsInProportion) {
  const auto counts = [](const layout& l) {
    std::vector<std::int64_t> c;
    for (const columnrange& r : l.columns) c.push_back(r.count);
    return c;
  };
  EXPECT_EQ(counts(weightedlayout(100, {1, 3}, "1,3")), (std::vector<std::int64_t>{25, 75}));
  EXPECT_EQ(counts(weightedlayout(100, {0, 1}, "0,1")), (std::vector<std::int64_t>{0, 100}));
  EXPECT_EQ(counts(weightedlayout(7, {2, 0, 2}, "2,0,2")), (std::vector<std::int64_t>{3, 0, 4}));
  layout l;
  std::string error;
  ASSERT_TRUE(makelayout("uneven", 10, 4, l, error));
  EXPECT_EQ(counts(l), (std::vector<std::int64_t>{1, 2, 3, 4}));
  // Weights near 2^31 on a long band: the boundaries need more than 64 bits.
  const layout large = weightedlayout(2000000000, {2147483647, 2147483647, 1}, "large");
  expecttiling(large, 2000000000);
  EXPECT_EQ(large.columns[0].count, 999999999);
}

TEST(Layout, RefusesWeightsThatDoNotFitTheProcesses) {
  layout l;
  std::string error;
  EXPECT_FALSE(makelayout("1,2,3", 100, 2, l, error));
  EXPECT_NE(error.find("3 weights for 2 processes"), std::string::npos) << error;
  std::vector<std::int64_t> weights;
  for (const char* bad : {"", "1,,2", "-1,2", "0,0", "x", "1.5", "2147483648"}) {
    EXPECT_FALSE(parseweights(bad, weights, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_TRUE(parseweights("0,5", weights, error));
}

// ---------------------------------------------------------------------------
// The processes' shares of the test systems
// ---------------------------------------------------------------------------

template <class T>
class LocalSystem : public ::testing::Test {};
TYPED_TEST_SUITE(LocalSystem, kinds);

// Every process's share holds, bit for bit, the whole system's columns
// (and the M before them), b and x, for every source, shape and layout.
TYPED_TEST(LocalSystem, SharesAreTheWholeSystemsEntries) {
  using T = TypeParam;
  struct shape {
    std::int32_t n, m, nrhs;
  };
  for (const matrixsource source : {matrixsource::generator, matrixsource::random}) {
    for (const auto [n, m, nrhs] : {shape{1, 0, 1}, {30, 0, 2}, {61, 4, 2}, {12, 11, 1}}) {
      const std::uint64_t seed = randomseed + 7;
      const testsystem<T> whole = buildtestsystem<T>(n, m, nrhs, source, seed);
      for (const layout& l : layoutsfor(n, 4)) {
        for (const columnrange& own : l.columns) {
          SCOPED_TRACE(::testing::Message() << "N = " << n << ", M = " << m << ", " << l.name
                                            << " columns " << own.first << " + " << own.count);
          const localsystem<T> part = buildlocalsystem<T>(n, m, nrhs, source, seed, own);
          for (std::int64_t j = part.lo; j <= own.last(); ++j)
            for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + m); ++i)
              ASSERT_EQ(part.entry(i, j), whole.band[(j - 1) * (m + 1) + (i - j)])
                  << "A(" << i << ", " << j << ")";
          for (std::int64_t r = 0; r < nrhs; ++r) {
            for (std::int64_t i = own.first; i <= own.last(); ++i) {
              const std::size_t at = r * part.ld() + (i - own.first);
              ASSERT_EQ(part.x[at], whole.x[r * n + i - 1]) << "x(" << i << ", " << r + 1 << ")";
              ASSERT_EQ(part.b[at], whole.b[r * n + i - 1]) << "b(" << i << ", " << r + 1 << ")";
            }
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// On the processes of MPI_COMM_WORLD
// ---------------------------------------------------------------------------

TEST(SolutionWindow, BringsEveryNeighbouringRow) {
  const std::int32_t n = 61, m = 4, nrhs = 2;
  for (const layout& l : layoutsfor(n, processes())) {
    const localsystem<double> s =
        buildlocalsystem<double>(n, m, nrhs, matrixsource::generator, randomseed,
                                 l.columns[static_cast<std::size_t>(rank())]);
    // Each entry of the solution names its row and column.
    std::vector<double> solution(s.b.size());
    for (std::int64_t r = 0; r < nrhs; ++r)
      for (std::int64_t i = s.own.first; i <= s.own.last(); ++i)
        solution[r * s.ld() + i - s.own.first] = static_cast<double>(i + 1000 * r);
    const std::vector<double> window =
        solutionwindow(s, l.columns, solution.data(), MPI_COMM_WORLD);
    const columnrange halo = haloof(s.own, n, m);
    ASSERT_EQ(window.size(), static_cast<std::size_t>(halo.count * nrhs));
    for (std::int64_t r = 0; r < nrhs; ++r)
      for (std::int64_t i = halo.first; i <= halo.last(); ++i)
        EXPECT_EQ(window[r * halo.count + i - halo.first], i + 1000 * r)
            << l.name << ", rank " << rank() << ", row " << i;
  }
}

template <class T>
class Distributed : public ::testing::Test {};
TYPED_TEST_SUITE(Distributed, kinds);

// x* with every entry moved by a few units in the last place, and row
// `wrong` moved by `offset` times its size.
template <class T>
std::vector<T> perturbed(const testsystem<T>& s, std::int64_t wrong, real_t<T> offset) {
  std::vector<T> x = s.x;
  const real_t<T> eps = std::numeric_limits<real_t<T>>::epsilon();
  for (std::size_t k = 0; k < x.size(); ++k)
    x[k] *= real_t<T>(1) + eps * static_cast<real_t<T>>(static_cast<int>(k * 7 % 5) - 2);
  for (std::int64_t r = 0; r < s.nrhs; ++r) x[r * s.n + wrong - 1] *= real_t<T>(1) + offset;
  return x;
}

// The share of a whole N x nrhs array that a process holds.
template <class T>
std::vector<T> ownrows(const std::vector<T>& whole, const localsystem<T>& s) {
  std::vector<T> rows(static_cast<std::size_t>(s.ld() * s.nrhs));
  for (std::int64_t r = 0; r < s.nrhs; ++r)
    for (std::int64_t i = s.own.first; i <= s.own.last(); ++i)
      rows[r * s.ld() + i - s.own.first] = whole[r * s.n + i - 1];
  return rows;
}

void expectsame(const checkresult& got, const checkresult& expected) {
  EXPECT_EQ(got.relativeerror, expected.relativeerror);
  EXPECT_EQ(got.errorratio, expected.errorratio);
  EXPECT_EQ(got.residualratio, expected.residualratio);
  EXPECT_EQ(got.status, expected.status);
  EXPECT_EQ(got.pass, expected.pass);
}

// The checks of a solution spread over the processes are cspbench's checks
// of the whole solution, whether it passes or not, whatever the layout; a
// wrong row next to a process boundary shows through the exchanged rows.
TYPED_TEST(Distributed, ChecksAreCspbenchsChecks) {
  using T = TypeParam;
  const std::int32_t n = 61, m = 4, nrhs = 2;
  const testsystem<T> whole = buildtestsystem<T>(n, m, nrhs, matrixsource::random);
  std::vector<T> scratch(whole.band.size());
  const systemnorms norms = systemnormsof(whole, scratch);
  for (const layout& l : layoutsfor(n, processes())) {
    const localsystem<T> s = buildlocalsystem<T>(n, m, nrhs, matrixsource::random, randomseed,
                                                 l.columns[static_cast<std::size_t>(rank())]);
    const std::int64_t boundary = std::max<std::int64_t>(1, l.columns.back().first - 1);
    for (const real_t<T> offset : {real_t<T>(0), real_t<T>(1e-2)}) {
      SCOPED_TRACE(::testing::Message() << l.name << ", offset " << offset);
      const std::vector<T> x = perturbed(whole, boundary, offset);
      const checkresult expected = checksolution(whole, x, 0, norms);
      EXPECT_EQ(expected.pass, offset == 0);
      expectsame(distributedcheck(s, l.columns, ownrows(x, s).data(), 0, norms, MPI_COMM_WORLD),
                 expected);
    }
    std::vector<T> x = ownrows(whole.x, s);
    EXPECT_FALSE(distributedcheck(s, l.columns, x.data(), 1, norms, MPI_COMM_WORLD).pass);
    if (s.own.count > 0) x.back() = std::numeric_limits<real_t<T>>::quiet_NaN();
    EXPECT_FALSE(distributedcheck(s, l.columns, x.data(), 0, norms, MPI_COMM_WORLD).pass);
  }
}

// ||A|| is cspbench's; so is cond(A): the same bound for the complex kinds,
// and for the real kinds ?lacn2's steps, whose solves round differently.
TYPED_TEST(Distributed, NormsAreCspbenchs) {
  using T = TypeParam;
  const std::int32_t n = 200, m = 7, nrhs = 1;
  for (const matrixsource source : {matrixsource::generator, matrixsource::random}) {
    const testsystem<T> whole = buildtestsystem<T>(n, m, nrhs, source);
    std::vector<T> scratch(whole.band.size());
    const systemnorms expected = systemnormsof(whole, scratch);
    for (const layout& l : layoutsfor(n, processes())) {
      const localsystem<T> s = buildlocalsystem<T>(n, m, nrhs, source, randomseed,
                                                   l.columns[static_cast<std::size_t>(rank())]);
      const systemnorms got = distributednorms(s, MPI_COMM_WORLD);
      EXPECT_EQ(got.anorm, expected.anorm) << l.name;
      if constexpr (is_complex_v<T>) {
        EXPECT_EQ(got.condition, expected.condition) << l.name;
      } else {
        EXPECT_NEAR(got.condition / expected.condition, 1, 1e-3) << l.name;
      }
    }
  }
}

}  // namespace

// Every process runs every test; rank 0 reports, and the run fails when a
// test failed on any process.
int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (rank() != 0) {
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
  }
  int failed = RUN_ALL_TESTS();
  MPI_Allreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  MPI_Finalize();
  return failed;
}
