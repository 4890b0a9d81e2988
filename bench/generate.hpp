// Test system generator of the benchmark: a symmetric positive definite band
// matrix in band storage, a random exact solution x and the right-hand side
// b = A*x. Every call reseeds the random number generator with the fixed
// seed table, so repeated calls build bit-identical systems.
#pragma once

#include <cstdint>

namespace def_random {
// Seed table of the generator; ini_random uses its first random_seedsize
// entries, in table order.
inline constexpr std::int32_t seedcount = 8;
inline constexpr std::int32_t seed[seedcount] = {12345678, 87654321, 23456781, 76543218,
                                                 34567812, 65432187, 45678123, 54321876};
}  // namespace def_random

// ---------------------------------------------------------------------------
// Random number generator: one process-wide xoshiro128** stream (Blackman
// and Vigna), seeded from four 32-bit words. Each value is the top 24 bits
// of one 32-bit output scaled by 2^-24, so the stream of 32-bit reals is the
// same with every compiler and standard library.
// ---------------------------------------------------------------------------

// random_seedsize(n)
//   n    (out) number of 32-bit words the generator is seeded from (4).
void random_seedsize(std::int32_t& n);

// random_setseed(put)
//   put  (in)  random_seedsize words, taken as unsigned 32-bit state words
//              in order; they must not all be zero.
void random_setseed(const std::int32_t* put);

// random_number(r)
//   r    (out) the next value of the stream, uniform in [0, 1), a multiple
//              of 2^-24.
void random_number(float& r);

// ini_random()
//   Seeds the generator from the first random_seedsize entries of
//   def_random::seed.
void ini_random();

// ---------------------------------------------------------------------------
// Generator
// ---------------------------------------------------------------------------

// generatedata(band, b, x, n, m, nrhs)
//   band (out) M*(N-1)+N entries: the band matrix, lower triangle in band
//              storage (element (i,j) at 1-based position M*(j-1)+i).
//   b    (out) N*nrhs entries: the right-hand sides A*x, leading dimension N.
//              Left untouched when nrhs < 1.
//   x    (out) N*nrhs entries: the random exact solutions, drawn column by
//              column. Left untouched when nrhs < 1.
//   n    (in)  order N of the matrix; nothing is written when N < 1.
//   m    (in)  half bandwidth M >= 0.
//   nrhs (in)  number of right-hand sides; below 1 nothing is drawn.
// The band is the product F*F^T of a fixed-pattern lower band factor F with
// its diagonal then multiplied by 10; every entry is a small integer.
void generatedata(float* band, float* b, float* x, const std::int32_t& n,
                  const std::int32_t& m, const std::int32_t& nrhs);

// generatedata_8(band, b, x, n, m, nrhs): generatedata in 64-bit reals. The
// band is the same (its entries are small integers, exact in either
// precision), x holds the same stream of 32-bit draws widened to 64 bits,
// and b = A*x is accumulated in 64-bit reals, in the same order.
//   band (out) M*(N-1)+N entries, as for generatedata.
//   b    (out) N*nrhs entries: A*x, leading dimension N; untouched when
//              nrhs < 1.
//   x    (out) N*nrhs entries: the exact solutions; untouched when nrhs < 1.
//   n, m, nrhs (in) as for generatedata.
void generatedata_8(double* band, double* b, double* x, const std::int32_t& n,
                    const std::int32_t& m, const std::int32_t& nrhs);

// makepositive_cb_4(band, n, m)
//   band (in/out) on entry a lower band factor F in band storage, on exit
//                 the lower half of the band of F*F^T, in place.
//   n    (in)     order N; nothing is done when N < 1.
//   m    (in)     half bandwidth M >= 0.
void makepositive_cb_4(float* band, const std::int32_t& n, const std::int32_t& m);

// makepositive_cb_8(band, n, m): makepositive_cb_4 in 64-bit reals.
void makepositive_cb_8(double* band, const std::int32_t& n, const std::int32_t& m);
