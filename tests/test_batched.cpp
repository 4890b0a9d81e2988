// The batched entries of the C interface: every system's result the same
// bits as the single-system entry gives it alone, at batch sizes around the
// lane width, from either storage with strides beyond the band, with a
// shared factor, with failing systems in any lane; and their argument codes.

#include <csp/csp.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "solver/batched.hpp"
#include "tests/oracle.hpp"

namespace {

// The C entries of each kind, over std::complex for the complex ones.
template <class T>
struct door;
#define CSP_DOOR(T, C, X)                                                                       \
  template <>                                                                                  \
  struct door<T> {                                                                             \
    static C* c(T* p) { return reinterpret_cast<C*>(p); }                                      \
    static const C* c(const T* p) { return reinterpret_cast<const C*>(p); }                    \
    static int solve(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch, T* ab,      \
                     int32_t ldab, int64_t sab, T* b, int32_t ldb, int64_t sb, int32_t* info,  \
                     int32_t tasks) {                                                          \
      return csp_solve_batched_tasks_##X(uplo, n, m, nrhs, batch, c(ab), ldab, sab, c(b), ldb, \
                                         sb, info, tasks);                                     \
    }                                                                                          \
    static int factor(char uplo, int32_t n, int32_t m, int32_t batch, T* ab, int32_t ldab,     \
                      int64_t sab, int32_t* info, int32_t tasks) {                             \
      return csp_factor_batched_tasks_##X(uplo, n, m, batch, c(ab), ldab, sab, info, tasks);   \
    }                                                                                          \
    static int factorsolve(char uplo, int32_t n, int32_t m, int32_t nrhs, int32_t batch,       \
                           const T* ab, int32_t ldab, int64_t sab, T* b, int32_t ldb,          \
                           int64_t sb, int32_t* info, int32_t tasks) {                         \
      return csp_factor_solve_batched_tasks_##X(uplo, n, m, nrhs, batch, c(ab), ldab, sab,     \
                                                c(b), ldb, sb, info, tasks);                   \
    }                                                                                          \
    static int solveone(char uplo, int32_t n, int32_t m, int32_t nrhs, T* ab, int32_t ldab,    \
                        T* b, int32_t ldb) {                                                   \
      return csp_solve_tasks_##X(uplo, n, m, nrhs, c(ab), ldab, c(b), ldb, 1);                 \
    }                                                                                          \
    static int factorone(char uplo, int32_t n, int32_t m, T* ab, int32_t ldab) {               \
      return csp_factor_##X(uplo, n, m, c(ab), ldab);                                          \
    }                                                                                          \
    static int factorsolveone(char uplo, int32_t n, int32_t m, int32_t nrhs, const T* ab,      \
                              int32_t ldab, T* b, int32_t ldb) {                               \
      return csp_factor_solve_##X(uplo, n, m, nrhs, c(ab), ldab, c(b), ldb);                   \
    }                                                                                          \
  };
CSP_DOOR(float, float, s)
CSP_DOOR(double, double, d)
CSP_DOOR(std::complex<float>, csp_complex_float, c)
CSP_DOOR(std::complex<double>, csp_complex_double, z)
#undef CSP_DOOR

template <class T>
bool samebits(const T* x, const T* y, std::int64_t count) {
  return std::memcmp(x, y, static_cast<std::size_t>(count) * sizeof(T)) == 0;
}

// A batch in the caller's storage: system k's band (LAPACK's uplo form,
// leading dimension ldab, the unused entries filled with a marker) at
// ab[k*strideab], its right-hand sides at b[k*strideb], the gaps between
// systems filled with the marker too.
template <class T>
struct batch {
  char uplo;
  std::int32_t n, m, nrhs, count, ldab, ldb;
  std::int64_t strideab, strideb;
  std::vector<oracle::bandsystem<T>> systems;
  std::vector<T> ab, b;

