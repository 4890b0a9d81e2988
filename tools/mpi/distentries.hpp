// The csp_dist routines of each element kind, in their _tasks forms, and
// arrays of an element kind as the C interface's element type.
#pragma once

#include <complex>

#include "csp/csp_mpi.h"

template <class T>
struct distentries;
template <>
struct distentries<float> {
  using element = float;
  static constexpr auto solve = csp_dist_solve_tasks_s;
  static constexpr auto factorize = csp_dist_factorize_tasks_s;
  static constexpr auto solvefactorized = csp_dist_solve_factorized_tasks_s;
};
template <>
struct distentries<double> {
  using element = double;
  static constexpr auto solve = csp_dist_solve_tasks_d;
  static constexpr auto factorize = csp_dist_factorize_tasks_d;
  static constexpr auto solvefactorized = csp_dist_solve_factorized_tasks_d;
};
template <>
struct distentries<std::complex<float>> {
  using element = csp_complex_float;
  static constexpr auto solve = csp_dist_solve_tasks_c;
  static constexpr auto factorize = csp_dist_factorize_tasks_c;
  static constexpr auto solvefactorized = csp_dist_solve_factorized_tasks_c;
};
template <>
struct distentries<std::complex<double>> {
  using element = csp_complex_double;
  static constexpr auto solve = csp_dist_solve_tasks_z;
  static constexpr auto factorize = csp_dist_factorize_tasks_z;
  static constexpr auto solvefactorized = csp_dist_solve_factorized_tasks_z;
};

// csp.h guarantees the complex structs the layout of std::complex; the
// routines only read the band, which they take as a plain pointer.
template <class T>
auto* celements(const T* p) {
  return reinterpret_cast<typename distentries<T>::element*>(const_cast<T*>(p));
}
