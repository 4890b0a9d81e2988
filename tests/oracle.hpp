// Test support shared by the solver's tests: test matrices in all four
// element kinds, reference LAPACK's band Cholesky (the oracle for the real
// kinds), a dense complex symmetric solve and factorization (the oracle for
// the complex kinds), and LAPACK-style testing ratios.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "bench/lapack.hpp"
#include "solver/band.hpp"
#include "solver/element.hpp"

namespace oracle {

// The four element kinds, for typed tests.
using element_kinds =
    ::testing::Types<float, double, std::complex<float>, std::complex<double>>;

template <class T>
constexpr real_t<T> epsilon() {
  return std::numeric_limits<real_t<T>>::epsilon();
}

// A reproducible stream of uniform reals in [-1, 1), formed from the bits of
// a fixed generator so that it is the same with every standard library.
class randomstream {
 public:
  explicit randomstream(std::uint32_t seed) : engine_(seed) {}
  double next() { return static_cast<double>(engine_() >> 8) * 0x1p-23 - 1.0; }
  template <class T>
  T element() {
    if constexpr (is_complex_v<T>) {
      const real_t<T> re = static_cast<real_t<T>>(next());
      return T(re, static_cast<real_t<T>>(next()));
    } else {
      return static_cast<T>(next());
    }
  }

 private:
  std::mt19937 engine_;
};

// A band matrix in the solver's storage, M*(N-1)+N entries, plus M spare
// entries at the end so that it also serves as LAPACK's lower band storage
// with leading dimension M+1 (the two layouts coincide).
template <class T>
struct bandsystem {
  std::int32_t n = 0;
  std::int32_t m = 0;
  std::vector<T> band;

  band_matrix<T> at() { return band_matrix<T>{band.data(), m}; }
  T entry(std::int64_t i, std::int64_t j) const {  // symmetric (i, j), 0 outside the band
    if (i < j) std::swap(i, j);
    if (i - j > m) return T(0);
    return band[static_cast<std::size_t>(std::int64_t(m) * (j - 1) + i - 1)];
  }
};

// A random, diagonally dominant symmetric band matrix: positive definite for
// the real kinds, safely non-singular with a genuinely complex diagonal for
// the complex kinds (diagonal dominance survives every elimination step, so
// L*L^T exists without pivoting).
template <class T>
bandsystem<T> makesystem(std::int32_t n, std::int32_t m, std::uint32_t seed = 1) {
  bandsystem<T> s{n, m, std::vector<T>(static_cast<std::size_t>(std::int64_t(m + 1) * n))};
  randomstream random(seed);
  band_matrix<T> a = s.at();
  std::vector<double> rowsum(static_cast<std::size_t>(n) + 1, 0.0);
  for (std::int64_t j = 1; j <= n; ++j) {
    for (std::int64_t i = j + 1; i <= std::min<std::int64_t>(j + m, n); ++i) {
      a(i, j) = random.element<T>();
      rowsum[i] += modulus(a(i, j));
      rowsum[j] += modulus(a(i, j));
    }
  }
  for (std::int64_t j = 1; j <= n; ++j) {
    const auto d = static_cast<real_t<T>>(rowsum[j] + 1.0);
    if constexpr (is_complex_v<T>) {
      a(j, j) = T(d, d / 2);
    } else {
      a(j, j) = d;
    }
  }
  return s;
}

template <class T>
std::vector<T> randomvector(std::int64_t length, std::uint32_t seed) {
  randomstream random(seed);
  std::vector<T> v(static_cast<std::size_t>(length));
  for (T& x : v) x = random.element<T>();
  return v;
}

// y = A*x for the symmetric band matrix, nrhs columns of length N.
template <class T>
std::vector<T> multiply(const bandsystem<T>& s, const std::vector<T>& x, std::int32_t nrhs) {
  std::vector<T> y(x.size(), T(0));
  for (std::int32_t h = 0; h < nrhs; ++h) {
    for (std::int64_t i = 1; i <= s.n; ++i) {
      T sum(0);
      for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
           j <= std::min<std::int64_t>(s.n, i + s.m); ++j) {
        sum += s.entry(i, j) * x[static_cast<std::size_t>(h) * s.n + j - 1];
      }
      y[static_cast<std::size_t>(h) * s.n + i - 1] = sum;
    }
  }
  return y;
}

