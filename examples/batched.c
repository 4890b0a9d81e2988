/* Solves many small symmetric positive definite band systems in one call:
   system k is the tridiagonal matrix with 4 + k on the diagonal and 1
   beside it, in LAPACK's lower band storage, with the right-hand side that
   makes every unknown equal to 1. */

#include <csp/csp.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  const int32_t n = 1000;     /* equations of each system */
  const int32_t m = 1;        /* half bandwidth */
  const int32_t batch = 500;  /* systems */
  const int32_t ldab = m + 1;
  const int64_t stride_ab = (int64_t)ldab * n, stride_b = n;

  double *ab = malloc(sizeof(double) * stride_ab * batch);
  double *b = malloc(sizeof(double) * stride_b * batch);
  int32_t *info = malloc(sizeof(int32_t) * batch);
  if (ab == NULL || b == NULL || info == NULL) return 1;
  for (int32_t k = 0; k < batch; ++k) {
    double *a = ab + k * stride_ab, *x = b + k * stride_b;
    for (int32_t j = 0; j < n; ++j) {
      a[j * ldab] = 4.0 + k;  /* A(j, j) */
      a[j * ldab + 1] = 1.0;  /* A(j+1, j); unused in the last column */
      x[j] = 6.0 + k;         /* row sums */
    }
    x[0] = x[n - 1] = 5.0 + k;
  }

  /* Every system gets the bits csp_solve_d gives it alone. */
  const int code = csp_solve_batched_d('L', n, m, 1, batch, ab, ldab, stride_ab, b, n, stride_b,
                                       info);
  if (code != 0) {
    printf("csp_solve_batched_d returned %d\n", code);
    return 1;
  }
  for (int32_t k = 0; k < batch; ++k) {
    if (info[k] != 0) {
      printf("system %d: %d\n", (int)k, (int)info[k]);
      return 1;
    }
  }
  const double *last = b + (int64_t)(batch - 1) * stride_b;
  printf("x(1) = %.15g, x(%d) = %.15g\n", last[0], (int)n, last[n - 1]);
  free(ab);
  free(b);
  free(info);
  return 0;
}
