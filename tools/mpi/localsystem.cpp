// A process's share of cspbench's test systems. Each source is rebuilt
// column by column from its definition (bench/generate.cpp,
// bench/complexsystem.cpp, tools/testsystem.cpp) in the same operations and
// the same order, so every entry comes out with the same bits; the random
// streams are advanced past the draws of other processes' columns.

#include "tools/mpi/localsystem.hpp"

#include <complex>

#include "bench/generate.hpp"
#include "solver/element.hpp"

namespace {

// The band under construction, columns first.. in band storage.
template <class T>
struct bandwindow {
  T* a;
  std::int64_t first;
  std::int64_t m;
  T& operator()(std::int64_t i, std::int64_t j) const { return a[(j - first) * (m + 1) + i - j]; }
};

// Rows rows.first .. rows.last() of nrhs columns, leading dimension rows.count.
template <class T>
struct rowwindow {
  T* p;
  columnrange rows;
  T& operator()(std::int64_t i, std::int64_t r) const {
    return p[(r - 1) * rows.count + (i - rows.first)];
  }
};

template <class T>
constexpr std::int64_t realsper = is_complex_v<T> ? 2 : 1;

// ---------------------------------------------------------------------------
// bench1's generator (real kinds): the band of F*F^T with its diagonal
// times 10, F the fixed pattern of fillpattern.
// ---------------------------------------------------------------------------

// F(i, j): fillpattern's counter runs 1..M over the storage positions, and
// every column before j holds M+1 of them.
template <class T>
T pattern(std::int64_t i, std::int64_t j, std::int64_t m) {
  return m == 0 ? T(1) : static_cast<T>(((j - 1) * (m + 1) + (i - j)) % m + 1);
}

// (F*F^T)(c, k), c >= k, summed as makepositive_cb sums it.
template <class T>
T factorproduct(std::int64_t c, std::int64_t k, std::int64_t m) {
  T s = pattern<T>(c, k, m) * pattern<T>(k, k, m);
  for (std::int64_t l = std::max<std::int64_t>(1, c - m); l <= k - 1; ++l)
    s += pattern<T>(c, l, m) * pattern<T>(k, l, m);
  return s;
}

template <class T>
void generatorband(const bandwindow<T>& a, std::int64_t last, std::int64_t n) {
  for (std::int64_t j = a.first; j <= last; ++j) {
    for (std::int64_t i = j; i <= std::min(n, j + a.m); ++i) a(i, j) = factorproduct<T>(i, j, a.m);
    a(j, j) = T(10) * a(j, j);
  }
}

// ---------------------------------------------------------------------------
// The complex symmetric system of bench/complexsystem.hpp.
// ---------------------------------------------------------------------------

template <class T>
T complexoffdiagonal(std::int64_t i, std::int64_t j) {
  using R = real_t<T>;
  const std::int64_t p = 1 + (i + j) % 3;
  const std::int64_t q = 1 + (2 * i + j) % 4;
  const R scale = R(1) / static_cast<R>(2 * (i - j));
  return T(static_cast<R>(p) * scale, static_cast<R>(q) * scale);
}

// The diagonal of row d: s(d) summed as fillband's column loop reaches the
// row's entries, those left of the diagonal first.
template <class T>
T complexdiagonal(std::int64_t d, std::int64_t n, std::int64_t m) {
  using R = real_t<T>;
  R s = 0;
  for (std::int64_t j = std::max<std::int64_t>(1, d - m); j < d; ++j)
    s += modulus(complexoffdiagonal<T>(d, j));
  for (std::int64_t i = d + 1; i <= std::min(n, d + m); ++i)
    s += modulus(complexoffdiagonal<T>(i, d));
  const T direction(R(3) / R(5), R(4) / R(5));
  return (R(2) * s + R(1)) * direction;
}

template <class T>
void complexband(const bandwindow<T>& a, std::int64_t last, std::int64_t n) {
  for (std::int64_t j = a.first; j <= last; ++j) {
    a(j, j) = complexdiagonal<T>(j, n, a.m);
    for (std::int64_t i = j + 1; i <= std::min(n, j + a.m); ++i)
      a(i, j) = complexoffdiagonal<T>(i, j);
  }
}

// The generators' exact solutions: the benchmark's stream of 32-bit draws
// from ini_random on, column by column, a complex entry from two draws.
template <class T>
void generatorsolutions(const rowwindow<T>& x, std::int64_t n, std::int32_t nrhs) {
  using R = real_t<T>;
  ini_random();
  std::int64_t made = 0;
  float draw = 0;
  for (std::int64_t r = 1; r <= nrhs; ++r) {
    const std::int64_t start = ((r - 1) * n + x.rows.first - 1) * realsper<T>;
    for (; made < start; ++made) random_number(draw);
    for (std::int64_t i = x.rows.first; i <= x.rows.last(); ++i) {
      random_number(draw);
      if constexpr (is_complex_v<T>) {
        float imaginary = 0;
        random_number(imaginary);
        x(i, r) = T(static_cast<R>(draw), static_cast<R>(imaginary));
      } else {
        x(i, r) = static_cast<T>(draw);
      }
      made += realsper<T>;
    }
  }
}

// b = A*x as formrighthandsides forms it, in the element type.
template <class T>
void generatorrighthandsides(localsystem<T>& s, const rowwindow<const T>& x) {
  const rowwindow<T> b{s.b.data(), s.own};
  for (std::int64_t r = 1; r <= s.nrhs; ++r) {
    for (std::int64_t i = s.own.first; i <= s.own.last(); ++i) {
      T sum = mul(s.entry(i, i), x(i, r));
      for (std::int64_t j = std::max<std::int64_t>(1, i - s.m); j <= i - 1; ++j)
        sum += mul(s.entry(i, j), x(j, r));
      for (std::int64_t j = i + 1; j <= std::min<std::int64_t>(i + s.m, s.n); ++j)
        sum += mul(s.entry(j, i), x(j, r));
      b(i, r) = sum;
    }
  }
}

template <class T>
void generatorsystem(localsystem<T>& s, const rowwindow<T>& x) {
  const bandwindow<T> a{s.band.data(), s.lo, s.m};
  if constexpr (is_complex_v<T>) {
    complexband(a, s.own.last(), s.n);
  } else {
    generatorband(a, s.own.last(), s.n);
  }
  generatorsolutions(x, s.n, s.nrhs);
  generatorrighthandsides(s, rowwindow<const T>{x.p, x.rows});
}

// ---------------------------------------------------------------------------
// The random systems of tools/testsystem.cpp: the entries below the diagonal
// drawn column by column, then the exact solutions.
// ---------------------------------------------------------------------------

// Entries below the diagonal in columns 1 .. j-1: min(M, N-c) in column c.
std::int64_t entriesbefore(std::int64_t j, std::int64_t n, std::int64_t m) {
  const std::int64_t full = std::clamp<std::int64_t>(n - m, 0, j - 1);  // M entries each
  const std::int64_t a = full + 1, b = j - 1;  // columns c with N-c entries
  return full * m + (b >= a ? (b - a + 1) * n - (a + b) * (b - a + 1) / 2 : 0);
}

// Draws the band's columns, and M more before them: a diagonal entry
// depends on its row's entries left of it. The diagonal sums are formed
// in the column loop's order, as randomsystem forms them.
template <class T>
void randomband(localsystem<T>& s, uniformdraws<real_t<T>>& draws) {
  const std::int64_t n = s.n, m = s.m, last = s.own.last();
  const std::int64_t from = std::max<std::int64_t>(1, s.lo - m);
  std::vector<T> columns(static_cast<std::size_t>((m + 1) * (last - from + 1)));
  const bandwindow<T> w{columns.data(), from, m};
  draws.skip(static_cast<std::uint64_t>(entriesbefore(from, n, m) * realsper<T>));
  for (std::int64_t j = from; j <= last; ++j)
    for (std::int64_t i = j + 1; i <= std::min(n, j + m); ++i) w(i, j) = draw<T>(draws);
  for (std::int64_t d = s.lo; d <= last; ++d) {
    double offdiagonal = 0;
    for (std::int64_t j = std::max<std::int64_t>(1, d - m); j < d; ++j)
      offdiagonal += modulus(w(d, j));
    for (std::int64_t i = d + 1; i <= std::min(n, d + m); ++i) offdiagonal += modulus(w(i, d));
    w(d, d) = dominantdiagonal<T>(offdiagonal);
  }
  std::copy(columns.begin() + (s.lo - from) * (m + 1), columns.end(), s.band.begin());
}

template <class T>
void randomsolutions(const rowwindow<T>& x, std::int64_t n, std::int64_t m, std::int32_t nrhs,
                     std::uint64_t seed) {
  uniformdraws<real_t<T>> draws(seed);
  const std::int64_t band = entriesbefore(n + 1, n, m);
  std::int64_t made = 0;
  for (std::int64_t r = 1; r <= nrhs; ++r) {
    const std::int64_t start = (band + (r - 1) * n + x.rows.first - 1) * realsper<T>;
    draws.skip(static_cast<std::uint64_t>(start - made));
    for (std::int64_t i = x.rows.first; i <= x.rows.last(); ++i) x(i, r) = draw<T>(draws);
    made = start + x.rows.count * realsper<T>;
  }
}

// b = A*x as multiplyexactly forms it: in extended precision, rounded once.
template <class T>
void exactrighthandsides(localsystem<T>& s, const rowwindow<const T>& x) {
  const rowwindow<T> b{s.b.data(), s.own};
  for (std::int64_t r = 1; r <= s.nrhs; ++r) {
    for (std::int64_t i = s.own.first; i <= s.own.last(); ++i) {
      widesum<T> sum = 0;
      for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
           j <= std::min<std::int64_t>(s.n, i + s.m); ++j)
        sum += widesum<T>(s.entry(i, j)) * widesum<T>(x(j, r));
      b(i, r) = static_cast<T>(sum);
    }
  }
}

