// cspband._mpi: the distributed routines of <csp/csp_mpi.h> for numpy
// arrays and mpi4py communicators. The Python side (cspband/mpi.py) checks
// the arguments, agrees on them with the other processes and hands over
// arrays already laid out for the C routines: each process's band columns
// (Fortran order, leading dimension m+1) and its rows of the right-hand
// sides (Fortran order, writable). The routines run with the interpreter
// lock released (they wait on the other processes); their codes come back
// as they are, the same on every process, for the Python side to raise.

#include <csp/csp.hpp>
#include <csp/csp_mpi.h>
#include <mpi4py/mpi4py.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "python/arrays.hpp"

namespace py = pybind11;

namespace {

using cspband::bykind;
using cspband::fortran;
using cspband::holds;
using csp::detail::c;

// The communicator an mpi4py Comm object holds (TypeError for anything
// else).
MPI_Comm communicator(const py::object& comm) {
  MPI_Comm* handle = PyMPIComm_Get(comm.ptr());
  if (handle == nullptr) throw py::error_already_set();
  return *handle;
}

// The C routines of one element type T, over the C interface's type.
template <class T>
struct entries;
template <>
struct entries<float> {
  static constexpr auto solve = &csp_dist_solve_tasks_s;
  static constexpr auto factorize = &csp_dist_factorize_tasks_s;
  static constexpr auto solvefactorized = &csp_dist_solve_factorized_tasks_s;
};
template <>
struct entries<double> {
  static constexpr auto solve = &csp_dist_solve_tasks_d;
  static constexpr auto factorize = &csp_dist_factorize_tasks_d;
  static constexpr auto solvefactorized = &csp_dist_solve_factorized_tasks_d;
};
template <>
struct entries<std::complex<float>> {
  static constexpr auto solve = &csp_dist_solve_tasks_c;
  static constexpr auto factorize = &csp_dist_factorize_tasks_c;
  static constexpr auto solvefactorized = &csp_dist_solve_factorized_tasks_c;
};
template <>
struct entries<std::complex<double>> {
  static constexpr auto solve = &csp_dist_solve_tasks_z;
  static constexpr auto factorize = &csp_dist_factorize_tasks_z;
  static constexpr auto solvefactorized = &csp_dist_solve_factorized_tasks_z;
};

// The process's band columns, as the Python side lays them out: a 2-D
// Fortran-ordered array (m+1, ncols) of T, only read.
template <class T>
struct localband {
  T* data;
  std::int32_t m;
  std::int64_t ncols;
  std::int32_t ldab() const { return m + 1; }
};

template <class T>
localband<T> bandof(const py::array& ab) {
  if (ab.ndim() != 2 || !holds<T>(ab.dtype()) || (ab.size() > 0 && !fortran<T>(ab))) {
    throw std::invalid_argument("cspband.mpi: ab is not laid out for the solver");
  }
  return {const_cast<T*>(static_cast<const T*>(ab.data())),
          static_cast<std::int32_t>(ab.shape(0) - 1), ab.shape(1)};
}

// The process's rows of the right-hand sides: a writable Fortran-ordered
// array (ncols,) or (ncols, nrhs) of T, the solution written in place.
template <class T>
struct localrhs {
  T* data;
  std::int32_t nrhs;
  std::int64_t ldb;
};

template <class T>
localrhs<T> rhsof(py::array& x) {
  if (x.ndim() < 1 || x.ndim() > 2 || !holds<T>(x.dtype()) || !x.writeable() ||
      (x.size() > 0 && !fortran<T>(x))) {
    throw std::invalid_argument("cspband.mpi: b is not laid out for the solver");
  }
  return {static_cast<T*>(x.mutable_data()),
          x.ndim() == 1 ? 1 : static_cast<std::int32_t>(x.shape(1)),
          std::max<std::int64_t>(x.shape(0), 1)};
}

// The task count of one call (None: the process's processors).
std::int32_t calltasks(const py::object& tasks) {
  return tasks.is_none() ? 0 : tasks.cast<std::int32_t>();
}

template <class T>
int solve(const py::object& comm, const py::array& ab, bool lower, std::int64_t n,
          std::int64_t first, py::array& x, const py::object& tasks) {
  const MPI_Comm handle = communicator(comm);
  const localband<T> a = bandof<T>(ab);
  const localrhs<T> b = rhsof<T>(x);
  const std::int32_t count = calltasks(tasks);
  py::gil_scoped_release unlocked;
  return entries<T>::solve(handle, lower ? 'L' : 'U', n, a.m, b.nrhs, first + 1, a.ncols,
                           c(a.data), a.ldab(), c(b.data), b.ldb, count);
}

// The process's share of a distributed factorization (cspband.mpi's
// DistributedFactorization holds one). free() releases it, collectively,
// as csp_dist_free_factorization does; an object dropped without it
// releases it then, unless MPI has been finalized (the process is ending,
// and no MPI routine may be called any more).
class factorization {
 public:
  using solver = int (*)(const csp_dist_factorization*, py::array&, const py::object&);

