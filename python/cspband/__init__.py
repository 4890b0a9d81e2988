"""cspband: a parallel direct solver for symmetric positive definite band
systems, called as scipy.linalg's banded routines are.

    solveh_banded(ab, b, ...)           A x = b for real SPD band matrices
    cholesky_banded(ab, ...)            the Cholesky factor in scipy's storage
    cho_solve_banded((cb, lower), b)    a solve with that factor
    solve_symmetric_banded(ab, b, ...)  real or complex symmetric (A = A.T)
    factorized(ab, ...)                 factor once, solve many times
    set_tasks(n), get_tasks()           the process-wide task count

The band is stored as scipy stores it (ab of shape (m+1, n)): upper form
ab[m + i - j, j] == a[i, j] for i <= j (the default), lower form
ab[i - j, j] == a[i, j] for i >= j (lower=True). The interpreter lock is
released while the solver runs, so solves from several threads run at once.
"""

import operator

import numpy as np
from numpy.linalg import LinAlgError

from . import _csp

__version__ = _csp.version()

__all__ = [
    "solveh_banded",
    "cholesky_banded",
    "cho_solve_banded",
    "solve_symmetric_banded",
    "factorized",
    "BandFactorization",
    "set_tasks",
    "get_tasks",
    "__version__",
]

_INT32_MAX = 2**31 - 1
_NOT_POSITIVE_DEFINITE = "matrix is not positive definite: the factorization rejected a pivot"


def _array(a):
    """a as an array, rejected as scipy's banded routines reject it. No copy
    of an ndarray is made here: the size checks come first."""
    if np.ma.isMaskedArray(a):
        raise ValueError("masked arrays are not supported")
    a = np.asarray(a)
    if a.dtype == object:
        raise ValueError("object arrays are not supported")
    if a.dtype.kind not in "biufc":
        raise TypeError(f"unsupported array dtype {a.dtype}")
    return a


def _check_finite(check_finite, *arrays):
    if check_finite and not all(np.isfinite(a).all() for a in arrays):
        raise ValueError("array must not contain infs or NaNs")


def _datacopied(arr, original):
    """Whether arr is a private copy of original, free to be overwritten."""
    if arr is original:
        return False
    if not isinstance(original, np.ndarray) and hasattr(original, "__array__"):
        return False
    return arr.base is None


def _real_dtype(routine, *arrays):
    """float32 when every array is float32, else float64; complex refused."""
    if any(a.dtype.kind == "c" for a in arrays):
        raise TypeError(
            f"cspband.{routine} takes real arrays: scipy's {routine} is Hermitian for "
            "complex input, this library's complex kinds are complex symmetric "
            "(A = A.T); use cspband.solve_symmetric_banded for those"
        )
    if all(a.dtype == np.float32 for a in arrays):
        return np.dtype(np.float32)
    return np.dtype(np.float64)


def _any_dtype(*arrays):
    """The solver's kind for real or complex arrays: single precision only
    when every array is single precision."""
    single = all(a.dtype in (np.float32, np.complex64) for a in arrays)
    if any(a.dtype.kind == "c" for a in arrays):
        return np.dtype(np.complex64 if single else np.complex128)
    return np.dtype(np.float32 if single else np.float64)


def _fits_int32(*extents):
    if any(extent > _INT32_MAX for extent in extents):
        raise ValueError("array dimension too large for 32-bit indices")


def _band_shape(a, name):
    if a.ndim != 2 or a.shape[0] < 1:
        raise ValueError(f"{name} must be a 2-D array of shape (m+1, n), got shape {a.shape}")
    _fits_int32(*a.shape)


def _rhs_shape(n, b, name):
    """b fits a system of order n (the columns of the band `name`)."""
    if b.ndim not in (1, 2):
        raise ValueError(f"b must be a 1-D or 2-D array, got shape {b.shape}")
    if n != b.shape[0]:
        raise ValueError(f"shapes of {name} and b are not compatible.")
    _fits_int32(*b.shape)


