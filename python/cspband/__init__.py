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

Every function also takes batches, as scipy (1.16 on) does: leading
dimensions of ab (..., m+1, n) and of b (..., n, k) are batch dimensions,
broadcast against each other; a 1-D b is one vector for every system. A
batch goes to the solver in one call.
"""

import math
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


def _band_core(a, name):
    if a.ndim < 2 or a.shape[-2] < 1:
        raise ValueError(
            f"{name} must be an array of shape (..., m+1, n), got shape {a.shape}")


def _zero_size(batch, routine):
    if math.prod(batch) == 0:
        raise ValueError(f"`{routine}` does not support zero-size batches.")


def _batch_shape(a1, b1, name, routine):
    """The batch shape of a band a1 (..., m+1, n) with right-hand sides b1,
    and whether b1's core is a vector. As scipy takes batches: b1 of two or
    more dimensions is (..., n, k), a 1-D b1 is one vector (n,); the batch
    dimensions broadcast."""
    _band_core(a1, name)
    if b1.ndim == 0:
        raise ValueError(f"b must be an array of shape (n,) or (..., n, k), got shape {b1.shape}")
    vector = b1.ndim == 1
    batch = np.broadcast_shapes(a1.shape[:-2], () if vector else b1.shape[:-2])
    _zero_size(batch, routine)
    if a1.shape[-1] != b1.shape[-1 if vector else -2]:
        raise ValueError(f"shapes of {name} and b are not compatible.")
    _fits_int32(math.prod(batch), *a1.shape[-2:], *b1.shape[-2:])
    return batch, vector


def _laid_out(a, dtype, vector=False, written=True):
    """Whether a's systems are laid out as the batched entries take them:
    each system column-major with leading dimension its rows (a vector:
    contiguous), the systems one after another, aligned, of dtype (and
    writable when they are to be written)."""
    systems = a if vector else np.swapaxes(a, -1, -2)
    return (a.dtype == dtype and a.flags.aligned and systems.flags.c_contiguous
            and (a.flags.writeable or not written))


def _new_systems(shape, dtype, vector=False):
    """An uninitialised array of shape, laid out as _laid_out asks."""
    if vector:
        return np.empty(shape, dtype=dtype)
    return np.swapaxes(np.empty(shape[:-2] + shape[:-3:-1], dtype=dtype), -1, -2)


def _copy_systems(a, batch, dtype, vector=False):
    """a broadcast to batch, in a new laid-out array of dtype."""
    x = _new_systems(batch + a.shape[-1 if vector else -2:], dtype, vector)
    x[...] = a
    return x


def _stack(a, vector=False):
    """The systems of a laid-out array as the extension takes them: one 3-D
    view (systems, rows, columns); a vector is one column."""
    if vector:
        return a.reshape(math.prod(a.shape[:-1]), a.shape[-1], 1)
    systems = np.swapaxes(a, -1, -2)
    flat = systems.reshape(math.prod(a.shape[:-2]), a.shape[-1], a.shape[-2])
    return np.swapaxes(flat, 1, 2)


def _batched_solution(b1, batch, vector, dtype, overwrite_b):
    """b1 itself when it may be overwritten, has the result's shape and is
    laid out for the solver; else a laid-out copy, b1 broadcast to batch."""
    shape = batch + b1.shape[-1 if vector else -2:]
    if overwrite_b and b1.shape == shape and _laid_out(b1, dtype, vector):
        return b1
    return _copy_systems(b1, batch, dtype, vector)


def _band_scratch(a1, dtype, overwrite_ab):
    """The bands of a1 (its own batch) for the solver to work in: a1 itself
    when it may be overwritten and is laid out, else a copy."""
    if overwrite_ab and _laid_out(a1, dtype):
        return a1
    return _copy_systems(a1, a1.shape[:-2], dtype)


def _factors_for(c, batch):
    """The stack of factors for the systems of batch, from c (laid out, of a
    batch shape that broadcasts to batch): c itself with a factor per
    system; one factor for all at stride 0; else each factor copied to the
    systems it serves (copies, not factorizations)."""
    count, own = math.prod(batch), math.prod(c.shape[:-2])
    if own == count:
        return _stack(c)
    if own == 1:
        one = _stack(c)
        return np.broadcast_to(one, (count,) + one.shape[1:])
    return _stack(_copy_systems(c, batch, c.dtype))


def _raise_for_batch(info, shape, batch):
    """LinAlgError naming the first system of batch whose code is nonzero;
    info holds the codes of the systems of shape, which broadcasts to
    batch (bands shared by several systems fail for each of them)."""
    failed = np.flatnonzero(np.broadcast_to(np.asarray(info).reshape(shape), batch))
    if failed.size:
        index = tuple(int(i) for i in np.unravel_index(failed[0], batch))
        more = f" and {failed.size - 1} more" if failed.size > 1 else ""
        raise LinAlgError(f"{_NOT_POSITIVE_DEFINITE} (batch index {index}{more})")


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


def _solve(ab, b, overwrite_ab, overwrite_b, lower, check_finite, tasks, dtype_of, routine):
    a1 = _array(ab)
    b1 = _array(b)
    if a1.ndim > 2 or b1.ndim > 2:
        return _solve_batched(a1, b1, ab, b, overwrite_ab, overwrite_b, lower, check_finite,
                              tasks, dtype_of, routine)
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


def _solve_batched(a1, b1, ab, b, overwrite_ab, overwrite_b, lower, check_finite, tasks,
                   dtype_of, routine):
    batch, vector = _batch_shape(a1, b1, "ab", routine)
    tasks = _tasks(tasks)
    _check_finite(check_finite, a1, b1)
    dtype = dtype_of(a1, b1)
    overwrite_ab = overwrite_ab or _datacopied(a1, ab)
    x = _batched_solution(b1, batch, vector, dtype, overwrite_b or _datacopied(b1, b))
    if a1.shape[-1] == 0:
        return x
    lower = bool(lower)
    bands = _band_scratch(a1, dtype, overwrite_ab)
    if math.prod(a1.shape[:-2]) == math.prod(batch):
        # A band per system: each factored and solved where it is.
        info = _csp.solve_batched(_stack(bands), lower, _stack(x, vector), tasks)
        _raise_for_batch(info, batch, batch)
    else:
        # Bands shared by several systems: each factored once, then every
        # system solved with its factor.
        info = _csp.factor_batched(_stack(bands), lower, tasks)
        _csp.factor_solve_batched(_factors_for(bands, batch), lower, _stack(x, vector), tasks)
        _raise_for_batch(info, a1.shape[:-2], batch)
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

    Batches: ab of shape (..., m+1, n) and b of shape (..., n, k) (or a 1-D
    b, one vector for every system) solve every system of the broadcast
    batch shape, in one call of the solver; the result has shape
    batch + b's core shape. Each system's result is the same, bit for bit,
    as the call on that system alone (for n < 20000; see docs/python.md).
    A band that broadcasts over several systems is factored once. A pivot
    rejected in any system raises LinAlgError naming its batch index, the
    other systems solved all the same (in b itself with overwrite_b, when b
    has the result's shape and each system is Fortran-ordered, one after
    another).
    """
    return _solve(ab, b, overwrite_ab, overwrite_b, lower, check_finite, tasks,
                  lambda *arrays: _real_dtype("solveh_banded", *arrays), "solveh_banded")


