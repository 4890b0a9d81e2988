// The solver entries of each element kind, for the C interface's templates.
#pragma once

#include <complex>

#include "solver/csp.hpp"

namespace capi {

template <class T>
struct entries;
template <>
struct entries<float> {
  static constexpr auto sweep = &mesolution_csp_4;
  static constexpr auto solution = &solution_csp_4;
  static constexpr auto decomposition = &decomposition_csp_4;
  static constexpr auto substitution = &substitution_csp_4;
};
template <>
struct entries<double> {
  static constexpr auto sweep = &mesolution_csp_8;
  static constexpr auto solution = &solution_csp_8;
  static constexpr auto decomposition = &decomposition_csp_8;
  static constexpr auto substitution = &substitution_csp_8;
};
template <>
struct entries<std::complex<float>> {
  static constexpr auto sweep = &mesolution_csp_z4;
  static constexpr auto solution = &solution_csp_z4;
  static constexpr auto decomposition = &decomposition_csp_z4;
  static constexpr auto substitution = &substitution_csp_z4;
};
template <>
struct entries<std::complex<double>> {
  static constexpr auto sweep = &mesolution_csp_z8;
  static constexpr auto solution = &solution_csp_z8;
  static constexpr auto decomposition = &decomposition_csp_z8;
  static constexpr auto substitution = &substitution_csp_z8;
};

}  // namespace capi