  batch(char uplo_, std::int32_t n_, std::int32_t m_, std::int32_t nrhs_, std::int32_t count_,
        std::int32_t ldabextra, std::int32_t stridegap)
      : uplo(uplo_), n(n_), m(m_), nrhs(nrhs_), count(count_), ldab(m_ + 1 + ldabextra),
        ldb(n_ + 2), strideab(std::int64_t{ldab} * n_ + stridegap),
        strideb(std::int64_t{ldb} * nrhs_ + stridegap) {
    const T marker(-7);
    ab.assign(static_cast<std::size_t>(strideab * count), marker);
    b.assign(static_cast<std::size_t>(strideb * count), marker);
    for (std::int32_t k = 0; k < count; ++k) {
      systems.push_back(oracle::makesystem<T>(n, std::min(m, std::max(n - 1, 0)), 11 + k));
      const auto& s = systems.back();
      for (std::int64_t j = 1; j <= n; ++j) {
        for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + m); ++i) {
          entry(k, i, j) = s.entry(i, j);
        }
      }
      const auto rhs = oracle::randomvector<T>(std::int64_t{n} * nrhs, 50 + k);
      for (std::int64_t h = 0; h < nrhs; ++h) {
        std::copy_n(rhs.data() + h * n, n, rhsof(k) + h * ldb);
      }
    }
  }
  // Element (i, j), i >= j, of system k's stored band.
  T& entry(std::int64_t k, std::int64_t i, std::int64_t j) {
    T* const a = bandof(k);
    return uplo == 'L' ? a[(j - 1) * ldab + i - j] : a[(i - 1) * ldab + m + j - i];
  }
  T* bandof(std::int64_t k) { return ab.data() + k * strideab; }
  T* rhsof(std::int64_t k) { return b.data() + k * strideb; }
};

constexpr std::int32_t unset = std::numeric_limits<std::int32_t>::min();

template <class T>
class Batched : public ::testing::Test {};
TYPED_TEST_SUITE(Batched, oracle::element_kinds);

// Batch sizes around the lane width, shapes from a 1 x 1 system to a band
// wider than the matrix, either storage with a leading dimension and
// strides beyond the band, 1 to 3 tasks: every system gets the bits of its
// solve alone, and is solved.
TYPED_TEST(Batched, SolvesEverySystemAsAlone) {
  using T = TypeParam;
  using D = door<T>;
  constexpr std::int32_t w = batched::width<T>;
  struct shape {
    std::int32_t n, m, nrhs;
  };
  for (const shape s : {shape{1, 0, 1}, shape{9, 3, 2}, shape{40, 2, 1}, shape{37, 16, 3},
                        shape{12, 30, 1}}) {
    for (const std::int32_t count : {1, w - 1, w, w + 1, 3 * w + 5}) {
      for (const char uplo : {'L', 'U'}) {
        for (const std::int32_t extra : {0, 2}) {
          SCOPED_TRACE(::testing::Message() << "n " << s.n << " m " << s.m << " batch " << count
                                            << " " << uplo << " ldab+" << extra);
          batch<T> in(uplo, s.n, s.m, s.nrhs, count, extra, extra * 3);
          batch<T> alone = in;
          const std::int32_t tasks = 1 + count % 3;
          std::vector<std::int32_t> info(count, unset);
          ASSERT_EQ(D::solve(uplo, s.n, s.m, s.nrhs, count, in.ab.data(), in.ldab, in.strideab,
                             in.b.data(), in.ldb, in.strideb, info.data(), tasks),
                    0);
          for (std::int32_t k = 0; k < count; ++k) {
            ASSERT_EQ(info[k], 0);
            ASSERT_EQ(D::solveone(uplo, s.n, s.m, s.nrhs, alone.bandof(k), alone.ldab,
                                  alone.rhsof(k), alone.ldb),
                      0);
          }
          // The gaps between the systems' right-hand sides are untouched too.
          ASSERT_TRUE(samebits(in.b.data(), alone.b.data(), std::int64_t(in.b.size())));
          const auto& first = in.systems[0];
          std::vector<T> rhs(static_cast<std::size_t>(s.n) * s.nrhs), x = rhs;
          const batch<T> original(uplo, s.n, s.m, s.nrhs, 1, extra, 0);
          for (std::int64_t h = 0; h < s.nrhs; ++h) {
            std::copy_n(original.b.data() + h * original.ldb, s.n, rhs.data() + h * s.n);
            std::copy_n(in.rhsof(0) + h * in.ldb, s.n, x.data() + h * s.n);
          }
          EXPECT_LT(oracle::residualratio(first, rhs, x, s.nrhs), 30);
        }
      }
    }
  }
}

