// b = A*x for the test systems of the benchmark library.
#pragma once

#include <algorithm>
#include <cstdint>

#include "solver/band.hpp"
#include "solver/element.hpp"

// formrighthandsides(band, b, x, n, m, nrhs): b(:, r) <- A * x(:, r) for
// the symmetric A whose lower half is stored, accumulated in the element type
// (products without conjugation for the complex kinds): the diagonal first,
// then the row's entries left of the diagonal, then the column's entries
// below it standing in for their symmetric partners right of the diagonal.
template <class T>
void formrighthandsides(const T* band, T* b, const T* x, std::int64_t n, std::int64_t m,
                        std::int64_t nrhs) {
  const band_matrix<const T> a{band, m};
  const column_major<const T> xs{x, n};
  const column_major<T> bs{b, n};
  for (std::int64_t r = 1; r <= nrhs; ++r) {
    for (std::int64_t i = 1; i <= n; ++i) {
      T s = mul(a(i, i), xs(i, r));
      for (std::int64_t j = std::max<std::int64_t>(1, i - m); j <= i - 1; ++j) {
        s += mul(a(i, j), xs(j, r));
      }
      for (std::int64_t j = i + 1; j <= std::min(i + m, n); ++j) s += mul(a(j, i), xs(j, r));
      bs(i, r) = s;
    }
  }
}
