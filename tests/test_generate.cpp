// Test system generator and its double twin: the band against the closed
// form of its entries and a dense product, b against an independent product,
// the random stream.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

#include "bench/generate.hpp"
#include "solver/band.hpp"

namespace {

// Row factor of the fill pattern: every stored entry of row i holds it.
double rowfactor(std::int64_t i, std::int64_t m) { return m > 0 ? double((i - 1) % m + 1) : 1.0; }

// Entry (i, j), j <= i <= j+M, of the generated matrix in closed form:
// (F*F^T)(i,j) counts the columns l = max(1, i-M) .. j, each contributing
// r(i)*r(j); the diagonal is then scaled by 10.
double closedform(std::int64_t i, std::int64_t j, std::int64_t m) {
  const double count = double(j - std::max<std::int64_t>(1, i - m) + 1);
  const double entry = count * rowfactor(i, m) * rowfactor(j, m);
  return i == j ? 10.0 * entry : entry;
}

TEST(Generate, SmallSystemStorageByHand) {
  const std::int32_t n = 5, m = 2, nrhs = 1;
  std::vector<float> band(bandlength(n, m)), b(n), x(n);
  generatedata(band.data(), b.data(), x.data(), n, m, nrhs);
  // Position 12 lies below row N in column 4 and keeps its fill value 2.
  const std::vector<float> expected = {10, 2, 1, 80, 4, 4, 30, 4, 1, 120, 4, 2, 30};
  EXPECT_EQ(band, expected);
}

TEST(Generate, RepeatsBitForBit) {
  const std::int32_t n = 300, m = 8, nrhs = 2;
  std::vector<float> band1(bandlength(n, m)), b1(n * nrhs), x1(n * nrhs);
  std::vector<float> band2(band1.size(), -1.0f), b2(b1.size(), -1.0f), x2(x1.size(), -1.0f);
  generatedata(band1.data(), b1.data(), x1.data(), n, m, nrhs);
  generatedata(band2.data(), b2.data(), x2.data(), n, m, nrhs);
  EXPECT_EQ(band1, band2);
  EXPECT_EQ(b1, b2);
  EXPECT_EQ(x1, x2);
}

// After generatedata the stream stands exactly N*nrhs draws past the seed.
TEST(Generate, DrawsExactlyNTimesNrhs) {
  const std::int32_t n = 6, m = 2;
  std::vector<float> band(bandlength(n, m)), b(2 * n), x(2 * n);
  std::vector<float> stream(2 * n + 1);
  ini_random();
  for (float& v : stream) random_number(v);

  for (std::int32_t nrhs : {0, 1, 2}) {
    SCOPED_TRACE(nrhs);
    std::fill(b.begin(), b.end(), -7.0f);
    std::fill(x.begin(), x.end(), -7.0f);
    generatedata(band.data(), b.data(), x.data(), n, m, nrhs);
    float next = -1.0f;
    random_number(next);
    EXPECT_EQ(next, stream[n * nrhs]);
    if (nrhs == 0) {
      EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](float v) { return v == -7.0f; }));
      EXPECT_TRUE(std::all_of(x.begin(), x.end(), [](float v) { return v == -7.0f; }));
    }
  }
}

TEST(Generate, EmptyOrderWritesNothing) {
  const std::int32_t n = 0, m = 3, nrhs = 1;
  std::vector<float> band(8, -3.0f), b(4, -3.0f), x(4, -3.0f);
  generatedata(band.data(), b.data(), x.data(), n, m, nrhs);
  for (const auto* v : {&band, &b, &x})
    EXPECT_TRUE(std::all_of(v->begin(), v->end(), [](float e) { return e == -3.0f; }));
}

void generate(float* band, float* b, float* x, std::int32_t n, std::int32_t m, std::int32_t nrhs) {
  generatedata(band, b, x, n, m, nrhs);
}
void generate(double* band, double* b, double* x, std::int32_t n, std::int32_t m,
              std::int32_t nrhs) {
  generatedata_8(band, b, x, n, m, nrhs);
}

// Band entries against the closed form (M = 0 gives 10 times the identity),
// x against the seeded stream column after column (widened for double), and
// b against A*x formed independently in extended precision, within the
// 2M+1 roundings of a sum in T.
template <class T>
void checkgenerated(std::int32_t n, std::int32_t m, std::int32_t nrhs) {
  std::vector<T> band(bandlength(n, m)), b(std::size_t(n) * nrhs), x(std::size_t(n) * nrhs);
  generate(band.data(), b.data(), x.data(), n, m, nrhs);
  const band_matrix<T> a{band.data(), m};
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j; i <= std::min<std::int64_t>(j + m, n); ++i)
      ASSERT_EQ(a(i, j), closedform(i, j, m)) << "(" << i << "," << j << ")";

  ini_random();
  for (std::size_t k = 0; k < x.size(); ++k) {
    float v = -1.0f;
    random_number(v);
    ASSERT_EQ(x[k], T(v)) << k;
  }

  const long double eps = std::numeric_limits<T>::epsilon();
  const column_major<T> xs{x.data(), n}, bs{b.data(), n};
  for (std::int64_t r = 1; r <= nrhs; ++r) {
    for (std::int64_t i = 1; i <= n; ++i) {
      long double exact = 0.0L, magnitude = 0.0L;
      for (std::int64_t j = std::max<std::int64_t>(1, i - m); j <= std::min<std::int64_t>(i + m, n); ++j) {
        const long double entry = j <= i ? closedform(i, j, m) : closedform(j, i, m);
        exact += entry * xs(j, r);
        magnitude += std::fabs(entry * xs(j, r));
      }
      const long double ratio =
          std::fabs(bs(i, r) - exact) / ((2 * m + 1) * eps * std::max(magnitude, 1e-30L));
      ASSERT_LT(ratio, 1.0L) << "b(" << i << "," << r << ")";
    }
  }
}