template <class T>
double infnorm(const std::vector<T>& v) {
  double norm = 0;
  for (const T& x : v) norm = std::max<double>(norm, modulus(x));
  return norm;
}

// ||A||_inf of the symmetric band matrix.
template <class T>
double infnorm(const bandsystem<T>& s) {
  double norm = 0;
  for (std::int64_t i = 1; i <= s.n; ++i) {
    double row = 0;
    for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
         j <= std::min<std::int64_t>(s.n, i + s.m); ++j) {
      row += modulus(s.entry(i, j));
    }
    norm = std::max(norm, row);
  }
  return norm;
}

// LAPACK's testing ratio for a computed solution x of A*x = b, per column:
// ||b - A*x||_inf / (||A||_inf * ||x||_inf * N * eps). A correct solver keeps
// it well below 30 (LAPACK's own threshold).
template <class T>
double residualratio(const bandsystem<T>& s, const std::vector<T>& b, const std::vector<T>& x,
                     std::int32_t nrhs) {
  const std::vector<T> ax = multiply(s, x, nrhs);
  const double anorm = infnorm(s);
  double worst = 0;
  for (std::int32_t h = 0; h < nrhs; ++h) {
    double residual = 0, xnorm = 0;
    for (std::int64_t i = 0; i < s.n; ++i) {
      const std::size_t k = static_cast<std::size_t>(h) * s.n + i;
      residual = std::max<double>(residual, modulus(b[k] - ax[k]));
      xnorm = std::max<double>(xnorm, modulus(x[k]));
    }
    const double denominator = anorm * xnorm * s.n * epsilon<T>();
    worst = std::max(worst, denominator > 0 ? residual / denominator : residual);
  }
  return worst;
}

// Largest difference between two arrays relative to the larger one's
// inf-norm, in units of the element kind's epsilon.
template <class T>
double differenceratio(const std::vector<T>& computed, const std::vector<T>& expected) {
  double difference = 0;
  for (std::size_t k = 0; k < computed.size(); ++k) {
    difference = std::max<double>(difference, modulus(computed[k] - expected[k]));
  }
  const double scale = std::max(infnorm(expected), std::numeric_limits<double>::min());
  return difference / (scale * epsilon<T>());
}

// Reference LAPACK's band Cholesky (?pbtrf, lower) of a real band matrix;
// returns LAPACK's info.
template <class T>
int lapackfactor(bandsystem<T>& s) {
  const int n = s.n, kd = s.m, ldab = s.m + 1;
  int info = 0;
  if constexpr (std::is_same_v<T, float>) {
    spbtrf_("L", &n, &kd, s.band.data(), &ldab, &info);
  } else {
    dpbtrf_("L", &n, &kd, s.band.data(), &ldab, &info);
  }
  return info;
}

// Reference LAPACK's band solve (?pbsv, lower) of a real band system.
template <class T>
int lapacksolve(bandsystem<T> s, std::vector<T>& b, std::int32_t nrhs) {
  const int n = s.n, kd = s.m, ldab = s.m + 1, ldb = std::max(1, s.n), columns = nrhs;
  int info = 0;
  if constexpr (std::is_same_v<T, float>) {
    spbsv_("L", &n, &kd, &columns, s.band.data(), &ldab, b.data(), &ldb, &info);
  } else {
    dpbsv_("L", &n, &kd, &columns, s.band.data(), &ldab, b.data(), &ldb, &info);
  }
  return info;
}

