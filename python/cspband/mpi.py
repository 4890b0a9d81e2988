"""cspband.mpi: the band solver over MPI, for a symmetric band system whose
columns are spread over the processes of an mpi4py communicator.

    solveh_banded(comm, ab, b, first, n, ...)           real SPD band matrices
    solve_symmetric_banded(comm, ab, b, first, n, ...)  real or complex symmetric
    factorized(comm, ab, first, n, ...)                 factor once, solve many times

Each process passes its own columns of the band, in scipy's storage (upper
form by default, lower form with lower=True): ab has shape (m+1, ncols) and
holds the columns first .. first+ncols-1 of the whole band, 0-based as a
slice start (ab == whole[:, first:first + ncols]); b holds the same rows of
the right-hand sides, shape (ncols,) or (ncols, k), and the result has b's
shape. Taken in rank order the processes' columns follow one another and
cover 0 .. n-1; a process may hold none (ncols = 0, any first >= 0).

Every function is collective over comm: every process calls it, with the
same n, m, lower and dtype, and every process returns, or raises the same
exception. The arguments each process checks on its own (shapes, dtypes,
finiteness) are agreed on with the others before any work: an error on one
process is raised on all of them, naming the rank it came from. The
solution is the same bits for every process count and layout, and those of
cspband.factorized(whole, lower).solve(b) on one machine.
"""

import operator
import warnings

import numpy as np
from mpi4py import MPI
from numpy.linalg import LinAlgError

from . import (
    _NOT_POSITIVE_DEFINITE,
    _any_dtype,
    _array,
    _check_finite,
    _datacopied,
    _fits_int32,
    _real_dtype,
    _solution_array,
    _tasks,
)
from . import _mpi

__all__ = [
    "solveh_banded",
    "solve_symmetric_banded",
    "factorized",
    "DistributedFactorization",
]

_INT64_MAX = 2**63 - 1

# What a negative code of the C routines means, for those the processes'
# own checks here cannot catch: arguments that differ between processes,
# and layouts that do not cover 0 .. n-1 in rank order.
_SAME = "must be the same on every process"
_LOWER = f"lower {_SAME}"
_ORDER = f"n {_SAME}"
_ROWS = "ab must have the same number of rows, m+1, on every process"
_COLUMNS = "b must have the same number of columns on every process"
_FIRST = ("first: the processes' columns must follow one another in rank order, each "
          "process's first the number of columns of the processes of lower rank")
_COUNT = "the processes' columns (ab.shape[1] on each) must add up to n"
_SOLVE_CODES = {-2: _LOWER, -3: _ORDER, -4: _ROWS, -5: _COLUMNS, -6: _FIRST, -7: _COUNT}
_FACTORIZE_CODES = {-2: _LOWER, -3: _ORDER, -4: _ROWS, -5: _FIRST, -6: _COUNT}
_SOLVE_FACTORIZED_CODES = {-2: _COLUMNS}


def _communicator(comm):
    """comm, checked before anything collective. These errors are raised on
    the calling process alone: without a usable communicator it cannot tell
    the others."""
    if not MPI.Is_initialized() or MPI.Is_finalized():
        raise RuntimeError("cspband.mpi needs MPI initialized and not finalized")
    if not isinstance(comm, MPI.Comm):
        raise TypeError(f"comm must be an mpi4py communicator, got {type(comm).__name__}")
    if comm == MPI.COMM_NULL or comm.Is_inter():
        raise ValueError("comm must be an intracommunicator (not MPI.COMM_NULL, "
                         "not an intercommunicator)")


# The errors of a process's own checks, raised on every process as the
# first of these classes that they are.
_AGREED = (ValueError, TypeError, MemoryError)