class GenerateGrid : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(GenerateGrid, MatchesClosedFormAndProduct) {
  const auto [n, m, nrhs] = GetParam();
  checkgenerated<float>(n, m, nrhs);
}

// The double twin: the same checks to double precision, and its band and x
// are exactly generatedata's widened.
TEST_P(GenerateGrid, DoubleTwinMatchesClosedFormAndProduct) {
  const auto [n, m, nrhs] = GetParam();
  checkgenerated<double>(n, m, nrhs);
  std::vector<float> band4(bandlength(n, m)), b4(std::size_t(n) * nrhs), x4(b4.size());
  std::vector<double> band8(band4.size()), b8(b4.size()), x8(b4.size());
  generatedata(band4.data(), b4.data(), x4.data(), n, m, nrhs);
  generatedata_8(band8.data(), b8.data(), x8.data(), n, m, nrhs);
  EXPECT_EQ(std::vector<double>(band4.begin(), band4.end()), band8);
  EXPECT_EQ(std::vector<double>(x4.begin(), x4.end()), x8);
}

INSTANTIATE_TEST_SUITE_P(Shapes, GenerateGrid,
                         ::testing::Values(std::make_tuple(1, 0, 1), std::make_tuple(1, 4, 2),
                                           std::make_tuple(5, 2, 1), std::make_tuple(7, 0, 3),
                                           std::make_tuple(12, 20, 2), std::make_tuple(30, 3, 3),
                                           std::make_tuple(200, 8, 2)));

// The published first outputs of xoshiro128** from the state {1, 2, 3, 4}:
// each value must be the top 24 bits of one of them times 2^-24.
TEST(RandomNumber, Xoshiro128StarStarReferenceStream) {
  std::int32_t n = 0;
  random_seedsize(n);
  ASSERT_EQ(n, 4);
  ASSERT_LE(n, def_random::seedcount);
  const std::int32_t state[4] = {1, 2, 3, 4};
  random_setseed(state);
  const std::uint32_t outputs[] = {11520u, 0u, 5927040u, 70819200u, 2031721883u,
                                   1637235492u, 1287239034u, 3734860849u, 3729100597u, 4258142804u};
  for (std::uint32_t word : outputs) {
    float r = -1.0f;
    random_number(r);
    EXPECT_EQ(r, std::ldexp(float(word >> 8), -24));
  }
}

// makepositive_cb against a dense F*F^T. Entries are small integers, so both
// sides are exact in either precision.
template <class T>
class MakePositive : public ::testing::Test {};
using RealKinds = ::testing::Types<float, double>;
TYPED_TEST_SUITE(MakePositive, RealKinds);

void makepositive(float* band, std::int32_t n, std::int32_t m) { makepositive_cb_4(band, n, m); }
void makepositive(double* band, std::int32_t n, std::int32_t m) { makepositive_cb_8(band, n, m); }

TYPED_TEST(MakePositive, MatchesDenseProduct) {
  using T = TypeParam;
  for (const auto& [n, m] : {std::pair{9, 3}, std::pair{4, 6}, std::pair{6, 0}, std::pair{1, 2}}) {
    SCOPED_TRACE(::testing::Message() << "N=" << n << " M=" << m);
    const T outside = 99;  // storage slots below row N must keep this
    std::vector<T> band(bandlength(n, m), outside);
    const band_matrix<T> a{band.data(), m};
    std::vector<double> f(std::size_t(n) * n, 0.0);  // dense F, row-major
    for (std::int64_t j = 1; j <= n; ++j)
      for (std::int64_t i = j; i <= std::min<std::int64_t>(j + m, n); ++i) {
        a(i, j) = T((i * 7 + j * 3) % 9 - 4);
        f[(i - 1) * n + (j - 1)] = double(a(i, j));
      }
    makepositive(band.data(), n, m);
    for (std::int64_t j = 1; j <= n; ++j) {
      for (std::int64_t i = j; i <= j + m; ++i) {
        if (i > n) {
          if (j < n) {
            EXPECT_EQ(a(i, j), outside);
          }
          continue;
        }
        double product = 0.0;
        for (std::int64_t l = 1; l <= n; ++l) product += f[(i - 1) * n + (l - 1)] * f[(j - 1) * n + (l - 1)];
        EXPECT_EQ(double(a(i, j)), product) << "(" << i << "," << j << ")";
      }
    }
  }
}

}  // namespace
