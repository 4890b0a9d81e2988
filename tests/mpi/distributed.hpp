// Test support for the distributed routines: the C entries of each element
// kind, a base fixture that fails a test on every rank when it fails on
// one, the layouts of the columns over the ranks, each rank's share of a
// system that every rank generates alike from a fixed seed, and the
// one-machine solution a distributed one must match bit for bit.
#pragma once

#include <csp/csp.h>
#include <csp/csp_mpi.h>
#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "solver/partitions.hpp"
#include "tests/oracle.hpp"

namespace disttest {

inline int worldrank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

inline int worldsize() {
  int size = 0;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  return size;
}

// Every test runs on every rank: one that fails on any rank fails on all
// of them, so that rank 0, which alone prints, reports it.
class EveryRank : public ::testing::Test {
 protected:
  void TearDown() override {
    int failed = HasFailure() ? 1 : 0, anywhere = 0;
    MPI_Allreduce(&failed, &anywhere, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    if (anywhere != 0 && failed == 0) ADD_FAILURE() << "failed on another rank";
  }
};

// The code a collective call returned on every rank: the ranks must agree.
// Rank 0's is returned everywhere, so that every rank goes on alike.
inline int agreed(int code) {
  std::vector<int> codes(static_cast<std::size_t>(worldsize()));
  MPI_Allgather(&code, 1, MPI_INT, codes.data(), 1, MPI_INT, MPI_COMM_WORLD);
  for (std::size_t r = 1; r < codes.size(); ++r) {
    EXPECT_EQ(codes[r], codes[0]) << "rank " << r << " returned another code than rank 0";
  }
  return codes[0];
}

// Whether `holds` is true on every rank.
inline bool everywhere(bool holds) {
  int all = holds ? 1 : 0;
  MPI_Allreduce(MPI_IN_PLACE, &all, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return all == 1;
}

// The C entries of each kind, over std::complex for the complex kinds. A
// task count selects the _tasks form; none, the form without one.
template <class T>
struct door;
#define CSP_DIST_DOOR(T, C, X)                                                                    \
  template <>                                                                                     \
  struct door<T> {                                                                                \
    static C* cast(T* p) { return reinterpret_cast<C*>(p); }                                      \
    static int solve(MPI_Comm comm, char uplo, std::int64_t n, std::int32_t m, std::int32_t nrhs, \
                     std::int64_t first, std::int64_t ncols, T* ab, std::int32_t ldab, T* b,      \
                     std::int64_t ldb, std::optional<std::int32_t> tasks = std::nullopt) {        \
      return tasks ? csp_dist_solve_tasks_##X(comm, uplo, n, m, nrhs, first, ncols, cast(ab),     \
                                              ldab, cast(b), ldb, *tasks)                         \
                   : csp_dist_solve_##X(comm, uplo, n, m, nrhs, first, ncols, cast(ab), ldab,     \
                                        cast(b), ldb);                                            \
    }                                                                                             \
    static int factorize(MPI_Comm comm, char uplo, std::int64_t n, std::int32_t m,                \
                         std::int64_t first, std::int64_t ncols, T* ab, std::int32_t ldab,        \
                         csp_dist_factorization** f,                                              \
                         std::optional<std::int32_t> tasks = std::nullopt) {                      \
      return tasks ? csp_dist_factorize_tasks_##X(comm, uplo, n, m, first, ncols, cast(ab), ldab, \
                                                  f, *tasks)                                      \
                   : csp_dist_factorize_##X(comm, uplo, n, m, first, ncols, cast(ab), ldab, f);   \
    }                                                                                             \
    static int solvefactorized(const csp_dist_factorization* f, std::int32_t nrhs, T* b,          \
                               std::int64_t ldb,                                                  \
                               std::optional<std::int32_t> tasks = std::nullopt) {                \
      return tasks ? csp_dist_solve_factorized_tasks_##X(f, nrhs, cast(b), ldb, *tasks)           \
                   : csp_dist_solve_factorized_##X(f, nrhs, cast(b), ldb);                        \
    }                                                                                             \
    static int onemachinefactorize(std::int32_t n, std::int32_t m, const T* ab,                   \
                                   csp_factorization** f) {                                       \
      return csp_factorize_##X('L', n, m, reinterpret_cast<const C*>(ab), m + 1, f);              \
    }                                                                                             \
    static int onemachinesolve(const csp_factorization* f, std::int32_t nrhs, T* b,               \
                               std::int32_t ldb) {                                                \
      return csp_solve_factorized_##X(f, nrhs, cast(b), ldb);                                     \
    }                                                                                             \
  };