// Systems whose factorization fails, in lane 0, lane W-1 and the last,
// partial group, report 1 in their info, and stop none of the others.
TYPED_TEST(Batched, FailingSystemsStopNoOther) {
  using T = TypeParam;
  using D = door<T>;
  constexpr std::int32_t w = batched::width<T>;
  const std::int32_t n = 30, m = 5, count = 3 * w + 5;
  for (const char uplo : {'L', 'U'}) {
    batch<T> in(uplo, n, m, 2, count, 1, 4);
    const std::vector<std::int32_t> failing = {0, w - 1, count - 1};
    // A NaN pivot (rejected in every kind) at a different column each.
    for (std::size_t f = 0; f < failing.size(); ++f) {
      const std::int64_t column = 1 + 7 * static_cast<std::int64_t>(f);
      in.entry(failing[f], column, column) = T(std::numeric_limits<real_t<T>>::quiet_NaN());
    }
    batch<T> factored = in, alone = in;
    std::vector<std::int32_t> info(count, unset), factorinfo(count, unset);
    ASSERT_EQ(D::solve(uplo, n, m, 2, count, in.ab.data(), in.ldab, in.strideab, in.b.data(),
                       in.ldb, in.strideb, info.data(), 2),
              0);
    ASSERT_EQ(D::factor(uplo, n, m, count, factored.ab.data(), factored.ldab,
                        factored.strideab, factorinfo.data(), 2),
              0);
    batch<T> factoralone = alone;
    for (std::int32_t k = 0; k < count; ++k) {
      SCOPED_TRACE(::testing::Message() << uplo << " system " << k);
      const bool fails = std::find(failing.begin(), failing.end(), k) != failing.end();
      EXPECT_EQ(info[k], fails ? 1 : 0);
      EXPECT_EQ(factorinfo[k], fails ? 1 : 0);
      EXPECT_EQ(D::solveone(uplo, n, m, 2, alone.bandof(k), alone.ldab, alone.rhsof(k),
                            alone.ldb),
                fails ? 1 : 0);
      EXPECT_EQ(D::factorone(uplo, n, m, factoralone.bandof(k), factoralone.ldab), fails ? 1 : 0);
      // A failed factorization leaves the partial factor it leaves alone.
      EXPECT_TRUE(samebits(factored.bandof(k), factoralone.bandof(k), factored.strideab));
      if (!fails) {
        EXPECT_TRUE(samebits(in.rhsof(k), alone.rhsof(k), in.strideb));
      }
    }
  }
}

// The factorization in place and the solves with the factors, each
// system's own or one shared by all: the bits of csp_factor_X and
// csp_factor_solve_X alone, the entries outside the band untouched.
TYPED_TEST(Batched, FactorsAndSolvesWithFactorsAsAlone) {
  using T = TypeParam;
  using D = door<T>;
  constexpr std::int32_t w = batched::width<T>;
  const std::int32_t n = 23, m = 4, nrhs = 2, count = 2 * w + 3;
  for (const char uplo : {'L', 'U'}) {
    SCOPED_TRACE(uplo);
    batch<T> in(uplo, n, m, nrhs, count, 1, 5);
    batch<T> alone = in;
    std::vector<std::int32_t> info(count, unset);
    ASSERT_EQ(D::factor(uplo, n, m, count, in.ab.data(), in.ldab, in.strideab, info.data(), 2), 0);
    for (std::int32_t k = 0; k < count; ++k) {
      ASSERT_EQ(info[k], 0);
      ASSERT_EQ(D::factorone(uplo, n, m, alone.bandof(k), alone.ldab), 0);
    }
    ASSERT_TRUE(samebits(in.ab.data(), alone.ab.data(), std::int64_t(in.ab.size())));

    std::fill(info.begin(), info.end(), unset);
    ASSERT_EQ(D::factorsolve(uplo, n, m, nrhs, count, in.ab.data(), in.ldab, in.strideab,
                             in.b.data(), in.ldb, in.strideb, info.data(), 2),
              0);
    for (std::int32_t k = 0; k < count; ++k) {
      ASSERT_EQ(info[k], 0);
      ASSERT_EQ(D::factorsolveone(uplo, n, m, nrhs, alone.bandof(k), alone.ldab, alone.rhsof(k),
                                  alone.ldb),
                0);
    }
    EXPECT_TRUE(samebits(in.b.data(), alone.b.data(), std::int64_t(in.b.size())));

    // One factor (system 3's) for every system's right-hand sides.
    batch<T> shared(uplo, n, m, nrhs, count, 1, 5), sharedalone = shared;
    ASSERT_EQ(D::factorsolve(uplo, n, m, nrhs, count, in.bandof(3), in.ldab, 0, shared.b.data(),
                             shared.ldb, shared.strideb, info.data(), 3),
              0);
    for (std::int32_t k = 0; k < count; ++k) {
      ASSERT_EQ(D::factorsolveone(uplo, n, m, nrhs, in.bandof(3), in.ldab, sharedalone.rhsof(k),
                                  sharedalone.ldb),
                0);
    }
    EXPECT_TRUE(samebits(shared.b.data(), sharedalone.b.data(), std::int64_t(shared.b.size())));
  }
}