def _agree(comm, prepare):
    """Runs prepare(), this process's checks and conversions, which returns
    (value, dtype), and agrees on the outcome with the other processes in
    one collective step over comm. Every process then raises the error of
    the lowest rank that had one (its message naming that rank), or
    TypeError when the processes' dtypes differ; else returns value."""
    value, failure, mine = None, None, None
    try:
        value, dtype = prepare()
        mine = (None, None, dtype)
    except _AGREED as error:
        failure = error
        mine = (next(kind for kind in _AGREED if isinstance(error, kind)), str(error), None)
    outcomes = comm.allgather(mine)
    for rank, (kind, message, _) in enumerate(outcomes):
        if kind is not None:
            raise kind(f"{message} (rank {rank})") from failure
    dtypes = {}
    for rank, (_, _, theirs) in enumerate(outcomes):
        dtypes.setdefault(theirs, rank)
    if len(dtypes) > 1:
        given = ", ".join(f"{d} on rank {rank}" for d, rank in dtypes.items())
        raise TypeError(f"the processes' arrays must make one dtype, got {given} (a process "
                        "without columns too: give its empty arrays the others' dtype)")
    return value


def _raise_for(code, meanings):
    """The exception for a code of the C routines, the same on every
    process since the routines agree on their codes."""
    if code == 0:
        return
    if code > 0:
        raise LinAlgError(_NOT_POSITIVE_DEFINITE)
    if code == _mpi.OUT_OF_MEMORY:
        raise MemoryError("cspband.mpi: scratch memory not available on some process")
    raise ValueError(meanings.get(code, f"cspband.mpi: internal argument error ({code})"))


def _local_band(ab):
    a1 = _array(ab)
    if a1.ndim != 2 or a1.shape[0] < 1:
        raise ValueError(f"ab must be a 2-D array of shape (m+1, ncols), got shape {a1.shape}")
    _fits_int32(a1.shape[0])
    return a1


def _local_rhs(ncols, b, name):
    """b fits the process's ncols columns (of the band `name`)."""
    b1 = _array(b)
    if b1.ndim not in (1, 2):
        raise ValueError(f"b must be a 1-D or 2-D array, got shape {b1.shape}")
    if b1.shape[0] != ncols:
        raise ValueError(f"shapes of {name} and b are not compatible.")
    _fits_int32(*b1.shape[1:])
    return b1


def _position(value, name):
    """first or n: an integer from 0 that the C routines' 64-bit 1-based
    positions hold."""
    value = operator.index(value)
    if not 0 <= value < _INT64_MAX:
        raise ValueError(f"{name} must be at least 0 (and below 2**63 - 1), got {value}")
    return value


def _solver_band(a1, dtype):
    """The band as the C routines read it: Fortran order, aligned, dtype
    (a1 itself when it already is: the band is only read)."""
    return np.require(a1, dtype, ["F_CONTIGUOUS", "ALIGNED"])


def _solve(comm, ab, b, first, n, overwrite_b, lower, check_finite, tasks, dtype_of):
    _communicator(comm)

    def prepare():
        a1 = _local_band(ab)
        b1 = _local_rhs(a1.shape[1], b, "ab")
        where, order = _position(first, "first"), _position(n, "n")
        count = _tasks(tasks)
        _check_finite(check_finite, a1, b1)
        dtype = dtype_of(a1, b1)
        x = _solution_array(b1, dtype, overwrite_b or _datacopied(b1, b))
        return (_solver_band(a1, dtype), bool(lower), x, where, order, count), dtype

    band, form, x, where, order, count = _agree(comm, prepare)
    _raise_for(_mpi.solve(comm, band, form, order, where, x, count), _SOLVE_CODES)
    return x