def _tasks(tasks):
    if tasks is None:
        return None
    tasks = operator.index(tasks)
    if tasks < 1:
        raise ValueError(f"tasks must be at least 1, got {tasks}")
    return min(tasks, _INT32_MAX)


def _writable_fortran(a, dtype):
    return (
        a.dtype == dtype and a.flags.f_contiguous and a.flags.writeable and a.flags.aligned
    )


def _solution_array(b1, dtype, overwrite_b):
    """b itself when it may be overwritten and is laid out for the solver,
    else a Fortran-ordered copy in the solver's dtype."""
    if overwrite_b and _writable_fortran(b1, dtype):
        return b1
    return np.array(b1, dtype=dtype, order="F")


def _raise_for(info):
    if info > 0:
        raise LinAlgError(_NOT_POSITIVE_DEFINITE)


def _solve(ab, b, overwrite_ab, overwrite_b, lower, check_finite, tasks, dtype_of):
    a1 = _array(ab)
    b1 = _array(b)
    _band_shape(a1, "ab")
    _rhs_shape(a1.shape[1], b1, "ab")
    tasks = _tasks(tasks)
    _check_finite(check_finite, a1, b1)
    dtype = dtype_of(a1, b1)
    overwrite_ab = overwrite_ab or _datacopied(a1, ab)
    overwrite_b = overwrite_b or _datacopied(b1, b)
    if a1.dtype != dtype:
        # One converted copy, in the solver's own layout for the lower form.
        a1 = np.asarray(a1, dtype=dtype, order="F")
        overwrite_ab = True
    x = _solution_array(b1, dtype, overwrite_b)
    if a1.shape[1] > 0:
        _raise_for(_csp.solve(a1, bool(lower), bool(overwrite_ab), x, tasks))
    return x


def solveh_banded(ab, b, overwrite_ab=False, overwrite_b=False, lower=False,
                  check_finite=True, *, tasks=None):
    """Solve a x = b for a real symmetric positive definite band matrix a.

    As scipy.linalg.solveh_banded: ab (m+1, n) holds the band in upper form
    (ab[m + i - j, j] == a[i, j], i <= j) or, with lower=True, in lower form
    (ab[i - j, j] == a[i, j], i >= j); b has shape (n,) or (n, k), and the
    result has b's shape. float32 input stays float32, other real and
    integer input becomes float64; complex input raises TypeError (use
    solve_symmetric_banded). tasks: at most this many tasks for this call
    alone (the process-wide count of set_tasks, which solves on other
    threads read, is not touched); None: the process-wide count.

    ab and b are changed only when overwrite_ab / overwrite_b is true (ab
    then holds scratch). With overwrite_ab=True and ab in lower form,
    Fortran-ordered float32/float64, the band is not copied; otherwise it is
    copied once.

    Raises LinAlgError when a is not positive definite, ValueError for
    shapes that do not fit (checked before anything is copied) and, with
    check_finite, for NaN or inf. With check_finite=False nothing is
    checked: NaN in ab makes a pivot test fail (LinAlgError), and so does
    inf where it makes a pivot NaN; elsewhere inf in ab gives finite but
    meaningless numbers without an error; NaN or inf in b propagates.
    """
    return _solve(ab, b, overwrite_ab, overwrite_b, lower, check_finite, tasks,
                  lambda *arrays: _real_dtype("solveh_banded", *arrays))


def solve_symmetric_banded(ab, b, overwrite_ab=False, overwrite_b=False, lower=False,
                           check_finite=True, *, tasks=None):
    """Solve a x = b for a real or complex symmetric band matrix, a = a.T.

    Arguments as solveh_banded. Complex matrices are complex symmetric (no
    conjugation: the stored triangle is mirrored as it is) and are factored
    as a = L L.T; complex64 stays complex64 and complex128 complex128 (with
    any other input, double precision). Raises LinAlgError when the
    factorization meets a zero pivot (real: a pivot that is not positive).
    """
    return _solve(ab, b, overwrite_ab, overwrite_b, lower, check_finite, tasks, _any_dtype)