// Systems the single-system entry solves another way (the partitioned path
// of large, narrow systems) are solved one by one through it: the same bits.
TYPED_TEST(Batched, LargeSystemsTakeTheSingleSystemPath) {
  using T = TypeParam;
  using D = door<T>;
  const std::int32_t n = 20000, m = 2, count = 3;
  batch<T> in('L', n, m, 1, count, 0, 0);
  batch<T> alone = in;
  for (const std::int32_t tasks : {1, 2}) {
    batch<T> run = in;
    std::vector<std::int32_t> info(count, unset);
    ASSERT_EQ(D::solve('L', n, m, 1, count, run.ab.data(), run.ldab, run.strideab, run.b.data(),
                       run.ldb, run.strideb, info.data(), tasks),
              0);
    for (std::int32_t k = 0; k < count; ++k) {
      EXPECT_EQ(info[k], 0);
      if (tasks == 1) {
        ASSERT_EQ(D::solveone('L', n, m, 1, alone.bandof(k), alone.ldab, alone.rhsof(k),
                              alone.ldb),
                  0);
      }
      EXPECT_TRUE(samebits(run.rhsof(k), alone.rhsof(k), run.strideb)) << k;
    }
  }
}

// Empty batches, empty systems and no right-hand sides; a solve with no
// right-hand side still factors, and reports a failing system.
TYPED_TEST(Batched, EmptyCallsAndNoRightHandSides) {
  using T = TypeParam;
  using D = door<T>;
  std::vector<std::int32_t> info(3, unset);
  EXPECT_EQ(D::solve('L', 5, 1, 1, 0, nullptr, 2, 10, nullptr, 5, 5, nullptr, 0), 0);
  EXPECT_EQ(D::solve('L', 0, 1, 1, 3, nullptr, 2, 0, nullptr, 1, 1, info.data(), 0), 0);
  EXPECT_EQ(info, std::vector<std::int32_t>(3, 0));
  batch<T> in('L', 6, 1, 0, 3, 0, 0);
  in.entry(1, 2, 2) = T(std::numeric_limits<real_t<T>>::quiet_NaN());
  std::fill(info.begin(), info.end(), unset);
  EXPECT_EQ(D::solve('L', 6, 1, 0, 3, in.ab.data(), in.ldab, in.strideab, nullptr, 6, 0,
                     info.data(), 0),
            0);
  EXPECT_EQ(info, (std::vector<std::int32_t>{0, 1, 0}));
}