def solve_symmetric_banded(ab, b, overwrite_ab=False, overwrite_b=False, lower=False,
                           check_finite=True, *, tasks=None):
    """Solve a x = b for a real or complex symmetric band matrix, a = a.T.

    Arguments as solveh_banded. Complex matrices are complex symmetric (no
    conjugation: the stored triangle is mirrored as it is) and are factored
    as a = L L.T; complex64 stays complex64 and complex128 complex128 (with
    any other input, double precision). Raises LinAlgError when the
    factorization meets a zero pivot (real: a pivot that is not positive).
    Batches as solveh_banded.
    """
    return _solve(ab, b, overwrite_ab, overwrite_b, lower, check_finite, tasks, _any_dtype,
                  "solve_symmetric_banded")


def cholesky_banded(ab, overwrite_ab=False, lower=False, check_finite=True):
    """Cholesky factor of a real symmetric positive definite band matrix.

    As scipy.linalg.cholesky_banded: returns c of ab's shape, the factor U
    (a = U.T U, upper form) or L (a = L L.T, lower=True) in ab's storage,
    for cho_solve_banded. The entries outside the band keep ab's values.

    Batches: ab of shape (..., m+1, n) gives the factor of each band, the
    same bits as the call on that band alone, in an array of ab's shape;
    LinAlgError names the batch index of a band that is not positive
    definite (the others are factored all the same).
    """
    a1 = _array(ab)
    if a1.ndim > 2:
        return _cholesky_batched(a1, ab, overwrite_ab, lower, check_finite)
    _band_shape(a1, "ab")
    dtype = _real_dtype("cholesky_banded", a1)
    _check_finite(check_finite, a1)
    overwrite_ab = overwrite_ab or _datacopied(a1, ab)
    c = a1 if overwrite_ab and _writable_fortran(a1, dtype) else np.array(a1, dtype=dtype, order="F")
    if c.shape[1] > 0:
        _raise_for(_csp.factor(c, bool(lower)))
    return c


