// C++ that includes the C header inside extern "C", as C++ code often wraps
// C headers.
extern "C" {
#include <csp/csp.h>
}

#include <cstdio>

int main() {
  float ab[2] = {4, 4}, b[2] = {8, 2};
  if (csp_solve_s('U', 2, 0, 1, ab, 1, b, 2) != 0) return 1;
  std::printf("x(1) = %g, x(2) = %g\n", b[0], b[1]);
  return 0;
}