def cholesky_banded(ab, overwrite_ab=False, lower=False, check_finite=True):
    """Cholesky factor of a real symmetric positive definite band matrix.

    As scipy.linalg.cholesky_banded: returns c of ab's shape, the factor U
    (a = U.T U, upper form) or L (a = L L.T, lower=True) in ab's storage,
    for cho_solve_banded. The entries outside the band keep ab's values.
    """
    a1 = _array(ab)
    _band_shape(a1, "ab")
    dtype = _real_dtype("cholesky_banded", a1)
    _check_finite(check_finite, a1)
    overwrite_ab = overwrite_ab or _datacopied(a1, ab)
    c = a1 if overwrite_ab and _writable_fortran(a1, dtype) else np.array(a1, dtype=dtype, order="F")
    if c.shape[1] > 0:
        _raise_for(_csp.factor(c, bool(lower)))
    return c


def cho_solve_banded(cb_and_lower, b, overwrite_b=False, check_finite=True):
    """Solve a x = b with the factor from cholesky_banded.

    As scipy.linalg.cho_solve_banded: cb_and_lower is (cb, lower), cb the
    factor and lower the form it is in. cb is never changed.
    """
    (cb, lower) = cb_and_lower
    cb1 = _array(cb)
    b1 = _array(b)
    _band_shape(cb1, "cb")
    _rhs_shape(cb1.shape[1], b1, "cb")
    dtype = _real_dtype("cho_solve_banded", cb1, b1)
    _check_finite(check_finite, cb1, b1)
    overwrite_b = overwrite_b or _datacopied(b1, b)
    if cb1.dtype != dtype:
        cb1 = np.asarray(cb1, dtype=dtype, order="F")
    x = _solution_array(b1, dtype, overwrite_b)
    if cb1.shape[1] > 0:
        _raise_for(_csp.factor_solve(cb1, bool(lower), x))
    return x


