// The C interface <csp/csp.h> in all four element kinds: solutions against
// reference LAPACK ?pbsv (real kinds) and the dense complex symmetric solve
// (complex kinds) in lower and upper storage, larger leading dimensions,
// several right-hand sides, m >= n, m = 0, n = 0; the factor and the solve
// with it, against and together with LAPACK's ?pbtrf and ?pbtrs; every
// argument error; matrices that are not positive definite; the task count;
// solves on several threads at once.

#include <csp/csp.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "capi/solve.hpp"
#include "runtime/runtime.hpp"
#include "tests/oracle.hpp"

namespace {

template <class T>
T nan() {
  return T(std::numeric_limits<real_t<T>>::quiet_NaN());
}

template <class T>
bool isnotanumber(const T& x) {
  if constexpr (is_complex_v<T>) {
    return std::isnan(x.real()) || std::isnan(x.imag());
  } else {
    return std::isnan(x);
  }
}

template <class T>
bool samebits(const std::vector<T>& x, const std::vector<T>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0;
}

// How a test lays out one system: LAPACK's uplo, the stored half bandwidth m
// (at least the system's), and the extra rows of ab and b.
struct layout {
  std::int32_t n, m, nrhs;
  char uplo;
  std::int32_t extraab, extrab;
};

std::ostream& operator<<(std::ostream& out, const layout& l) {
  return out << "n=" << l.n << " m=" << l.m << " nrhs=" << l.nrhs << " uplo=" << l.uplo
             << " ldab=m+1+" << l.extraab << " ldb=n+" << l.extrab;
}

// A system in LAPACK storage as the layout says, every entry outside the
// band (the corner, the extra rows of ab and b) NaN, so that reading one
// spoils the result.
template <class T>
struct lapacksystem {
  layout l;
  oracle::bandsystem<T> system;  // the matrix itself, half bandwidth min(m, n-1)
  std::int32_t ldab, ldb;
  std::vector<T> ab, rhs, b;     // rhs: B packed n x nrhs; b: B in ldb layout

