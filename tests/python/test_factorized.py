"""cspband.factorized: a factorization kept for repeated solves, against
scipy.linalg.solveh_banded (real kinds), a dense complex symmetric solve
(complex kinds) and the package's one-shot solves."""

import threading

import numpy as np
import pytest
import scipy.linalg

import cspband
from test_cspband import RNG_SEED, band_system, error_ratio, residual_ratio, rhs

DTYPES = [np.float32, np.float64, np.complex64, np.complex128]


def large_band(n, m, dtype, seed=7):
    """Both storage forms of a diagonally dominant symmetric band matrix,
    built without the dense matrix (for orders where that would not fit)."""
    rng = np.random.default_rng(seed)
    dtype = np.dtype(dtype)
    lower = np.zeros((m + 1, n), dtype=dtype)
    rowsum = np.ones(n)
    for r in range(1, min(m, n - 1) + 1):
        off = rng.uniform(-1, 1, n - r)
        if dtype.kind == "c":
            off = off + 1j * rng.uniform(-1, 1, n - r)
        lower[r, : n - r] = off
        rowsum[r:] += np.abs(off)  # a[i, i-r]
        rowsum[: n - r] += np.abs(off)  # a[i, i+r]
    lower[0] = rowsum * (1 + 0.5j) if dtype.kind == "c" else rowsum
    upper = np.zeros_like(lower)
    for r in range(min(m, n - 1) + 1):
        upper[m - r, r:] = lower[r, : n - r]
    return upper, lower


def one_shot(ab, b, lower):
    """The package's one-shot solve of the same system."""
    if np.asarray(ab).dtype.kind == "c":
        return cspband.solve_symmetric_banded(ab, b, lower=lower)
    return cspband.solveh_banded(ab, b, lower=lower)


@pytest.mark.parametrize("n,m", [(1, 0), (2, 1), (200, 3), (40, 60), (600, 17)])
@pytest.mark.parametrize("lower", [False, True])
@pytest.mark.parametrize("order", ["C", "F"])
@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("k", [None, 3])
def test_solutions_match_the_reference(n, m, lower, order, dtype, k):
    """Every kind, both forms, either order of ab (Fortran lower form is
    factored without a copy), m below and past n, 1-D and 2-D b."""
    a, upper, lowerform = band_system(n, m, dtype)
    ab = np.array(lowerform if lower else upper, order=order)
    b = rhs(n, k, dtype)
    f = cspband.factorized(ab, lower=lower)
    x = f.solve(b)
    assert x.dtype == dtype and x.shape == b.shape
    if np.dtype(dtype).kind == "c":
        expected = np.linalg.solve(a.astype(np.complex128), b.astype(np.complex128))
    else:
        expected = scipy.linalg.solveh_banded(ab, b, lower=lower)
    assert residual_ratio(a, x, b, dtype) < 30
    assert error_ratio(x, expected, a, dtype) < 30
    assert np.array_equal(f(b), x)


@pytest.mark.parametrize(
    "n,m,dtypes",
    [(20000, 1, DTYPES), (20011, 8, DTYPES), (20000, 32, [np.float32])],
)
@pytest.mark.parametrize("lower", [False, True])
def test_same_bits_as_the_one_shot_solve(n, m, dtypes, lower):
    """Where the one-shot solve factors as factorized() does (n >= 20,000,
    m <= 8, and m <= 32 in float32), the solutions agree to the last bit."""
    for dtype in dtypes:
        check_same_bits(n, m, dtype, lower)


def check_same_bits(n, m, dtype, lower):
    upper, lowerform = large_band(n, m, dtype)
    ab = lowerform if lower else upper
    f = cspband.factorized(ab, lower=lower)
    for k in (None, 4):
        b = rhs(n, k, dtype)
        assert np.array_equal(f.solve(b), one_shot(ab, b, lower))


@pytest.mark.parametrize("dtype", DTYPES)
def test_factor_independent_of_what_the_heap_held(dtype):
    """Memory freed just before factoring holds NaN: a factorization that
    read its own storage before writing it would turn the solution to NaN."""
    cases = [(2, 1, False), (30, 2, True), (40, 39, True), (40, 60, False)]
    systems = []
    for n, m, lower in cases:
        a, upper, lowerform = band_system(n, m, dtype)
        ab = np.asfortranarray(lowerform) if lower else upper
        systems.append((a, ab, lower, rhs(n, 2, dtype)))
    rng = np.random.default_rng(RNG_SEED)
    for _ in range(10):
        junk = [np.full(size, np.nan) for size in rng.integers(128, 20000, 50)]
        del junk
        for a, ab, lower, b in systems:
            x = cspband.factorized(ab, lower=lower)(b)
            assert residual_ratio(a, x, b, dtype) < 30