CSP_DIST_DOOR(float, float, s)
CSP_DIST_DOOR(double, double, d)
CSP_DIST_DOOR(std::complex<float>, csp_complex_float, c)
CSP_DIST_DOOR(std::complex<double>, csp_complex_double, z)
#undef CSP_DIST_DOOR

// Another element kind than T, for calls that mix kinds.
template <class T>
struct otherkind {
  using type = float;
};
template <>
struct otherkind<float> {
  using type = double;
};
template <>
struct otherkind<std::complex<float>> {
  using type = std::complex<double>;
};
template <>
struct otherkind<std::complex<double>> {
  using type = std::complex<float>;
};

template <class T>
T notanumber() {
  return T(std::numeric_limits<real_t<T>>::quiet_NaN());
}

// x and y hold the same bits.
template <class T>
bool samebits(const std::vector<T>& x, const std::vector<T>& y) {
  return x.size() == y.size() &&
         (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0);
}

// A layout of the columns over the ranks: the first column of each rank
// past rank 0, from n, the library's cut of the system and the rank count.
// The starts are clamped into 1..n+1 and made nondecreasing: a rank that
// starts where the next one does holds no columns.
struct spread {
  const char* name;
  std::function<std::vector<std::int64_t>(std::int64_t n, const partitioned::layout& cut,
                                          int ranks)>
      starts;
};

// The ranks but `empty` share the columns evenly (`empty` < 0: all ranks).
inline std::vector<std::int64_t> evenstarts(std::int64_t n, int ranks, int empty) {
  const int sharing = empty < 0 ? ranks : ranks - 1;
  std::vector<std::int64_t> starts;
  for (int r = 1; r < ranks; ++r) {
    const int before = empty >= 0 && r > empty ? r - 1 : r;  // sharing ranks before rank r
    starts.push_back(1 + before * n / std::max(sharing, 1));
  }
  return starts;
}

// The layouts every result is checked on: even; shares growing with the
// rank, all different; no columns on the first, a middle or the last rank;
// boundaries on a partition's first equation, inside a separator and on its
// last row (a rank with fewer than M columns and no partition of its
// own); a rank with fewer than M columns that holds the first equation of
// a partition, the rest of it on the next rank, and a rank that starts on
// a separator's first row; and a rank with only the first interior, one
// with the last partition but its last M-1 columns, and one with those.
inline std::vector<spread> spreads() {
  return {
      {"even", [](std::int64_t n, const partitioned::layout&,
                  int ranks) { return evenstarts(n, ranks, -1); }},
      {"growing",
       [](std::int64_t n, const partitioned::layout&, int ranks) {
         std::vector<std::int64_t> starts;
         for (std::int64_t r = 1; r < ranks; ++r)
           starts.push_back(1 + n * r * (r + 1) / (ranks * (ranks + 1)));
         return starts;
       }},
      {"first empty", [](std::int64_t n, const partitioned::layout&,
                         int ranks) { return evenstarts(n, ranks, 0); }},
      {"middle empty", [](std::int64_t n, const partitioned::layout&,
                          int ranks) { return evenstarts(n, ranks, ranks / 2); }},
      {"last empty", [](std::int64_t n, const partitioned::layout&,
                        int ranks) { return evenstarts(n, ranks, ranks - 1); }},
      {"at the cut",
       [](std::int64_t, const partitioned::layout& cut, int) {
         return std::vector<std::int64_t>{cut.first(2), cut.separator(2) + 1, cut.first(3) - 1};
       }},
      {"few at a partition",
       [](std::int64_t, const partitioned::layout& cut, int) {
         const std::int64_t few = std::max<std::int64_t>(cut.m - 1, 1);
         return std::vector<std::int64_t>{cut.first(2), cut.first(2) + few, cut.separator(3)};
       }},
      {"tails",
       [](std::int64_t n, const partitioned::layout& cut, int) {
         return std::vector<std::int64_t>{cut.separator(1), cut.first(cut.parts), n - cut.m + 2};
       }},
  };
}

