// Verification of the solves of cspbench.

#include "tools/verify.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "solver/band.hpp"
#include "solver/element.hpp"
#include "tools/lapack.hpp"

namespace {

// The larger of two norms or ratios; a NaN is the worst of all and is never
// dropped (std::max would drop one that comes second), so that a solution
// holding a NaN cannot pass.
double worse(double x, double y) { return std::isnan(x) || y <= x ? x : y; }

// Entry (i, j) of the symmetric matrix whose lower half is stored.
template <class T>
T symmetricentry(const band_matrix<const T>& a, std::int64_t i, std::int64_t j) {
  return i >= j ? a(i, j) : a(j, i);
}

template <class T>
double infnorm(const testsystem<T>& s) {
  const band_matrix<const T> a{s.band.data(), s.m};
  double norm = 0;
  for (std::int64_t i = 1; i <= s.n; ++i) {
    double row = 0;
    for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
         j <= std::min<std::int64_t>(s.n, i + s.m); ++j)
      row += modulus(symmetricentry(a, i, j));
    norm = std::max(norm, row);
  }
  return norm;
}

// 1 / min_i(|a_ii| - sum_{j != i} |a_ij|): a bound on ||A^-1||_inf for a
// strictly diagonally dominant matrix; NaN when A is not one.
template <class T>
double dominancebound(const testsystem<T>& s) {
  const band_matrix<const T> a{s.band.data(), s.m};
  double margin = std::numeric_limits<double>::infinity();
  for (std::int64_t i = 1; i <= s.n; ++i) {
    double offdiagonal = 0;
    for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
         j <= std::min<std::int64_t>(s.n, i + s.m); ++j)
      if (j != i) offdiagonal += modulus(symmetricentry(a, i, j));
    margin = std::min(margin, static_cast<double>(modulus(a(i, i))) - offdiagonal);
  }
  return margin > 0 ? 1 / margin : std::numeric_limits<double>::quiet_NaN();
}

// ||b(:, r) - A*x(:, r)||_inf.
template <class T>
double residualnorm(const testsystem<T>& s, const T* solution, std::int64_t r) {
  const band_matrix<const T> a{s.band.data(), s.m};
  const column_major<const T> xs{solution, s.n};
  const column_major<const T> bs{s.b.data(), s.n};
  double norm = 0;
  for (std::int64_t i = 1; i <= s.n; ++i) {
    wide_t<T> sum = wide_t<T>(bs(i, r));
    for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
         j <= std::min<std::int64_t>(s.n, i + s.m); ++j)
      sum -= wide_t<T>(symmetricentry(a, i, j)) * wide_t<T>(xs(j, r));
    norm = worse(norm, static_cast<double>(std::abs(sum)));
  }
  return norm;
}

// ||v(:, r)||_inf and ||v(:, r) - w(:, r)||_inf.
template <class T>
double columnnorm(const T* v, std::int64_t n, std::int64_t r) {
  const column_major<const T> vs{v, n};
  double norm = 0;
  for (std::int64_t i = 1; i <= n; ++i) norm = worse(norm, modulus(vs(i, r)));
  return norm;
}
template <class T>
double differencenorm(const T* v, const T* w, std::int64_t n, std::int64_t r) {
  const column_major<const T> vs{v, n};
  const column_major<const T> ws{w, n};
  double norm = 0;
  for (std::int64_t i = 1; i <= n; ++i) norm = worse(norm, modulus(vs(i, r) - ws(i, r)));
  return norm;
}

// numerator / denominator, or the numerator itself where the denominator
// vanishes (a zero solution), as LAPACK's testing routines do.
double ratio(double numerator, double denominator) {
  return denominator > 0 ? numerator / denominator : numerator;
}

}  // namespace

template <class T>
systemnorms systemnormsof(const testsystem<T>& s, std::vector<T>& scratch) {
  systemnorms norms;
  norms.anorm = infnorm(s);
  if constexpr (is_complex_v<T>) {
    norms.condition = norms.anorm * dominancebound(s);
    norms.source = "diagonal dominance bound";
  } else {
    std::copy(s.band.begin(), s.band.end(), scratch.begin());
    if (lapackcondition(scratch.data(), s.n, s.m, norms.anorm, norms.condition) != 0)
      norms.condition = std::numeric_limits<double>::quiet_NaN();
    norms.source = std::is_same_v<T, float> ? "LAPACK spbtrf + slacn2" : "LAPACK dpbtrf + dlacn2";
  }
  return norms;
}

template <class T>
checkresult checksolution(const testsystem<T>& s, const T* solution, std::int32_t status,
                          const systemnorms& norms) {
  std::vector<columnnorms> columns;
  for (std::int64_t r = 1; r <= s.nrhs; ++r)
    columns.push_back({differencenorm(solution, s.x.data(), s.n, r), columnnorm(s.x.data(), s.n, r),
                       residualnorm(s, solution, r), columnnorm(solution, s.n, r)});
  return verdict(columns, status, norms, s.n, epsilonof<T>());
}

checkresult verdict(const std::vector<columnnorms>& columns, std::int32_t status,
                    const systemnorms& norms, std::int64_t n, double eps) {
  checkresult check;
  check.status = status;
  for (const columnnorms& c : columns) {
    const double error = ratio(c.difference, c.exact);
    const double residual = ratio(c.residual, norms.anorm * c.solution * n * eps);
    check.relativeerror = worse(check.relativeerror, error);
    check.residualratio = worse(check.residualratio, residual);
  }
  check.errorratio = check.relativeerror / (norms.condition * eps);
  check.pass =
      status == 0 && check.errorratio <= checkthreshold && check.residualratio <= checkthreshold;
  return check;
}

checkresult worstof(const checkresult& a, const checkresult& b) {
  checkresult w;
  w.status = a.status != 0 ? a.status : b.status;
  w.relativeerror = worse(a.relativeerror, b.relativeerror);
  w.errorratio = worse(a.errorratio, b.errorratio);
  w.residualratio = worse(a.residualratio, b.residualratio);
  w.pass = a.pass && b.pass;
  return w;
}

template systemnorms systemnormsof(const testsystem<float>&, std::vector<float>&);
template systemnorms systemnormsof(const testsystem<double>&, std::vector<double>&);
template systemnorms systemnormsof(const testsystem<std::complex<float>>&,
                                   std::vector<std::complex<float>>&);
template systemnorms systemnormsof(const testsystem<std::complex<double>>&,
                                   std::vector<std::complex<double>>&);
template checkresult checksolution(const testsystem<float>&, const float*, std::int32_t,
                                   const systemnorms&);
template checkresult checksolution(const testsystem<double>&, const double*, std::int32_t,
                                   const systemnorms&);
template checkresult checksolution(const testsystem<std::complex<float>>&,
                                   const std::complex<float>*, std::int32_t, const systemnorms&);
template checkresult checksolution(const testsystem<std::complex<double>>&,
                                   const std::complex<double>*, std::int32_t, const systemnorms&);
