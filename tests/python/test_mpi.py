"""cspband.mpi on the processes of MPI_COMM_WORLD, against the one-machine
factorization whose bits the distributed solver promises (cspband.factorized),
every process checking its own rows.

Run on every process, as the tests' own main does it:

    mpirun -np 3 python3 tests/python/test_mpi.py

Every test calls the collective routines in the same order on every process,
and every check is agreed on (`everywhere`, `agreed_error`), so that a test
fails on all processes together and rank 0 reports it. A plain pytest run of
tests/python skips this module without initializing MPI.
"""

import os
import sys
import tempfile

import numpy as np
import pytest

if __name__ != "__main__" and os.environ.get("CSPBAND_MPI_TESTS") != "1":
    pytest.skip("run on every process: mpirun -np N python3 tests/python/test_mpi.py",
                allow_module_level=True)

# Imported after the skip: importing mpi4py.MPI initializes MPI.
from mpi4py import MPI

import cspband
import cspband.mpi
from test_cspband import rhs
from test_factorized import DTYPES, large_band

COMM = MPI.COMM_WORLD
RANK, SIZE = COMM.rank, COMM.size


def everywhere(ok):
    """Whether ok holds on every process."""
    return all(COMM.allgather(bool(ok)))


def agreed_error(call):
    """The (class, message) of what call() raises (None: nothing), after
    checking that every process raised the same."""
    try:
        call()
    except Exception as error:  # any exception: the processes must agree on it
        mine = (type(error), str(error))
    else:
        mine = None
    outcomes = COMM.allgather(mine)
    assert all(outcome == outcomes[0] for outcome in outcomes), outcomes
    return mine


def cuts(counts):
    """The column cuts of the processes' column counts: process r holds
    columns cuts[r] .. cuts[r+1]-1."""
    return [0] + [int(c) for c in np.cumsum(counts)]


