// Solves a small symmetric positive definite band system with the solver's
// own entries, as code built inside this tree may call them (an installed
// program uses <csp/csp.hpp> or <csp/csp.h>): the tridiagonal matrix with 4 on the diagonal and 1 beside it,
// and the right-hand side that makes every unknown equal to 1.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "runtime/runtime.hpp"
#include "solver/csp.hpp"

int main() {
  const std::int32_t n = 1000;  // equations
  const std::int32_t m = 1;     // half bandwidth
  const std::int32_t nrhs = 1;  // right-hand sides

  // Band storage: the lower triangle column by column, diagonal first;
  // element (i, j), j <= i <= j + m, at a[m*(j-1) + i - 1].
  std::vector<double> a(std::size_t(m) * (n - 1) + n);
  for (std::int32_t j = 1; j <= n; ++j) {
    a[std::size_t(m) * (j - 1) + j - 1] = 4.0;                 // (j, j)
    if (j < n) a[std::size_t(m) * (j - 1) + j] = 1.0;          // (j+1, j)
  }
  std::vector<double> b(n, 6.0);  // row sums: 1 + 4 + 1
  b.front() = b.back() = 5.0;
  std::vector<double> work(2 * std::size_t(n) * m);

  settasks(2);  // use up to two tasks (at most the processor count)
  std::int32_t status = 0;
  mesolution_csp_8(a.data(), n, m, b.data(), nrhs, work.data(), status);
  orvekdone();  // shut the task runtime down at the end of the program

  if (status != 0) {
    std::puts("the matrix is not positive definite");
    return 1;
  }
  std::printf("x(1) = %.15g, x(%d) = %.15g\n", b.front(), n, b.back());
  return 0;
}