// Every argument code, by name in all three families, with nothing read or
// written: the right-hand sides and info keep their values.
TYPED_TEST(Batched, ArgumentCodes) {
  using T = TypeParam;
  using D = door<T>;
  const std::int32_t n = 4, m = 1, count = 2;
  std::vector<T> ab(static_cast<std::size_t>(2 * n * count), T(1)), b(8, T(3));
  std::vector<std::int32_t> info(count, unset);
  T* const a = ab.data();
  T* const x = b.data();
  std::int32_t* const i = info.data();
  const auto untouched = [&] {
    return std::all_of(b.begin(), b.end(), [](const T& v) { return v == T(3); }) &&
           std::all_of(info.begin(), info.end(), [](std::int32_t v) { return v == unset; });
  };
  // csp_solve_batched_X.
  EXPECT_EQ(D::solve('X', n, m, 1, count, a, 2, 8, x, 4, 4, i, 0), -1);
  EXPECT_EQ(D::solve('L', -1, m, 1, count, a, 2, 8, x, 4, 4, i, 0), -2);
  EXPECT_EQ(D::solve('L', n, -1, 1, count, a, 2, 8, x, 4, 4, i, 0), -3);
  EXPECT_EQ(D::solve('L', n, m, -1, count, a, 2, 8, x, 4, 4, i, 0), -4);
  EXPECT_EQ(D::solve('L', n, m, 1, -1, a, 2, 8, x, 4, 4, i, 0), -5);
  EXPECT_EQ(D::solve('L', n, m, 1, count, nullptr, 2, 8, x, 4, 4, i, 0), -6);
  EXPECT_EQ(D::solve('L', n, m, 1, count, a, 1, 8, x, 4, 4, i, 0), -7);
  EXPECT_EQ(D::solve('L', n, m, 1, count, a, 2, 7, x, 4, 4, i, 0), -8);
  EXPECT_EQ(D::solve('L', n, m, 1, count, a, 2, 0, x, 4, 4, i, 0), -8);
  EXPECT_EQ(D::solve('L', n, m, 1, count, a, 2, 8, nullptr, 4, 4, i, 0), -9);
  EXPECT_EQ(D::solve('L', n, m, 1, count, a, 2, 8, x, 3, 4, i, 0), -10);
  EXPECT_EQ(D::solve('L', n, m, 1, count, a, 2, 8, x, 4, 3, i, 0), -11);
  EXPECT_EQ(D::solve('L', n, m, 1, count, a, 2, 8, x, 4, 4, nullptr, 0), -12);
  EXPECT_EQ(D::solve('L', n, m, 1, count, a, 2, 8, x, 4, 4, i, -1), -13);
  // csp_factor_batched_X: the same codes for the same arguments.
  EXPECT_EQ(D::factor('X', n, m, count, a, 2, 8, i, 0), -1);
  EXPECT_EQ(D::factor('L', -1, m, count, a, 2, 8, i, 0), -2);
  EXPECT_EQ(D::factor('L', n, -1, count, a, 2, 8, i, 0), -3);
  EXPECT_EQ(D::factor('L', n, m, -1, a, 2, 8, i, 0), -5);
  EXPECT_EQ(D::factor('L', n, m, count, nullptr, 2, 8, i, 0), -6);
  EXPECT_EQ(D::factor('L', n, m, count, a, 1, 8, i, 0), -7);
  EXPECT_EQ(D::factor('L', n, m, count, a, 2, 7, i, 0), -8);
  EXPECT_EQ(D::factor('L', n, m, count, a, 2, 8, nullptr, 0), -12);
  EXPECT_EQ(D::factor('L', n, m, count, a, 2, 8, i, -1), -13);
  // csp_factor_solve_batched_X: stride 0 is a shared factor, not an error.
  EXPECT_EQ(D::factorsolve('L', n, m, 1, count, a, 2, 7, x, 4, 4, i, 0), -8);
  EXPECT_EQ(D::factorsolve('L', n, m, 1, count, a, 2, -8, x, 4, 4, i, 0), -8);
  EXPECT_EQ(D::factorsolve('L', n, m, 1, count, a, 2, 0, x, 4, 3, i, 0), -11);
  EXPECT_EQ(D::factorsolve('L', n, m, 1, count, a, 2, 0, x, 4, 4, nullptr, 0), -12);
  EXPECT_TRUE(untouched());
  EXPECT_TRUE(std::all_of(ab.begin(), ab.end(), [](const T& v) { return v == T(1); }));
}

}  // namespace
