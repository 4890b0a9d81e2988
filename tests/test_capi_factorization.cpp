// The factorization object of the C interface: its argument codes, its
// solves against the one-shot csp_solve_X, task counts and storages that
// change no bit, and failures that leave no object behind.

#include <csp/csp.hpp>
#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <vector>

#include "tests/oracle.hpp"

namespace {

// The C entries of each kind, over std::complex for the complex ones.
template <class T>
struct door;
#define CSP_DOOR(T, C, X)                                                                      \
  template <>                                                                                 \
  struct door<T> {                                                                            \
    static int factorize(char uplo, int32_t n, int32_t m, const T* ab, int32_t ldab,          \
                         csp_factorization** f, int32_t tasks) {                              \
      return csp_factorize_tasks_##X(uplo, n, m, reinterpret_cast<const C*>(ab), ldab, f,     \
                                     tasks);                                                  \
    }                                                                                         \
    static int solve(const csp_factorization* f, int32_t nrhs, T* b, int32_t ldb,             \
                     int32_t tasks) {                                                         \
      return csp_solve_factorized_tasks_##X(f, nrhs, reinterpret_cast<C*>(b), ldb, tasks);    \
    }                                                                                         \
    static int solveonce(char uplo, int32_t n, int32_t m, int32_t nrhs, T* ab, int32_t ldab,  \
                         T* b, int32_t ldb, int32_t tasks) {                                  \
      return csp_solve_tasks_##X(uplo, n, m, nrhs, reinterpret_cast<C*>(ab), ldab,            \
                                 reinterpret_cast<C*>(b), ldb, tasks);                        \
    }                                                                                         \
  };
CSP_DOOR(float, float, s)
CSP_DOOR(double, double, d)
CSP_DOOR(std::complex<float>, csp_complex_float, c)
CSP_DOOR(std::complex<double>, csp_complex_double, z)
#undef CSP_DOOR

template <class T>
bool samebits(const std::vector<T>& x, const std::vector<T>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0;
}

// The band of s in LAPACK's upper storage with leading dimension m+1.
template <class T>
std::vector<T> upperband(const oracle::bandsystem<T>& s) {
  std::vector<T> ab(static_cast<std::size_t>(s.m + 1) * s.n, T(0));
  for (std::int64_t j = 1; j <= s.n; ++j) {
    for (std::int64_t i = std::max<std::int64_t>(1, j - s.m); i <= j; ++i) {
      ab[static_cast<std::size_t>((j - 1) * (s.m + 1) + s.m + i - j)] = s.entry(j, i);
    }
  }
  return ab;
}

template <class T>
class CFactorization : public ::testing::Test {};
TYPED_TEST_SUITE(CFactorization, oracle::element_kinds);

// One factorization, solved with on 1, 2 and 3 tasks, from either storage,
// gives the bits of the one-shot solve, which takes the partitioned path
// for these systems; and solves them.
TYPED_TEST(CFactorization, SolvesAsTheOneShotSolveOnEveryTaskCount) {
  using T = TypeParam;
  using D = door<T>;
  const std::int32_t n = 20000, m = 4, nrhs = 3;
  const auto s = oracle::makesystem<T>(n, m, 2);
  const auto b = oracle::randomvector<T>(std::int64_t{n} * nrhs, 3);
  std::vector<T> once = b, band = s.band;
  ASSERT_EQ(D::solveonce('L', n, m, nrhs, band.data(), m + 1, once.data(), n, 1), 0);
  EXPECT_LT(oracle::residualratio(s, b, once, nrhs), 30);
  const std::vector<T> upper = upperband(s);
  for (const char uplo : {'L', 'U'}) {
    for (const std::int32_t tasks : {1, 2, 3}) {
      SCOPED_TRACE(::testing::Message() << uplo << " " << tasks << " tasks");
      csp_factorization* f = nullptr;
      ASSERT_EQ(D::factorize(uplo, n, m, uplo == 'L' ? s.band.data() : upper.data(), m + 1, &f,
                             tasks),
                0);
      std::vector<T> x = b;
      EXPECT_EQ(D::solve(f, nrhs, x.data(), n, tasks), 0);
      EXPECT_TRUE(samebits(x, once));
      std::vector<T> again = b, copy = s.band;
      EXPECT_EQ(D::solveonce(uplo, n, m, nrhs, uplo == 'L' ? copy.data() : std::vector<T>(upper).data(),
                             m + 1, again.data(), n, tasks),
                0);
      EXPECT_TRUE(samebits(again, once));
      csp_free_factorization(f);
    }
  }
}

// The codes of every argument, no object on any failure, ab never written.
TYPED_TEST(CFactorization, ArgumentsAndFailures) {
  using T = TypeParam;
  using D = door<T>;
  const std::int32_t n = 30, m = 2;
  auto s = oracle::makesystem<T>(n, m, 4);
  const std::vector<T> original = s.band;
  csp_factorization* f = reinterpret_cast<csp_factorization*>(&s);  // a stale pointer
  EXPECT_EQ(D::factorize('X', n, m, s.band.data(), m + 1, &f, 0), -1);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(D::factorize('L', -1, m, s.band.data(), m + 1, &f, 0), -2);
  EXPECT_EQ(D::factorize('L', n, -1, s.band.data(), m + 1, &f, 0), -3);
  EXPECT_EQ(D::factorize('L', n, m, nullptr, m + 1, &f, 0), -4);
  EXPECT_EQ(D::factorize('L', n, m, s.band.data(), m, &f, 0), -5);
  EXPECT_EQ(D::factorize('L', n, m, s.band.data(), m + 1, nullptr, 0), -6);
  EXPECT_EQ(D::factorize('L', n, m, s.band.data(), m + 1, &f, -1), -7);
  EXPECT_EQ(f, nullptr);

  ASSERT_EQ(D::factorize('L', n, m, s.band.data(), m + 1, &f, 0), 0);
  EXPECT_TRUE(samebits(s.band, original));
  std::vector<T> b(2 * n, T(1));
  EXPECT_EQ(D::solve(nullptr, 1, b.data(), n, 0), -1);
  EXPECT_EQ(D::solve(f, -1, b.data(), n, 0), -2);
  EXPECT_EQ(D::solve(f, 1, nullptr, n, 0), -3);
  EXPECT_EQ(D::solve(f, 1, b.data(), n - 1, 0), -4);
  EXPECT_EQ(D::solve(f, 1, b.data(), n, -2), -5);
  EXPECT_EQ(D::solve(f, 0, nullptr, n, 0), 0);
  if constexpr (std::is_same_v<T, double>) {
    float wrong[30] = {};
    EXPECT_EQ(csp_solve_factorized_s(f, 1, wrong, n), -1);
  } else {
    double wrong[30] = {};
    EXPECT_EQ(csp_solve_factorized_d(f, 1, wrong, n), -1);
  }
  csp_free_factorization(f);
  csp_free_factorization(nullptr);

  // n = 0 factors to an object whose solves do nothing.
  ASSERT_EQ(D::factorize('U', 0, 3, nullptr, 4, &f, 0), 0);
  EXPECT_EQ(D::solve(f, 2, nullptr, 1, 0), 0);
  csp_free_factorization(f);

  // A zero pivot in the middle: code 1, no object.
  for (std::int64_t j = 10; j <= 10 + m; ++j) s.at()(j, 10) = T(0);
  for (std::int64_t j = 10 - m; j < 10; ++j) s.at()(10, j) = T(0);
  EXPECT_EQ(D::factorize('L', n, m, s.band.data(), m + 1, &f, 0), 1);
  EXPECT_EQ(f, nullptr);
}

}  // namespace
