// The reduced system of the partitioned factorization: block tridiagonal
// over the P-1 separators, M x M blocks, factored and solved on one task by
// the block Cholesky factorization
//   D_k = chol(E_k + F_{k+1} - S_k*S_k^T),   S_{k+1} = G_{k+1} * D_k^-T,
// where E, F and G are what the partitions beside each separator add.
// Blocks are row-major M x M arrays; a factored D_k holds 1 / D_k(i, i) on
// its diagonal.
#pragma once

#include <cstdint>

#include "solver/element.hpp"

namespace partitioned {

// row[j] <- (row[j] - sum over l < j of row[l]*d(j, l)) / d(j, j) for
// j < count, with the factored block d: a row of X in X * d^T = row.
template <class T>
void solverow(T* row, const T* d, std::int64_t m, std::int64_t count) {
  for (std::int64_t j = 0; j < count; ++j) {
    const T* const other = d + j * m;
    T sum = row[j];
    for (std::int64_t l = 0; l < j; ++l) sum = mulsub(sum, row[l], other[l]);
    row[j] = mul(sum, other[j]);
  }
}

// Factors the M x M block d (lower triangle) in place. False when a pivot
// is rejected.
template <class T>
bool factorblock(T* d, std::int64_t m, real_t<T> tolerance) {
  for (std::int64_t i = 0; i < m; ++i) {
    T* const row = d + i * m;
    solverow(row, d, m, i);
    T pivot = row[i];
    for (std::int64_t l = 0; l < i; ++l) pivot = mulsub(pivot, row[l], row[l]);
    if (pivotrejected(tolerance, pivot)) return false;
    row[i] = div(T(1), principalsqrt(pivot));
  }
  return true;
}

// s <- s * d^-T for the full M x M block s and a factored block d.
template <class T>
void solveright(T* s, const T* d, std::int64_t m) {
  for (std::int64_t i = 0; i < m; ++i) solverow(s + i * m, d, m, m);
}

// d <- d - s*s^T over the lower triangle.
template <class T>
void subtractsquare(T* d, const T* s, std::int64_t m) {
  for (std::int64_t i = 0; i < m; ++i) {
    for (std::int64_t j = 0; j <= i; ++j) {
      T sum = d[i * m + j];
      for (std::int64_t l = 0; l < m; ++l) sum = mulsub(sum, s[i * m + l], s[j * m + l]);
      d[i * m + j] = sum;
    }
  }
}

// x <- d^-1 * x (forward) for a factored block d.
template <class T>
void forwardblock(const T* d, std::int64_t m, T* x) {
  for (std::int64_t i = 0; i < m; ++i) {
    T sum = x[i];
    for (std::int64_t l = 0; l < i; ++l) sum = mulsub(sum, d[i * m + l], x[l]);
    x[i] = mul(sum, d[i * m + i]);
  }
}

// x <- d^-T * x (backward) for a factored block d.
template <class T>
void backwardblock(const T* d, std::int64_t m, T* x) {
  for (std::int64_t i = m - 1; i >= 0; --i) {
    T sum = x[i];
    for (std::int64_t l = i + 1; l < m; ++l) sum = mulsub(sum, d[l * m + i], x[l]);
    x[i] = mul(sum, d[i * m + i]);
  }
}

}  // namespace partitioned
