// kernel::columnkernel: the column kernel of an element kind chosen by
// overload, for the parallel kernels that are written once as templates.
#pragma once

#include <complex>
#include <cstdint>

#include "solver/csp.hpp"

namespace kernel {

inline void columnkernel(float* a, const std::int32_t& m, const std::int32_t& first,
                         const std::int32_t& last, const float& tolerance, std::int32_t* info,
                         const std::int32_t& flagindex) {
  decompose_csp_4(a, m, first, last, tolerance, info, flagindex);
}
inline void columnkernel(double* a, const std::int32_t& m, const std::int32_t& first,
                         const std::int32_t& last, const double& tolerance, std::int32_t* info,
                         const std::int32_t& flagindex) {
  decompose_csp_8(a, m, first, last, tolerance, info, flagindex);
}
inline void columnkernel(std::complex<float>* a, const std::int32_t& m,
                         const std::int32_t& first, const std::int32_t& last,
                         const float& tolerance, std::int32_t* info,
                         const std::int32_t& flagindex) {
  decompose_csp_z4(a, m, first, last, tolerance, info, flagindex);
}
inline void columnkernel(std::complex<double>* a, const std::int32_t& m,
                         const std::int32_t& first, const std::int32_t& last,
                         const double& tolerance, std::int32_t* info,
                         const std::int32_t& flagindex) {
  decompose_csp_z8(a, m, first, last, tolerance, info, flagindex);
}

}  // namespace kernel