def solveh_banded(comm, ab, b, first, n, overwrite_ab=False, overwrite_b=False, lower=False,
                  check_finite=True, *, tasks=None):
    """Solve a x = b for a real symmetric positive definite band matrix a
    whose columns are spread over the processes of comm; collective.

    ab (m+1, ncols): this process's columns first .. first+ncols-1 (0-based)
    of the band in scipy's storage, upper form or, with lower=True, lower
    form; b (ncols,) or (ncols, k): the same rows of the right-hand sides.
    n: the order of a, the same on every process. Returns this process's
    rows of x, of b's shape: the same bits as
    cspband.factorized(whole, lower=lower).solve(whole_b) on one machine.

    dtypes as cspband.solveh_banded (float32 stays float32, other real and
    integer input becomes float64, complex input raises TypeError), and
    every process's arrays must make the same dtype. ab is only read (never
    copied when it is a Fortran-ordered array of that dtype);
    overwrite_ab is accepted for cspband's signature and changes nothing.
    overwrite_b: the result may be b itself, as in cspband. tasks: at most
    this many tasks on this process (the processes may differ); None: its
    processors.

    Raises, on every process alike: LinAlgError when a is not positive
    definite; ValueError or TypeError for an argument that does not fit on
    any process (the message names the rank), for n, m, lower or k that
    differ between processes, or for columns that do not follow one
    another in rank order and cover 0 .. n-1; MemoryError when scratch
    memory was not had on some process. comm itself is checked on each
    process alone (TypeError, ValueError).
    """
    return _solve(comm, ab, b, first, n, overwrite_b, lower, check_finite, tasks,
                  lambda *arrays: _real_dtype("solveh_banded", *arrays))


def solve_symmetric_banded(comm, ab, b, first, n, overwrite_ab=False, overwrite_b=False,
                           lower=False, check_finite=True, *, tasks=None):
    """Solve a x = b for a real or complex symmetric band matrix a = a.T
    whose columns are spread over the processes of comm; collective.

    As solveh_banded, with the dtypes of cspband.solve_symmetric_banded:
    complex matrices are complex symmetric (no conjugation), factored as
    a = L L.T; complex64 stays complex64 and complex128 complex128.
    """
    return _solve(comm, ab, b, first, n, overwrite_b, lower, check_finite, tasks, _any_dtype)


