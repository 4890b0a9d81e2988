// Test systems of cspbench.

#include "tools/testsystem.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <type_traits>

#include "bench/complexsystem.hpp"
#include "bench/generate.hpp"
#include "solver/band.hpp"
#include "solver/element.hpp"

namespace {

void build(testsystem<float>& s) {
  generatedata(s.band.data(), s.b.data(), s.x.data(), s.n, s.m, s.nrhs);
}
void build(testsystem<double>& s) {
  generatedata_8(s.band.data(), s.b.data(), s.x.data(), s.n, s.m, s.nrhs);
}
void build(testsystem<std::complex<float>>& s) {
  complexsystem_z4(s.band.data(), s.b.data(), s.x.data(), s.n, s.m, s.nrhs);
}
void build(testsystem<std::complex<double>>& s) {
  complexsystem_z8(s.band.data(), s.b.data(), s.x.data(), s.n, s.m, s.nrhs);
}

template <class T>
void multiplyexactly(testsystem<T>& s) {
  const band_matrix<const T> a{s.band.data(), s.m};
  const column_major<const T> x{s.x.data(), s.n};
  const column_major<T> b{s.b.data(), s.n};
  for (std::int64_t r = 1; r <= s.nrhs; ++r) {
    for (std::int64_t i = 1; i <= s.n; ++i) {
      widesum<T> sum = 0;
      for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
           j <= std::min<std::int64_t>(s.n, i + s.m); ++j)
        sum += widesum<T>(i >= j ? a(i, j) : a(j, i)) * widesum<T>(x(j, r));
      b(i, r) = static_cast<T>(sum);
    }
  }
}

// Exact solutions x for the matrix of s, and b = A*x.
template <class T>
void drawsolutions(testsystem<T>& s, uniformdraws<real_t<T>>& draws) {
  for (T& entry : s.x) entry = draw<T>(draws);
  multiplyexactly(s);
}

template <class T>
void randomsystem(testsystem<T>& s, std::uint64_t seed) {
  uniformdraws<real_t<T>> draws(seed);
  const band_matrix<T> a{s.band.data(), s.m};
  std::vector<double> offdiagonal(static_cast<std::size_t>(s.n), 0.0);
  for (std::int64_t j = 1; j <= s.n; ++j) {
    for (std::int64_t i = j + 1; i <= std::min<std::int64_t>(s.n, j + s.m); ++i) {
      a(i, j) = draw<T>(draws);
      offdiagonal[static_cast<std::size_t>(i - 1)] += modulus(a(i, j));
      offdiagonal[static_cast<std::size_t>(j - 1)] += modulus(a(i, j));
    }
  }
  for (std::int64_t i = 1; i <= s.n; ++i)
    a(i, i) = dominantdiagonal<T>(offdiagonal[static_cast<std::size_t>(i - 1)]);
  drawsolutions(s, draws);
}

}  // namespace

template <class T>
testsystem<T> buildtestsystem(std::int32_t n, std::int32_t m, std::int32_t nrhs,
                              matrixsource source, std::uint64_t seed) {
  testsystem<T> s;
  s.n = n;
  s.m = m;
  s.nrhs = nrhs;
  s.band.assign(static_cast<std::size_t>(std::int64_t(m + 1) * n), T(0));
  s.b.assign(static_cast<std::size_t>(std::int64_t(n) * nrhs), T(0));
  s.x.assign(s.b.size(), T(0));
  if (source == matrixsource::random) {
    randomsystem(s, seed);
  } else {
    build(s);
  }
  return s;
}

template <class T>
std::vector<testsystem<T>> buildtestbatch(std::int32_t n, std::int32_t m, std::int32_t nrhs,
                                          matrixsource source, std::int32_t batch) {
  std::vector<testsystem<T>> systems;
  systems.reserve(static_cast<std::size_t>(batch));
  for (std::int32_t k = 0; k < batch; ++k) {
    if (source == matrixsource::random || k == 0) {
      systems.push_back(buildtestsystem<T>(n, m, nrhs, source, randomseed + k));
    } else {
      systems.push_back(systems.front());
      uniformdraws<real_t<T>> draws(randomseed + k);
      drawsolutions(systems.back(), draws);
    }
  }
  return systems;
}

#define CSPBENCH_TESTSYSTEM_KIND(T)                                                              \
  template testsystem<T> buildtestsystem(std::int32_t, std::int32_t, std::int32_t, matrixsource, \
                                         std::uint64_t);                                         \
  template std::vector<testsystem<T>> buildtestbatch(std::int32_t, std::int32_t, std::int32_t,   \
                                                     matrixsource, std::int32_t);
CSPBENCH_TESTSYSTEM_KIND(float)
CSPBENCH_TESTSYSTEM_KIND(double)
CSPBENCH_TESTSYSTEM_KIND(std::complex<float>)
CSPBENCH_TESTSYSTEM_KIND(std::complex<double>)

std::size_t elementbytes(const std::string& kind) {
  if (kind == "4") return sizeof(float);
  if (kind == "8") return sizeof(double);
  if (kind == "z4") return sizeof(std::complex<float>);
  return sizeof(std::complex<double>);
}

double problembytes(const benchoptions& options) {
  const double n = options.n, m = options.m, nrhs = options.nrhs;
  const double band = (m + 1) * n;
  // The factorization: the factor with its fill, (2M+1)*N, and 3*M*M per
  // partition, whose interiors are at least M equations long.
  const double work = options.method == "mesolution"   ? 2 * n * m
                      : options.method == "factorized" ? (5 * m + 1) * n
                                                       : 0;
  const bool realkind = options.kind == "4" || options.kind == "8";
  // The condition estimate: 2N reals and N integers.
  const double condition = realkind ? n * (2.0 * elementbytes(options.kind) + 4.0) : 0;
  const double systems = std::max<std::int32_t>(options.batch, 1);
  return systems * static_cast<double>(elementbytes(options.kind)) *
             (2 * band + 3 * n * nrhs + work) +
         condition;
}
