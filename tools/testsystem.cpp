// Test systems of cspbench.

#include "tools/testsystem.hpp"

#include <algorithm>
#include <complex>

#include "bench/complexsystem.hpp"
#include "bench/generate.hpp"
#include "solver/band.hpp"

namespace {

// Position k of the band storage receives ((k-1) mod M) + 1, 1 everywhere
// when M = 0: the lower factor generatedata starts from.
void fillpattern(double* band, std::int64_t n, std::int64_t m) {
  const band_matrix<double> a{band, m};
  std::int64_t c = 0;
  for (std::int64_t j = 1; j <= n; ++j) {
    const std::int64_t last = j < n ? j + m : n;  // column N holds its diagonal only
    for (std::int64_t i = j; i <= last; ++i) {
      c = c + 1;
      if (c > m) c = 1;
      a(i, j) = static_cast<double>(c);
    }
  }
}

// b(:, r) <- A*x(:, r), in generatedata's order: diagonal, row left of the
// diagonal, column below it.
void formrighthandsides(const double* band, double* b, const double* x, std::int64_t n,
                        std::int64_t m, std::int64_t nrhs) {
  const band_matrix<const double> a{band, m};
  const column_major<const double> xs{x, n};
  const column_major<double> bs{b, n};
  for (std::int64_t r = 1; r <= nrhs; ++r) {
    for (std::int64_t i = 1; i <= n; ++i) {
      double s = a(i, i) * xs(i, r);
      for (std::int64_t j = std::max<std::int64_t>(1, i - m); j <= i - 1; ++j)
        s += a(i, j) * xs(j, r);
      for (std::int64_t j = i + 1; j <= std::min(i + m, n); ++j) s += a(j, i) * xs(j, r);
      bs(i, r) = s;
    }
  }
}

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

}  // namespace

void generatedata_8(double* band, double* b, double* x, const std::int32_t& n,
                    const std::int32_t& m, const std::int32_t& nrhs) {
  ini_random();
  fillpattern(band, n, m);
  makepositive_cb_8(band, n, m);
  const band_matrix<double> a{band, m};
  for (std::int64_t i = 1; i <= n; ++i) a(i, i) = 10.0 * a(i, i);
  if (nrhs < 1) return;
  const column_major<double> xs{x, n};
  for (std::int64_t r = 1; r <= nrhs; ++r) {
    for (std::int64_t i = 1; i <= n; ++i) {
      float value = 0;
      random_number(value);
      xs(i, r) = value;
    }
  }
  formrighthandsides(band, b, x, n, m, nrhs);
}

template <class T>
testsystem<T> buildtestsystem(std::int32_t n, std::int32_t m, std::int32_t nrhs) {
  testsystem<T> s;
  s.n = n;
  s.m = m;
  s.nrhs = nrhs;
  s.band.assign(static_cast<std::size_t>(std::int64_t(m + 1) * n), T(0));
  s.b.assign(static_cast<std::size_t>(std::int64_t(n) * nrhs), T(0));
  s.x.assign(s.b.size(), T(0));
  build(s);
  return s;
}

template testsystem<float> buildtestsystem<float>(std::int32_t, std::int32_t, std::int32_t);
template testsystem<double> buildtestsystem<double>(std::int32_t, std::int32_t, std::int32_t);
template testsystem<std::complex<float>> buildtestsystem<std::complex<float>>(std::int32_t,
                                                                              std::int32_t,
                                                                              std::int32_t);
template testsystem<std::complex<double>> buildtestsystem<std::complex<double>>(std::int32_t,
                                                                                std::int32_t,
                                                                                std::int32_t);

std::size_t elementbytes(const std::string& kind) {
  if (kind == "4") return sizeof(float);
  if (kind == "8") return sizeof(double);
  if (kind == "z4") return sizeof(std::complex<float>);
  return sizeof(std::complex<double>);
}

double problembytes(const benchoptions& options) {
  const double n = options.n, m = options.m, nrhs = options.nrhs;
  const double band = (m + 1) * n;
  const double work = options.method == "mesolution" ? 2 * n * m : 0;
  const bool realkind = options.kind == "4" || options.kind == "8";
  // The condition estimate: 2N reals and N integers.
  const double condition = realkind ? n * (2.0 * elementbytes(options.kind) + 4.0) : 0;
  return static_cast<double>(elementbytes(options.kind)) * (2 * band + 3 * n * nrhs + work) +
         condition;
}
