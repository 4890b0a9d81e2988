// The argument codes of the distributed routines: a wrong argument on one
// rank only (the last, then the first), an argument that differs between
// ranks, element kinds that differ, layouts that do not tile 1..n. Every
// rank gets the same code, nothing is written and no factorization is left;
// and the empty system.

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/mpi/distributed.hpp"

namespace {

using namespace disttest;

// One rank's arguments of csp_dist_solve_tasks_X and
// csp_dist_factorize_tasks_X (and of csp_dist_solve_factorized_tasks_X:
// nrhs, b, ldb and tasks).
template <class T>
struct arguments {
  MPI_Comm comm;
  char uplo;
  std::int64_t n;
  std::int32_t m, nrhs;
  std::int64_t first, ncols;
  T* ab;
  std::int32_t ldab;
  T* b;
  std::int64_t ldb;
  std::int32_t tasks = 0;
  bool nofactorization = false;  // f passed as NULL
  bool otherkind = false;        // the entry of another element kind
};

// A system of 40 equations spread evenly, 2 right-hand sides: each rank's
// share, with room for one column more (the layouts that claim one), and
// copies to check that nothing is written.
template <class T>
struct problem {
  static constexpr std::int64_t n = 40;
  static constexpr std::int32_t m = 3, nrhs = 2;
  oracle::bandsystem<T> s = oracle::makesystem<T>(n, m, 71);
  std::vector<T> rhs = oracle::randomvector<T>(n * nrhs, 72);
  columns own = columnsof(spreads()[0], n, m);
  std::int64_t ldb = own.count + 1;
  std::vector<T> ab = withcolumn(bandcolumns(s, 'L', own, m + 1)),
                 b = rowsof(rhs, n, nrhs, own, ldb);
  const std::vector<T> abbefore = ab, bbefore = b;

  static std::vector<T> withcolumn(std::vector<T> band) {
    band.resize(band.size() + m + 1, notanumber<T>());
    return band;
  }