template <class T>
void randomsystem(localsystem<T>& s, const rowwindow<T>& x, std::uint64_t seed) {
  uniformdraws<real_t<T>> draws(seed);
  randomband(s, draws);
  randomsolutions(x, s.n, s.m, s.nrhs, seed);
  exactrighthandsides(s, rowwindow<const T>{x.p, x.rows});
}

}  // namespace

columnrange haloof(const columnrange& own, std::int64_t n, std::int32_t m) {
  if (own.count == 0) return own;
  const std::int64_t first = std::max<std::int64_t>(1, own.first - m);
  return {first, std::min<std::int64_t>(n, own.last() + m) - first + 1};
}

template <class T>
localsystem<T> buildlocalsystem(std::int32_t n, std::int32_t m, std::int32_t nrhs,
                                matrixsource source, std::uint64_t seed, const columnrange& own) {
  localsystem<T> s;
  s.n = n;
  s.m = m;
  s.nrhs = nrhs;
  s.own = own;
  const columnrange halo = haloof(own, n, m);
  s.lo = halo.first;
  s.b.assign(static_cast<std::size_t>(s.ld() * nrhs), T(0));
  s.x.assign(s.b.size(), T(0));
  if (own.count == 0) return s;
  s.band.assign(static_cast<std::size_t>((m + 1) * (own.last() - s.lo + 1)), T(0));
  std::vector<T> solutions(static_cast<std::size_t>(halo.count * nrhs));
  const rowwindow<T> x{solutions.data(), halo};
  if (source == matrixsource::random) {
    randomsystem(s, x, seed);
  } else {
    generatorsystem(s, x);
  }
  const rowwindow<T> ownx{s.x.data(), own};
  for (std::int64_t r = 1; r <= nrhs; ++r)
    for (std::int64_t i = own.first; i <= own.last(); ++i) ownx(i, r) = x(i, r);
  return s;
}

template localsystem<float> buildlocalsystem(std::int32_t, std::int32_t, std::int32_t, matrixsource,
                                             std::uint64_t, const columnrange&);
template localsystem<double> buildlocalsystem(std::int32_t, std::int32_t, std::int32_t,
                                              matrixsource, std::uint64_t, const columnrange&);
template localsystem<std::complex<float>> buildlocalsystem(std::int32_t, std::int32_t, std::int32_t,
                                                           matrixsource, std::uint64_t,
                                                           const columnrange&);
template localsystem<std::complex<double>> buildlocalsystem(std::int32_t, std::int32_t,
                                                            std::int32_t, matrixsource,
                                                            std::uint64_t, const columnrange&);
