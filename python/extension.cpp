// cspband._csp: the C interface for numpy arrays. The Python side
// (cspband/__init__.py) checks shapes, dtypes and finiteness and makes the
// arrays of the right dtype; this module lays the band out for the solver
// (in place when it already is, else in one copy, from any strides) and
// calls <csp/csp.h> with the interpreter lock released. A factorization kept
// for repeated solves is a Python object owning the C interface's one.
// Batches of systems arrive laid out by the Python side and go to the C
// interface's batched entries in one call each.

#include <csp/csp.hpp>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include "capi/storage.hpp"
#include "python/arrays.hpp"

namespace py = pybind11;

namespace {

using cspband::bykind;
using cspband::fortran;
using cspband::holds;

std::int32_t dimension(py::ssize_t extent) {
  if (extent > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error("array dimension too large for 32-bit indices");
  }
  return static_cast<std::int32_t>(extent);
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

// Batches. The Python side lays every batch out for these entries: a 3-D
// array (systems, rows, columns) whose systems are each column-major with
// leading dimension `rows` (a band: rows = m+1, columns = n; right-hand
// sides: rows = n, columns = nrhs), system k at k*stride elements from the
// first. The whole batch goes to the C interface in one call, the
// interpreter lock released; the codes of the systems come back as an
// int32 array, one per system.

// The batched C entries by element type.
template <class T>
struct batched;
template <>
struct batched<float> {
  static constexpr auto solve = &csp_solve_batched_tasks_s;
  static constexpr auto factor = &csp_factor_batched_tasks_s;
  static constexpr auto factor_solve = &csp_factor_solve_batched_tasks_s;
};
template <>
struct batched<double> {
  static constexpr auto solve = &csp_solve_batched_tasks_d;
  static constexpr auto factor = &csp_factor_batched_tasks_d;
  static constexpr auto factor_solve = &csp_factor_solve_batched_tasks_d;
};
template <>
struct batched<std::complex<float>> {
  static constexpr auto solve = &csp_solve_batched_tasks_c;
  static constexpr auto factor = &csp_factor_batched_tasks_c;
  static constexpr auto factor_solve = &csp_factor_solve_batched_tasks_c;
};
template <>
struct batched<std::complex<double>> {
  static constexpr auto solve = &csp_solve_batched_tasks_z;
  static constexpr auto factor = &csp_factor_batched_tasks_z;
  static constexpr auto factor_solve = &csp_factor_solve_batched_tasks_z;
};

// One batch as the C entries address it.
template <class T>
struct stack {
  T* data;
  std::int32_t count, rows, columns, ld;
  std::int64_t stride;  // elements from one system to the next
};

// The batch in the 3-D array a, checked against the layout above. The
// systems of a batch that is only read may share one array (stride 0:
// `shared`); a batch that is written must be writable, and its systems
// must not overlap.
template <class T>
stack<T> systems(const py::array& a, bool written, bool shared) {
  const auto item = static_cast<py::ssize_t>(sizeof(T));
  if (a.ndim() != 3 || !holds<T>(a.dtype())) {
    throw std::invalid_argument("cspband: a batch must be a 3-D array of the solver's dtype");
  }
  stack<T> s{};
  s.count = dimension(a.shape(0));
  s.rows = dimension(a.shape(1));
  s.columns = dimension(a.shape(2));
  const bool aligned = reinterpret_cast<std::uintptr_t>(a.data()) % alignof(T) == 0;
  const bool rows = s.rows <= 1 || a.strides(1) == item;
  const bool columns = s.columns <= 1 || a.strides(2) == s.rows * item;
  const std::int64_t size = std::int64_t{s.rows} * s.columns;
  s.ld = std::max(s.rows, std::int32_t{1});
  s.stride = s.count <= 1 ? size : a.strides(0) / item;
  const bool apart = s.count <= 1 || (a.strides(0) % item == 0 &&
                                      (s.stride >= size || (shared && s.stride == 0)));
  if (!aligned || !rows || !columns || !apart) {
    throw std::invalid_argument("cspband: a batch is not laid out for the solver");
  }
  if (written) {
    s.data = static_cast<T*>(py::array(a).mutable_data());  // throws for a read-only array
  } else {
    s.data = const_cast<T*>(static_cast<const T*>(a.data()));
  }
  return s;
}

// The codes of a batch's systems, filled by the C entry.
py::array_t<std::int32_t> batchcodes(std::int32_t count) {
  return py::array_t<std::int32_t>(static_cast<py::ssize_t>(count));
}

void samebatch(bool fits) {
  if (!fits) throw std::invalid_argument("cspband: the batches do not fit");
}

// Solves each system in place in x with its band in ab (scratch afterwards).
template <class T>
py::array_t<std::int32_t> solvebatched(py::array& ab, bool lower, py::array& x,
                                       const py::object& tasks) {
  const stack<T> a = systems<T>(ab, true, false);
  const stack<T> b = systems<T>(x, true, false);
  samebatch(a.count == b.count && a.columns == b.rows);
  const std::int32_t count = calltasks(tasks);
  auto info = batchcodes(a.count);
  std::int32_t* codes = info.mutable_data();
  int code = 0;
  {
    py::gil_scoped_release unlocked;
    code = batched<T>::solve(lower ? 'L' : 'U', a.columns, a.rows - 1, b.columns, a.count,
                             csp::detail::c(a.data), a.ld, a.stride, csp::detail::c(b.data),
                             b.ld, b.stride, codes, count);
  }
  checked(code);
  return info;
}

// Factors each band of ab in place, in the form it is in.
template <class T>
py::array_t<std::int32_t> factorbatched(py::array& ab, bool lower, const py::object& tasks) {
  const stack<T> a = systems<T>(ab, true, false);
  const std::int32_t count = calltasks(tasks);
  auto info = batchcodes(a.count);
  std::int32_t* codes = info.mutable_data();
  int code = 0;
  {
    py::gil_scoped_release unlocked;
    code = batched<T>::factor(lower ? 'L' : 'U', a.columns, a.rows - 1, a.count,
                              csp::detail::c(a.data), a.ld, a.stride, codes, count);
  }
  checked(code);
  return info;
}

// Solves each system in place in x with its factor in cb (only read; one
// factor for every system when its stride is 0).
template <class T>
py::array_t<std::int32_t> factorsolvebatched(const py::array& cb, bool lower, py::array& x,
                                             const py::object& tasks) {
  const stack<T> c = systems<T>(cb, false, true);
  const stack<T> b = systems<T>(x, true, false);
  samebatch(c.count == b.count && c.columns == b.rows);
  const std::int32_t count = calltasks(tasks);
  auto info = batchcodes(b.count);
  std::int32_t* codes = info.mutable_data();
  int code = 0;
  {
    py::gil_scoped_release unlocked;
    code = batched<T>::factor_solve(lower ? 'L' : 'U', c.columns, c.rows - 1, b.columns,
                                    b.count, csp::detail::c(static_cast<const T*>(c.data)), c.ld,
                                    c.stride, csp::detail::c(b.data), b.ld, b.stride, codes,
                                    count);
  }
  checked(code);
  return info;
}

// Copies the band of half bandwidth mc <= m of a matrix of order n from the
// caller's storage (byte strides, either form) into LAPACK lower storage
// with leading dimension mc+1 at `to`, column by column, each column one walk
// with a fixed step. Element (i, j), j <= i, is at row i-j, column j of the
// lower form and at row m+j-i, column i of the upper form. Written out here
// rather than taken from capi::copyin: an instance of that template emitted
// in this module displaces the library's (same COMDAT group), which the
// library's merged object refers to by a local symbol, and the link fails.
template <class T>
void lowercopy(const unsigned char* base, py::ssize_t rowstride, py::ssize_t columnstride,
               std::int32_t m, bool lower, std::int32_t n, std::int32_t mc, T* to) {
  const std::int64_t down = lower ? rowstride : columnstride - rowstride;
  for (std::int64_t j = 0; j < n; ++j) {
    const unsigned char* from = lower ? base + j * columnstride
                                      : base + std::int64_t{m} * rowstride + j * columnstride;
    T* column = to + j * (std::int64_t{mc} + 1);
    const std::int64_t length = std::min<std::int64_t>(mc, n - 1 - j) + 1;
    for (std::int64_t i = 0; i < length; ++i, from += down) {
      std::memcpy(column + i, from, sizeof(T));
    }
  }
}

// Copies each band of ab (3-D, (systems, m+1, n), any strides, either form)
// into c, laid out as above in the lower form of half bandwidth
// mc = min(m, n-1) (rows mc+1), and factors it there: the factors a batched
// factorization keeps.
template <class T>
py::array_t<std::int32_t> factorlowerbatched(const py::array& ab, bool lower, py::array& c,
                                             const py::object& tasks) {
  if (ab.ndim() != 3) throw std::invalid_argument("cspband: a batch must be a 3-D array");
  const std::int32_t n = dimension(ab.shape(2)), m = dimension(ab.shape(1)) - 1;
  const stack<T> to = systems<T>(c, true, false);
  samebatch(to.count == ab.shape(0) && to.columns == n && to.rows == capi::bandwidth(n, m) + 1);
  const auto* base = static_cast<const unsigned char*>(ab.data());
  const py::ssize_t step = ab.strides(0), rowstride = ab.strides(1), columnstride = ab.strides(2);
  const std::int32_t count = calltasks(tasks);
  auto info = batchcodes(to.count);
  std::int32_t* codes = info.mutable_data();
  int code = 0;
  {
    py::gil_scoped_release unlocked;
    for (std::int64_t k = 0; k < to.count; ++k) {
      lowercopy(base + k * step, rowstride, columnstride, m, lower, n, to.rows - 1,
                to.data + k * to.stride);
    }
    code = batched<T>::factor('L', n, to.rows - 1, to.count, csp::detail::c(to.data), to.ld,
                              to.stride, codes, count);
  }
  checked(code);
  return info;
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
  module.def(
      "solve_batched",
      [](py::array ab, bool lower, py::array x, const py::object& tasks) {
        samedtype(ab, x);
        return bykind(ab.dtype(),
                      [&]<class T>() { return solvebatched<T>(ab, lower, x, tasks); });
      },
      py::arg("ab"), py::arg("lower"), py::arg("x"), py::arg("tasks"),
      "Solves each system of a batch in place in x (ab holds scratch afterwards); returns "
      "the systems' codes.");
  module.def(
      "factor_batched",
      [](py::array c, bool lower, const py::object& tasks) {
        return bykind(c.dtype(), [&]<class T>() { return factorbatched<T>(c, lower, tasks); });
      },
      py::arg("c"), py::arg("lower"), py::arg("tasks"),
      "Factors each band of a batch in place; returns the systems' codes.");
  module.def(
      "factor_solve_batched",
      [](py::array cb, bool lower, py::array x, const py::object& tasks) {
        samedtype(cb, x);
        return bykind(cb.dtype(),
                      [&]<class T>() { return factorsolvebatched<T>(cb, lower, x, tasks); });
      },
      py::arg("cb"), py::arg("lower"), py::arg("x"), py::arg("tasks"),
      "Solves each system of a batch in place in x with its factor in cb (stride 0: one "
      "factor for all); returns the systems' codes.");
  module.def(
      "factor_lower_batched",
      [](py::array ab, bool lower, py::array c, const py::object& tasks) {
        samedtype(ab, c);
        return bykind(ab.dtype(), [&]<class T>() {
          return factorlowerbatched<T>(ab, lower, c, tasks);
        });
      },
      py::arg("ab"), py::arg("lower"), py::arg("c"), py::arg("tasks"),
      "Copies each band of ab (any strides, either form) into c in lower form and factors "
      "it there; returns the systems' codes.");
  module.def("set_tasks", &csp_set_tasks, py::arg("tasks"));
  module.def("get_tasks", &csp_get_tasks);
  module.def("version", &csp_version);
}
