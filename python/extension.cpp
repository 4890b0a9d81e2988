// cspband._csp: the C interface for numpy arrays. The Python side
// (cspband/__init__.py) checks shapes, dtypes and finiteness and makes the
// arrays of the right dtype; this module lays the band out for the solver
// (in place when it already is, else in one copy, from any strides) and
// calls <csp/csp.h> with the interpreter lock released. A factorization kept
// for repeated solves is a Python object owning the C interface's one.

#include <csp/csp.hpp>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include "capi/storage.hpp"

namespace py = pybind11;

namespace {

std::int32_t dimension(py::ssize_t extent) {
  if (extent > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error("array dimension too large for 32-bit indices");
  }
  return static_cast<std::int32_t>(extent);
}

// Whether a holds T in Fortran order, aligned: LAPACK storage with the
// leading dimension of its first extent.
template <class T>
bool fortran(const py::array& a) {
  const auto item = static_cast<py::ssize_t>(sizeof(T));
  const bool aligned = reinterpret_cast<std::uintptr_t>(a.data()) % alignof(T) == 0;
  const bool columns = a.ndim() < 2 || a.shape(1) <= 1 || a.strides(1) == a.shape(0) * item;
  return aligned && (a.shape(0) <= 1 || a.strides(0) == item) && columns;
}

// The band of a 2-D array ab of shape (m+1, n), in scipy's (and LAPACK's)
// lower or upper form, as the solver takes it: the lower form with leading
// dimension mc+1, mc = min(m, n-1). ab itself when it already is that and
// the call allows it (for a solve that writes in it: ab may be overwritten
// and is writable); else a copy, made by prepare() (which needs no
// interpreter lock).
template <class T>
class band {
 public:
  enum use { overwrite, read, copy };

  band(const py::array& ab, bool lower, use how)
      : n_(dimension(ab.shape(1))), m_(dimension(ab.shape(0)) - 1),
        from_{static_cast<const unsigned char*>(ab.data()), ab.strides(0), ab.strides(1), m_,
              lower} {
    const bool allowed = how == read || (how == overwrite && ab.writeable());
    if (allowed && lower && fortran<T>(ab) && capi::compactlayout(lower, n_, m_, m_ + 1)) {
      own_ = const_cast<T*>(static_cast<const T*>(ab.data()));
    }
  }

  // False when the copy cannot be allocated. Touches no Python object.
  bool prepare() {
    if (own_ != nullptr) return true;
    if (!copy_.acquire(capi::compactsize(n_, m()))) return false;
    capi::copyin(from_, n_, m(), copy_.data());
    return true;
  }
  T* data() const { return own_ != nullptr ? own_ : copy_.data(); }
  std::int32_t n() const { return n_; }
  std::int32_t m() const { return capi::bandwidth(n_, m_); }