class DistributedFactorization:
    """A factorization of a symmetric band matrix spread over the processes
    of a communicator, kept for repeated solves: each process's object holds
    its share. Made by factorized(), whose arguments the constructor takes.

    solve(b) or f(b) solves a x = b with this process's rows of b;
    collective. Attributes: n (the order), m (ab.shape[0] - 1), first and
    ncols (this process's columns, first 0-based), dtype, lower, tasks.

    free() releases the share, and must be called on every process, in the
    same order as the processes' other collective calls on the
    communicator: it frees the duplicates of comm the factorization keeps
    (MPI_Comm_free is collective). A with statement frees it on leaving.
    An object dropped without free() is freed when it is collected, with a
    ResourceWarning, unless MPI has been finalized; the processes collect
    it at different moments, which MPI's standard allows an implementation
    to wait on (Open MPI and MPICH free a communicator without waiting), so
    do not count on it.
    """

    __slots__ = ("_factor", "_comm", "_n", "_m", "_first", "_ncols", "_dtype", "_lower",
                 "_tasks")

    def __init__(self, comm, ab, first, n, lower=False, check_finite=True, *, tasks=None):
        self._factor = None
        _communicator(comm)

        def prepare():
            a1 = _local_band(ab)
            where, order = _position(first, "first"), _position(n, "n")
            count = _tasks(tasks)
            _check_finite(check_finite, a1)
            dtype = _any_dtype(a1)
            return (_solver_band(a1, dtype), bool(lower), where, order, count), dtype

        band, form, where, order, count = _agree(comm, prepare)
        code, factor = _mpi.factorize(comm, band, form, order, where, count)
        _raise_for(code, _FACTORIZE_CODES)
        # The solves agree on their arguments over a communicator of the
        # object's own, so that they work whatever becomes of comm.
        self._comm = comm.Dup()
        self._factor = factor
        self._n, self._m = order, band.shape[0] - 1
        self._first, self._ncols = where, band.shape[1]
        self._dtype = band.dtype
        self._lower = form
        self._tasks = count

    n = property(lambda self: self._n, doc="The order of the matrix.")
    m = property(lambda self: self._m, doc="The half bandwidth, ab.shape[0] - 1.")
    first = property(lambda self: self._first, doc="This process's first column, 0-based.")
    ncols = property(lambda self: self._ncols, doc="This process's columns: b's rows.")
    dtype = property(lambda self: self._dtype, doc="The dtype the matrix was factored in.")
    lower = property(lambda self: self._lower, doc="Whether ab was in lower form.")
    tasks = property(lambda self: self._tasks,
                     doc="The task count of its solves on this process (None: its processors).")

    def solve(self, b, overwrite_b=False, check_finite=True, *, tasks=None):
        """Solve a x = b; collective. b: this process's rows, (ncols,) or
        (ncols, k), k the same on every process; the result has b's shape
        and the factorization's dtype (b is converted to it; complex b with
        a real factorization raises TypeError: solve its real and imaginary
        parts). overwrite_b: the result may be b itself, as in cspband.
        tasks: at most this many tasks on this process for this solve;
        None: the count given to factorized(). Errors as solveh_banded's;
        ValueError on this process alone once it is freed."""
        if self._factor is None:
            raise ValueError("the factorization has been freed")

        def prepare():
            b1 = _local_rhs(self._ncols, b, "the factorization")
            count = self._tasks if tasks is None else _tasks(tasks)
            _check_finite(check_finite, b1)
            if b1.dtype.kind == "c" and self._dtype.kind != "c":
                raise TypeError("complex b with a real factorization: solve b.real and "
                                "b.imag apart")
            x = _solution_array(b1, self._dtype, overwrite_b or _datacopied(b1, b))
            return (x, count), self._dtype

        x, count = _agree(self._comm, prepare)
        _raise_for(self._factor.solve(x, count), _SOLVE_FACTORIZED_CODES)
        return x

    __call__ = solve

    def free(self):
        """Release this process's share; collective (see the class). Nothing
        once freed."""
        factor, self._factor = self._factor, None
        if factor is not None:
            factor.free()
            self._comm.Free()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.free()

    def __del__(self):
        if getattr(self, "_factor", None) is None:  # freed, or never made
            return
        warnings.warn(f"{self!r} dropped without free(): freed as it is collected, at "
                      "different moments on different processes", ResourceWarning, source=self)
        if not MPI.Is_finalized():
            self._comm.Free()

    def __repr__(self):
        form = "lower" if self._lower else "upper"
        state = " freed" if self._factor is None else ""
        return (f"<DistributedFactorization{state} n={self._n} m={self._m} "
                f"columns {self._first}..{self._first + self._ncols - 1} "
                f"dtype={self._dtype} {form}>")


def factorized(comm, ab, first, n, lower=False, check_finite=True, *, tasks=None):
    """Factor a symmetric band matrix spread over the processes of comm
    once, for many solves; collective.

    ab, first, n and lower as for solveh_banded. Real matrices must be
    positive definite; complex ones are complex symmetric (a = a.T), as
    cspband.factorized takes them, with its dtypes (from ab alone, the same
    on every process). ab is only read, and may be changed or dropped
    afterwards: each process's share holds its own copy of what it needs.
    tasks: at most this many tasks on this process for the factorization
    and, by default, for every solve with it.

    Returns a DistributedFactorization f: f.solve(b) gives, on each process,
    its rows of the bits of cspband.factorized(whole, lower).solve(whole_b).
    Free it with f.free() on every process, or use it in a with statement:

        with cspband.mpi.factorized(comm, ab, first, n) as f:
            for step in range(steps):
                u = f(u)

    Raises as solveh_banded (LinAlgError on every process when a is not
    positive definite).
    """
    return DistributedFactorization(comm, ab, first, n, lower, check_finite, tasks=tasks)
