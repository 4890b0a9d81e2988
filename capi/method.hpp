// Which solver entry csp_solve_X runs.
#pragma once

#include <cstdint>

namespace capi {

enum class method {
  sweep,      // mesolution_csp_X: factor and solve in one block-hierarchy sweep
  stagewise,  // solution_csp_X: the column Cholesky in stages, then substitution
  partitioned,  // the partitioned factorization of csp_factorize_X, then its solve
};

// The element kinds as the rule sees them.
enum class kind { s, d, c, z };

// The method for a system of order n and half bandwidth m (m <= n-1) of the
// given kind. It depends on nothing else, the task count least of all, so
// that the result of csp_solve_X is the same for every task count.
method solvemethod(kind k, std::int32_t n, std::int32_t m);

}  // namespace capi
