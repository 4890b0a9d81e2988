// The public solver entries of each element kind, for code written once as
// a template over the element type (the tests), and the bodies they share
// with the C interface.
#pragma once

#include <complex>
#include <cstdint>

#include "solver/csp.hpp"

// The bodies of the solver entries, with the number of tasks to run as an
// argument (1..32; the result does not depend on it). The named entries
// (mesolution_csp_X, solution_csp_X, decomposition_csp_X,
// substitution_csp_X) pass the process-wide task count; the C interface
// passes the count of one call, so that a call's own count never touches
// the one other threads read. Arguments otherwise as the named entries;
// defined for the four element kinds.
namespace entry {
template <class T>
void mesolution(T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                const std::int32_t& nrhs, T* work, std::int32_t& status, std::int32_t tasks);
template <class T>
void solution(T* a, const std::int32_t& n, const std::int32_t& m, T* b,
              const std::int32_t& nrhs, std::int32_t& status, std::int32_t tasks);
template <class T>
void decomposition(T* a, const std::int32_t& n, const std::int32_t& m, std::int32_t& status,
                   std::int32_t tasks);
template <class T>
void substitution(const T* a, const std::int32_t& n, const std::int32_t& m, T* b,
                  const std::int32_t& nrhs, std::int32_t tasks);

// The most tasks each entry puts to work on a system of order n and half
// bandwidth m, whatever it is given: mesolution's sweep, the factorization
// of solution and decomposition, and substitution. A caller for whom
// finding out its task count costs something asks only when this is more
// than 1.
template <class T>
std::int32_t sweeptasks(std::int32_t n, std::int32_t m);
std::int32_t factortasks(std::int32_t m);
std::int32_t substitutiontasks(std::int32_t m);
}  // namespace entry

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