  factorization(csp_dist_factorization* f, solver solve) : f_(f), solve_(solve) {}
  factorization(const factorization&) = delete;
  factorization& operator=(const factorization&) = delete;
  ~factorization() {
    int finalized = 0;
    MPI_Finalized(&finalized);
    if (!finalized) csp_dist_free_factorization(f_);
  }

  int solve(py::array& x, const py::object& tasks) const { return solve_(f_, x, tasks); }

  void free() {
    csp_dist_factorization* f = f_;
    f_ = nullptr;
    py::gil_scoped_release unlocked;
    csp_dist_free_factorization(f);
  }

 private:
  csp_dist_factorization* f_;
  solver solve_;  // solvefactorized<T> for the factorization's element type
};

template <class T>
int solvefactorized(const csp_dist_factorization* f, py::array& x, const py::object& tasks) {
  const localrhs<T> b = rhsof<T>(x);
  const std::int32_t count = calltasks(tasks);
  py::gil_scoped_release unlocked;
  return entries<T>::solvefactorized(f, b.nrhs, c(b.data), b.ldb, count);
}

// Factors the processes' band; returns (code, the factorization or None
// when code != 0).
template <class T>
py::tuple factorize(const py::object& comm, const py::array& ab, bool lower, std::int64_t n,
                    std::int64_t first, const py::object& tasks) {
  const MPI_Comm handle = communicator(comm);
  const localband<T> a = bandof<T>(ab);
  const std::int32_t count = calltasks(tasks);
  csp_dist_factorization* f = nullptr;
  int info = 0;
  {
    py::gil_scoped_release unlocked;
    info = entries<T>::factorize(handle, lower ? 'L' : 'U', n, a.m, first + 1, a.ncols,
                                 c(a.data), a.ldab(), &f, count);
  }
  if (info != 0) return py::make_tuple(info, py::none());
  return py::make_tuple(0, py::cast(std::make_unique<factorization>(f, &solvefactorized<T>)));
}

}  // namespace

PYBIND11_MODULE(_mpi, module) {
  if (import_mpi4py() < 0) throw py::error_already_set();
  module.doc() =
      "The csp band solver's distributed routines for numpy arrays and mpi4py "
      "communicators (used by cspband.mpi).";
  module.attr("OUT_OF_MEMORY") = CSP_OUT_OF_MEMORY;

  module.def(
      "solve",
      [](const py::object& comm, const py::array& ab, bool lower, std::int64_t n,
         std::int64_t first, py::array& x, const py::object& tasks) {
        return bykind(ab.dtype(),
                      [&]<class T>() { return solve<T>(comm, ab, lower, n, first, x, tasks); });
      },
      py::arg("comm"), py::arg("ab"), py::arg("lower"), py::arg("n"), py::arg("first"),
      py::arg("x"), py::arg("tasks"),
      "Solves A x = b in place in x, this process's rows (first: 0-based); collective. "
      "Returns the code, the same on every process.");
  py::class_<factorization>(module, "Factorization",
                            "A process's share of a distributed factorization (no "
                            "constructor: made by factorize).")
      .def("solve", &factorization::solve, py::arg("x"), py::arg("tasks"),
           "Solves in place in x, this process's rows; collective. Returns the code.")
      .def("free", &factorization::free, "Frees the share; collective.");
  module.def(
      "factorize",
      [](const py::object& comm, const py::array& ab, bool lower, std::int64_t n,
         std::int64_t first, const py::object& tasks) {
        return bykind(ab.dtype(),
                      [&]<class T>() { return factorize<T>(comm, ab, lower, n, first, tasks); });
      },
      py::arg("comm"), py::arg("ab"), py::arg("lower"), py::arg("n"), py::arg("first"),
      py::arg("tasks"),
      "Factors the processes' band (first: 0-based; ab only read); collective. Returns "
      "(code, Factorization or None).");
}