def _cholesky_batched(a1, ab, overwrite_ab, lower, check_finite):
    _band_core(a1, "ab")
    batch = a1.shape[:-2]
    _zero_size(batch, "cholesky_banded")
    _fits_int32(math.prod(batch), *a1.shape[-2:])
    dtype = _real_dtype("cholesky_banded", a1)
    _check_finite(check_finite, a1)
    c = _band_scratch(a1, dtype, overwrite_ab or _datacopied(a1, ab))
    if c.shape[-1] > 0:
        _raise_for_batch(_csp.factor_batched(_stack(c), bool(lower), None), batch, batch)
    return c


def cho_solve_banded(cb_and_lower, b, overwrite_b=False, check_finite=True):
    """Solve a x = b with the factor from cholesky_banded.

    As scipy.linalg.cho_solve_banded: cb_and_lower is (cb, lower), cb the
    factor and lower the form it is in. cb is never changed.

    Batches as solveh_banded, cb in place of ab: the factors of a batched
    cholesky_banded, broadcast against b's batch dimensions.
    """
    (cb, lower) = cb_and_lower
    cb1 = _array(cb)
    b1 = _array(b)
    if cb1.ndim > 2 or b1.ndim > 2:
        return _cho_solve_batched(cb1, b1, b, bool(lower), overwrite_b, check_finite)
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


def _cho_solve_batched(cb1, b1, b, lower, overwrite_b, check_finite):
    batch, vector = _batch_shape(cb1, b1, "cb", "cho_solve_banded")
    dtype = _real_dtype("cho_solve_banded", cb1, b1)
    _check_finite(check_finite, cb1, b1)
    x = _batched_solution(b1, batch, vector, dtype, overwrite_b or _datacopied(b1, b))
    if cb1.shape[-1] > 0:
        factors = cb1
        if not _laid_out(cb1, dtype, written=False):
            factors = _copy_systems(cb1, cb1.shape[:-2], dtype)
        _csp.factor_solve_batched(_factors_for(factors, batch), lower, _stack(x, vector), None)
    return x


