// Complex symmetric test system of the benchmark.

#include "bench/complexsystem.hpp"

#include <algorithm>
#include <cstdint>

#include "bench/generate.hpp"
#include "bench/product.hpp"
#include "solver/band.hpp"
#include "solver/element.hpp"

namespace {

// Off-diagonal entry (i,j), j < i: (p + q*I) / (2d). Both parts vary along
// the band, and q >= 1 keeps every imaginary part away from zero.
template <class T>
T offdiagonal(std::int64_t i, std::int64_t j) {
  using R = real_t<T>;
  const std::int64_t p = 1 + (i + j) % 3;
  const std::int64_t q = 1 + (2 * i + j) % 4;
  const R scale = R(1) / static_cast<R>(2 * (i - j));
  return T(static_cast<R>(p) * scale, static_cast<R>(q) * scale);
}

// Fills the band. The diagonal slot first collects s(i), the sum of the
// moduli of row i's off-diagonal entries (column j's entries below the
// diagonal stand for their symmetric partners in row j), and is then
// replaced by (2 s(i) + 1) times a unit number off the real axis. Slots
// below row N at the end of the storage are zeroed.
template <class T>
void fillband(T* band, std::int64_t n, std::int64_t m) {
  using R = real_t<T>;
  const band_matrix<T> a{band, m};
  for (std::int64_t j = 1; j <= n; ++j) a(j, j) = T(0);
  for (std::int64_t j = 1; j <= n; ++j) {
    for (std::int64_t i = j + 1; i <= j + m; ++i) {
      if (i > n) {
        if (j < n) a(i, j) = T(0);  // column N holds its diagonal only
        continue;
      }
      a(i, j) = offdiagonal<T>(i, j);
      const R size = modulus(a(i, j));
      a(i, i) += T(size);
      a(j, j) += T(size);
    }
  }
  const T direction(R(3) / R(5), R(4) / R(5));
  for (std::int64_t i = 1; i <= n; ++i) a(i, i) = (R(2) * a(i, i).real() + R(1)) * direction;
}

// x: real and imaginary part of each entry from two consecutive draws.
template <class T>
void drawsolutions(T* x, std::int64_t n, std::int64_t nrhs) {
  using R = real_t<T>;
  const column_major<T> xs{x, n};
  for (std::int64_t r = 1; r <= nrhs; ++r) {
    for (std::int64_t i = 1; i <= n; ++i) {
      float re = 0, im = 0;
      random_number(re);
      random_number(im);
      xs(i, r) = T(static_cast<R>(re), static_cast<R>(im));
    }
  }
}

template <class T>
void complexsystem(T* band, T* b, T* x, std::int64_t n, std::int64_t m, std::int64_t nrhs) {
  ini_random();
  if (n < 1) return;
  fillband(band, n, m);
  if (nrhs < 1) return;
  drawsolutions(x, n, nrhs);
  formrighthandsides(band, b, x, n, m, nrhs);
}

}  // namespace

void complexsystem_z4(std::complex<float>* band, std::complex<float>* b, std::complex<float>* x,
                      const std::int32_t& n, const std::int32_t& m, const std::int32_t& nrhs) {
  complexsystem(band, b, x, n, m, nrhs);
}

void complexsystem_z8(std::complex<double>* band, std::complex<double>* b, std::complex<double>* x,
                      const std::int32_t& n, const std::int32_t& m, const std::int32_t& nrhs) {
  complexsystem(band, b, x, n, m, nrhs);
}
