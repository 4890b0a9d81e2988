/* A program that uses both libraries, libcsp and libcsp_mpi, each with its
   own copy of the solver inside: the same system solved by csp_solve_d and
   by csp_dist_solve_d on every process's share. Prints the two solutions'
   x(1) on rank 0. */

#include <csp/csp.h>
#include <csp/csp_mpi.h>
#include <stdio.h>

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  enum { n = 2 };
  double ab[2 * n] = {2, 1, 2, 0}, b[n] = {3, 3};  /* [[2 1] [1 2]] x = [3 3]: x = 1 */
  const int one = csp_solve_d('L', n, 1, 1, ab, 2, b, n);
  /* The distributed solve: everything on rank 0. */
  double dab[2 * n] = {2, 1, 2, 0}, db[n] = {3, 3};
  const int64_t ncols = rank == 0 ? n : 0;
  const int spread = csp_dist_solve_d(MPI_COMM_WORLD, 'L', n, 1, 1, 1, ncols, dab, 2, db, n);
  if (rank == 0) printf("x(1) = %g, %g; codes %d %d\n", b[0], db[0], one, spread);
  MPI_Finalize();
  return 0;
}
