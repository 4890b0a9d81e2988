"""Batches: leading dimensions of ab and b, broadcast as scipy (1.16 on)
broadcasts them, against scipy.linalg looped over the batch, and every
system against the package's own call on that system alone (bit for bit)."""

import numpy as np
import pytest
import scipy.linalg

import cspband
from test_cspband import band_system, error_ratio

N, M = 60, 3


def bands(batch, dtype, n=N, m=M):
    """A batch of distinct diagonally dominant band matrices: dense, upper
    and lower forms, each of shape batch + core."""
    systems = [band_system(n, m, dtype, seed=s) for s in range(max(1, int(np.prod(batch))))]
    return tuple(np.stack([s[i] for s in systems]).reshape(batch + systems[0][i].shape)
                 for i in range(3))


def rhs(shape, dtype, seed=1):
    rng = np.random.default_rng(seed)
    b = rng.uniform(-1, 1, shape)
    if np.dtype(dtype).kind == "c":
        b = b + 1j * rng.uniform(-1, 1, shape)
    return b.astype(dtype)


def looped(routine, ab, b, **kwargs):
    """routine over the broadcast batch, one system at a time, stacked."""
    vector = b.ndim == 1
    batch = np.broadcast_shapes(ab.shape[:-2], () if vector else b.shape[:-2])
    ab = np.broadcast_to(ab, batch + ab.shape[-2:])
    b = b if vector else np.broadcast_to(b, batch + b.shape[-2:])
    out = [routine(ab[i], b if vector else b[i], **kwargs) for i in np.ndindex(batch)]
    return np.stack(out).reshape(batch + out[0].shape)


# (ab batch, b shape past n): ab and b batched alike, only ab, only b,
# (3, 1) against (1, 4), a 1-D b, three dimensions against two.
BROADCASTS = [((3,), (3, None, 2)), ((2, 3), (None, 2)), ((), (4, None, 2)),
              ((3, 1), (1, 4, None, 1)), ((3,), (None,)), ((2, 1, 3), (4, 1, None, 2))]


def b_shape(dims, n=N):
    return tuple(n if d is None else d for d in dims)


@pytest.mark.parametrize("abatch,bdims", BROADCASTS)
@pytest.mark.parametrize("lower", [False, True])
@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_solveh_banded_matches_scipy_and_each_system_alone(abatch, bdims, lower, dtype):
    a, upper, lowerform = bands(abatch, dtype)
    ab, b = (lowerform if lower else upper), rhs(b_shape(bdims), dtype)
    x = cspband.solveh_banded(ab, b, lower=lower)
    expected = looped(scipy.linalg.solveh_banded, ab, b, lower=lower)
    assert x.shape == expected.shape and x.dtype == dtype
    assert error_ratio(x, expected, a.reshape(-1, N), dtype) < 30
    assert np.array_equal(x, looped(cspband.solveh_banded, ab, b, lower=lower))
    c = cspband.cholesky_banded(ab, lower=lower)
    assert np.array_equal(c, looped(lambda a, _: cspband.cholesky_banded(a, lower=lower), ab,
                                    np.zeros(N)))
    y = cspband.cho_solve_banded((c, lower), b)
    assert np.array_equal(y, looped(lambda c, b: cspband.cho_solve_banded((c, lower), b), c, b))
    assert np.array_equal(y, x)  # n < 20000: factor and factor solve are solveh_banded's bits
    f = cspband.factorized(ab, lower=lower)
    assert f.batch_shape == abatch
    if abatch:
        assert np.array_equal(f.solve(b), y)
    else:  # one matrix: the partitioned factorization
        assert error_ratio(f.solve(b), y, a.reshape(-1, N), dtype) < 30


