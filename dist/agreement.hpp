// The one collective step that checks a distributed call's arguments
// before any work: every process learns every other's arguments, and all
// of them reach the same verdict, so a bad argument on one process gives
// the same code everywhere, with nothing written and nobody left waiting.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <vector>

#include "dist/plan.hpp"

namespace dist {

// One process's arguments of a call that takes a band (csp_dist_solve_X,
// csp_dist_factorize_X), and the code of its own checks (0 or negative).
struct callargs {
  std::int64_t code = 0;
  std::int64_t kind = 0;  // the element kind's index
  std::int64_t uplo = 0;  // 'L' or 'U'
  std::int64_t n = 0, m = 0, nrhs = 0;
  std::int64_t first = 0, ncols = 0;
};

// Each argument's code in one entry (0: the entry has no such argument).
struct argcodes {
  int comm, uplo, n, m, nrhs, first, ncols, ab, ldab, b, ldb;
};

// The codes of csp_dist_solve_X and csp_dist_factorize_X.
inline constexpr argcodes solvecodes{-1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11};
inline constexpr argcodes factorcodes{-1, -2, -3, -4, 0, -5, -6, -7, -8, 0, 0};

// A communicator the routines can talk through: an intracommunicator.
bool usable(MPI_Comm comm);

// Gathers every process's arguments over comm and returns the verdict, the
// same on every process: the code nearest to -1 that any process found in
// its own arguments, else the code of the first argument that differs
// between processes (the element kind differing: the comm code), else that
// of a layout that does not tile 1..n (first: a range that does not start
// where the ranks before it end; ncols: the ranges do not end at n), else
// 0, with every rank's columns in `columns`.
int agree(MPI_Comm comm, const callargs& mine, const argcodes& codes, std::vector<rows>& columns);

// The same for a call without a band (csp_dist_solve_factorized_X): the
// code nearest to -1 over the processes, else `nrhscode` where nrhs
// differs, else 0.
int agreesolve(MPI_Comm comm, int code, std::int32_t nrhs, int nrhscode);

// What the processes' outcomes come to, the same everywhere: the largest.
int agreeoutcome(MPI_Comm comm, int outcome);

}  // namespace dist
