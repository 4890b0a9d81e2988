// The bodies of the batched entries (csp_solve_batched_X,
// csp_factor_batched_X, csp_factor_solve_batched_X): many systems of one
// order and half bandwidth, each with the result it has alone.
//
// Systems that the single-system entries solve with the column kernel go
// through vector lanes, W at a time (solver/batched.hpp): the group's
// bands are copied side by side into the task's scratch, factored and
// solved there, and the results copied back. Others (the partitioned path,
// stage-wise with several pieces, groups too large for the scratch) are
// solved one by one by the single-system entry. The tasks take groups, or
// systems, from a shared cursor.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "capi/checks.hpp"
#include "capi/factorization.hpp"
#include "capi/include/csp/csp.h"
#include "capi/method.hpp"
#include "capi/solve.hpp"
#include "capi/storage.hpp"
#include "capi/tasks.hpp"
#include "solver/batched.hpp"
#include "solver/scratch.hpp"
#include "solver/stagewise.hpp"
#include "solver/team.hpp"

namespace capi {

// The most scratch one task's group takes: beyond it the systems are solved
// one by one, which needs no more than one system's copy.
inline constexpr std::int64_t mostgroupbytes = std::int64_t{16} << 20;

// One batched call, its arguments checked.
template <class T>
struct batchjob {
  batchfamily family;
  char uplo;
  std::int32_t n, m, mc, nrhs, batch;
  T* ab;  // only read by the factorsolve family
  std::int32_t ldab;
  std::int64_t strideab;
  T* b;
  std::int32_t ldb;
  std::int64_t strideb;
  std::int32_t* info;
  const T* shared;  // the shared factor in the solver's storage, or null
  bool grouped;     // items are groups of W systems, else single systems
  std::int32_t alonetasks;  // the task count of a system solved alone
  std::int64_t items;
  std::int64_t next = 0;
  team t;
};

// Whether the family's single-system entry gives a system of this order and
// half bandwidth the column kernel and one-stage substitutions, so that its
// lanes reproduce it, and a group fits the scratch.
template <class T>
bool lanesfit(batchfamily family, std::int32_t n, std::int32_t mc) {
  constexpr std::int64_t w = batched::width<T>;
  const std::int64_t bytes = w * (compactsize(n, mc) + n) * std::int64_t{sizeof(T)};
  if (bytes > mostgroupbytes) return false;
  if (family == batchfamily::factorsolve) return true;
  if (stagewidth(mc) != stagewise::onestage) return false;
  return family == batchfamily::factor || solvemethod(kindof<T>, n, mc) == method::stagewise;
}

// System k (0-based) alone through its single-system entry: its code.
template <class T>
int solvealone(const batchjob<T>& job, std::int64_t k) {
  T* const ab = job.ab + k * job.strideab;
  T* const b = job.b + k * job.strideb;
  switch (job.family) {
    case batchfamily::solve:
      return solve(job.uplo, job.n, job.m, job.nrhs, ab, job.ldab, b, job.ldb, job.alonetasks);
    case batchfamily::factor:
      return factor(job.uplo, job.n, job.m, ab, job.ldab, job.alonetasks);
    case batchfamily::factorsolve:
      return factorsolve(job.uplo, job.n, job.m, job.nrhs, ab, job.ldab, b, job.ldb);
  }
  return 0;
}

// Runs of `count` consecutive elements, one per lane (runs[k] for lane
// k), as lanes: put(r, x) receives x, lane k holding runs[k][r], for each
// r < count. W rows at a time are read, each run contiguously, and
// transposed in registers.
template <class T, int W, class Put>
void transposeruns(const T* const (&runs)[W], std::int64_t count, Put put) {
  lanes<T, W> x[W];
  for (std::int64_t r0 = 0; r0 < count; r0 += W) {
    const std::int64_t rows = std::min<std::int64_t>(W, count - r0);
    for (int k = 0; k < W; ++k) loadlanes(x[k], runs[k] + r0, rows);
    transposelanes(x);
    for (std::int64_t r = 0; r < rows; ++r) put(r0 + r, x[r]);
  }
}

// The converse: get(r) gives the lanes of row r < count, and lane k of
// them goes to runs[k][r] for the lanes k with runs[k] not null, up to
// ends[k] rows.
template <class T, int W, class Get>
void untransposeruns(T* const (&runs)[W], const std::int64_t (&ends)[W], std::int64_t count,
                     Get get) {
  lanes<T, W> x[W];
  for (std::int64_t r0 = 0; r0 < count; r0 += W) {
    const std::int64_t rows = std::min<std::int64_t>(W, count - r0);
    for (std::int64_t r = 0; r < W; ++r) {
      if (r < rows) {
        x[r] = get(r0 + r);
      } else {
        clearlanes(x[r]);
      }
    }
    transposelanes(x);
    for (int k = 0; k < W; ++k) {
      if (runs[k] != nullptr) storelanes(x[k], runs[k] + r0, std::min(rows, ends[k] - r0));
    }
  }
}

// The stored runs of the caller's band storage: column j of the lower form
// holds column j of the band, rows j..min(n, j+mc), and the whole lower
// form with ldab = mc+1 is one run; column i of the upper form holds row
// i, columns max(1, i-mc)..i. visit(offset, count, base, step) is called
// for each run: its offset in a system's storage, its length, and where
// its elements go in the solver's band storage (band.a[base + r*step]).
template <class Visit>
void storedruns(bool lower, std::int32_t n, std::int32_t m, std::int32_t mc, std::int32_t ldab,
                Visit visit) {
  const std::int64_t columnsize = std::int64_t{mc} + 1;
  if (lower && ldab == columnsize) return visit(0, compactsize(n, mc), 0, 1);
  for (std::int64_t c = 1; c <= n; ++c) {
    const std::int64_t stored = (c - 1) * ldab;
    if (lower) {
      visit(stored, std::min<std::int64_t>(n, c + mc) - c + 1, (c - 1) * columnsize, 1);
    } else {
      const std::int64_t first = std::max<std::int64_t>(1, c - mc);  // A(c, first) first
      visit(stored + m + first - c, c - first + 1, compactoffset(mc, c, first),
            std::max<std::int64_t>(mc, 1));
    }
  }
}

// The group's band, system k in lane k, from the systems' storage
// (systems[k] their first element).
template <class T, int W>
void bandin(T* const (&systems)[W], bool lower, std::int32_t n, std::int32_t m,
            std::int32_t ldab, const band_matrix<lanes<T, W>>& band) {
  storedruns(lower, n, m, static_cast<std::int32_t>(band.m), ldab,
             [&](std::int64_t offset, std::int64_t count, std::int64_t base, std::int64_t step) {
               const T* runs[W];
               for (int k = 0; k < W; ++k) runs[k] = systems[k] + offset;
               transposeruns<T, W>(runs, count, [&](std::int64_t r, const lanes<T, W>& x) {
                 band.a[base + r * step] = x;
               });
             });
}

// The converse for the systems k with systems[k] not null, columns
// 1..last[k] of each.
template <class T, int W>
void bandout(const band_matrix<lanes<T, W>>& band, bool lower, std::int32_t n, std::int32_t m,
             std::int32_t ldab, T* const (&systems)[W], const std::int64_t (&last)[W]) {
  const std::int64_t columnsize = band.m + 1;
  storedruns(lower, n, m, static_cast<std::int32_t>(band.m), ldab,
             [&](std::int64_t offset, std::int64_t count, std::int64_t base, std::int64_t step) {
               T* runs[W];
               std::int64_t ends[W];
               for (int k = 0; k < W; ++k) {
                 // Columns grow along a run: its elements in columns up to
                 // last[k] are those before band index last[k]*(mc+1).
                 const std::int64_t before = last[k] * columnsize - base;
                 ends[k] = std::clamp<std::int64_t>((before + step - 1) / step, 0, count);
                 runs[k] = systems[k] != nullptr ? systems[k] + offset : nullptr;
               }
               untransposeruns<T, W>(runs, ends, count,
                                     [&](std::int64_t r) { return band.a[base + r * step]; });
             });
}

// The systems of group g (0-based): the first, and how many (the last group
// may hold fewer than W).
template <class T>
std::int64_t groupcount(const batchjob<T>& job, std::int64_t g, std::int64_t& first) {
  first = g * batched::width<T>;
  return std::min<std::int64_t>(batched::width<T>, job.batch - first);
}

// Solves the right-hand sides of the group's systems (lanes below count,
// except those in `failed`) with the group's factors l, one column at a
// time through the lanes in rhs. Lanes past count repeat the group's last
// system.
template <class T, int W, class Factor>
void solvecolumns(const batchjob<T>& job, std::int64_t first, std::int64_t count,
                  batched::lanemask failed, const Factor& l, lanes<T, W>* rhs) {
  for (std::int64_t h = 0; h < job.nrhs; ++h) {
    const T* in[W];
    T* out[W];
    std::int64_t ends[W];
    for (int k = 0; k < W; ++k) {
      T* const column = job.b + (first + std::min<std::int64_t>(k, count - 1)) * job.strideb +
                        h * job.ldb;
      in[k] = column;
      out[k] = k < count && (failed >> k & 1u) == 0 ? column : nullptr;
      ends[k] = job.n;
    }
    transposeruns<T, W>(in, job.n, [&](std::int64_t r, const lanes<T, W>& x) { rhs[r] = x; });
    batched::substitute<T, W>(l, job.n, job.mc, rhs);
    untransposeruns<T, W>(out, ends, job.n, [&](std::int64_t r) { return rhs[r]; });
  }
}

// Group g through the lanes, in the task's scratch; its systems one by one
// when the scratch cannot be had. Lanes past the group's systems repeat its
// last one, and nothing of theirs is kept.
template <class T>
void solvegroup(const batchjob<T>& job, std::int64_t g) {
  constexpr int w = batched::width<T>;
  std::int64_t first = 0;
  const std::int64_t count = groupcount(job, g, first);
  const std::int64_t bandsize = job.shared != nullptr ? 0 : compactsize(job.n, job.mc);
  auto* const space = static_cast<batched::group<T>*>(
      threadscratch((bandsize + job.n) * sizeof(batched::group<T>)));
  if (space == nullptr) {
    for (std::int64_t k = first; k < first + count; ++k) job.info[k] = solvealone(job, k);
    return;
  }
  batched::group<T>* const rhs = space + bandsize;
  if (job.shared != nullptr) {
    const batched::sharedfactor<T, w> l{{job.shared, job.mc}};
    solvecolumns(job, first, count, 0, l, rhs);
    std::fill_n(job.info + first, count, 0);
    return;
  }
  const band_matrix<batched::group<T>> band{space, job.mc};
  T* systems[w];
  for (int k = 0; k < w; ++k) {
    systems[k] = job.ab + (first + std::min<std::int64_t>(k, count - 1)) * job.strideab;
  }
  const bool lower = islower(job.uplo);
  bandin<T, w>(systems, lower, job.n, job.m, job.ldab, band);
  std::int64_t rejectedat[w] = {};
  batched::lanemask failed = 0;
  if (job.family != batchfamily::factorsolve) {
    failed = batched::factor(band, job.n, stagewise::entrytolerance<T>(), rejectedat);
  }
  if (job.family == batchfamily::factor) {
    std::int64_t last[w];
    for (int k = 0; k < w; ++k) {
      if (k >= count) systems[k] = nullptr;
      last[k] = (failed >> k & 1u) != 0 ? rejectedat[k] : job.n;
    }
    bandout<T, w>(band, lower, job.n, job.m, job.ldab, systems, last);
  } else {
    const batched::groupfactor<T, w> l{{band.a, band.m}};
    solvecolumns(job, first, count, failed, l, rhs);
  }
  for (int k = 0; k < count; ++k) job.info[first + k] = (failed >> k & 1u) != 0 ? 1 : 0;
}

// One task's share: groups or single systems from the cursor.
template <class T>
void batchtask(batchjob<T>& job) {
  for (std::int64_t item = 0; takeitem(job.t.lockid, job.next, job.items, nullptr, item);) {
    if (job.grouped) {
      solvegroup(job, item);
    } else {
      job.info[item] = solvealone(job, item);
    }
  }
}

// The three families: the arguments as <csp/csp.h> has them (ab of the
// factorsolve family only read), tasks 0 for the process-wide count.
template <class T>
int batchedcall(batchfamily family, char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs,
                std::int32_t batch, T* ab, std::int32_t ldab, std::int64_t strideab, T* b,
                std::int32_t ldb, std::int64_t strideb, std::int32_t* info, std::int32_t tasks) {
  if (const int bad = checkbatched(family, uplo, n, m, nrhs, batch, ab, ldab, strideab, b, ldb,
                                   strideb, info)) {
    return bad;
  }
  if (tasks < 0) return -13;
  if (n == 0 || (family == batchfamily::factorsolve && nrhs == 0)) {
    std::fill_n(info, batch, 0);
    return 0;
  }
  const std::int32_t mc = bandwidth(n, m);
  batchjob<T> job{family, uplo, n, m, mc, nrhs, batch, ab, ldab, strideab, b, ldb, strideb,
                  info, nullptr, lanesfit<T>(family, n, mc), 1, 0, 0, team{}};
  scratch<T> sharedcopy;
  if (family == batchfamily::factorsolve && strideab == 0 && job.grouped) {
    job.shared = solverband(static_cast<const T*>(ab), n, m, ldab, islower(uplo), sharedcopy);
    if (job.shared == nullptr) {
      std::fill_n(info, batch, CSP_OUT_OF_MEMORY);
      return CSP_OUT_OF_MEMORY;
    }
  }
  job.items = job.grouped ? (std::int64_t{batch} + batched::width<T> - 1) / batched::width<T>
                          : batch;
  std::int32_t team = entrytasks(static_cast<std::int32_t>(std::min<std::int64_t>(job.items, maxteam)),
                                 tasks);
  if (!job.grouped && job.items < team) {
    // Fewer systems than tasks: each system in turn on all of them.
    job.alonetasks = tasks;
    team = 1;
  }
  runjob(job, team, &batchtask<T>);
  return std::any_of(info, info + batch, [](std::int32_t code) { return code == CSP_OUT_OF_MEMORY; })
             ? CSP_OUT_OF_MEMORY
             : 0;
}

}  // namespace capi