@pytest.mark.parametrize("dtype,complex_dtype", [(np.float32, np.complex64),
                                                 (np.float64, np.complex128)])
@pytest.mark.parametrize("k", [None, 1, 3])
def test_real_factorization_solves_complex_b(dtype, complex_dtype, k):
    """Real and imaginary parts solved apart, as scipy solves complex b with
    a real matrix; the result is complex in the factorization's precision."""
    n, m = 300, 4
    a, upper, _ = band_system(n, m, dtype)
    b = rhs(n, k, complex_dtype)
    f = cspband.factorized(upper)
    x = f.solve(b)
    assert x.dtype == complex_dtype and x.shape == b.shape
    expected = scipy.linalg.solveh_banded(upper.astype(np.float64), b.astype(np.complex128))
    assert error_ratio(x, expected, a, dtype) < 30
    separately = f.solve(b.real) + 1j * f.solve(b.imag)
    assert error_ratio(x, separately, a, dtype) < 30
    # Complex b of the other precision is solved in the factorization's.
    other = np.complex128 if complex_dtype == np.complex64 else np.complex64
    assert f.solve(b.astype(other)).dtype == complex_dtype


@pytest.mark.parametrize(
    "ab_dtype,b_dtype,expected",
    [
        (np.int64, np.int64, np.float64),
        (np.float16, np.float32, np.float64),
        (np.float32, np.float64, np.float32),
        (np.float64, np.float32, np.float64),
        (np.complex64, np.float64, np.complex64),
        (np.complex128, np.int32, np.complex128),
    ],
)
def test_dtypes(ab_dtype, b_dtype, expected):
    """The factorization's dtype comes from ab alone (as solveh_banded's and
    solve_symmetric_banded's for ab); b is solved in it."""
    n = 30
    ab = np.zeros((3, n))
    ab[2] = 6
    ab[1, 1:] = -1
    ab[0, 2:] = 1
    b = np.arange(n) % 5
    f = cspband.factorized(ab.astype(ab_dtype))
    assert f.dtype == expected
    x = f(b.astype(b_dtype))
    assert x.dtype == expected
    assert error_ratio(x, scipy.linalg.solveh_banded(ab, b.astype(float)), ab, expected) < 30


def test_attributes():
    _, upper, lowerform = band_system(40, 60, np.complex64)
    f = cspband.factorized(lowerform, lower=True, tasks=3)
    assert isinstance(f, cspband.BandFactorization)
    assert (f.n, f.m, f.dtype, f.lower, f.tasks) == (40, 60, np.complex64, True, 3)
    g = cspband.factorized(upper[58:].real)
    assert (g.n, g.m, g.dtype, g.lower, g.tasks) == (40, 2, np.float32, False, None)
    with pytest.raises(AttributeError):
        f.n = 41
    assert {"factorized", "BandFactorization"} <= set(cspband.__all__)


@pytest.mark.parametrize("dtype", DTYPES)
def test_not_positive_definite(dtype):
    """A zero pivot in the first column (every kind), a negative one further
    on (real kinds): refused when factoring, in both storage forms."""
    real = np.dtype(dtype).kind == "f"
    for column in (0, 37) if real else (0,):
        a, upper, lowerform = band_system(80, 3, dtype)
        upper[3, column] = lowerform[0, column] = 0 if column == 0 else -a[column, column]
        for ab, lower in ((upper, False), (lowerform, True)):
            with pytest.raises(np.linalg.LinAlgError, match="not positive definite"):
                cspband.factorized(ab, lower=lower)


def test_shape_and_value_errors():
    _, upper, _ = band_system(10, 2, np.float64)
    with pytest.raises(ValueError):
        cspband.factorized(upper[0])
    with pytest.raises(ValueError):
        cspband.factorized(np.ones((0, 10)))
    with pytest.raises(ValueError, match="object arrays"):
        cspband.factorized(upper.astype(object))
    with pytest.raises(TypeError):
        cspband.factorized(upper.astype("U3"))
    with pytest.raises(ValueError):
        cspband.factorized(upper, tasks=0)
    with pytest.raises(TypeError):
        cspband.factorized(upper, tasks=1.5)
    f = cspband.factorized(upper)
    for b in (np.ones(9), np.ones((11, 2)), np.ones((10, 2, 2)), np.ones(())):
        with pytest.raises(ValueError):
            f.solve(b)
    with pytest.raises(ValueError, match="not compatible"):
        f(np.ones(9))
    with pytest.raises(ValueError):
        f.solve(np.ones(10), tasks=-1)
    with pytest.raises(TypeError):
        cspband.BandFactorization(upper, False, True, False, None)  # tasks is keyword-only