  arguments<T> valid() {
    return {MPI_COMM_WORLD, 'L', n, m, nrhs, own.first, own.count, ab.data(), m + 1, b.data(), ldb};
  }
  void expectunchanged() const {
    EXPECT_TRUE(samebits(ab, abbefore)) << "the band was written";
    EXPECT_TRUE(samebits(b, bbefore)) << "B was written";
  }
};

template <class T>
int solvewith(const arguments<T>& a) {
  if (a.otherkind) {
    using U = typename otherkind<T>::type;
    std::vector<U> ab(static_cast<std::size_t>(a.ldab * a.ncols), U(1)),
        b(static_cast<std::size_t>(a.ldb * a.nrhs), U(1));
    return door<U>::solve(a.comm, a.uplo, a.n, a.m, a.nrhs, a.first, a.ncols, ab.data(), a.ldab,
                          b.data(), a.ldb, a.tasks);
  }
  return door<T>::solve(a.comm, a.uplo, a.n, a.m, a.nrhs, a.first, a.ncols, a.ab, a.ldab, a.b,
                        a.ldb, a.tasks);
}

// f: the factorization, or what the call left there (it starts stale).
template <class T>
int factorizewith(const arguments<T>& a, csp_dist_factorization*& f) {
  f = reinterpret_cast<csp_dist_factorization*>(a.ab);
  csp_dist_factorization** const into = a.nofactorization ? nullptr : &f;
  if (a.otherkind) {
    using U = typename otherkind<T>::type;
    std::vector<U> ab(static_cast<std::size_t>(a.ldab * a.ncols), U(1));
    return door<U>::factorize(a.comm, a.uplo, a.n, a.m, a.first, a.ncols, ab.data(), a.ldab, into,
                              a.tasks);
  }
  return door<T>::factorize(a.comm, a.uplo, a.n, a.m, a.first, a.ncols, a.ab, a.ldab, into,
                            a.tasks);
}

// The ranks a wrong argument is put on, one at a time: the last, then the
// first.
std::vector<int> wrongranks(int ranks) {
  return ranks > 1 ? std::vector<int>{ranks - 1, 0} : std::vector<int>{0};
}

// A change of one rank's arguments and the codes it must give
// csp_dist_solve_X and csp_dist_factorize_X (0: that routine has no such
// argument).
template <class T>
struct badcall {
  std::string name;
  std::function<void(arguments<T>&, int rank, int ranks)> change;
  int solvecode, factorcode;
};

// Each argument wrong on the last rank alone, then on the first; with two
// ranks or more, each argument that must be the same everywhere differing
// on one rank, and element kinds that differ.
template <class T>
std::vector<badcall<T>> onerankwrong(int ranks) {
  struct wrong {
    const char* name;
    std::function<void(arguments<T>&)> change;
    int solvecode, factorcode;
    bool differing;  // wrong only beside the other ranks' values
  };
  const wrong wrongs[] = {
      {"uplo", [](auto& a) { a.uplo = 'X'; }, -2, -2, false},
      {"n", [](auto& a) { a.n = -1; }, -3, -3, false},
      {"m", [](auto& a) { a.m = -1; }, -4, -4, false},
      {"nrhs", [](auto& a) { a.nrhs = -1; }, -5, 0, false},
      {"first", [](auto& a) { a.first += 1; }, -6, -5, false},
      {"ncols", [](auto& a) { a.ncols = -1; }, -7, -6, false},
      {"ab", [](auto& a) { a.ab = nullptr; }, -8, -7, false},
      {"ldab", [](auto& a) { a.ldab = a.m; }, -9, -8, false},
      {"b", [](auto& a) { a.b = nullptr; }, -10, 0, false},
      {"ldb", [](auto& a) { a.ldb = a.ncols - 1; }, -11, 0, false},
      {"f", [](auto& a) { a.nofactorization = true; }, 0, -9, false},
      {"tasks", [](auto& a) { a.tasks = -1; }, -12, -10, false},
      {"kind differs", [](auto& a) { a.otherkind = true; }, -1, -1, true},
      {"uplo differs", [](auto& a) { a.uplo = 'U'; }, -2, -2, true},
      {"n differs", [](auto& a) { a.n += 1; }, -3, -3, true},
      {"m differs", [](auto& a) { a.m -= 1; }, -4, -4, true},
      {"nrhs differs", [](auto& a) { a.nrhs -= 1; }, -5, 0, true},
  };
  std::vector<badcall<T>> calls;
  for (const int bad : wrongranks(ranks)) {
    for (const wrong& w : wrongs) {
      if (w.differing && ranks == 1) continue;
      calls.push_back({std::string(w.name) + " on rank " + std::to_string(bad),
                       [bad, change = w.change](arguments<T>& a, int rank, int) {
                         if (rank == bad) change(a);
                       },
                       w.solvecode, w.factorcode});
    }
  }
  return calls;
}

// Layouts that do not tile 1..n, a null communicator everywhere, and two
// wrong arguments on two ranks, where the code nearest to -1 wins.
template <class T>
std::vector<badcall<T>> wronglayouts(int ranks) {
  std::vector<badcall<T>> calls = {
      {"ranges short of n",
       [](auto& a, int rank, int all) {
         if (rank == all - 1) a.ncols -= 1;
       },
       -7, -6},
      {"ranges past n",
       [](auto& a, int rank, int all) {
         if (rank == all - 1) a.ncols += 1;
       },
       -7, -6},
      {"null communicator", [](auto& a, int, int) { a.comm = MPI_COMM_NULL; }, -1, -1},
      {"ldab on rank 0, uplo on the last",
       [](auto& a, int rank, int all) {
         if (rank == 0) a.ldab = a.m;
         if (rank == all - 1) a.uplo = 'X';
       },
       -2, -2},
  };
  if (ranks > 1) {
    calls.push_back({"a gap after rank 0",
                     [](auto& a, int rank, int) {
                       if (rank == 0) a.ncols -= 1;
                     },
                     -6, -5});
    calls.push_back({"the last rank overlapping",
                     [](auto& a, int rank, int all) {
                       if (rank == all - 1) {
                         a.first -= 1;
                         a.ncols += 1;
                       }
                     },
                     -6, -5});
  }
  return calls;
}

template <class T>
class DistCodes : public EveryRank {};
TYPED_TEST_SUITE(DistCodes, oracle::element_kinds);

// csp_dist_solve_X and csp_dist_factorize_X: every rank returns the code
// of the wrong argument, leaves the band and B as they were, and keeps no
// factorization.
TYPED_TEST(DistCodes, SolveAndFactorizeAgreeOnTheCode) {
  using T = TypeParam;
  problem<T> p;
  std::vector<badcall<T>> calls = onerankwrong<T>(worldsize());
  for (badcall<T>& c : wronglayouts<T>(worldsize())) calls.push_back(std::move(c));
  for (const badcall<T>& c : calls) {
    SCOPED_TRACE(c.name);
    arguments<T> a = p.valid();
    c.change(a, worldrank(), worldsize());
    if (c.solvecode != 0) {
      EXPECT_EQ(agreed(solvewith(a)), c.solvecode);
      p.expectunchanged();
    }
    if (c.factorcode != 0) {
      csp_dist_factorization* f = nullptr;
      EXPECT_EQ(agreed(factorizewith(a, f)), c.factorcode);
      if (!a.nofactorization) {
        EXPECT_EQ(f, nullptr);
      }
      p.expectunchanged();
    }
  }
}

// An intercommunicator is no communicator the routines take.
TYPED_TEST(DistCodes, IntercommunicatorIsRefused) {
  using T = TypeParam;
  const int rank = worldrank(), ranks = worldsize();
  if (ranks == 1) GTEST_SKIP() << "an intercommunicator needs two ranks";
  problem<T> p;
  const int half = ranks / 2, lower = rank < half ? 1 : 0;
  MPI_Comm local, inter;
  MPI_Comm_split(MPI_COMM_WORLD, lower, rank, &local);
  MPI_Intercomm_create(local, 0, MPI_COMM_WORLD, lower ? half : 0, 5, &inter);
  arguments<T> a = p.valid();
  a.comm = inter;
  EXPECT_EQ(agreed(solvewith(a)), -1);
  csp_dist_factorization* f = nullptr;
  EXPECT_EQ(agreed(factorizewith(a, f)), -1);
  EXPECT_EQ(f, nullptr);
  p.expectunchanged();
  MPI_Comm_free(&inter);
  MPI_Comm_free(&local);
}

// csp_dist_solve_factorized_X: each argument wrong on one rank, the
// right-hand side count differing, the entry of another kind on one rank
// (-1 everywhere), NULL everywhere (-1 on each rank alone); then the
// factorization, untouched by all of them, still solves.
TYPED_TEST(DistCodes, SolveFactorizedAgreesOnTheCode) {
  using T = TypeParam;
  using U = typename otherkind<T>::type;
  problem<T> p;
  const int rank = worldrank(), ranks = worldsize();
  arguments<T> a = p.valid();
  csp_dist_factorization* f = nullptr;
  ASSERT_EQ(agreed(factorizewith(a, f)), 0);
  ASSERT_TRUE(everywhere(f != nullptr));
  struct wrong {
    const char* name;
    std::function<void(arguments<T>&)> change;
    int code;
    bool differing;
  };
  const wrong wrongs[] = {
      {"kind", [](auto& w) { w.otherkind = true; }, -1, true},
      {"nrhs", [](auto& w) { w.nrhs = -1; }, -2, false},
      {"nrhs differs", [](auto& w) { w.nrhs -= 1; }, -2, true},
      {"b", [](auto& w) { w.b = nullptr; }, -3, false},
      {"ldb", [](auto& w) { w.ldb = w.ncols - 1; }, -4, false},
      {"tasks", [](auto& w) { w.tasks = -1; }, -5, false},
  };
  for (const int bad : wrongranks(ranks)) {
    for (const wrong& w : wrongs) {
      if (w.differing && ranks == 1) continue;
      SCOPED_TRACE(::testing::Message() << w.name << " on rank " << bad);
      arguments<T> c = p.valid();
      if (rank == bad) w.change(c);
      std::vector<U> other(static_cast<std::size_t>(c.otherkind ? c.ldb * c.nrhs : 0), U(1));
      EXPECT_EQ(agreed(c.otherkind ? door<U>::solvefactorized(f, c.nrhs, other.data(), c.ldb)
                                   : door<T>::solvefactorized(f, c.nrhs, c.b, c.ldb, c.tasks)),
                w.code);
      p.expectunchanged();
    }
  }
  EXPECT_EQ(door<T>::solvefactorized(nullptr, p.nrhs, p.b.data(), p.ldb), -1);
  p.expectunchanged();
  EXPECT_EQ(agreed(door<T>::solvefactorized(f, p.nrhs, p.b.data(), p.ldb)), 0);
  EXPECT_TRUE(
      samebits(p.b, rowsof(onemachine<T>(p.s).solve(p.rhs, p.nrhs), p.n, p.nrhs, p.own, p.ldb)));
  csp_dist_free_factorization(f);
  csp_dist_free_factorization(nullptr);
}

// n = 0: no rank holds a column; the solve does nothing, the factorization
// is an object whose solves do nothing.
TYPED_TEST(DistCodes, EmptySystem) {
  using T = TypeParam;
  EXPECT_EQ(agreed(door<T>::solve(MPI_COMM_WORLD, 'U', 0, 3, 2, 1, 0, nullptr, 4, nullptr, 1)), 0);
  csp_dist_factorization* f = nullptr;
  ASSERT_EQ(agreed(door<T>::factorize(MPI_COMM_WORLD, 'L', 0, 3, 1, 0, nullptr, 4, &f)), 0);
  ASSERT_TRUE(everywhere(f != nullptr));
  EXPECT_EQ(agreed(door<T>::solvefactorized(f, 2, nullptr, 1)), 0);
  csp_dist_free_factorization(f);
}

}  // namespace