class BandFactorization:
    """A factorization of a symmetric band matrix kept for repeated solves:
    the fast path when one matrix serves many right-hand sides (time
    stepping: factor once, solve at every step). Made by factorized(), whose
    arguments the constructor takes as well.

    Attributes: n (the order), m (the half bandwidth as ab gave it,
    ab.shape[-2] - 1), dtype (float32, float64, complex64 or complex128),
    lower (the storage form ab had), tasks (the task count its solves
    run with by default; None: the process-wide count) and batch_shape
    (ab's batch dimensions; () for one matrix).

    solve(b) or f(b) solves a x = b. The factorization is never changed
    after it is made, so threads may solve with one factorization at once.
    Its memory, about (2m+1) n elements, is freed with the object.

    A batch of matrices (ab of shape (..., m+1, n)) is factored as
    cholesky_banded factors it, each band into a lower-form factor the
    object owns ((mc+1) n elements a matrix, mc = min(m, n-1)), and each
    solve is that of cho_solve_banded: a batched factorization's solves
    give, system by system, the bits of cholesky_banded followed by
    cho_solve_banded.
    """

    __slots__ = ("_factor", "_n", "_m", "_dtype", "_lower", "_tasks", "_batch")

    def __init__(self, ab, lower=False, check_finite=True, overwrite_ab=False, *, tasks=None):
        a1 = _array(ab)
        if a1.ndim > 2:
            self._factor_batch(a1, lower, check_finite, tasks)
            return
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
        self._batch = ()

    def _factor_batch(self, a1, lower, check_finite, tasks):
        """Factors every band of a1 into a lower-form factor array of the
        object's own, laid out for the batched entries."""
        _band_core(a1, "ab")
        batch = a1.shape[:-2]
        _zero_size(batch, "factorized")
        _fits_int32(math.prod(batch), *a1.shape[-2:])
        tasks = _tasks(tasks)
        _check_finite(check_finite, a1)
        dtype = _any_dtype(a1)
        n, m = a1.shape[-1], a1.shape[-2] - 1
        bandwidth = min(m, max(n - 1, 0))
        factors = _new_systems(batch + (bandwidth + 1, n), dtype)
        if n > 0:
            # ab is only read: the extension copies each band, in any
            # layout and either form, into the factor array.
            bands = a1.astype(dtype, copy=False).reshape((math.prod(batch),) + a1.shape[-2:])
            info = _csp.factor_lower_batched(bands, bool(lower), _stack(factors), tasks)
            _raise_for_batch(info, batch, batch)
        factors.flags.writeable = False
        self._factor = factors
        self._n, self._m = n, m
        self._dtype = dtype
        self._lower = bool(lower)
        self._tasks = tasks
        self._batch = batch

    n = property(lambda self: self._n, doc="The order of the matrix.")
    m = property(lambda self: self._m, doc="The half bandwidth, ab.shape[-2] - 1.")
    dtype = property(lambda self: self._dtype, doc="The dtype the matrix was factored in.")
    lower = property(lambda self: self._lower, doc="Whether ab was in lower form.")
    tasks = property(lambda self: self._tasks,
                     doc="The task count of its solves (None: the process-wide count).")
    batch_shape = property(lambda self: self._batch,
                           doc="The batch dimensions of ab; () for one matrix.")

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

        Batches: b of shape (..., n, k) (or a 1-D b, one vector for every
        system) broadcasts its batch dimensions against batch_shape; the
        result has shape batch + b's core shape. With one matrix
        (batch_shape ()), every system's columns go through the factor in
        one solve, each the same bits as solved alone. overwrite_b: the
        result is b itself when b has the result's shape and dtype, is
        writable and each system is Fortran-ordered, one after another.
        """
        b1 = _array(b)
        if self._batch or b1.ndim > 2:
            return self._solve_batch(b1, b, overwrite_b, check_finite, tasks)
        _rhs_shape(self._n, b1, "the factorization")
        tasks = self._tasks if tasks is None else _tasks(tasks)
        _check_finite(check_finite, b1)
        if b1.dtype.kind == "c" and self._dtype.kind == "f":
            return self._solve_parts(b1, tasks)
        x = _solution_array(b1, self._dtype, overwrite_b or _datacopied(b1, b))
        _raise_for(self._factor.solve(x, tasks))
        return x

    __call__ = solve

    def _solve_batch(self, b1, b, overwrite_b, check_finite, tasks):
        if b1.ndim == 0:
            raise ValueError(
                f"b must be an array of shape (n,) or (..., n, k), got shape {b1.shape}")
        vector = b1.ndim == 1
        batch = np.broadcast_shapes(self._batch, () if vector else b1.shape[:-2])
        _zero_size(batch, "solve")
        if self._n != b1.shape[-1 if vector else -2]:
            raise ValueError("shapes of the factorization and b are not compatible.")
        k = 1 if vector else b1.shape[-1]
        in_parts = b1.dtype.kind == "c" and self._dtype.kind == "f"
        width = 2 * k if in_parts else k
        _fits_int32(math.prod(batch), width)
        if not self._batch:
            _fits_int32(math.prod(batch) * width)
        tasks = self._tasks if tasks is None else _tasks(tasks)
        _check_finite(check_finite, b1)
        if in_parts:
            # Real and imaginary parts side by side: the first k columns of
            # each system the real parts, the last k the imaginary parts.
            columns = b1[..., None] if vector else b1
            parts = _new_systems(batch + (self._n, 2 * k), self._dtype)
            parts[..., :k] = columns.real
            parts[..., k:] = columns.imag
            self._solve_systems(parts, False, tasks)
            x = _new_systems(batch + (self._n, k), np.result_type(self._dtype, np.complex64))
            x.real = parts[..., :k]
            x.imag = parts[..., k:]
            return x[..., 0] if vector else x
        x = _batched_solution(b1, batch, vector, self._dtype, overwrite_b or _datacopied(b1, b))
        self._solve_systems(x, vector, tasks)
        return x

    def _solve_systems(self, x, vector, tasks):
        """Solves in place in x, laid out for the batched entries, whose
        batch shape is the broadcast of batch_shape and b's."""
        if self._n == 0:
            return
        if not self._batch:
            # One factor: the systems, one after another, are the columns of
            # one Fortran-ordered (n, systems * k) array.
            columns = x.reshape(-1, self._n) if vector else np.swapaxes(x, -1, -2).reshape(
                -1, self._n)
            _raise_for(self._factor.solve(columns.T, tasks))
            return
        batch = x.shape[:-1] if vector else x.shape[:-2]
        info = _csp.factor_solve_batched(_factors_for(self._factor, batch), True,
                                         _stack(x, vector), tasks)
        _raise_for_batch(info, batch, batch)

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
        batch = f" batch_shape={self._batch}" if self._batch else ""
        return f"<BandFactorization{batch} n={self._n} m={self._m} dtype={self._dtype} {form}>"


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

    ab of shape (..., m+1, n) is a batch of matrices, each factored once;
    see BandFactorization. A batched factorization's solves give, system
    by system, the bits of cholesky_banded followed by cho_solve_banded
    (and, for n < 20000, of solveh_banded); LinAlgError names the batch
    index of a matrix that is not positive definite.
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
