// Solves a small symmetric positive definite band system through the C++
// header of the installed library: the tridiagonal matrix with 4 on the
// diagonal and 1 beside it, and the right-hand side that makes every
// unknown equal to 1.

#include <csp/csp.hpp>

#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
  const std::int32_t n = 1000;  // equations
  const std::int32_t m = 1;     // half bandwidth

  // LAPACK's lower band storage, m+1 entries a column: AB(1+i-j, j) = A(i, j).
  std::vector<double> ab(std::size_t(m + 1) * n);
  for (std::int32_t j = 0; j < n; ++j) {
    ab[std::size_t(j) * (m + 1)] = 4.0;      // A(j, j)
    ab[std::size_t(j) * (m + 1) + 1] = 1.0;  // A(j+1, j); unused in the last column
  }
  std::vector<double> b(n, 6.0);  // row sums: 1 + 4 + 1
  b.front() = b.back() = 5.0;

  try {
    csp::solve('L', m, ab, b, 2);  // at most two tasks; the result is the same for any count
  } catch (const csp::not_positive_definite&) {
    std::puts("the matrix is not positive definite");
    return 1;
  }
  std::printf("x(1) = %.15g, x(%d) = %.15g\n", b.front(), n, b.back());
  return 0;
}
