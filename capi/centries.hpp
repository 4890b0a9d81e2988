// The C interface's entries of each element kind, for C++ code that is
// written once over the element type (the Python extension, the tests).
#pragma once

#include <csp/csp.h>

#include <complex>

template <class T>
struct centries;
template <>
struct centries<float> {
  static constexpr auto solve = &csp_solve_s;
  static constexpr auto factor = &csp_factor_s;
  static constexpr auto factorsolve = &csp_factor_solve_s;
};
template <>
struct centries<double> {
  static constexpr auto solve = &csp_solve_d;
  static constexpr auto factor = &csp_factor_d;
  static constexpr auto factorsolve = &csp_factor_solve_d;
};
template <>
struct centries<std::complex<float>> {
  static constexpr auto solve = &csp_solve_c;
  static constexpr auto factor = &csp_factor_c;
  static constexpr auto factorsolve = &csp_factor_solve_c;
};
template <>
struct centries<std::complex<double>> {
  static constexpr auto solve = &csp_solve_z;
  static constexpr auto factor = &csp_factor_z;
  static constexpr auto factorsolve = &csp_factor_solve_z;
};
