// The band Cholesky column kernel, in all four element kinds: the factor
// against reference LAPACK (real kinds) and an extended-precision dense
// complex symmetric factorization (complex kinds), the confinement of a block
// to its own rows and columns, and the pivot test.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "solver/csp.hpp"
#include "tests/oracle.hpp"

namespace {

void decompose(float* a, std::int32_t m, std::int32_t first, std::int32_t last, float tolerance,
               std::int32_t* info, std::int32_t flagindex) {
  kernel::decompose_csp_4(a, m, first, last, tolerance, info, flagindex);
}
void decompose(double* a, std::int32_t m, std::int32_t first, std::int32_t last, double tolerance,
               std::int32_t* info, std::int32_t flagindex) {
  kernel::decompose_csp_8(a, m, first, last, tolerance, info, flagindex);
}
void decompose(std::complex<float>* a, std::int32_t m, std::int32_t first, std::int32_t last,
               float tolerance, std::int32_t* info, std::int32_t flagindex) {
  kernel::decompose_csp_z4(a, m, first, last, tolerance, info, flagindex);
}
void decompose(std::complex<double>* a, std::int32_t m, std::int32_t first, std::int32_t last,
               double tolerance, std::int32_t* info, std::int32_t flagindex) {
  kernel::decompose_csp_z8(a, m, first, last, tolerance, info, flagindex);
}

template <class T>
bool samebits(const T& x, const T& y) {
  return std::memcmp(&x, &y, sizeof(T)) == 0;
}

// Element (r, c) of a band stored with M+1 slots per column at 0-based
// position k; rows past N are padding.
struct position {
  std::int64_t r, c;
};
position at(std::size_t k, std::int32_t m) {
  const std::int64_t c = static_cast<std::int64_t>(k) / (m + 1) + 1;
  return {c + static_cast<std::int64_t>(k) % (m + 1), c};
}

// The kernel's steps written out one element at a time, in the order the
// kernel gives them: every element's sequence of roundings, which each
// kernel of the solver has to reproduce bit for bit.
template <class T>
void transcription(std::vector<T>& band, std::int64_t m, std::int64_t f, std::int64_t l) {
  const band_matrix<T> a{band.data(), m};
  for (std::int64_t i = f; i <= l; ++i) {
    for (std::int64_t p = std::max(f, i - m); p <= i - 1; ++p) {
      for (std::int64_t r = i; r <= std::min(p + m, l); ++r) {
        a(r, i) = mulsub(a(r, i), a(r, p), a(i, p));
      }
    }
    a(i, i) = principalsqrt(a(i, i));
    for (std::int64_t r = i + 1; r <= std::min(i + m, l); ++r) a(r, i) = div(a(r, i), a(i, i));
  }
}

template <class T>
void expectsamebits(const std::vector<T>& computed, const std::vector<T>& expected,
                    std::int32_t m) {
  for (std::size_t k = 0; k < computed.size(); ++k) {
    const position e = at(k, m);
    EXPECT_TRUE(samebits(computed[k], expected[k])) << "element (" << e.r << ", " << e.c << ")";
  }
}

template <class T>
class Decompose : public ::testing::Test {};
TYPED_TEST_SUITE(Decompose, oracle::element_kinds);

// The whole matrix 1..N against the oracle factor within rounding, and bit
// for bit against the transcription, over band widths from diagonal (M = 0)
// through M >= N.
TYPED_TEST(Decompose, FactorMatchesOracle) {
  using T = TypeParam;
  const struct {
    std::int32_t n, m;
  } shapes[] = {{1, 0}, {9, 0}, {1, 3}, {12, 1}, {40, 3}, {60, 8}, {7, 6}, {6, 11}, {45, 30}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(::testing::Message() << "N = " << shape.n << ", M = " << shape.m);
    oracle::bandsystem<T> s = oracle::makesystem<T>(shape.n, shape.m, 7 + shape.n);
    std::vector<T> expected, exact = s.band;
    if constexpr (is_complex_v<T>) {
      expected = oracle::densefactor(s);
    } else {
      oracle::bandsystem<T> reference = s;
      ASSERT_EQ(oracle::lapackfactor(reference), 0);
      expected = reference.band;
    }
    transcription(exact, shape.m, 1, shape.n);
    std::int32_t info[2] = {0, 0};
    decompose(s.band.data(), s.m, 1, s.n, real_t<T>(0), info, 1);
    EXPECT_EQ(info[0], 0);
    EXPECT_EQ(info[1], 0);
    EXPECT_LT(oracle::differenceratio(s.band, expected), 2.0 * (shape.m + 1));
    expectsamebits(s.band, exact, shape.m);
  }
}

// A block first..last of a larger band, which uses only the block's own
// columns: every element outside the block (the rows below last in the
// block's columns, the columns before and after, the padding) keeps its
// bits, and the block becomes what the transcription makes of it. first >
// last changes nothing at all.
TYPED_TEST(Decompose, BlockStaysInsideItsRowsAndColumns) {
  using T = TypeParam;
  const std::int32_t n = 30, m = 4;
  const struct {
    std::int32_t first, last;
  } blocks[] = {{1, 30}, {1, 12}, {9, 17}, {13, 13}, {27, 30}, {30, 30}, {18, 17}, {31, 30}};
  const oracle::bandsystem<T> original = oracle::makesystem<T>(n, m, 3);
  for (const auto& block : blocks) {
    SCOPED_TRACE(::testing::Message() << "block " << block.first << ".." << block.last);
    std::vector<T> a = original.band, exact = original.band;
    transcription(exact, m, block.first, block.last);
    std::int32_t info[2] = {0, 0};
    decompose(a.data(), m, block.first, block.last, real_t<T>(0), info, 2);
    EXPECT_EQ(info[0], 0);
    EXPECT_EQ(info[1], 0);
    for (std::size_t k = 0; k < a.size(); ++k) {
      const position e = at(k, m);
      if (e.c < block.first || e.r > block.last) {
        EXPECT_TRUE(samebits(a[k], original.band[k])) << "element (" << e.r << ", " << e.c << ")";
      }
    }
    expectsamebits(a, exact, m);
  }
}

// A factor with small Gaussian-integer entries and diagonal 2: every step of
// the kernel is exact on A = L*L^T, so the expected contents after a rejected
// pivot follow from L by hand. L has half bandwidth 2.
template <class T>
struct exactsystem {
  static constexpr std::int32_t n = 8, m = 2;
  oracle::bandsystem<T> l{n, m, std::vector<T>((m + 1) * n)};
  oracle::bandsystem<T> a{n, m, std::vector<T>((m + 1) * n)};

