/* Solves a small symmetric positive definite band system through the C
   interface: the tridiagonal matrix with 4 on the diagonal and 1 beside it,
   in LAPACK's lower band storage, and the right-hand side that makes every
   unknown equal to 1. */

#include <csp/csp.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  const int32_t n = 1000; /* equations */
  const int32_t m = 1;    /* half bandwidth */
  const int32_t ldab = m + 1;

  /* Lower band storage: AB(1+i-j, j) = A(i, j), column-major. */
  double *ab = malloc(sizeof(double) * ldab * n);
  double *b = malloc(sizeof(double) * n);
  if (ab == NULL || b == NULL) return 1;
  for (int32_t j = 0; j < n; ++j) {
    ab[j * ldab] = 4.0;     /* A(j, j) */
    ab[j * ldab + 1] = 1.0; /* A(j+1, j); unused in the last column */
    b[j] = 6.0;             /* row sums: 1 + 4 + 1 */
  }
  b[0] = b[n - 1] = 5.0;

  csp_set_tasks(2); /* up to two tasks; the result is the same for any count */
  const int info = csp_solve_d('L', n, m, 1, ab, ldab, b, n);
  if (info != 0) {
    printf("csp_solve_d returned %d\n", info);
    return 1;
  }
  printf("x(1) = %.15g, x(%d) = %.15g\n", b[0], (int)n, b[n - 1]);
  free(ab);
  free(b);
  return 0;
}