// Dense complex symmetric L*L^T (no conjugation) of the band matrix in
// extended precision, returned in band storage; the independent oracle for
// the complex kinds' factor.
template <class T>
std::vector<T> densefactor(const bandsystem<T>& s) {
  using wide = std::complex<long double>;
  const std::int64_t n = s.n;
  std::vector<wide> l(static_cast<std::size_t>(n * n));
  auto at = [&](std::int64_t i, std::int64_t j) -> wide& { return l[(j - 1) * n + i - 1]; };
  for (std::int64_t j = 1; j <= n; ++j) {
    for (std::int64_t i = j; i <= n; ++i) at(i, j) = wide(s.entry(i, j));
  }
  for (std::int64_t j = 1; j <= n; ++j) {
    for (std::int64_t p = 1; p < j; ++p) {
      for (std::int64_t i = j; i <= n; ++i) at(i, j) -= at(i, p) * at(j, p);
    }
    at(j, j) = std::sqrt(at(j, j));
    for (std::int64_t i = j + 1; i <= n; ++i) at(i, j) /= at(j, j);
  }
  std::vector<T> band(s.band.size(), T(0));
  band_matrix<T> out{band.data(), s.m};
  for (std::int64_t j = 1; j <= n; ++j) {
    for (std::int64_t i = j; i <= std::min<std::int64_t>(j + s.m, n); ++i) {
      out(i, j) = static_cast<T>(at(i, j));
    }
  }
  return band;
}

// Dense solve of the symmetric system by Gaussian elimination with partial
// pivoting in extended precision: the independent oracle for the complex
// kinds' solutions.
template <class T>
std::vector<T> densesolve(const bandsystem<T>& s, const std::vector<T>& b, std::int32_t nrhs) {
  using wide = std::complex<long double>;
  const std::int64_t n = s.n;
  std::vector<wide> a(static_cast<std::size_t>(n * n));
  std::vector<wide> x(b.begin(), b.end());
  auto at = [&](std::int64_t i, std::int64_t j) -> wide& { return a[(j - 1) * n + i - 1]; };
  for (std::int64_t j = 1; j <= n; ++j) {
    for (std::int64_t i = 1; i <= n; ++i) at(i, j) = wide(s.entry(i, j));
  }
  for (std::int64_t k = 1; k <= n; ++k) {
    std::int64_t pivot = k;
    for (std::int64_t i = k + 1; i <= n; ++i) {
      if (std::abs(at(i, k)) > std::abs(at(pivot, k))) pivot = i;
    }
    for (std::int64_t j = 1; j <= n; ++j) std::swap(at(k, j), at(pivot, j));
    for (std::int32_t h = 0; h < nrhs; ++h) std::swap(x[h * n + k - 1], x[h * n + pivot - 1]);
    for (std::int64_t i = k + 1; i <= n; ++i) {
      const wide factor = at(i, k) / at(k, k);
      for (std::int64_t j = k; j <= n; ++j) at(i, j) -= factor * at(k, j);
      for (std::int32_t h = 0; h < nrhs; ++h) x[h * n + i - 1] -= factor * x[h * n + k - 1];
    }
  }
  for (std::int32_t h = 0; h < nrhs; ++h) {
    for (std::int64_t i = n; i >= 1; --i) {
      wide sum = x[h * n + i - 1];
      for (std::int64_t j = i + 1; j <= n; ++j) sum -= at(i, j) * x[h * n + j - 1];
      x[h * n + i - 1] = sum / at(i, i);
    }
  }
  return std::vector<T>(x.begin(), x.end());
}

// The oracle's solution of A*X = B: reference LAPACK ?pbsv for the real
// kinds, the dense complex symmetric solve for the complex kinds.
template <class T>
std::vector<T> referencesolve(const bandsystem<T>& s, const std::vector<T>& b,
                              std::int32_t nrhs) {
  if constexpr (is_complex_v<T>) {
    return densesolve(s, b, nrhs);
  } else {
    std::vector<T> x = b;
    EXPECT_EQ(lapacksolve(s, x, nrhs), 0);
    return x;
  }
}

}  // namespace oracle
