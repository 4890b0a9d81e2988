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

// Lane k of the group's band <- the band of half bandwidth mc of one system
// in the caller's storage.
template <class T, int W>
void bandin(const stridedband<const T>& from, std::int32_t n, std::int32_t mc,
            const band_matrix<lanes<T, W>>& to, int k) {
  const std::int64_t down = from.down();
  for (std::int64_t j = 1; j <= n; ++j) {
    const unsigned char* source = from.at(j, j);
    lanes<T, W>* const target = to.column(j);
    for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + mc); ++i, source += down) {
      T value;
      std::memcpy(&value, source, sizeof value);
      putlane(target[i - j], k, value);
    }
  }
}

// Columns 1..last of lane k of the group's band -> one system's storage.
template <class T, int W>
void bandout(const band_matrix<lanes<T, W>>& from, std::int32_t n, std::int64_t last, int k,
             const stridedband<T>& to) {
  const std::int64_t down = to.down();
  for (std::int64_t j = 1; j <= last; ++j) {
    unsigned char* target = to.at(j, j);
    const lanes<T, W>* const source = from.column(j);
    for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + from.m); ++i, target += down) {
      const T value = lane(source[i - j], k);
      std::memcpy(target, &value, sizeof value);
    }
  }
}

// The systems of group g (0-based): the first, and how many (the last group
// may hold fewer than W).
template <class T>
std::int64_t groupcount(const batchjob<T>& job, std::int64_t g, std::int64_t& first) {
  first = g * batched::width<T>;
  return std::min<std::int64_t>(batched::width<T>, job.batch - first);
}

// The band of system k in the caller's storage, U = T or const T.
template <class U, class T>
stridedband<U> systemband(const batchjob<T>& job, std::int64_t k) {
  return lapackband<U>(job.ab + k * job.strideab, job.m, job.ldab, islower(job.uplo));
}

// Solves the right-hand sides of the group's systems (lanes below count,
// except those in `failed`) with the group's factors l, one column at a
// time through the lanes in rhs. Lanes past count repeat the group's last
// system.
template <class T, int W, class Factor>
void solvecolumns(const batchjob<T>& job, std::int64_t first, std::int64_t count,
                  batched::lanemask failed, const Factor& l, lanes<T, W>* rhs) {
  for (std::int64_t h = 0; h < job.nrhs; ++h) {
    for (int k = 0; k < W; ++k) {
      const T* const column = job.b + (first + std::min<std::int64_t>(k, count - 1)) * job.strideb +
                              h * job.ldb;
      for (std::int64_t i = 0; i < job.n; ++i) putlane(rhs[i], k, column[i]);
    }
    batched::substitute<T, W>(l, job.n, job.mc, rhs);
    for (int k = 0; k < count; ++k) {
      if ((failed >> k & 1u) != 0) continue;
      T* const column = job.b + (first + k) * job.strideb + h * job.ldb;
      for (std::int64_t i = 0; i < job.n; ++i) column[i] = lane(rhs[i], k);
    }
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
  for (int k = 0; k < w; ++k) {
    const std::int64_t system = first + std::min<std::int64_t>(k, count - 1);
    bandin(systemband<const T>(job, system), job.n, job.mc, band, k);
  }
  std::int64_t rejectedat[w] = {};
  batched::lanemask failed = 0;
  if (job.family != batchfamily::factorsolve) {
    failed = batched::factor(band, job.n, stagewise::entrytolerance<T>(), rejectedat);
  }
  if (job.family == batchfamily::factor) {
    for (int k = 0; k < count; ++k) {
      const bool rejected = (failed >> k & 1u) != 0;
      bandout(band, job.n, rejected ? rejectedat[k] : job.n, k, systemband<T>(job, first + k));
    }
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
