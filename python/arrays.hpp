// What the extension modules of cspband share about numpy arrays: the
// element kind of a dtype, and whether an array is in LAPACK's column
// layout.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <complex>
#include <cstdint>

namespace cspband {

namespace py = pybind11;

// Whether a holds T in Fortran order, aligned: LAPACK storage with the
// leading dimension of its first extent.
template <class T>
bool fortran(const py::array& a) {
  const auto item = static_cast<py::ssize_t>(sizeof(T));
  const bool aligned = reinterpret_cast<std::uintptr_t>(a.data()) % alignof(T) == 0;
  const bool columns = a.ndim() < 2 || a.shape(1) <= 1 || a.strides(1) == a.shape(0) * item;
  return aligned && (a.shape(0) <= 1 || a.strides(0) == item) && columns;
}

// Whether dtype is T's. Dtypes are compared by equivalence, not identity:
// arrays that came through pickle (and so multiprocessing), ctypes arrays
// and dtypes with metadata have dtype objects of their own.
template <class T>
bool holds(const py::dtype& dtype) {
  return dtype.equal(py::dtype::of<T>());
}

// Calls f.template operator()<T>() for the element kind of dtype.
template <class F>
auto bykind(const py::dtype& dtype, F&& f) {
  if (holds<float>(dtype)) return f.template operator()<float>();
  if (holds<double>(dtype)) return f.template operator()<double>();
  if (holds<std::complex<float>>(dtype)) return f.template operator()<std::complex<float>>();
  if (holds<std::complex<double>>(dtype)) return f.template operator()<std::complex<double>>();
  throw py::type_error("cspband: unsupported dtype");
}

}  // namespace cspband
