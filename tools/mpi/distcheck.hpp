// The checks of cspbench (tools/verify.hpp) on a system spread over the
// processes of a communicator: each process forms the norms of its own
// rows, with the M solution rows on either side brought from the processes
// that hold them, and one reduction over the processes gives every process
// the verdict. The figures are those of checksolution on the whole system.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <vector>

#include "tools/mpi/layout.hpp"
#include "tools/mpi/localsystem.hpp"
#include "tools/verify.hpp"

// solutionwindow(s, columns, solution, comm): the rows haloof(s.own) of the
// nrhs solution columns, of which this process holds its own rows
// (solution, leading dimension s.ld()) and receives the others from the
// processes of columns (one range per process of comm). Leading dimension:
// haloof(s.own).count.
template <class T>
std::vector<T> solutionwindow(const localsystem<T>& s, const std::vector<columnrange>& columns,
                              const T* solution, MPI_Comm comm);

// distributednorms(s, comm): ||A||_inf and cond_inf(A) of the whole
// system: from the diagonal dominance bound for the complex kinds, and for
// the real kinds from LAPACK's ?lacn2 estimator run on the processes'
// rows, its solves those of a csp_dist factorization of the system.
template <class T>
systemnorms distributednorms(const localsystem<T>& s, MPI_Comm comm);

// distributedcheck(s, columns, solution, status, norms, comm): the checks
// of one solve, whose solution rows on this process are in solution
// (leading dimension s.ld()); status is the solver's, the same on every
// process. A NaN in any norm counts as infinite, so that it fails.
template <class T>
checkresult distributedcheck(const localsystem<T>& s, const std::vector<columnrange>& columns,
                             const T* solution, std::int32_t status, const systemnorms& norms,
                             MPI_Comm comm);