def test_non_finite_input():
    _, upper, _ = band_system(10, 2, np.float64)
    f = cspband.factorized(upper)
    for bad in (np.nan, np.inf, -np.inf):
        spoiled = upper.copy()
        spoiled[1, 5] = bad
        with pytest.raises(ValueError, match="infs or NaNs"):
            cspband.factorized(spoiled)
        with pytest.raises(ValueError, match="infs or NaNs"):
            f.solve(np.full(10, bad))
        with pytest.raises(ValueError, match="infs or NaNs"):
            f.solve(np.full(10, complex(1, bad)))
    # Without the check a NaN on the diagonal is a rejected pivot, and a NaN
    # in b comes out in the solution.
    spoiled = upper.copy()
    spoiled[2, 4] = np.nan
    with pytest.raises(np.linalg.LinAlgError):
        cspband.factorized(spoiled, check_finite=False)
    b = np.ones(10)
    b[3] = np.nan
    assert np.isnan(f.solve(b, check_finite=False)).any()


def test_size_checks_come_before_any_copy():
    """Views of one number with 2**31 columns are refused at once."""
    one = np.float32(1.0)
    with pytest.raises(ValueError, match="32-bit"):
        cspband.factorized(np.broadcast_to(one, (2, 2**31)))
    f = cspband.factorized([[0, 1, 1], [4, 4, 4]])
    with pytest.raises(ValueError, match="32-bit"):
        f.solve(np.broadcast_to(one, (3, 2**31)))
    with pytest.raises(ValueError, match="32-bit"):
        f.solve(np.broadcast_to(np.complex64(1), (3, 2**30)))  # 2**31 real columns


def test_inputs_unchanged_unless_overwrite_b():
    n, m = 400, 5
    a, upper, lowerform = band_system(n, m, np.float64)
    b = rhs(n, 2, np.float64)
    for ab, lower in [(upper, False), (np.asfortranarray(lowerform), True)]:
        ab0, b0 = ab.copy(), b.copy()
        f = cspband.factorized(ab, lower=lower, overwrite_ab=True)
        assert np.array_equal(ab, ab0)
        x = f.solve(b)
        assert np.array_equal(b, b0) and x is not b
        bf = np.asfortranarray(b)
        assert f.solve(bf, overwrite_b=True) is bf
        assert np.array_equal(bf, x)
        # Not laid out for the solver (C order, another dtype): a copy.
        b32 = np.asfortranarray(b.astype(np.float32))
        assert f.solve(b32, overwrite_b=True) is not b32


def test_empty_system():
    f = cspband.factorized(np.zeros((3, 0)))
    assert (f.n, f.m, f.dtype) == (0, 2, np.float64)
    x = f(np.zeros(0))
    assert x.shape == (0,) and x.dtype == np.float64
    x = f(np.zeros(0, dtype=np.complex128))
    assert x.shape == (0,) and x.dtype == np.complex128
    g = cspband.factorized(np.ones((1, 4)))
    assert f(np.zeros((0, 2))).shape == (0, 2)
    assert g(np.zeros((4, 0))).shape == (4, 0)


def test_task_counts():
    """The count given to factorized() is its solves' default, solve(tasks=)
    overrides it for one call, and neither touches the process-wide count;
    no count changes a bit of the result."""
    previous = cspband.get_tasks()
    try:
        cspband.set_tasks(1)
        upper, _ = large_band(4000, 8, np.float64)
        b = rhs(4000, 3, np.float64)
        alone = cspband.factorized(upper).solve(b)
        f = cspband.factorized(upper, tasks=2)
        assert f.tasks == 2
        assert np.array_equal(f.solve(b), alone)
        assert np.array_equal(f.solve(b, tasks=1), alone)
        assert np.array_equal(cspband.factorized(upper, tasks=4)(b, tasks=3), alone)
        assert cspband.get_tasks() == 1
    finally:
        cspband.set_tasks(previous)


@pytest.mark.parametrize("dtype", [np.float64, np.complex64])
def test_threads_share_one_factorization(dtype):
    """Four threads solving with one factorization at once, with different
    task counts and right-hand sides: each result the bits of a solve on one
    thread."""
    n = 3000
    upper, _ = large_band(n, 12, dtype)
    f = cspband.factorized(upper)
    problems = [rhs(n, k, dtype, seed=k) for k in (None, 1, 2, 5)]
    alone = [f.solve(b) for b in problems]
    results = [[None] * 10 for _ in problems]
    start = threading.Barrier(len(problems))

    def work(k):
        start.wait()
        for repeat in range(10):
            results[k][repeat] = f.solve(problems[k], tasks=1 + (k + repeat) % 2)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(problems))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k, expected in enumerate(alone):
        for x in results[k]:
            assert np.array_equal(x, expected)
