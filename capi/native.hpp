// The C interface's element types as the solver's: the C complex structs
// are std::complex, whose layout they share.
#pragma once

#include <complex>
#include <type_traits>

#include "capi/include/csp/csp.h"

namespace {

// The element type the solver works in for an element type of the C
// interface.
template <class C>
struct nativeof {
  using type = C;
};
template <>
struct nativeof<csp_complex_float> {
  using type = std::complex<float>;
};
template <>
struct nativeof<csp_complex_double> {
  using type = std::complex<double>;
};
static_assert(sizeof(csp_complex_float) == sizeof(std::complex<float>) &&
              alignof(csp_complex_float) == alignof(std::complex<float>));
static_assert(sizeof(csp_complex_double) == sizeof(std::complex<double>) &&
              alignof(csp_complex_double) == alignof(std::complex<double>));

template <class C>
auto native(C* p) {
  using T = typename nativeof<std::remove_const_t<C>>::type;
  using Pointer = std::conditional_t<std::is_const_v<C>, const T*, T*>;
  return reinterpret_cast<Pointer>(p);
}

}  // namespace
