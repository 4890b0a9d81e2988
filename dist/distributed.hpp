// The bodies of the csp_dist_X routines: one template per family over the
// solver's element types.
//
// A factorization runs in five steps, each on every process:
//   1. the arguments are agreed on (one collective step);
//   2. each process allocates its window and the processes agree that all
//      of them could;
//   3. the caller's columns are sent to the windows that span them;
//   4. each window factors its partitions, and the processes agree on the
//      outcome;
//   5. the windows factor the reduced system along the chain from the
//      first to the last, and agree on the outcome.
// A solve brings the right-hand sides' rows to the windows, runs the
// forward passes, the chain of the reduced system to the last window and
// back, the backward passes, and hands each row of the solution back to
// the process that passed it.
#pragma once

#include <mpi.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "capi/method.hpp"
#include "capi/tasks.hpp"
#include "dist/agreement.hpp"
#include "dist/include/csp/csp_mpi.h"
#include "dist/messages.hpp"
#include "dist/neighbours.hpp"
#include "dist/plan.hpp"
#include "solver/partitioned.hpp"
#include "solver/scratch.hpp"

// A process's share of a distributed factorization.
struct csp_dist_factorization {
  capi::kind kind;
  MPI_Comm comm;        // the caller's communicator, duplicated
  dist::plan layout;    // who holds what (no partitions when n = 0)
  std::int64_t n;
  void* factor;         // partitioned::factorization<T>* of the window, or null
};

namespace dist {

template <class T>
inline constexpr capi::kind kindof = capi::kind::s;
template <>
inline constexpr capi::kind kindof<double> = capi::kind::d;
template <>
inline constexpr capi::kind kindof<std::complex<float>> = capi::kind::c;
template <>
inline constexpr capi::kind kindof<std::complex<double>> = capi::kind::z;

// Outcomes the processes agree on, in increasing precedence.
enum outcome : int { done = 0, notdefinite = 1, outofmemory = 2 };

inline int codeof(int agreed) {
  return agreed == outofmemory ? CSP_OUT_OF_MEMORY : agreed == notdefinite ? 1 : 0;
}

// Elements of T, freed with the object; null when they cannot be had.
template <class T>
struct buffer {
  T* data = nullptr;
  explicit buffer(std::int64_t count) : data(count > 0 ? allocate<T>(count) : nullptr) {}
  ~buffer() { std::free(data); }
  buffer(const buffer&) = delete;
  buffer& operator=(const buffer&) = delete;
};

// A process's own checks of csp_dist_solve_X / csp_dist_factorize_X.
inline int checkband(const argcodes& codes, char uplo, std::int64_t n, std::int32_t m,
                     std::int32_t nrhs, std::int64_t ncols, const void* ab, std::int32_t ldab,
                     const void* b, std::int64_t ldb, bool solving) {
  if (uplo != 'L' && uplo != 'l' && uplo != 'U' && uplo != 'u') return codes.uplo;
  if (n < 0) return codes.n;
  if (m < 0) return codes.m;
  if (nrhs < 0) return codes.nrhs;
  if (ncols < 0) return codes.ncols;
  if (ab == nullptr && ncols > 0) return codes.ab;
  if (std::int64_t{ldab} < std::int64_t{m} + 1) return codes.ldab;
  if (!solving) return 0;
  if (b == nullptr && ncols > 0 && nrhs > 0) return codes.b;
  if (ldb < std::max<std::int64_t>(1, ncols)) return codes.ldb;
  return 0;
}

// Where a window's band columns are, in the solver's band storage of half
// bandwidth mc: in lower storage with ldab = mc+1, the columns the process
// holds itself are read where they lie (`inner`) and the others, at most a
// partition's worth on either side, come into copies; otherwise every
// column of the window comes into one copy.
template <class T>
struct windowband {
  rows spanned, inner, left, right;  // left and right: copied runs before and after inner
  std::int64_t depth;

