// Test systems of cspbench, each with its exact solution: by default
// bench1's generator for float, its double twin, and the complex symmetric
// system of the benchmark library for the complex kinds; on request random
// diagonally dominant systems of every kind.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "solver/element.hpp"
#include "tools/options.hpp"

// A test system as built, kept pristine: every timed solve starts from a
// copy of it.
template <class T>
struct testsystem {
  std::int32_t n = 0;
  std::int32_t m = 0;
  std::int32_t nrhs = 0;
  std::vector<T> band;  // (M+1)*N entries: band storage plus M spare, which
                        // is also LAPACK's lower band layout (LDAB = M+1)
  std::vector<T> b;     // N*nrhs right-hand sides, leading dimension N
  std::vector<T> x;     // N*nrhs exact solutions
};

// Where the entries of a test system come from (--matrix).
//   generator: the benchmark library's generators, as above.
//   random:    drawn from a 64-bit Mersenne Twister seeded with randomseed,
//              column by column of the band, then x column by column:
//     real kinds:    A(i,j) uniform in [-1, 1) for 0 < |i-j| <= M, and
//                    A(i,i) = d(i) = 1 + sum over k != i of |A(i,k)|;
//     complex kinds: A = A^T with A(i,j) = u + v*I, u and v uniform in
//                    [-1, 1), and A(i,i) = d(i) + d(i)/2*I, d(i) as above
//                    with the moduli of the row's entries.
//   Every row is diagonally dominant by at least 1, so A is positive
//   definite (real kinds) or non-singular (complex kinds), and
//   ||A^-1||_inf <= 1. The entries of x are drawn like the off-diagonal
//   ones; b = A*x is accumulated in extended precision and rounded once.
enum class matrixsource { generator, random };

// The seed of the random system (of system k of a batch: randomseed + k):
// the same systems for the same N, M, nrhs and kind, on every run and
// machine.
inline constexpr std::uint64_t randomseed = 20240611;

// The random systems' entries, shared with cspbench-mpi, which builds each
// process's share of the same systems.

// Uniform draws in [-1, 1) with as many random bits as the real type holds,
// so that every value is exact in it and the stream is the same on every
// standard library (the standard distributions are not).
template <class R>
class uniformdraws {
 public:
  explicit uniformdraws(std::uint64_t seed) : engine_(seed) {}
  // Passes over the next count draws, as if they had been made.
  void skip(std::uint64_t count) { engine_.discard(count); }
  R next() {
    constexpr int bits = std::numeric_limits<R>::digits;
    const R unit = std::ldexp(static_cast<R>(engine_() >> (64 - bits)), -bits);
    return 2 * unit - 1;
  }

 private:
  std::mt19937_64 engine_;
};

template <class T>
T draw(uniformdraws<real_t<T>>& draws) {
  if constexpr (is_complex_v<T>) {
    const real_t<T> re = draws.next();
    return T(re, draws.next());
  } else {
    return draws.next();
  }
}

// The diagonal entry of a row whose off-diagonal moduli sum to offdiagonal.
template <class T>
T dominantdiagonal(double offdiagonal) {
  const double d = offdiagonal + 1;
  if constexpr (is_complex_v<T>) {
    return T(static_cast<real_t<T>>(d), static_cast<real_t<T>>(d / 2));
  } else {
    return static_cast<T>(d);
  }
}

// Sums of the products for b = A*x in extended precision.
template <class T>
using widesum = std::conditional_t<is_complex_v<T>, std::complex<long double>, long double>;

// buildtestsystem(n, m, nrhs, source, seed): allocates and builds the
// system of kind T; seed is the random system's (the generator has none).
template <class T>
testsystem<T> buildtestsystem(std::int32_t n, std::int32_t m, std::int32_t nrhs,
                              matrixsource source = matrixsource::generator,
                              std::uint64_t seed = randomseed);

// buildtestbatch(n, m, nrhs, source, batch): the batch systems of --batch,
// each different, system 0 the one buildtestsystem builds.
//   random:    system k is the random system of seed randomseed + k.
//   generator: every system has the generator's matrix; system k > 0 its
//              own exact solutions, drawn like those of the random systems
//              from seed randomseed + k, with b = A*x accumulated in
//              extended precision and rounded once.
template <class T>
std::vector<testsystem<T>> buildtestbatch(std::int32_t n, std::int32_t m, std::int32_t nrhs,
                                          matrixsource source, std::int32_t batch);

// Bytes of one element of a kind ("4", "8", "z4", "z8").
std::size_t elementbytes(const std::string& kind);

// problembytes(options): the memory a run allocates: the pristine system,
// its working copies, the exact solutions, the solver's work area
// (mesolution) or factorization (factorized), and the condition estimate's
// work space (real kinds); all but the last --batch times over.
double problembytes(const benchoptions& options);