 private:
  std::int32_t n_, m_;
  capi::stridedband<const T> from_;
  T* own_ = nullptr;  // ab itself, when the solver may work in it (read only for
                      // band<T>::read)
  capi::scratch<T> copy_;
};

// The right-hand sides x, made by the Python side: Fortran order, writable.
// No right-hand side at all: null, which the C interface accepts then.
template <class T>
T* rhs(py::array& x, std::int32_t n, std::int32_t& nrhs) {
  if (x.shape(0) != n || x.ndim() > 2) throw std::invalid_argument("cspband: b does not fit");
  nrhs = x.ndim() == 1 ? 1 : dimension(x.shape(1));
  if (x.size() == 0) return nullptr;
  if (!fortran<T>(x) || !x.writeable()) {
    throw std::invalid_argument("cspband: b must be a writable Fortran-ordered array");
  }
  return static_cast<T*>(x.mutable_data());
}

// A return code of the C interface that is not the matrix's: memory, or an
// argument the Python side should have caught.
int checked(int info) {
  if (info == CSP_OUT_OF_MEMORY) throw std::bad_alloc();
  if (info < 0) throw std::invalid_argument("cspband: internal argument error");
  return info;
}

// The task count of one call (None: the process-wide count), handed to the
// C interface with the call, so that the count other threads' solves read
// is never touched.
std::int32_t calltasks(const py::object& tasks) {
  return tasks.is_none() ? 0 : tasks.cast<std::int32_t>();
}

template <class T>
int solve(py::array& ab, bool lower, bool overwrite, py::array& x,
          const py::object& tasks) {
  band<T> a(ab, lower, overwrite ? band<T>::overwrite : band<T>::copy);
  std::int32_t nrhs = 0;
  T* b = rhs<T>(x, a.n(), nrhs);
  const std::int32_t count = calltasks(tasks);
  int info = CSP_OUT_OF_MEMORY;
  {
    py::gil_scoped_release unlocked;
    if (a.prepare()) {
      info = csp::nothrow::solve('L', a.n(), a.m(), nrhs, a.data(), a.m() + 1, b,
                                 std::max(a.n(), std::int32_t{1}), count);
    }
  }
  return checked(info);
}

template <class T>
int factor(py::array& c, bool lower) {
  if (!fortran<T>(c) || !c.writeable()) {
    throw std::invalid_argument("cspband: the factor must be a writable Fortran-ordered array");
  }
  const std::int32_t n = dimension(c.shape(1)), m = dimension(c.shape(0)) - 1;
  T* data = static_cast<T*>(c.mutable_data());
  py::gil_scoped_release unlocked;
  return checked(csp::nothrow::factor(lower ? 'L' : 'U', n, m, data, m + 1));
}

template <class T>
int factorsolve(py::array& cb, bool lower, py::array& x) {
  band<T> a(cb, lower, band<T>::read);
  std::int32_t nrhs = 0;
  T* b = rhs<T>(x, a.n(), nrhs);
  int info = CSP_OUT_OF_MEMORY;
  {
    py::gil_scoped_release unlocked;
    if (a.prepare()) {
      info = csp::nothrow::factor_solve('L', a.n(), a.m(), nrhs, a.data(), a.m() + 1, b,
                                        std::max(a.n(), std::int32_t{1}));
    }
  }
  return checked(info);
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

void samedtype(const py::array& a, const py::array& b) {
  if (!a.dtype().equal(b.dtype())) throw py::type_error("cspband: ab and b differ in dtype");
}

// The C entries of a factorization kept for repeated solves, by element
// type.
template <class T>
struct kept;
template <>
struct kept<float> {
  static constexpr auto factorize = &csp_factorize_tasks_s;
  static constexpr auto solve = &csp_solve_factorized_tasks_s;
};
template <>
struct kept<double> {
  static constexpr auto factorize = &csp_factorize_tasks_d;
  static constexpr auto solve = &csp_solve_factorized_tasks_d;
};
template <>
struct kept<std::complex<float>> {
  static constexpr auto factorize = &csp_factorize_tasks_c;
  static constexpr auto solve = &csp_solve_factorized_tasks_c;
};
template <>
struct kept<std::complex<double>> {
  static constexpr auto factorize = &csp_factorize_tasks_z;
  static constexpr auto solve = &csp_solve_factorized_tasks_z;
};

struct freefactorization {
  void operator()(csp_factorization* f) const { csp_free_factorization(f); }
};
using ownedfactorization = std::unique_ptr<csp_factorization, freefactorization>;

// Solves in place in x with f, a factorization of order n and element type T.
template <class T>
int solvekept(const csp_factorization* f, std::int32_t n, py::array& x, const py::object& tasks) {
  if (!holds<T>(x.dtype())) {
    throw py::type_error("cspband: b and the factorization differ in dtype");
  }
  std::int32_t nrhs = 0;
  T* b = rhs<T>(x, n, nrhs);
  const std::int32_t count = calltasks(tasks);
  int info = 0;
  {
    py::gil_scoped_release unlocked;
    info = kept<T>::solve(f, nrhs, csp::detail::c(b), std::max(n, std::int32_t{1}), count);
  }
  return checked(info);
}

// A factorization kept for repeated solves (cspband.BandFactorization holds
// one), freed with the object. It is never changed after it is made: a solve
// only reads it, so threads may solve with one factorization at once.
class factorization {
 public:
  using solver = int (*)(const csp_factorization*, std::int32_t, py::array&, const py::object&);

  factorization(ownedfactorization f, std::int32_t n, solver solve)
      : f_(std::move(f)), n_(n), solve_(solve) {}

  int solve(py::array& x, const py::object& tasks) const { return solve_(f_.get(), n_, x, tasks); }

 private:
  ownedfactorization f_;
  std::int32_t n_;
  solver solve_;  // solvekept<T> for the factorization's element type
};

// Factors the band ab (read only: no copy where it is already the solver's
// layout); returns (code, the factorization or None when code != 0).
template <class T>
py::tuple factorize(const py::array& ab, bool lower, const py::object& tasks) {
  band<T> a(ab, lower, band<T>::read);
  const std::int32_t count = calltasks(tasks);
  csp_factorization* f = nullptr;
  int info = CSP_OUT_OF_MEMORY;
  {
    py::gil_scoped_release unlocked;
    if (a.prepare()) {
      info = kept<T>::factorize('L', a.n(), a.m(), csp::detail::c(a.data()), a.m() + 1, &f,
                                count);
    }
  }
  ownedfactorization owned(f);
  if (checked(info) > 0) return py::make_tuple(info, py::none());
  auto made = std::make_unique<factorization>(std::move(owned), a.n(), &solvekept<T>);
  return py::make_tuple(0, py::cast(std::move(made)));
}

}  // namespace

PYBIND11_MODULE(_csp, module) {
  module.doc() = "The csp band solver's C interface for numpy arrays (used by cspband).";

  module.def(
      "solve",
      [](py::array ab, bool lower, bool overwrite, py::array x,
         const py::object& tasks) {
        samedtype(ab, x);
        return bykind(ab.dtype(), [&]<class T>() { return solve<T>(ab, lower, overwrite, x, tasks); });
      },
      py::arg("ab"), py::arg("lower"), py::arg("overwrite_ab"), py::arg("x"), py::arg("tasks"),
      "Solves A x = b in place in x; returns the C interface's code.");
  module.def(
      "factor",
      [](py::array c, bool lower) {
        return bykind(c.dtype(), [&]<class T>() { return factor<T>(c, lower); });
      },
      py::arg("c"), py::arg("lower"), "Factors the band in c in place; returns the code.");
  module.def(
      "factor_solve",
      [](py::array cb, bool lower, py::array x) {
        samedtype(cb, x);
        return bykind(cb.dtype(), [&]<class T>() { return factorsolve<T>(cb, lower, x); });
      },
      py::arg("cb"), py::arg("lower"), py::arg("x"),
      "Solves with the factor in cb in place in x; returns the code.");
  py::class_<factorization>(module, "Factorization",
                            "A factorization kept for repeated solves (no constructor: "
                            "made by factorize).")
      .def("solve", &factorization::solve, py::arg("x"), py::arg("tasks"),
           "Solves in place in x; returns the C interface's code.");
  module.def(
      "factorize",
      [](py::array ab, bool lower, const py::object& tasks) {
        return bykind(ab.dtype(), [&]<class T>() { return factorize<T>(ab, lower, tasks); });
      },
      py::arg("ab"), py::arg("lower"), py::arg("tasks"),
      "Factors the band ab (never written); returns (code, Factorization or None).");
  module.def("set_tasks", &csp_set_tasks, py::arg("tasks"));
  module.def("get_tasks", &csp_get_tasks);
  module.def("version", &csp_version);
}
