// The public solver entries of each element kind, for code written once as
// a template over the element type (the C interface, the tests).
#pragma once

#include <complex>

#include "solver/csp.hpp"

template <class T>
struct cspentries;
template <>
struct cspentries<float> {
  static constexpr auto mesolution = &mesolution_csp_4;
  static constexpr auto solution = &solution_csp_4;
  static constexpr auto decomposition = &decomposition_csp_4;
  static constexpr auto substitution = &substitution_csp_4;
};
template <>
struct cspentries<double> {
  static constexpr auto mesolution = &mesolution_csp_8;
  static constexpr auto solution = &solution_csp_8;
  static constexpr auto decomposition = &decomposition_csp_8;
  static constexpr auto substitution = &substitution_csp_8;
};
template <>
struct cspentries<std::complex<float>> {
  static constexpr auto mesolution = &mesolution_csp_z4;
  static constexpr auto solution = &solution_csp_z4;
  static constexpr auto decomposition = &decomposition_csp_z4;
  static constexpr auto substitution = &substitution_csp_z4;
};
template <>
struct cspentries<std::complex<double>> {
  static constexpr auto mesolution = &mesolution_csp_z8;
  static constexpr auto solution = &solution_csp_z8;
  static constexpr auto decomposition = &decomposition_csp_z8;
  static constexpr auto substitution = &substitution_csp_z8;
};
