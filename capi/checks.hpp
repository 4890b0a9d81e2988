// Argument checks of the C interface, in LAPACK's way: the first invalid
// argument i gives the return code -i.
#pragma once

#include <algorithm>
#include <cstdint>

namespace capi {

inline bool validuplo(char uplo) {
  return uplo == 'L' || uplo == 'l' || uplo == 'U' || uplo == 'u';
}

inline bool islower(char uplo) { return uplo == 'L' || uplo == 'l'; }

// csp_factor_X(uplo, n, m, ab, ldab).
inline int checkfactor(char uplo, std::int32_t n, std::int32_t m, const void* ab,
                       std::int32_t ldab) {
  if (!validuplo(uplo)) return -1;
  if (n < 0) return -2;
  if (m < 0) return -3;
  if (ab == nullptr && n > 0) return -4;
  if (std::int64_t{ldab} < std::int64_t{m} + 1) return -5;
  return 0;
}

// csp_solve_X and csp_factor_solve_X(uplo, n, m, nrhs, ab, ldab, b, ldb).
inline int checksolve(char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs,
                      const void* ab, std::int32_t ldab, const void* b, std::int32_t ldb) {
  if (!validuplo(uplo)) return -1;
  if (n < 0) return -2;
  if (m < 0) return -3;
  if (nrhs < 0) return -4;
  if (ab == nullptr && n > 0) return -5;
  if (std::int64_t{ldab} < std::int64_t{m} + 1) return -6;
  if (b == nullptr && n > 0 && nrhs > 0) return -7;
  if (ldb < std::max(std::int32_t{1}, n)) return -8;
  return 0;
}

// The three families of batched entries.
enum class batchfamily {
  solve,        // csp_solve_batched_X
  factor,       // csp_factor_batched_X
  factorsolve,  // csp_factor_solve_batched_X
};

// csp_solve_batched_X(uplo, n, m, nrhs, batch, ab, ldab, stride_ab, b, ldb,
// stride_b, info) and the two other families. The codes go by the
// argument's name, the same in every family: -4 is nrhs, -9 .. -11 b, ldb
// and stride_b, which csp_factor_batched_X does not have (it passes nrhs 0,
// b null, ldb max(1, n) and stride_b 0). Bands and right-hand sides of
// different systems may not overlap, except the one factor every system
// shares in csp_factor_solve_batched_X (stride_ab 0).
inline int checkbatched(batchfamily family, char uplo, std::int32_t n, std::int32_t m,
                        std::int32_t nrhs, std::int32_t batch, const void* ab, std::int32_t ldab,
                        std::int64_t strideab, const void* b, std::int32_t ldb,
                        std::int64_t strideb, const void* info) {
  if (!validuplo(uplo)) return -1;
  if (n < 0) return -2;
  if (m < 0) return -3;
  if (nrhs < 0) return -4;
  if (batch < 0) return -5;
  const bool work = n > 0 && batch > 0;
  if (ab == nullptr && work) return -6;
  if (std::int64_t{ldab} < std::int64_t{m} + 1) return -7;
  const bool shared = family == batchfamily::factorsolve && strideab == 0;
  if (!shared && strideab < std::int64_t{ldab} * n) return -8;
  if (b == nullptr && work && nrhs > 0) return -9;
  if (ldb < std::max(std::int32_t{1}, n)) return -10;
  if (strideb < std::int64_t{ldb} * nrhs) return -11;
  if (info == nullptr && batch > 0) return -12;
  return 0;
}

}  // namespace capi
