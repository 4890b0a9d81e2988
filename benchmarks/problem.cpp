// Test systems of the solver benchmarks and the check of a computed solution.
#include "benchmarks/problem.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "bench/generate.hpp"
#include "solver/band.hpp"

namespace {

// y = A*x for the symmetric band matrix whose lower half is stored, summed
// in double precision in the generator's order: the diagonal, the row's
// entries left of it, then the column's entries below it.
template <class T>
void symmetricproduct(const T* band, std::int32_t n, std::int32_t m, const T* x, double* y) {
  const band_matrix<const T> a{band, m};
  for (std::int64_t i = 1; i <= n; ++i) {
    double s = double(a(i, i)) * x[i - 1];
    for (std::int64_t j = std::max<std::int64_t>(1, i - m); j <= i - 1; ++j) {
      s += double(a(i, j)) * x[j - 1];
    }
    for (std::int64_t j = i + 1; j <= std::min<std::int64_t>(i + m, n); ++j) {
      s += double(a(j, i)) * x[j - 1];
    }
    y[i - 1] = s;
  }
}

// ||A||_inf of the symmetric band matrix.
template <class T>
double infnorm(const T* band, std::int32_t n, std::int32_t m) {
  const band_matrix<const T> a{band, m};
  double norm = 0;
  for (std::int64_t i = 1; i <= n; ++i) {
    double row = 0;
    for (std::int64_t j = std::max<std::int64_t>(1, i - m); j <= i; ++j) row += std::fabs(a(i, j));
    for (std::int64_t j = i + 1; j <= std::min<std::int64_t>(i + m, n); ++j) {
      row += std::fabs(a(j, i));
    }
    norm = std::max(norm, row);
  }
  return norm;
}

// The larger of the two, NaN when either is NaN, so that a NaN in a
// solution cannot pass the check.
double maxnan(double norm, double value) {
  return std::isnan(norm) || value <= norm ? norm : value;
}

template <class T>
double residualratio(const bandproblem<T>& p, const T* x) {
  std::vector<double> ax(static_cast<std::size_t>(p.n));
  symmetricproduct(p.band.data(), p.n, p.m, x, ax.data());
  double residual = 0, xnorm = 0;
  for (std::int64_t i = 1; i <= p.n; ++i) {
    residual = maxnan(residual, std::fabs(double(p.b[i - 1]) - ax[i - 1]));
    xnorm = maxnan(xnorm, std::fabs(double(x[i - 1])));
  }
  const double scale = infnorm(p.band.data(), p.n, p.m) * xnorm * (p.m + 1) *
                       std::numeric_limits<T>::epsilon();
  return scale == 0 ? residual : residual / scale;
}

// The generator of each kind: the benchmark's own and its 64-bit twin.
void generate(float* band, float* b, float* x, std::int32_t n, std::int32_t m) {
  generatedata(band, b, x, n, m, 1);
}
void generate(double* band, double* b, double* x, std::int32_t n, std::int32_t m) {
  generatedata_8(band, b, x, n, m, 1);
}

template <class T>
void makeproblem(std::int32_t n, std::int32_t m, bandproblem<T>& p) {
  std::vector<T> x(static_cast<std::size_t>(n));
  p.n = n;
  p.m = m;
  p.band.assign(static_cast<std::size_t>(bandlength(n, m) + m), T(0));
  p.b.assign(static_cast<std::size_t>(n), T(0));
  generate(p.band.data(), p.b.data(), x.data(), n, m);
}

}  // namespace

void makeproblem_4(const std::int32_t& n, const std::int32_t& m, bandproblem<float>& p) {
  makeproblem(n, m, p);
}

void makeproblem_8(const std::int32_t& n, const std::int32_t& m, bandproblem<double>& p) {
  makeproblem(n, m, p);
}

double residualratio_4(const bandproblem<float>& p, const float* x) { return residualratio(p, x); }

double residualratio_8(const bandproblem<double>& p, const double* x) {
  return residualratio(p, x);
}