  windowband(const plan& p, bool lower, std::int32_t mc, std::int32_t ldab)
      : spanned(p.windowrows(p.rank)), depth(mc + 1) {
    const rows own = overlap(p.columns[p.rank], spanned);
    if (p.holds(p.rank) && lower && ldab == mc + 1 && own.count() > 0) inner = own;
    left = inner.count() > 0 ? rows{spanned.first, inner.first - 1} : spanned;
    right = inner.count() > 0 ? rows{inner.last + 1, spanned.last} : rows{};
  }
  std::int64_t copied() const { return (left.count() + right.count()) * depth; }
  // Where copied column j (global) goes.
  T* copy(T* copies, std::int64_t j) const {
    return j <= left.last ? copies + (j - left.first) * depth
                          : copies + (left.count() + j - right.first) * depth;
  }
  // The window's band in the window's own column numbers.
  piecedband<const T> band(const T* copies, const T* ab, const rows& mine) const {
    const T* at[3] = {};
    std::int64_t start[4] = {1, 1, 1, 1};
    int count = 0;
    auto add = [&](const rows& run, const T* where) {
      if (run.count() == 0) return;
      at[count] = where;
      start[count++] = run.first - spanned.first + 1;
    };
    add(left, copies);
    add(inner, ab + (inner.first - mine.first) * depth);
    add(right, copies + left.count() * depth);
    start[count] = spanned.count() + 1;
    return piecedband<const T>(at, start, count, depth - 1);
  }
};

// Brings the band's columns from the processes that hold them to the
// windows that span them, into this window's copies (in upper storage via
// `staging`, then turned into the lower storage's columns).
template <class T>
void gatherband(const plan& p, MPI_Comm comm, bool lower, std::int32_t m, const T* ab,
                std::int32_t ldab, const windowband<T>& w, T* copies, T* staging) {
  std::vector<MPI_Request> pending;
  const rows mine = p.columns[p.rank];
  const std::int64_t depth = w.depth, skip = lower ? 0 : m - (depth - 1);
  auto from = [&](const rows& out) { return const_cast<T*>(ab) + (out.first - mine.first) * ldab + skip; };
  auto to = [&](const rows& in) {
    return lower ? w.copy(copies, in.first) : staging + (in.first - w.spanned.first) * depth;
  };
  for (int r = 0; r < p.ranks(); ++r) {
    const rows out = overlap(mine, p.windowrows(r)), in = overlap(p.columns[r], w.spanned);
    if (r == p.rank) {
      if (w.inner.count() == 0) copyblock(from(out), ldab, to(in), depth, depth, in.count());
      continue;
    }
    if (out.count() > 0) post(true, from(out), depth, ldab, out.count(), r, bandtag, comm, pending);
    if (in.count() > 0) post(false, to(in), depth, depth, in.count(), r, bandtag, comm, pending);
  }
  complete(pending);
  if (lower) return;
  // Column i of the upper storage is row i of the lower triangle:
  // A(i, i-mc+u) at staging[(i-1)*depth + u].
  const std::int64_t count = w.spanned.count(), mc = depth - 1;
  for (std::int64_t j = 1; j <= count; ++j) {
    for (std::int64_t k = 0; k <= mc; ++k) {
      copies[(j - 1) * depth + k] = j + k <= count ? staging[(j + k - 1) * depth + mc - k] : T(0);
    }
  }
}

// Moves rows of nrhs right-hand sides between the callers' arrays and the
// windows: in = true brings each window its rows, in = false hands each
// row of the solution back.
template <class T>
void moverows(const plan& p, MPI_Comm comm, bool in, T* b, std::int64_t ldb, T* window,
              std::int32_t nrhs) {
  std::vector<MPI_Request> pending;
  const rows mine = p.columns[p.rank], spanned = p.windowrows(p.rank);
  const std::int64_t ldw = spanned.count();
  const int tag = in ? righttag : solvedtag;
  for (int r = 0; r < p.ranks(); ++r) {
    // The caller's rows that rank r's window spans (or solves), and the
    // rows of this window that rank r passed.
    const rows callers = overlap(mine, in ? p.windowrows(r) : p.solvedrows(r));
    const rows ours = overlap(p.columns[r], in ? spanned : p.solvedrows(p.rank));
    T* const caller = b + (callers.first - mine.first);
    T* const own = window + (ours.first - spanned.first);
    if (r == p.rank) {
      if (in) copyblock(caller, ldb, own, ldw, ours.count(), nrhs);
      if (!in) copyblock(own, ldw, caller, ldb, ours.count(), nrhs);
      continue;
    }
    if (callers.count() > 0) post(in, caller, callers.count(), ldb, nrhs, r, tag, comm, pending);
    if (ours.count() > 0) post(!in, own, ours.count(), ldw, nrhs, r, tag, comm, pending);
  }
  complete(pending);
}

template <class T>
using factor = partitioned::factorization<T>;

// Steps 2 to 5 of a factorization, the arguments agreed on (n > 0): the
// window's factorization in f (null when the process holds no partition),
// or the agreed code.
template <class T>
int factorwindow(const plan& p, MPI_Comm comm, bool lower, std::int32_t m, const T* ab,
                 std::int32_t ldab, std::int32_t requested, factor<T>*& f) {
  f = nullptr;
  const std::int32_t mc = static_cast<std::int32_t>(p.whole.m);
  const bool holds = p.holds(p.rank);
  const windowband<T> columns(p, lower, mc, ldab);
  const std::int64_t size = holds ? columns.copied() : 0;
  buffer<T> copies(size), staging(lower ? 0 : size);
  const bool allocated = size == 0 || (copies.data && (lower || staging.data));
  if (int agreed = agreeoutcome(comm, allocated ? done : outofmemory)) return codeof(agreed);
  gatherband(p, comm, lower, m, ab, ldab, columns, copies.data, staging.data);
  int status = done;
  if (holds) {
    const partitioned::layout w = p.windowof(p.rank);
    const std::int32_t useful = partitioned::usefultasks<T>(w, 1);
    const std::int32_t tasks = useful > 1 ? std::min(useful, capi::calltasks(requested)) : 1;
    switch (partitioned::factorgroups(columns.band(copies.data, ab, p.columns[p.rank]), w, tasks, f)) {
      case partitioned::outcome::factored:
        break;
      case partitioned::outcome::rejected:
        status = notdefinite;
        break;
      default:
        status = outofmemory;
    }
  }
  if (const int agreed = agreeoutcome(comm, status)) {
    partitioned::release(f);
    f = nullptr;
    return codeof(agreed);
  }
  if (holds) {
    neighbours<T> chain(comm, p.previous(), p.next());
    status = partitioned::factorseparators(*f, chain) ? done : notdefinite;
    chain.complete();
  }
  if (const int agreed = agreeoutcome(comm, status)) {
    partitioned::release(f);
    f = nullptr;
    return codeof(agreed);
  }
  return 0;
}

// A solve with the windows' factorizations (n > 0, nrhs > 0, arguments
// agreed on): 0 with X in b, or the agreed code with b unchanged.
template <class T>
int solvewindow(const plan& p, MPI_Comm comm, const factor<T>* f, std::int32_t nrhs, T* b,
                std::int64_t ldb, std::int32_t requested) {
  const bool holds = p.holds(p.rank);
  const std::int64_t ldw = p.windowrows(p.rank).count(), mc = p.whole.m;
  buffer<T> window(holds ? ldw * nrhs : 0), beyond(holds ? std::max<std::int64_t>(mc, 1) * nrhs : 0);
  const bool allocated = !holds || (window.data && beyond.data);
  if (int agreed = agreeoutcome(comm, allocated ? done : outofmemory)) return codeof(agreed);
  moverows(p, comm, true, b, ldb, window.data, nrhs);
  std::int32_t tasks = 1;
  bool passed = true;
  if (holds) {
    const std::int32_t useful = partitioned::usefultasks<T>(partitioned::shapeof(*f), nrhs);
    tasks = useful > 1 ? std::min(useful, capi::calltasks(requested)) : 1;
    passed = partitioned::solvegroups(*f, window.data, ldw, nrhs, tasks, true);
  }
  if (int agreed = agreeoutcome(comm, passed ? done : outofmemory)) return codeof(agreed);
  if (holds) {
    neighbours<T> chain(comm, p.previous(), p.next());
    partitioned::solveseparators(*f, window.data, ldw, nrhs, chain, beyond.data);
    chain.complete();
    // The forward passes kept this thread's scratch: the backward ones
    // take the same and cannot fail.
    partitioned::solvegroups(*f, window.data, ldw, nrhs, tasks, false);
  }
  moverows(p, comm, false, b, ldb, window.data, nrhs);
  return 0;
}

inline std::int64_t uploof(char uplo) { return uplo == 'L' || uplo == 'l' ? 'L' : 'U'; }

// Steps 1 to 5 for csp_dist_factorize_X (result null: the one-shot solve's
// own use, which keeps the factor itself).
template <class T>
int factorize(MPI_Comm comm, char uplo, std::int64_t n, std::int32_t m, std::int64_t first,
              std::int64_t ncols, const T* ab, std::int32_t ldab,
              csp_dist_factorization** result, std::int32_t requested) {
  if (result != nullptr) *result = nullptr;
  if (!usable(comm)) return factorcodes.comm;
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  int code = checkband(factorcodes, uplo, n, m, 0, ncols, ab, ldab, nullptr, 1, false);
  if (code == 0 && result == nullptr) code = -9;
  if (code == 0 && requested < 0) code = -10;
  const callargs mine{code, int(kindof<T>), uploof(uplo), n, m, 0, first, ncols};
  std::vector<rows> columns;
  if (const int agreed = agree(comm, mine, factorcodes, columns)) return agreed;
  auto* f = new (std::nothrow) csp_dist_factorization{kindof<T>, MPI_COMM_NULL, {}, n, nullptr};
  if (int agreed = agreeoutcome(comm, f ? done : outofmemory)) {
    delete f;
    return codeof(agreed);
  }
  MPI_Comm_dup(comm, &f->comm);
  if (n > 0) {
    const std::int32_t mc = static_cast<std::int32_t>(std::min<std::int64_t>(m, n - 1));
    f->layout = makeplan(n, mc, columns, rank);
    factor<T>* share = nullptr;
    if (const int status = factorwindow(f->layout, f->comm, uploof(uplo) == 'L', m, ab, ldab,
                                        requested, share)) {
      MPI_Comm_free(&f->comm);
      delete f;
      return status;
    }
    f->factor = share;
  }
  *result = f;
  return 0;
}

template <class T>
void release(csp_dist_factorization* f) {
  partitioned::release(static_cast<factor<T>*>(f->factor));
  MPI_Comm_free(&f->comm);
  delete f;
}

// csp_dist_solve_factorized_X.
template <class T>
int solvefactorized(const csp_dist_factorization* f, std::int32_t nrhs, T* b, std::int64_t ldb,
                    std::int32_t requested) {
  if (f == nullptr) return -1;
  int code = f->kind != kindof<T> ? -1 : 0;
  const std::int64_t ncols = f->n > 0 ? f->layout.columns[f->layout.rank].count() : 0;
  if (code == 0 && nrhs < 0) code = -2;
  if (code == 0 && b == nullptr && ncols > 0 && nrhs > 0) code = -3;
  if (code == 0 && ldb < std::max<std::int64_t>(1, ncols)) code = -4;
  if (code == 0 && requested < 0) code = -5;
  if (const int agreed = agreesolve(f->comm, code, nrhs, -2)) return agreed;
  if (f->n == 0 || nrhs == 0) return 0;
  return solvewindow(f->layout, f->comm, static_cast<const factor<T>*>(f->factor), nrhs, b, ldb,
                     requested);
}

// csp_dist_solve_X: a factorization, a solve, and the factorization freed.
template <class T>
int solve(MPI_Comm comm, char uplo, std::int64_t n, std::int32_t m, std::int32_t nrhs,
          std::int64_t first, std::int64_t ncols, const T* ab, std::int32_t ldab, T* b,
          std::int64_t ldb, std::int32_t requested) {
  if (!usable(comm)) return solvecodes.comm;
  int code = checkband(solvecodes, uplo, n, m, nrhs, ncols, ab, ldab, b, ldb, true);
  if (code == 0 && requested < 0) code = -12;
  const callargs mine{code, int(kindof<T>), uploof(uplo), n, m, nrhs, first, ncols};
  std::vector<rows> columns;
  if (const int agreed = agree(comm, mine, solvecodes, columns)) return agreed;
  if (n == 0) return 0;
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  MPI_Comm own;
  MPI_Comm_dup(comm, &own);
  const std::int32_t mc = static_cast<std::int32_t>(std::min<std::int64_t>(m, n - 1));
  const plan p = makeplan(n, mc, columns, rank);
  factor<T>* f = nullptr;
  int status = factorwindow(p, own, uploof(uplo) == 'L', m, ab, ldab, requested, f);
  if (status == 0 && nrhs > 0) status = solvewindow(p, own, f, nrhs, b, ldb, requested);
  partitioned::release(f);
  MPI_Comm_free(&own);
  return status;
}

}  // namespace dist
