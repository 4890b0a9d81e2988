/* A C program with a variable named I (the macro of <complex.h>), solving a
   complex symmetric system with the header's struct types. */

#include <csp/csp.h>
#include <stdio.h>

int main(void) {
  const double I = 2.0;
  /* A = [[4+i, 1], [1, 4+i]], lower storage; x = (1, 1). */
  csp_complex_double ab[4] = {{4, 1}, {1, 0}, {4, 1}, {0, 0}};
  csp_complex_double b[2] = {{5, 1}, {5, 1}};
  const int info = csp_solve_z('L', 2, 1, 1, ab, 2, b, 2);
  if (info != 0) return 1;
  /* The imaginary parts come out within rounding of zero. */
  if (b[0].imag * b[0].imag + b[1].imag * b[1].imag > 1e-24) return 2;
  printf("x(1) = %.6g, x(2) = %.6g, I = %g\n", b[0].real, b[1].real, I);
  return 0;
}