def layouts(n):
    """Column cuts of 0..n over the processes, each layout once: an even
    split, an uneven one in which rank 1 holds nothing, and one in which
    the last rank holds everything."""
    weights = [(r + 1) ** 2 for r in range(SIZE)]
    if SIZE > 1:
        weights[1] = 0
    uneven = [n * w // sum(weights) for w in weights]
    uneven[-1] += n - sum(uneven)
    candidates = [cuts([n // SIZE + (r < n % SIZE) for r in range(SIZE)]), cuts(uneven),
                  cuts([0] * (SIZE - 1) + [n])]
    return [c for i, c in enumerate(candidates) if c not in candidates[:i]]


def share(layout):
    """This process's first column and its slice of the columns."""
    return layout[RANK], slice(layout[RANK], layout[RANK + 1])


def system(n, m, dtype, lower):
    """The whole band in the form asked for, and the one-machine oracle's
    solutions for a 1-D and a 2-D right-hand side."""
    upper, lowerform = large_band(n, m, dtype)
    ab = lowerform if lower else upper
    one = cspband.factorized(ab, lower=lower)
    problems = [rhs(n, k, dtype) for k in (None, 3)]
    return ab, [(b, one.solve(b)) for b in problems]


@pytest.mark.parametrize("n,m", [(600, 3), (7, 9)])
@pytest.mark.parametrize("lower", [False, True])
@pytest.mark.parametrize("dtype", DTYPES)
def test_same_bits_as_one_machine(n, m, lower, dtype):
    """Every kind, both forms, several partitions (n = 600) or a band wider
    than the matrix; even and uneven layouts, a process without columns;
    the one-shot solves and a factorization's solves, 1-D and 2-D b."""
    ab, problems = system(n, m, dtype, lower)
    real = np.dtype(dtype).kind == "f"
    ok = True
    for layout in layouts(n):
        first, mine = share(layout)
        local = ab[:, mine]
        with cspband.mpi.factorized(COMM, local, first, n, lower=lower) as f:
            for b, expected in problems:
                solutions = [cspband.mpi.solve_symmetric_banded(COMM, local, b[mine], first, n,
                                                                lower=lower), f(b[mine])]
                if real:
                    solutions.append(cspband.mpi.solveh_banded(COMM, local, b[mine], first, n,
                                                               lower=lower))
                for x in solutions:
                    ok &= x.dtype == dtype and np.array_equal(x, expected[mine])
    assert everywhere(ok)


def test_factorization_lifetime():
    """Solves with their own task counts; the caller's communicator freed
    under the factorization; free() once and again; no solve afterwards;
    one dropped without free() warns and is freed as it is collected."""
    n, m = 500, 2
    ab, problems = system(n, m, np.float64, False)
    first, mine = share(layouts(n)[-1])
    caller = COMM.Dup()
    f = cspband.mpi.factorized(caller, ab[:, mine], first, n, tasks=2)
    caller.Free()
    ok = (f.n, f.m, f.first, f.ncols, f.dtype, f.tasks) == (
        n, m, first, mine.stop - first, np.float64, 2)
    for b, expected in problems:
        ok &= np.array_equal(f.solve(b[mine], tasks=1), expected[mine])
    f.free()
    f.free()
    assert everywhere(ok and "freed" in repr(f))
    assert agreed_error(lambda: f.solve(problems[0][0][mine])) == (
        ValueError, "the factorization has been freed")
    with pytest.warns(ResourceWarning, match="without free"):
        cspband.mpi.factorized(COMM, ab[:, mine], first, n)


def test_overwrite_b_and_inputs():
    """ab is never changed; b only with overwrite_b, where the result is b
    itself (a laid-out array of the result's dtype)."""
    n, m = 300, 4
    ab, ((b, _), _) = system(n, m, np.float64, True)
    first, mine = share(layouts(n)[0])
    local, b = np.asfortranarray(ab[:, mine]), np.array(b[mine])
    band, kept = local.copy(), b.copy()
    x = cspband.mpi.solveh_banded(COMM, local, b, first, n, lower=True)
    ok = np.array_equal(local, band) and np.array_equal(b, kept) and x is not b
    y = cspband.mpi.solveh_banded(COMM, local, b, first, n, overwrite_b=True, lower=True)
    ok &= y is b and np.array_equal(y, x)
    assert everywhere(ok)


def test_empty_system():
    empty = np.zeros((3, 0))
    x = cspband.mpi.solveh_banded(COMM, empty, np.zeros((0, 2)), 0, 0)
    with cspband.mpi.factorized(COMM, empty.astype(np.complex64), 0, 0) as f:
        y = f(np.zeros(0))
    assert everywhere(x.shape == (0, 2) and y.shape == (0,) and y.dtype == np.complex64)


@pytest.mark.parametrize("dtype", DTYPES)
def test_rejected_pivot_everywhere(dtype):
    """A bad last pivot, in the last process's columns alone (real kinds: a
    negative diagonal entry; complex kinds: NaN, unchecked): LinAlgError on
    every process, for the one-shot solve and the factorization, in either
    form."""
    n, m = 400, 3
    upper, lowerform = large_band(n, m, dtype)
    upper[m, n - 1] = lowerform[0, n - 1] = np.nan if np.dtype(dtype).kind == "c" else -1
    first, mine = share(layouts(n)[0])
    b = rhs(n, 2, dtype)[mine]
    for ab, lower in ((upper, False), (lowerform, True)):
        local = ab[:, mine]
        kind, message = agreed_error(lambda: cspband.mpi.solve_symmetric_banded(
            COMM, local, b, first, n, lower=lower, check_finite=False))
        assert kind is np.linalg.LinAlgError and "not positive definite" in message
        kind, _ = agreed_error(lambda: cspband.mpi.factorized(COMM, local, first, n, lower=lower,
                                                               check_finite=False))
        assert kind is np.linalg.LinAlgError


def one_rank(value, other):
    """value on the last process, other on the rest: an argument that is
    wrong on one process only."""
    return value if RANK == SIZE - 1 else other


def test_local_errors_are_raised_everywhere():
    """An argument wrong on one process: every process raises its error,
    naming that rank, before any work."""
    n, m = 200, 2
    ab, ((b, _), _) = system(n, m, np.float64, False)
    first, mine = share(layouts(n)[0])
    local, b = ab[:, mine], b[mine]
    last = f"(rank {SIZE - 1})"
    solve = cspband.mpi.solveh_banded
    spoiled = b.copy()
    spoiled[:1] = np.nan
    cases = [
        (lambda: solve(COMM, local, one_rank(np.ones(b.size + 1), b), first, n), ValueError,
         "not compatible"),
        (lambda: solve(COMM, local, one_rank(spoiled, b), first, n), ValueError, "infs or NaNs"),
        (lambda: solve(COMM, one_rank(local[0], local), b, first, n), ValueError, "2-D"),
        (lambda: solve(COMM, one_rank(local.astype(complex), local), b, first, n), TypeError,
         "solve_symmetric_banded"),
        (lambda: solve(COMM, local, b, one_rank(-1, first), n), ValueError, "first must be"),
        (lambda: solve(COMM, local, b, first, n, tasks=one_rank(0, None)), ValueError, "tasks"),
        (lambda: cspband.mpi.factorized(COMM, one_rank(np.ones((0, 3)), local), first, n),
         ValueError, "2-D"),
    ]
    for call, kind, text in cases:
        error = agreed_error(call)
        assert error is not None and error[0] is kind and text in error[1] and last in error[1]
    with cspband.mpi.factorized(COMM, local, first, n) as f:
        wrong = one_rank(np.ones((b.size + 1, 2)), np.ones((b.size, 2)))
        assert agreed_error(lambda: f.solve(wrong))[0] is ValueError
        error = agreed_error(lambda: f.solve(one_rank(b + 1j, b)))
        assert error[0] is TypeError and "real factorization" in error[1]


def test_disagreements_are_raised_everywhere():
    """Arguments that must agree between processes, and layouts that do not
    cover 0..n-1 in rank order: the same ValueError (TypeError for dtypes)
    on every process."""
    n, m = 200, 2
    ab, ((b, _), (b2, _)) = system(n, m, np.float64, False)
    first, mine = share(layouts(n)[0])
    local, b, b2 = ab[:, mine], b[mine], b2[mine]
    solve = cspband.mpi.solveh_banded
    cases = [
        (lambda: solve(COMM, local, b, one_rank(first + 1, first), n), "first"),
        (lambda: solve(COMM, local, b, first, n + 1), "add up to n"),
        (lambda: cspband.mpi.factorized(COMM, local, first, n - 1), "add up to n"),
    ]
    if SIZE > 1:
        cases += [
            (lambda: solve(COMM, local, b, first, one_rank(n + 1, n)), "n must be the same"),
            (lambda: solve(COMM, local, b, first, n, lower=one_rank(True, False)), "lower"),
            (lambda: solve(COMM, one_rank(np.vstack([local[:1], local]), local), b, first, n),
             "rows"),
            (lambda: solve(COMM, local, one_rank(b2, b2[:, :2]), first, n), "columns"),
            (lambda: solve(COMM, local.astype(one_rank(np.float32, np.float64)),
                           b.astype(one_rank(np.float32, np.float64)), first, n), "one dtype"),
        ]
    for call, text in cases:
        error = agreed_error(call)
        assert error is not None and error[0] in (ValueError, TypeError) and text in error[1]
    with cspband.mpi.factorized(COMM, local, first, n) as f:
        if SIZE > 1:
            assert "columns" in agreed_error(lambda: f(one_rank(b2, b2[:, :2])))[1]
        assert np.array_equal(f(b2), cspband.mpi.solveh_banded(COMM, local, b2, first, n))


def test_communicator_checked_on_each_process():
    local = np.ones((1, 0))
    assert agreed_error(lambda: cspband.mpi.solveh_banded(None, local, np.ones(0), 0, 0))[0] \
        is TypeError
    assert agreed_error(lambda: cspband.mpi.factorized(MPI.COMM_NULL, local, 0, 0))[0] \
        is ValueError


def quietly(arguments):
    """pytest.main(arguments), its report shown only when the run fails,
    shortened to a line a failure, each line naming this rank."""
    with tempfile.TemporaryFile("w+") as report:
        sys.stdout.flush()
        shown = os.dup(1)
        os.dup2(report.fileno(), 1)
        try:
            status = pytest.main(arguments + ["--tb=line"])
        finally:
            sys.stdout.flush()
            os.dup2(shown, 1)
            os.close(shown)
        if status != 0:
            report.seek(0)
            print("".join(f"rank {RANK}: {line}" for line in report), end="", flush=True)
    return status


def main():
    """Runs this module's tests on this process: rank 0 reports in full,
    the others only when their run fails. The exit status is the run's, so
    that mpirun fails when any process does."""
    os.environ["CSPBAND_MPI_TESTS"] = "1"
    arguments = ["-q", "-p", "no:cacheprovider", __file__, *sys.argv[1:]]
    status = pytest.main(arguments) if RANK == 0 else quietly(arguments)
    sys.stdout.flush()
    # mpirun ends every process once one exits with an error: none exits
    # before all have reported.
    COMM.Barrier()
    return status


if __name__ == "__main__":
    sys.exit(main())