class BandFactorization:
    """A factorization of a symmetric band matrix kept for repeated solves:
    the fast path when one matrix serves many right-hand sides (time
    stepping: factor once, solve at every step). Made by factorized(), whose
    arguments the constructor takes as well.

    Attributes: n (the order), m (the half bandwidth as ab gave it,
    ab.shape[0] - 1), dtype (float32, float64, complex64 or complex128),
    lower (the storage form ab had) and tasks (the task count its solves
    run with by default; None: the process-wide count).

    solve(b) or f(b) solves a x = b. The factorization is never changed
    after it is made, so threads may solve with one factorization at once.
    Its memory, about (2m+1) n elements, is freed with the object.
    """

    __slots__ = ("_factor", "_n", "_m", "_dtype", "_lower", "_tasks")

    def __init__(self, ab, lower=False, check_finite=True, overwrite_ab=False, *, tasks=None):
        a1 = _array(ab)
        _band_shape(a1, "ab")
        tasks = _tasks(tasks)
        _check_finite(check_finite, a1)
        dtype = _any_dtype(a1)
        if a1.dtype != dtype:
            a1 = np.asarray(a1, dtype=dtype, order="F")
        # ab is only read, so overwrite_ab (scipy's signature) changes nothing.
        info, factor = _csp.factorize(a1, bool(lower), tasks)
        _raise_for(info)
        self._factor = factor
        self._n, self._m = a1.shape[1], a1.shape[0] - 1
        self._dtype = dtype
        self._lower = bool(lower)
        self._tasks = tasks

    n = property(lambda self: self._n, doc="The order of the matrix.")
    m = property(lambda self: self._m, doc="The half bandwidth, ab.shape[0] - 1.")
    dtype = property(lambda self: self._dtype, doc="The dtype the matrix was factored in.")
    lower = property(lambda self: self._lower, doc="Whether ab was in lower form.")
    tasks = property(lambda self: self._tasks,
                     doc="The task count of its solves (None: the process-wide count).")

    def solve(self, b, overwrite_b=False, check_finite=True, *, tasks=None):
        """Solve a x = b; b has shape (n,) or (n, k), the result b's shape.

        The solve runs in the factorization's dtype: b is converted to it,
        and the result has it. Complex b with a real factorization is
        solved by its real and imaginary parts (one solve of 2k columns, as
        scipy solves complex b with a real matrix); the result is then
        complex (complex64 for float32, complex128 for float64). b is
        changed only with overwrite_b, when it is laid out for the solver
        (Fortran-ordered, writable, of the result's dtype); the result is
        then b itself. tasks: at most this many tasks for this solve; None:
        the count given to factorized(). Raises ValueError when b does not
        fit and, with check_finite, for NaN or inf in b.
        """
        b1 = _array(b)
        _rhs_shape(self._n, b1, "the factorization")
        tasks = self._tasks if tasks is None else _tasks(tasks)
        _check_finite(check_finite, b1)
        if b1.dtype.kind == "c" and self._dtype.kind == "f":
            return self._solve_parts(b1, tasks)
        x = _solution_array(b1, self._dtype, overwrite_b or _datacopied(b1, b))
        _raise_for(self._factor.solve(x, tasks))
        return x

    __call__ = solve

    def _solve_parts(self, b1, tasks):
        """Complex b, real factorization: the real parts in the first k
        columns, the imaginary parts in the last k, in one solve."""
        n = self._n
        k = 1 if b1.ndim == 1 else b1.shape[1]
        _fits_int32(2 * k)
        parts = np.empty((n, 2 * k), dtype=self._dtype, order="F")
        columns = b1.reshape(n, k)
        parts[:, :k] = columns.real
        parts[:, k:] = columns.imag
        _raise_for(self._factor.solve(parts, tasks))
        x = np.empty((n, k), dtype=np.result_type(self._dtype, np.complex64), order="F")
        x.real = parts[:, :k]
        x.imag = parts[:, k:]
        return x.reshape(b1.shape)

    def __repr__(self):
        form = "lower" if self._lower else "upper"
        return f"<BandFactorization n={self._n} m={self._m} dtype={self._dtype} {form}>"


def factorized(ab, lower=False, check_finite=True, overwrite_ab=False, *, tasks=None):
    """Factor a symmetric band matrix once, for many solves.

    ab (m+1, n) holds the band as for solveh_banded (upper form, or lower
    form with lower=True). Real matrices must be positive definite;
    complex ones are complex symmetric (a = a.T, no conjugation), factored
    as a = L L.T. float32 stays float32 and complex64 complex64; other real
    and integer input becomes float64, other complex input complex128.

    Returns a BandFactorization: f.solve(b) or f(b) solves a x = b, as
    solveh_banded(ab, b, lower=lower) would (to the last bit for large n
    and narrow bands, where solveh_banded takes the same path). ab is never
    modified, and it is not copied when it is a Fortran-ordered, lower-form
    array of the factorization's dtype (m < n); overwrite_ab is accepted
    for scipy's signature and changes nothing. tasks: at most this many
    tasks for the factorization and, by default, for every solve with it
    (the process-wide count of set_tasks is not touched); None: the
    process-wide count.

    Raises LinAlgError when a is not positive definite (complex: a zero
    pivot), ValueError for shapes that do not fit and, with check_finite,
    for NaN or inf in ab; MemoryError when the factor does not fit in
    memory.
    """
    return BandFactorization(ab, lower, check_finite, overwrite_ab, tasks=tasks)


def set_tasks(n):
    """Set the task count of every later solve in this process (capped at
    the configured processors and 32, and at each solve by the CPUs its
    thread may use); n <= 0: the processor count again."""
    _csp.set_tasks(max(min(operator.index(n), _INT32_MAX), -_INT32_MAX))


def get_tasks():
    """The most tasks a solve started now on this thread runs with: the
    count of set_tasks capped by the CPUs this thread may run on (its
    affinity mask) and the process's CPU quota. A solve runs on fewer when
    its system is too small to repay more."""
    return _csp.get_tasks()