  exactsystem() {
    const int values[] = {1, -2, 3, 0, -1, 2, 1, 1, -3};
    int next = 0;
    for (std::int64_t j = 1; j <= n; ++j) {
      l.at()(j, j) = T(2);
      for (std::int64_t i = j + 1; i <= std::min<std::int64_t>(j + m, n); ++i) {
        const real_t<T> re = values[next++ % 9];
        if constexpr (is_complex_v<T>) {
          l.at()(i, j) = T(re, values[next++ % 9]);
        } else {
          l.at()(i, j) = re;
        }
      }
    }
    for (std::int64_t j = 1; j <= n; ++j) {
      for (std::int64_t i = j; i <= std::min<std::int64_t>(j + m, n); ++i) {
        T sum(0);
        for (std::int64_t p = std::max<std::int64_t>(1, i - m); p <= j; ++p) {
          sum += l.entry(i, p) * l.entry(j, p);
        }
        a.at()(i, j) = sum;
      }
    }
  }
};

// The updated diagonal of column k made exactly zero, and the same matrix
// with flag 2 of an info array whose other elements hold sentinels: the
// pivot is rejected, columns before k hold L, column k its updated values
// (diagonal 0, below it L(r,k)*L(k,k), unscaled), columns after k the input.
TYPED_TEST(Decompose, ZeroPivotStopsAtItsColumn) {
  using T = TypeParam;
  for (const std::int32_t k : {1, 5, 8}) {
    SCOPED_TRACE(::testing::Message() << "zero pivot in column " << k);
    exactsystem<T> s;
    s.a.at()(k, k) -= T(4);  // L(k,k)^2: the updated diagonal becomes 0
    std::vector<T> a = s.a.band;
    std::int32_t info[3] = {5, 0, 5};
    decompose(a.data(), s.m, 1, s.n, real_t<T>(0), info, 2);
    EXPECT_EQ(info[0], 5);
    EXPECT_EQ(info[1], 1);
    EXPECT_EQ(info[2], 5);
    const band_matrix<T> result{a.data(), s.m};
    for (std::int64_t j = 1; j <= s.n; ++j) {
      for (std::int64_t i = j; i <= std::min<std::int64_t>(j + s.m, s.n); ++i) {
        T expected = s.l.entry(i, j);
        if (j == k) expected = i == k ? T(0) : T(2) * s.l.entry(i, j);
        if (j > k) expected = s.a.entry(i, j);
        EXPECT_EQ(result(i, j), expected) << "element (" << i << ", " << j << ")";
      }
    }
  }
}

// An updated diagonal of exactly -1 in column 5: the real kinds reject it
// (and leave -1 there); the complex kinds accept it with the principal root
// i and go on to the oracle's factor.
TYPED_TEST(Decompose, NegativePivot) {
  using T = TypeParam;
  exactsystem<T> s;
  s.a.at()(5, 5) -= T(5);
  std::vector<T> a = s.a.band;
  std::int32_t info[2] = {0, 0};
  decompose(a.data(), s.m, 1, s.n, real_t<T>(0), info, 1);
  const band_matrix<T> result{a.data(), s.m};
  if constexpr (is_complex_v<T>) {
    EXPECT_EQ(info[0], 0);
    EXPECT_EQ(result(5, 5), T(0, 1));
    EXPECT_LT(oracle::differenceratio(a, oracle::densefactor(s.a)), 4.0 * (s.m + 1));
  } else {
    EXPECT_EQ(info[0], 1);
    EXPECT_EQ(result(5, 5), T(-1));
    EXPECT_EQ(result(6, 6), s.a.entry(6, 6));
  }
  EXPECT_EQ(info[1], 0);
}

// The threshold on the first pivot, whose value is the input diagonal: 4
// (real kinds) or 3+4i with modulus 5 (complex kinds) is rejected by a
// tolerance equal to it and accepted by the next smaller one; the least
// positive number passes tolerance 0. A set flag is never cleared.
TYPED_TEST(Decompose, PivotThreshold) {
  using T = TypeParam;
  using R = real_t<T>;
  T pivot;
  if constexpr (is_complex_v<T>) {
    pivot = T(3, 4);
  } else {
    pivot = T(4);
  }
  const R size = modulus(pivot);
  const R tiny = std::numeric_limits<R>::denorm_min();
  const struct {
    T diagonal;
    R tolerance;
    bool rejected;
  } cases[] = {{pivot, size, true},
               {pivot, std::nextafter(size, R(0)), false},
               {pivot, size * 2, true},
               {T(tiny), R(0), false},
               {T(0), R(0), true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "diagonal " << c.diagonal << ", tolerance " << c.tolerance);
    for (const std::int32_t previous : {0, 1}) {
      T a[1] = {c.diagonal};
      std::int32_t info[2] = {previous, 0};
      decompose(a, 0, 1, 1, c.tolerance, info, 1);
      EXPECT_EQ(info[0], c.rejected ? 1 : previous);
      EXPECT_EQ(info[1], 0);
      EXPECT_TRUE(samebits(a[0], c.rejected ? c.diagonal : principalsqrt(c.diagonal)));
    }
  }
}

// A NaN anywhere in the matrix reaches a pivot and is rejected rather than
// carried into a factor reported as good; for the complex kinds also a NaN
// in one part only, beside an infinite part (whose modulus is infinite).
TYPED_TEST(Decompose, NaNIsRejected) {
  using T = TypeParam;
  using R = real_t<T>;
  const R nan = std::numeric_limits<R>::quiet_NaN();
  const R inf = std::numeric_limits<R>::infinity();
  std::vector<T> poisons = {T(nan)};
  if constexpr (is_complex_v<T>) poisons = {T(nan, 0), T(1, nan), T(inf, nan), T(nan, inf)};
  const struct { std::int32_t i, j; } places[] = {{1, 1}, {9, 9}, {12, 9}, {25, 25}};
  for (const T& poison : poisons) {
    for (const auto& place : places) {
      SCOPED_TRACE(::testing::Message() << poison << " at (" << place.i << ", " << place.j << ")");
      oracle::bandsystem<T> s = oracle::makesystem<T>(25, 3, 11);
      s.at()(place.i, place.j) = poison;
      std::int32_t info[2] = {0, 0};
      decompose(s.band.data(), s.m, 1, s.n, R(0), info, 1);
      EXPECT_EQ(info[0], 1);
      EXPECT_EQ(info[1], 0);
    }
  }
}

}  // namespace