// This rank's columns under a layout over the ranks of comm.
struct columns {
  std::int64_t first = 1, count = 0;
};

inline columns columnsof(const spread& s, std::int64_t n, std::int32_t m,
                         MPI_Comm comm = MPI_COMM_WORLD) {
  int rank = 0, ranks = 0;
  MPI_Comm_rank(comm, &rank);
  MPI_Comm_size(comm, &ranks);
  const std::int64_t mc = std::min<std::int64_t>(m, std::max<std::int64_t>(n - 1, 0));
  std::vector<std::int64_t> starts = s.starts(n, partitioned::partitionlayout(n, mc), ranks);
  starts.resize(static_cast<std::size_t>(ranks - 1), n + 1);
  starts.insert(starts.begin(), 1);
  starts.push_back(n + 1);
  for (std::size_t r = 1; r < starts.size(); ++r) {
    starts[r] = std::clamp(starts[r], starts[r - 1], n + 1);
  }
  return {starts[rank], starts[rank + 1] - starts[rank]};
}

// Columns c.first .. of the band of s in LAPACK band storage with leading
// dimension ldab >= m+1; every entry outside the band is NaN, so that a
// read of one shows in the result.
template <class T>
std::vector<T> bandcolumns(const oracle::bandsystem<T>& s, char uplo, const columns& c,
                           std::int32_t ldab) {
  const bool lower = uplo == 'L' || uplo == 'l';
  std::vector<T> ab(static_cast<std::size_t>(c.count * ldab), notanumber<T>());
  for (std::int64_t j = c.first; j < c.first + c.count; ++j) {
    const std::int64_t low = lower ? j : std::max<std::int64_t>(1, j - s.m);
    const std::int64_t high = lower ? std::min<std::int64_t>(s.n, j + s.m) : j;
    for (std::int64_t i = low; i <= high; ++i) {
      ab[(j - c.first) * ldab + (lower ? i - j : s.m + i - j)] = s.entry(i, j);
    }
  }
  return ab;
}

// Rows c.first .. of the n x nrhs array x, leading dimension ldb; the rows
// past them are NaN.
template <class T>
std::vector<T> rowsof(const std::vector<T>& x, std::int64_t n, std::int32_t nrhs, const columns& c,
                      std::int64_t ldb) {
  std::vector<T> rows(static_cast<std::size_t>(ldb * nrhs), notanumber<T>());
  for (std::int32_t h = 0; h < nrhs; ++h) {
    std::copy_n(x.data() + h * n + c.first - 1, c.count, rows.data() + h * ldb);
  }
  return rows;
}

// A null pointer for an empty array: what a rank without columns passes.
template <class T>
T* dataor(std::vector<T>& v) {
  return v.empty() ? nullptr : v.data();
}

// csp_factorize_X of the whole system (lower storage), its code, and the
// factorization in f.
template <class T>
int onemachinefactor(const oracle::bandsystem<T>& s, csp_factorization*& f) {
  const std::vector<T> band = bandcolumns(s, 'L', {1, s.n}, s.m + 1);
  return door<T>::onemachinefactorize(s.n, s.m, band.data(), &f);
}

// The one-machine factorization of s (csp_factorize_X) and its solves
// (csp_solve_factorized_X): the bits every distributed solve must give,
// and solutions by LAPACK's testing ratio.
template <class T>
class onemachine {
 public:
  explicit onemachine(const oracle::bandsystem<T>& s) : s_(s) {
    EXPECT_EQ(onemachinefactor(s, f_), 0);
  }
  ~onemachine() { csp_free_factorization(f_); }
  onemachine(const onemachine&) = delete;
  onemachine& operator=(const onemachine&) = delete;

  // The solution for the n x nrhs right-hand sides rhs.
  std::vector<T> solve(const std::vector<T>& rhs, std::int32_t nrhs) const {
    std::vector<T> x = rhs;
    EXPECT_EQ(door<T>::onemachinesolve(f_, nrhs, x.data(), std::max(1, s_.n)), 0);
    if (s_.n > 0 && nrhs > 0) {
      EXPECT_LT(oracle::residualratio(s_, rhs, x, nrhs), 30);
    }
    return x;
  }

 private:
  const oracle::bandsystem<T>& s_;
  csp_factorization* f_ = nullptr;
};

}  // namespace disttest