@pytest.mark.parametrize("dtype", [np.complex64, np.complex128])
@pytest.mark.parametrize("abatch,bdims", [BROADCASTS[0], BROADCASTS[3], BROADCASTS[4]])
def test_solve_symmetric_banded_complex(dtype, abatch, bdims):
    a, upper, lowerform = bands(abatch, dtype)
    b = rhs(b_shape(bdims), dtype)
    x = cspband.solve_symmetric_banded(upper, b)
    core = b[..., None] if b.ndim == 1 else b
    core = np.broadcast_to(core, np.broadcast_shapes(abatch, core.shape[:-2]) + core.shape[-2:])
    dense = np.linalg.solve(a.astype(np.complex128), core.astype(np.complex128))
    assert x.dtype == dtype
    assert error_ratio(x, dense.reshape(x.shape), a.reshape(-1, N), dtype) < 30
    assert np.array_equal(x, looped(cspband.solve_symmetric_banded, upper, b))
    f = cspband.factorized(lowerform, lower=True)
    assert np.array_equal(f(b), x)


def test_layouts_and_dtypes_give_the_same_bits():
    a, upper, _ = bands((4,), np.float64)
    b = rhs((4, N, 2), np.float64)
    reference = cspband.solveh_banded(upper, b)
    wide = np.zeros((4, 2 * (M + 1), 2 * N))
    wide[:, ::2, ::2] = upper
    for ab in (np.asfortranarray(upper), wide[:, ::2, ::2], np.flip(np.flip(upper, -1).copy(), -1)):
        assert np.array_equal(cspband.solveh_banded(ab, np.asfortranarray(b)), reference)
    assert cspband.solveh_banded(upper.astype(np.int64), b[:, :, :1].astype(np.float32)).dtype \
        == np.float64
    with pytest.raises(TypeError, match="solve_symmetric_banded"):
        cspband.solveh_banded(upper + 0j, b)


def test_overwrite():
    _, _, lowerform = bands((2, 3), np.float64)
    b = rhs((2, 3, N, 2), np.float64)
    expected = cspband.solveh_banded(lowerform, b, lower=True)
    ab0, b0 = lowerform.copy(), b.copy()
    cspband.solveh_banded(lowerform, b, overwrite_ab=True, overwrite_b=True, lower=True)
    # C-ordered systems: copied, left alone.
    assert np.array_equal(b, b0) and np.array_equal(lowerform, ab0)
    laid_out = np.swapaxes(np.swapaxes(b, -1, -2).copy(), -1, -2)
    ab = np.swapaxes(np.swapaxes(lowerform, -1, -2).copy(), -1, -2)
    x = cspband.solveh_banded(ab, laid_out, overwrite_ab=True, overwrite_b=True, lower=True)
    assert x is laid_out and np.array_equal(x, expected)
    shared = np.swapaxes(np.swapaxes(b[0], -1, -2).copy(), -1, -2)
    x = cspband.solve_symmetric_banded(ab0, shared, lower=True, overwrite_b=True)
    assert x.shape == (2, 3, N, 2) and np.array_equal(x[0], expected[0])
    assert np.array_equal(shared, b[0])  # broadcast over the batch: never the result
    c = np.swapaxes(np.swapaxes(ab0, -1, -2).copy(), -1, -2)
    assert cspband.cholesky_banded(c, overwrite_ab=True, lower=True) is c


def test_rejected_pivot_names_the_batch_index_and_the_others_are_solved():
    a, upper, _ = bands((2, 3), np.float64)
    upper[1, 2, M, 7] = -1.0
    b = np.swapaxes(rhs((2, 3, 2, N), np.float64), -1, -2)
    expected = cspband.solveh_banded(upper[0], b[0]), cspband.solveh_banded(upper[1, :2], b[1, :2])
    with pytest.raises(np.linalg.LinAlgError, match=r"batch index \(1, 2\)\)"):
        cspband.solveh_banded(upper, b, overwrite_b=True)
    assert np.array_equal(b[0], expected[0]) and np.array_equal(b[1, :2], expected[1])
    upper[0, 1, M, 0] = 0.0
    with pytest.raises(np.linalg.LinAlgError, match=r"batch index \(0, 1\) and 1 more"):
        cspband.cholesky_banded(upper)
    with pytest.raises(np.linalg.LinAlgError, match=r"batch index \(0, 1\) and 1 more"):
        cspband.factorized(upper)
    # A shared band that fails: the first system it serves.
    with pytest.raises(np.linalg.LinAlgError, match=r"batch index \(2, 0\) and 3 more"):
        cspband.solveh_banded(upper[1, :, None], rhs((4, N, 1), np.float64))