  explicit lapacksystem(const layout& shape, std::uint32_t seed = 7)
      : l(shape),
        system(oracle::makesystem<T>(shape.n, std::min(shape.m, std::max(shape.n - 1, 0)), seed)),
        ldab(shape.m + 1 + shape.extraab),
        ldb(std::max(1, shape.n) + shape.extrab) {
    ab.assign(static_cast<std::size_t>(std::int64_t{ldab} * l.n), nan<T>());
    for (std::int64_t j = 1; j <= l.n; ++j) {
      for (std::int64_t i = j; i <= std::min<std::int64_t>(l.n, j + l.m); ++i) {
        at(i, j) = system.entry(i, j);
      }
    }
    rhs = oracle::randomvector<T>(std::int64_t{l.n} * l.nrhs, seed + 1);
    b.assign(static_cast<std::size_t>(std::int64_t{ldb} * l.nrhs), nan<T>());
    for (std::int64_t h = 0; h < l.nrhs; ++h) {
      for (std::int64_t i = 0; i < l.n; ++i) b[h * ldb + i] = rhs[h * l.n + i];
    }
  }
  bool lower() const { return l.uplo == 'L' || l.uplo == 'l'; }
  // Element (i, j), j <= i, of the lower triangle in the stored array.
  T& at(std::int64_t i, std::int64_t j) {
    return lower() ? ab[(j - 1) * ldab + (i - j)] : ab[(i - 1) * ldab + (l.m + j - i)];
  }
  bool inband(std::int64_t k) const {  // position k of ab holds a band entry
    const std::int64_t row = k % ldab, column = k / ldab + 1;
    if (row > l.m) return false;
    return lower() ? column + row <= l.n : column - (l.m - row) >= 1;
  }
  // X packed n x nrhs from b; false when an extra row of b was written.
  bool solution(std::vector<T>& x) const {
    x.assign(rhs.size(), T(0));
    bool padding = true;
    for (std::int64_t h = 0; h < l.nrhs; ++h) {
      for (std::int64_t i = 0; i < ldb; ++i) {
        if (i < l.n) {
          x[h * l.n + i] = b[h * ldb + i];
        } else {
          padding = padding && isnotanumber(b[h * ldb + i]);
        }
      }
    }
    return padding;
  }
  int solve() {
    return csp::nothrow::solve(l.uplo, l.n, l.m, l.nrhs, ab.data(), ldab, b.data(), ldb);
  }
};

// LAPACK's two testing ratios for the solution, as the solver's own tests
// use them: the residual ratio, and the forward error against the oracle
// over eps times ||A||_inf, a bound of the condition number of these
// diagonally dominant matrices.
template <class T>
void expectsolved(const lapacksystem<T>& s) {
  std::vector<T> x;
  EXPECT_TRUE(s.solution(x)) << "an extra row of b was written";
  EXPECT_LT(oracle::residualratio(s.system, s.rhs, x, s.l.nrhs), 30.0);
  if (is_complex_v<T> && s.l.n > 300) return;  // the dense oracle would take seconds
  const std::vector<T> expected = oracle::referencesolve(s.system, s.rhs, s.l.nrhs);
  EXPECT_LT(oracle::differenceratio(x, expected) / oracle::infnorm(s.system), 30.0);
}

// LAPACK's ratio for a factor: ||A - L*L^T||_inf / (||A||_inf * N * eps),
// L read from the factored LAPACK storage (U = L^T for upper storage).
template <class T>
double factorratio(lapacksystem<T>& s) {
  const std::int64_t n = s.l.n, m = s.system.m;
  double worst = 0;
  for (std::int64_t i = 1; i <= n; ++i) {
    double row = 0;
    for (std::int64_t j = std::max<std::int64_t>(1, i - m); j <= std::min(n, i + m); ++j) {
      T product(0);
      for (std::int64_t p = std::max<std::int64_t>(1, std::max(i, j) - m); p <= std::min(i, j);
           ++p) {
        product += s.at(i, p) * s.at(j, p);
      }
      row += modulus(s.system.entry(i, j) - product);
    }
    worst = std::max(worst, row);
  }
  return worst / (oracle::infnorm(s.system) * n * oracle::epsilon<T>());
}

const layout layouts[] = {
    {300, 8, 1, 'L', 0, 0},   // the solver's own layout: no copy
    {300, 8, 3, 'U', 0, 0},   // upper storage, several right-hand sides
    {257, 5, 2, 'L', 3, 4},   // larger ldab and ldb
    {200, 13, 2, 'u', 2, 0},  // upper with a larger ldab, lower-case uplo
    {40, 60, 2, 'l', 0, 1},   // m >= n
    {50, 0, 1, 'U', 0, 0},    // diagonal
    {1, 0, 3, 'L', 0, 2},     // one equation
    {600, 520, 2, 'L', 0, 0}, // wide enough for stages of several pieces
};

template <class T>
class CInterface : public ::testing::Test {
 protected:
  void SetUp() override { csp_set_tasks(2); }
  void TearDown() override { csp_set_tasks(0); }
};
TYPED_TEST_SUITE(CInterface, oracle::element_kinds);

// csp_solve_X in every layout, with the method of the rule and with the
// sweep, and the same bits from every storage of the same system.
TYPED_TEST(CInterface, SolvesInEveryLayout) {
  using T = TypeParam;
  for (const layout& l : layouts) {
    SCOPED_TRACE(::testing::Message() << l);
    lapacksystem<T> s(l);
    ASSERT_EQ(s.solve(), 0);
    expectsolved(s);

    lapacksystem<T> own({l.n, s.system.m, l.nrhs, 'L', 0, 0});
    ASSERT_EQ(own.solve(), 0);
    std::vector<T> x, y;
    s.solution(x);
    own.solution(y);
    EXPECT_TRUE(samebits(x, y)) << "storage changed the result";

    lapacksystem<T> swept(l);
    ASSERT_EQ(capi::solvechecked(capi::method::sweep, l.uplo, l.n, l.m, l.nrhs, swept.ab.data(),
                          swept.ldab, swept.b.data(), swept.ldb, capi::calltasks(0)),
              0);
    expectsolved(swept);
  }
}

// csp_factor_X leaves the factor in the caller's storage, the entries
// outside the band untouched; csp_factor_solve_X solves with it any number
// of times and changes nothing in ab.
TYPED_TEST(CInterface, FactorsAndSolvesWithTheFactor) {
  using T = TypeParam;
  for (const layout& l : layouts) {
    SCOPED_TRACE(::testing::Message() << l);
    lapacksystem<T> s(l);
    ASSERT_EQ(csp::nothrow::factor(l.uplo, l.n, l.m, s.ab.data(), s.ldab), 0);
    for (std::size_t k = 0; k < s.ab.size(); ++k) {
      ASSERT_EQ(isnotanumber(s.ab[k]), !s.inband(static_cast<std::int64_t>(k))) << "position " << k;
    }
    EXPECT_LT(factorratio(s), 30.0);

    const std::vector<T> factor = s.ab;
    for (int repeat = 0; repeat < 2; ++repeat) {
      lapacksystem<T> fresh(l);
      ASSERT_EQ(csp::nothrow::factor_solve(l.uplo, l.n, l.m, l.nrhs, s.ab.data(), s.ldab,
                                         fresh.b.data(), fresh.ldb),
                0);
      expectsolved(fresh);
    }
    EXPECT_TRUE(samebits(s.ab, factor)) << "csp_factor_solve changed ab";
  }
}

// The factor is LAPACK's: ?pbtrs solves with csp_factor's, csp_factor_solve
// with ?pbtrf's, in both storages.
template <class T>
void lapackfactor(lapacksystem<T>& s, int& info) {
  const char uplo = s.lower() ? 'L' : 'U';
  if constexpr (std::is_same_v<T, float>) {
    spbtrf_(&uplo, &s.l.n, &s.l.m, s.ab.data(), &s.ldab, &info);
  } else {
    dpbtrf_(&uplo, &s.l.n, &s.l.m, s.ab.data(), &s.ldab, &info);
  }
}
template <class T>
void lapacksubstitute(const lapacksystem<T>& factored, lapacksystem<T>& s, int& info) {
  const char uplo = s.lower() ? 'L' : 'U';
  if constexpr (std::is_same_v<T, float>) {
    spbtrs_(&uplo, &s.l.n, &s.l.m, &s.l.nrhs, factored.ab.data(), &s.ldab, s.b.data(), &s.ldb,
            &info);
  } else {
    dpbtrs_(&uplo, &s.l.n, &s.l.m, &s.l.nrhs, factored.ab.data(), &s.ldab, s.b.data(), &s.ldb,
            &info);
  }
}

template <class T>
class CInterfaceReal : public CInterface<T> {};
using real_kinds = ::testing::Types<float, double>;
TYPED_TEST_SUITE(CInterfaceReal, real_kinds);

TYPED_TEST(CInterfaceReal, FactorIsLapacksFactor) {
  using T = TypeParam;
  for (const layout& l : layouts) {
    SCOPED_TRACE(::testing::Message() << l);
    lapacksystem<T> ours(l), theirs(l), withours(l), withtheirs(l);
    ASSERT_EQ(csp::nothrow::factor(l.uplo, l.n, l.m, ours.ab.data(), ours.ldab), 0);
    int info = 0;
    lapackfactor(theirs, info);
    ASSERT_EQ(info, 0);
    EXPECT_LT(oracle::differenceratio(ours.ab, theirs.ab) / oracle::infnorm(ours.system),
              30.0 * (l.m + 1));

    lapacksubstitute(ours, withours, info);
    ASSERT_EQ(info, 0);
    expectsolved(withours);
    ASSERT_EQ(csp::nothrow::factor_solve(l.uplo, l.n, l.m, l.nrhs, theirs.ab.data(), theirs.ldab,
                                       withtheirs.b.data(), withtheirs.ldb),
              0);
    expectsolved(withtheirs);
  }
}

// LAPACK's argument codes: the first invalid argument i gives -i, and
// nothing is read or written.
TYPED_TEST(CInterface, ArgumentErrors) {
  using T = TypeParam;
  T ab[4] = {T(4), T(1), T(4), T(0)}, b[2] = {T(5), T(5)};
  auto solve = [&](char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, T* a,
                   std::int32_t ldab, T* x, std::int32_t ldb) {
    return csp::nothrow::solve(uplo, n, m, nrhs, a, ldab, x, ldb);
  };
  auto factorsolve = [&](char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, T* a,
                         std::int32_t ldab, T* x, std::int32_t ldb) {
    return csp::nothrow::factor_solve(uplo, n, m, nrhs, a, ldab, x, ldb);
  };
  // Both families take the same checks.
  const auto check = [&](auto entry) {
    EXPECT_EQ(entry('X', 2, 1, 1, ab, 2, b, 2), -1);
    EXPECT_EQ(entry('X', -1, -1, -1, nullptr, 0, nullptr, 0), -1);
    EXPECT_EQ(entry('L', -1, 1, 1, ab, 2, b, 2), -2);
    // Nothing is computed from an argument before it is checked (n - 1
    // would overflow here).
    EXPECT_EQ(entry('L', std::numeric_limits<std::int32_t>::min(), 1, 1, ab, 2, b, 2), -2);
    EXPECT_EQ(entry('U', 2, -1, 1, ab, 2, b, 2), -3);
    EXPECT_EQ(entry('U', 2, std::numeric_limits<std::int32_t>::min(), 1, ab, 2, b, 2), -3);
    EXPECT_EQ(entry('L', 2, 1, -1, ab, 2, b, 2), -4);
    EXPECT_EQ(entry('L', 2, 1, 1, nullptr, 2, b, 2), -5);
    EXPECT_EQ(entry('L', 2, 1, 1, ab, 1, b, 2), -6);
    EXPECT_EQ(entry('L', 2, std::numeric_limits<std::int32_t>::max(), 1, ab, 2, b, 2), -6);
    EXPECT_EQ(entry('L', 2, 1, 1, ab, 2, nullptr, 2), -7);
    EXPECT_EQ(entry('L', 2, 1, 1, ab, 2, b, 1), -8);
    EXPECT_EQ(entry('L', 0, 1, 1, nullptr, 2, nullptr, 0), -8);
    // Nothing to read: null arrays are valid.
    EXPECT_EQ(entry('L', 0, 1, 1, nullptr, 2, nullptr, 1), 0);
    EXPECT_EQ(entry('u', 0, 0, 0, nullptr, 1, nullptr, 1), 0);
  };
  check(solve);
  check(factorsolve);
  EXPECT_EQ(b[0], T(5));
  EXPECT_EQ(ab[0], T(4));

  EXPECT_EQ(csp::nothrow::factor('N', 2, 1, ab, 2), -1);
  EXPECT_EQ(csp::nothrow::factor('L', -1, 1, ab, 2), -2);
  EXPECT_EQ(csp::nothrow::factor('L', 2, -1, ab, 2), -3);
  EXPECT_EQ(csp::nothrow::factor<T>('L', 2, 1, nullptr, 2), -4);
  EXPECT_EQ(csp::nothrow::factor('L', 2, 1, ab, 1), -5);
  EXPECT_EQ(csp::nothrow::factor<T>('U', 0, 3, nullptr, 4), 0);
  EXPECT_EQ(ab[0], T(4));
  EXPECT_EQ(csp::nothrow::factor('L', std::numeric_limits<std::int32_t>::min(), 1, ab, 2), -2);
  // A call's task count is argument 9, checked after the others.
  EXPECT_EQ(csp::nothrow::solve('L', 2, 1, 1, ab, 2, b, 2, -1), -9);
  EXPECT_EQ(csp::nothrow::solve('L', 2, 1, 1, ab, 1, b, 2, -1), -6);
  EXPECT_EQ(b[0], T(5));
  // nrhs = 0: csp_solve factors (here a positive definite matrix).
  EXPECT_EQ(csp::nothrow::solve('L', 2, 1, 0, ab, 2, nullptr, 2), 0);
}

// Scratch that cannot be had: the named code, before anything is read.
TYPED_TEST(CInterface, ScratchTooLarge) {
  using T = TypeParam;
  const std::int32_t n = std::numeric_limits<std::int32_t>::max();
  T ab[1] = {T(1)}, b[1] = {T(1)};
  EXPECT_EQ(csp::nothrow::solve('U', n, n - 1, 1, ab, n, b, n), CSP_OUT_OF_MEMORY);
  EXPECT_EQ(csp::nothrow::factor('U', n, n - 1, ab, n), CSP_OUT_OF_MEMORY);
  EXPECT_EQ(csp::nothrow::factor_solve('U', n, n - 1, 1, ab, n, b, n), CSP_OUT_OF_MEMORY);
  EXPECT_EQ(ab[0], T(1));
  EXPECT_EQ(b[0], T(1));
}

// A zero pivot in the first column and a NaN on the diagonal of a later one
// are rejected with a positive code by every routine that factors, in both
// storages and with either method; nrhs = 0 still factors.
TYPED_TEST(CInterface, NotPositiveDefinite) {
  using T = TypeParam;
  for (const layout& l : {layout{120, 6, 1, 'L', 0, 0}, layout{120, 6, 2, 'U', 1, 1},
                          layout{600, 520, 1, 'L', 0, 0}}) {
    for (const std::int64_t column : {std::int64_t{1}, std::int64_t{l.n / 2}}) {
      SCOPED_TRACE(::testing::Message() << l << " column " << column);
      auto spoil = [&](lapacksystem<T>& s) { s.at(column, column) = column == 1 ? T(0) : nan<T>(); };
      lapacksystem<T> s(l), swept(l), factored(l), nothing(l);
      spoil(s);
      spoil(swept);
      spoil(factored);
      spoil(nothing);
      EXPECT_GT(s.solve(), 0);
      EXPECT_GT(capi::solvechecked(capi::method::sweep, l.uplo, l.n, l.m, l.nrhs, swept.ab.data(),
                            swept.ldab, swept.b.data(), swept.ldb, capi::calltasks(0)),
                0);
      EXPECT_GT(csp::nothrow::factor(l.uplo, l.n, l.m, factored.ab.data(), factored.ldab), 0);
      EXPECT_GT(csp::nothrow::solve(l.uplo, l.n, l.m, 0, nothing.ab.data(), nothing.ldab,
                                   nullptr, nothing.ldb),
                0);
    }
  }
}

// The task count, and results that do not depend on it.
TYPED_TEST(CInterface, TaskCountDoesNotChangeTheResult) {
  using T = TypeParam;
  std::int32_t processors = 0;
  getcpus(processors);
  const std::int32_t most = std::min(processors, 32);
  csp_set_tasks(1);
  EXPECT_EQ(csp_get_tasks(), 1);
  csp_set_tasks(1000);
  EXPECT_EQ(csp_get_tasks(), most);
  csp_set_tasks(0);
  EXPECT_EQ(csp_get_tasks(), most);
  csp_set_tasks(-3);
  EXPECT_EQ(csp_get_tasks(), most);

  // The last one is large and narrow enough for the rule to choose the
  // sweep for the real kinds.
  for (const layout& l : {layout{600, 520, 2, 'U', 0, 0}, layout{3000, 8, 2, 'L', 0, 0},
                          layout{20000, 3, 2, 'U', 1, 0}}) {
    SCOPED_TRACE(::testing::Message() << l);
    std::vector<T> results[2][2];
    for (const std::int32_t tasks : {1, 2}) {
      csp_set_tasks(tasks);
      lapacksystem<T> s(l), swept(l);
      ASSERT_EQ(s.solve(), 0);
      ASSERT_EQ(capi::solvechecked(capi::method::sweep, l.uplo, l.n, l.m, l.nrhs, swept.ab.data(),
                            swept.ldab, swept.b.data(), swept.ldb, capi::calltasks(0)),
                0);
      expectsolved(s);
      s.solution(results[0][tasks - 1]);
      swept.solution(results[1][tasks - 1]);
    }
    EXPECT_TRUE(samebits(results[0][0], results[0][1]));
    EXPECT_TRUE(samebits(results[1][0], results[1][1]));
  }
}

// Solves on several threads at once, two tasks each (the sweep among them
// for the real kinds), every result the same bits as the same solve made
// alone.
TYPED_TEST(CInterface, SolvesOnSeveralThreads) {
  using T = TypeParam;
  const layout shapes[] = {{2000, 8, 1, 'L', 0, 0}, {20000, 4, 2, 'U', 0, 0},
                           {600, 520, 1, 'L', 0, 0}, {700, 3, 3, 'L', 2, 1}};
  std::vector<T> alone[4];
  for (int k = 0; k < 4; ++k) {
    lapacksystem<T> s(shapes[k], 11 + k);
    ASSERT_EQ(s.solve(), 0);
    s.solution(alone[k]);
  }
  std::vector<T> together[4][3];
  int status[4][3] = {};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] {
      for (int repeat = 0; repeat < 3; ++repeat) {
        lapacksystem<T> s(shapes[k], 11 + k);
        status[k][repeat] = s.solve();
        s.solution(together[k][repeat]);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int k = 0; k < 4; ++k) {
    for (int repeat = 0; repeat < 3; ++repeat) {
      EXPECT_EQ(status[k][repeat], 0);
      EXPECT_TRUE(samebits(together[k][repeat], alone[k])) << "system " << k;
    }
  }
}

TEST(CInterfaceVersion, IsTheProjectVersion) { EXPECT_STREQ(csp_version(), CSP_VERSION); }

}  // namespace
