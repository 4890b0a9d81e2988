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

}  // namespace capi