def test_factorized_batches():
    _, upper, _ = bands((3, 1), np.float64)
    f = cspband.factorized(upper)
    assert f.batch_shape == (3, 1) and f.n == N and f.m == M and "batch_shape" in repr(f)
    b = rhs((4, N, 2), np.float64)
    x = f.solve(b)
    assert x.shape == (3, 4, N, 2)
    assert np.array_equal(x, cspband.solveh_banded(upper, b))
    z = f(b + 2j * b)
    assert z.dtype == np.complex128
    assert np.array_equal(z.real, x) and np.array_equal(z.imag, 2 * x)
    assert np.array_equal(f(1j * b[0, :, 0]), 1j * f(b[0, :, 0]))
    # One matrix, batched b: each column the bits of its own solve.
    one = cspband.factorized(upper[0, 0], tasks=2)
    assert one.batch_shape == ()
    assert np.array_equal(one(b), np.stack([one(bk) for bk in b]))
    assert np.array_equal(one(b[:, :, 0].reshape(2, 2, N, 1))[1, 0, :, 0], one(b[2, :, 0]))
    for n, m in ((5, 8), (1, 0)):  # a band wider than the matrix; a 1 x 1 matrix
        _, wide, _ = bands((2,), np.float64, n=n, m=m)
        b = rhs((2, n, 2), np.float64)
        assert np.array_equal(cspband.factorized(wide)(b), cspband.solveh_banded(wide, b))
    with pytest.raises(ValueError, match="zero-size"):
        f.solve(np.ones((0, N, 1)))
    with pytest.raises(ValueError, match="not compatible"):
        f.solve(np.ones((4, N + 1, 1)))


def test_errors_and_tasks():
    _, upper, _ = bands((3,), np.float64)
    for routine in ("solveh_banded", "solve_symmetric_banded"):
        with pytest.raises(ValueError, match=f"`{routine}` does not support zero-size"):
            getattr(cspband, routine)(upper[:0], np.ones((0, N, 1)))
    with pytest.raises(ValueError, match="`cholesky_banded` does not support zero-size"):
        cspband.cholesky_banded(np.ones((2, 0, 2, 5)))
    with pytest.raises(ValueError, match="`factorized` does not support zero-size"):
        cspband.factorized(upper[:0])
    with pytest.raises(ValueError, match="broadcast"):
        cspband.solveh_banded(upper, np.ones((4, N, 1)))
    with pytest.raises(ValueError, match="not compatible"):
        cspband.solveh_banded(upper, np.ones((3, N)))  # 2-D b is one (3, N) block
    with pytest.raises(ValueError, match="not compatible"):
        cspband.cho_solve_banded((upper, False), np.ones(N - 1))
    with pytest.raises(ValueError):
        cspband.solveh_banded(upper[0, 0], np.ones((2, N, 1)))
    spoiled = upper.copy()
    spoiled[2, 1, 9] = np.nan
    with pytest.raises(ValueError, match="infs or NaNs"):
        cspband.solveh_banded(spoiled, np.ones(N))
    with pytest.raises(ValueError, match="tasks"):
        cspband.solveh_banded(upper, np.ones(N), tasks=0)
    assert np.array_equal(cspband.solveh_banded(upper, np.ones(N), tasks=1),
                          cspband.solveh_banded(upper, np.ones(N), tasks=2))
    assert cspband.solveh_banded(np.ones((2, 1, 0)), np.ones(0)).shape == (2, 0)
