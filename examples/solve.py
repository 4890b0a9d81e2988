"""Solves a small symmetric positive definite band system with cspband: the
tridiagonal matrix with 4 on the diagonal and 1 beside it, in scipy's upper
form, and the right-hand side that makes every unknown equal to 1."""

import numpy as np

import cspband

n = 1000
ab = np.empty((2, n))
ab[0] = 1.0  # the superdiagonal: ab[0, j] = a[j-1, j] (ab[0, 0] is not used)
ab[1] = 4.0  # the diagonal
b = np.full(n, 6.0)  # row sums: 1 + 4 + 1
b[0] = b[-1] = 5.0

x = cspband.solveh_banded(ab, b)  # scipy.linalg.solveh_banded's call
print(f"x(1) = {x[0]:.15g}, x({n}) = {x[-1]:.15g}")
