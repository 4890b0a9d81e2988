/* Solves the system of solve.c with its columns spread over the processes
   of MPI_COMM_WORLD: each process builds and passes only its own columns
   of the band and its own rows of the right-hand side. Run it with, e.g.,
   mpirun -np 2 ./example_dist. */

#include <csp/csp_mpi.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);

  const int64_t n = 1000; /* equations */
  const int32_t m = 1;    /* half bandwidth */
  const int32_t ldab = m + 1;
  /* This process's columns: first .. first+ncols-1, an even split. */
  const int64_t first = 1 + n * rank / size;
  const int64_t ncols = n * (rank + 1) / size - n * rank / size;

  double *ab = malloc(sizeof(double) * ldab * (ncols > 0 ? ncols : 1));
  double *b = malloc(sizeof(double) * (ncols > 0 ? ncols : 1));
  if (ab == NULL || b == NULL) MPI_Abort(MPI_COMM_WORLD, 1);
  for (int64_t k = 0; k < ncols; ++k) {
    const int64_t j = first + k; /* the global column */
    ab[k * ldab] = 4.0;          /* A(j, j) */
    ab[k * ldab + 1] = 1.0;      /* A(j+1, j); unused in the last column */
    b[k] = j == 1 || j == n ? 5.0 : 6.0;
  }

  const int info = csp_dist_solve_d(MPI_COMM_WORLD, 'L', n, m, 1, first, ncols, ab, ldab, b,
                                    ncols > 0 ? ncols : 1);
  /* Every process gets the same code. */
  if (info != 0) {
    if (rank == 0) printf("csp_dist_solve_d returned %d\n", info);
    MPI_Finalize();
    return 1;
  }
  /* x(1) lies on the first process, x(n) on the last one. */
  double last = b[ncols - 1];
  if (size > 1) {
    if (rank == size - 1) MPI_Send(&last, 1, MPI_DOUBLE, 0, 0, MPI_COMM_WORLD);
    if (rank == 0) MPI_Recv(&last, 1, MPI_DOUBLE, size - 1, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  }
  if (rank == 0) printf("x(1) = %.15g, x(%d) = %.15g\n", b[0], (int)n, last);
  free(ab);
  free(b);
  MPI_Finalize();
  return 0;
}
