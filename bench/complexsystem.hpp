// Complex test system of the benchmark: a complex symmetric band matrix
// (A = A^T, no conjugation) with genuinely complex entries, strictly
// diagonally dominant by a wide margin, a random exact solution x and the
// right-hand side b = A*x. Like generatedata, every call reseeds the random
// number generator, so repeated calls build bit-identical systems.
#pragma once

#include <complex>
#include <cstdint>

// complexsystem_z4(band, b, x, n, m, nrhs)
//   band (out) M*(N-1)+N entries: the lower triangle in band storage,
//              element (i,j) at 1-based position M*(j-1)+i. Storage slots
//              below row N in the last M columns are set to zero.
//   b    (out) N*nrhs entries: the right-hand sides A*x, leading dimension N,
//              accumulated in the element precision. Untouched when nrhs < 1.
//   x    (out) N*nrhs entries: the exact solutions; the real and then the
//              imaginary part of each entry are consecutive draws of
//              random_number after ini_random, column by column.
//              Untouched when nrhs < 1.
//   n    (in)  order N; nothing is written when N < 1.
//   m    (in)  half bandwidth M >= 0.
//   nrhs (in)  number of right-hand sides.
// The matrix, for j < i <= min(j+M, N) and d = i - j:
//   A(i,j) = (p + q*I) / (2d),  p = 1 + (i+j) mod 3,  q = 1 + (2i+j) mod 4,
//   A(i,i) = (2*s(i) + 1) * (3/5 + 4/5*I),  s(i) = sum over k != i of |A(i,k)|.
// Every off-diagonal entry has a nonzero imaginary part and the diagonal
// lies off the real axis. Each row exceeds diagonal dominance by s(i) + 1 >= 1,
// so A is non-singular with ||A^-1||_inf <= 1 / min(s(i) + 1) and
// cond_inf(A) <= max(3 s(i) + 1) / min(s(i) + 1), a few tens for M <= 100;
// dominance carries through every elimination step, so the factorization
// A = L*L^T exists without pivoting.
void complexsystem_z4(std::complex<float>* band, std::complex<float>* b, std::complex<float>* x,
                      const std::int32_t& n, const std::int32_t& m, const std::int32_t& nrhs);
void complexsystem_z8(std::complex<double>* band, std::complex<double>* b, std::complex<double>* x,
                      const std::int32_t& n, const std::int32_t& m, const std::int32_t& nrhs);
