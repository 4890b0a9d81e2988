// The bodies of the stage-wise solver entries (decomposition_csp_*,
// substitution_csp_*, solution_csp_*) with the block width and the number
// of participants as arguments: the entries pass stagewidth(M) and their
// task count; tests drive them with any q and participant count.
#pragma once

#include <complex>
#include <cstdint>
#include <limits>

#include "solver/band.hpp"
#include "solver/csp.hpp"
#include "solver/element.hpp"
#include "solver/team.hpp"

// The block width of the factorizing entries (decomposition, solution), a
// function of M alone so that every task count gives the same result. The
// substitution entries take stagewise::onestage whatever M.
std::int32_t stagewidth(const std::int32_t& m);

namespace stagewise {

// A block width no order reaches: the whole matrix is one stage, done by
// the lead piece alone (the other tasks go straight to the stage's barrier).
inline constexpr std::int32_t onestage = std::numeric_limits<std::int32_t>::max();

// The stage-wise kernels of each element kind.
template <class T>
struct kernels;
template <>
struct kernels<float> {
  static constexpr auto decompose = &kernel::p_decompose_csp_4;
  static constexpr auto substitute = &kernel::p_substitute_csp_4;
  static constexpr auto solution = &kernel::p_solution_csp_4;
};
template <>
struct kernels<double> {
  static constexpr auto decompose = &kernel::p_decompose_csp_8;
  static constexpr auto substitute = &kernel::p_substitute_csp_8;
  static constexpr auto solution = &kernel::p_solution_csp_8;
};
template <>
struct kernels<std::complex<float>> {
  static constexpr auto decompose = &kernel::p_decompose_csp_z4;
  static constexpr auto substitute = &kernel::p_substitute_csp_z4;
  static constexpr auto solution = &kernel::p_solution_csp_z4;
};
template <>
struct kernels<std::complex<double>> {
  static constexpr auto decompose = &kernel::p_decompose_csp_z8;
  static constexpr auto substitute = &kernel::p_substitute_csp_z8;
  static constexpr auto solution = &kernel::p_solution_csp_z8;
};

// Pivot threshold of the entries: a pivot is rejected when it is zero or
// negative (real kinds) or of modulus zero (complex kinds). A function, not
// a variable template: the compiler gives a variable template's
// instantiations default visibility whatever the build asks, and the
// installed libraries must export no name of the solver.
template <class T>
constexpr real_t<T> entrytolerance() {
  return 0;
}

// The failure flags of a run, one per event phase, as a status: 1 when
// either is set.
inline std::int32_t flagstatus(const std::int32_t* info) {
  return info[0] != 0 || info[1] != 0 ? 1 : 0;
}

// The participants worth starting: with q > M no stage has a second piece,
// so further tasks would only meet at the barriers. The results do not
// depend on the number of participants.
inline std::int32_t participants(const std::int32_t& q, const std::int32_t& m,
                                 std::int32_t requested) {
  return q > m ? 1 : requested;
}

// Factors A = L*L^T in place: status (out) 0, or 1 when a pivot was
// rejected. N <= 0 is an empty matrix.
template <class T>
void decomposition(T* a, const std::int32_t& n, const std::int32_t& m, const std::int32_t& q,
                   std::int32_t requested, std::int32_t& status) {
  status = 0;
  if (n <= 0) return;
  team t;
  openteam(t);
  std::int64_t kstage = 1, knext = 1;
  std::int32_t info[2] = {0, 0};
  const real_t<T> tolerance = entrytolerance<T>();
  runteam(t, participants(q, m, requested), kernels<T>::decompose, a, n, m, q, t.lockid,
          t.eventids, t.ntasks, kstage, knext, tolerance, info);
  closeteam(t);
  status = flagstatus(info);
}

// Solves with the factor L in a for the nrhs columns of b, one run of the
// kernel per column, with the team t already open.
template <class T>
void substitutecolumns(team& t, const T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                       const std::int32_t& nrhs, const std::int32_t& q,
                       std::int32_t requested) {
  const column_major<T> rhs{b, n};
  for (std::int32_t h = 1; h <= nrhs; ++h) {
    T* column = rhs.column(h);
    std::int64_t kstage = 1, knext = 1, jstage = n, jnext = n;
    runteam(t, participants(q, m, requested), kernels<T>::substitute, a, n, m, column, q,
            t.lockid, t.eventids, t.ntasks, kstage, knext, jstage, jnext);
  }
}

// Solves L*L^T*X = B with the factor L in a; b is N x nrhs.
template <class T>
void substitution(const T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                  const std::int32_t& nrhs, const std::int32_t& q, std::int32_t requested) {
  if (n <= 0 || nrhs <= 0) return;
  team t;
  openteam(t);
  substitutecolumns(t, a, n, m, b, nrhs, q, requested);
  closeteam(t);
}

// Factors A in place in stages of q columns and solves A*X = B: the first
// column of b along with the factorization, the others by substitution with
// the factor in stages of qsubstitution rows. status (out) 0, or 1 when a
// pivot was rejected (b then has no defined content). With nrhs <= 0 only
// the factorization is done.
template <class T>
void solution(T* a, const std::int32_t& n, const std::int32_t& m, T* b, const std::int32_t& nrhs,
              const std::int32_t& q, const std::int32_t& qsubstitution, std::int32_t requested,
              std::int32_t& status) {
  if (nrhs <= 0) {
    decomposition(a, n, m, q, requested, status);
    return;
  }
  status = 0;
  if (n <= 0) return;
  team t;
  openteam(t);
  std::int64_t kstage = 1, knext = 1, jstage = n, jnext = n;
  std::int32_t info[2] = {0, 0};
  const real_t<T> tolerance = entrytolerance<T>();
  runteam(t, participants(q, m, requested), kernels<T>::solution, a, n, m, b, q, t.lockid,
          t.eventids, t.ntasks, kstage, knext, jstage, jnext, tolerance, info);
  status = flagstatus(info);
  const std::int32_t others = nrhs - 1;
  if (status == 0) {
    substitutecolumns<T>(t, a, n, m, column_major<T>{b, n}.column(2), others, qsubstitution,
                         requested);
  }
  closeteam(t);
}

}  // namespace stagewise
