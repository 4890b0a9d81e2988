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
bool lanesfit(batchfamily family, std::int32_t n, std::int32_t mc, std::int32_t nrhs) {
  constexpr std::int64_t w = batched::width<T>;
  const std::int64_t elements = compactsize(n, mc) + std::int64_t{n} * nrhs;
  const std::int64_t bytes = w * elements * std::int64_t{sizeof(T)};
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

// A run of consecutive elements of one system's band storage: `count` of
// them from `offset`, whose element r goes to band.a[base + r*step] of the
// solver's storage; the factorization first reads it at column `neededby`.
struct storedrun {
  std::int64_t offset, count, base, step, neededby;
};

// The runs of the caller's band storage, numbered 1.. in the order the
// factorization needs them: column j of the lower form holds column j of
// the band, rows j..min(n, j+mc), and the whole lower form with
// ldab = mc+1 is one array, taken in pieces; column i of the upper form
// holds row i, columns max(1, i-mc)..i.
class storedruns {
 public:
  storedruns(bool lower, std::int32_t n, std::int32_t m, std::int32_t mc, std::int32_t ldab)
      : lower_(lower), compact_(lower && ldab == std::int64_t{mc} + 1), n_(n), m_(m), mc_(mc),
        ldab_(ldab) {}

  std::int64_t size() const {
    return compact_ ? (compactsize(n_, mc_) + piece - 1) / piece : n_;
  }

  storedrun operator[](std::int64_t c) const {
    const std::int64_t columnsize = mc_ + 1, stored = (c - 1) * ldab_;
    if (compact_) {
      const std::int64_t offset = (c - 1) * piece;
      return {offset, std::min(piece, compactsize(n_, mc_) - offset), offset, 1,
              offset / columnsize + 1};
    }
    if (lower_) return {stored, std::min(n_, c + mc_) - c + 1, (c - 1) * columnsize, 1, c};
    const std::int64_t first = std::max<std::int64_t>(1, c - mc_);  // A(c, first) first
    return {stored + m_ + first - c, c - first + 1, compactoffset(mc_, c, first),
            std::max<std::int64_t>(mc_, 1), first};
  }

 private:
  // Elements per piece of the compact lower form: a few rounds of the
  // transposition, and soon at hand for the columns that need them.
  static constexpr std::int64_t piece = 64;
  bool lower_, compact_;
  std::int64_t n_, m_, mc_, ldab_;
};

// The group's band, system k in lane k, read from the systems' storage
// (systems[k] their first element) as the factorization reaches it, so
// that each piece is at hand when it is worked on.
template <class T, int W>
class bandreader {
 public:
  bandreader(T* const (&systems)[W], const storedruns& runs,
             const band_matrix<lanes<T, W>>& band)
      : runs_(runs), band_(band) {
    std::copy_n(systems, W, systems_);
  }

  // Every element of columns 1..column in place.
  void upto(std::int64_t column) {
    for (; next_ <= runs_.size(); ++next_) {
      const storedrun run = runs_[next_];
      if (run.neededby > column) return;
      const T* from[W];
      for (int k = 0; k < W; ++k) from[k] = systems_[k] + run.offset;
      transposeruns<T, W>(from, run.count, [&](std::int64_t r, const lanes<T, W>& x) {
        band_.a[run.base + r * run.step] = x;
      });
    }
  }

 private:
  T* systems_[W];
  const storedruns& runs_;
  band_matrix<lanes<T, W>> band_;
  std::int64_t next_ = 1;
};

// The converse, once the band is factored: columns 1..last[k] of lane k
// to system k, for the lanes k with systems[k] not null.
template <class T, int W>
void bandout(const band_matrix<lanes<T, W>>& band, const storedruns& runs,
             T* const (&systems)[W], const std::int64_t (&last)[W]) {
  for (std::int64_t c = 1; c <= runs.size(); ++c) {
    const storedrun run = runs[c];
    T* to[W];
    std::int64_t ends[W];
    for (int k = 0; k < W; ++k) {
      // Columns grow along a run: its elements in columns up to last[k]
      // are those before band index last[k]*(mc+1).
      const std::int64_t before = last[k] * (band.m + 1) - run.base;
      ends[k] = std::clamp<std::int64_t>((before + run.step - 1) / run.step, 0, run.count);
      to[k] = systems[k] != nullptr ? systems[k] + run.offset : nullptr;
    }
    untransposeruns<T, W>(to, ends, run.count,
                          [&](std::int64_t r) { return band.a[run.base + r * run.step]; });
  }
}

// The systems of group g (0-based): the first, and how many (the last group
// may hold fewer than W).
template <class T>
std::int64_t groupcount(const batchjob<T>& job, std::int64_t g, std::int64_t& first) {
  first = g * batched::width<T>;
  return std::min<std::int64_t>(batched::width<T>, job.batch - first);
}

// Column h of the group's right-hand sides: lane k's in the caller's b.
// Lanes past count repeat the group's last system.
template <class T>
T* rhscolumn(const batchjob<T>& job, std::int64_t first, std::int64_t count, int k,
             std::int64_t h) {
  return job.b + (first + std::min<std::int64_t>(k, count - 1)) * job.strideb + h * job.ldb;
}

// The group's right-hand sides into rhs, column h at rhs + h*n.
template <class T, int W>
void rhsin(const batchjob<T>& job, std::int64_t first, std::int64_t count, lanes<T, W>* rhs) {
  for (std::int64_t h = 0; h < job.nrhs; ++h) {
    const T* from[W];
    for (int k = 0; k < W; ++k) from[k] = rhscolumn(job, first, count, k, h);
    transposeruns<T, W>(from, job.n,
                        [&](std::int64_t r, const lanes<T, W>& x) { rhs[h * job.n + r] = x; });
  }
}

// The solutions back, for the lanes below count except those in `failed`.
template <class T, int W>
void rhsout(const batchjob<T>& job, std::int64_t first, std::int64_t count,
            batched::lanemask failed, const lanes<T, W>* rhs) {
  for (std::int64_t h = 0; h < job.nrhs; ++h) {
    T* to[W];
    std::int64_t ends[W];
    for (int k = 0; k < W; ++k) {
      const bool kept = k < count && (failed >> k & 1u) == 0;
      to[k] = kept ? rhscolumn(job, first, count, k, h) : nullptr;
      ends[k] = job.n;
    }
    untransposeruns<T, W>(to, ends, job.n, [&](std::int64_t r) { return rhs[h * job.n + r]; });
  }
}

// Group g through the lanes, in the task's scratch; its systems one by one
// when the scratch cannot be had. Lanes past the group's systems repeat its
// last one, and nothing of theirs is kept. The forward substitution of a
// solve follows the factorization column by column, while each column is
// at hand.
template <class T>
void solvegroup(const batchjob<T>& job, std::int64_t g) {
  constexpr int w = batched::width<T>;
  using group = batched::group<T>;
  std::int64_t first = 0;
  const std::int64_t count = groupcount(job, g, first);
  const std::int64_t bandsize = job.shared != nullptr ? 0 : compactsize(job.n, job.mc);
  const std::int64_t rhssize = std::int64_t{job.n} * job.nrhs;
  auto* const space = static_cast<group*>(threadscratch((bandsize + rhssize) * sizeof(group)));
  if (space == nullptr) {
    for (std::int64_t k = first; k < first + count; ++k) job.info[k] = solvealone(job, k);
    return;
  }
  group* const rhs = space + bandsize;
  rhsin(job, first, count, rhs);
  if (job.shared != nullptr) {
    const batched::sharedfactor<T, w> l{{job.shared, job.mc}};
    for (std::int64_t h = 0; h < job.nrhs; ++h) batched::substitute(l, job.n, job.mc, rhs + h * job.n);
    rhsout(job, first, count, 0, rhs);
    std::fill_n(job.info + first, count, 0);
    return;
  }

  const band_matrix<group> band{space, job.mc};
  const batched::groupfactor<T, w> l{{band.a, band.m}};
  T* systems[w];
  for (int k = 0; k < w; ++k) {
    systems[k] = job.ab + (first + std::min<std::int64_t>(k, count - 1)) * job.strideab;
  }
  const storedruns runs(islower(job.uplo), job.n, job.m, job.mc, job.ldab);
  bandreader<T, w> reader(systems, runs, band);
  std::int64_t rejectedat[w] = {};
  batched::lanemask failed = 0;
  if (job.family == batchfamily::factorsolve) {
    reader.upto(job.n);
    for (std::int64_t h = 0; h < job.nrhs; ++h) batched::substitute(l, job.n, job.mc, rhs + h * job.n);
  } else {
    const auto arrive = [&](std::int64_t i) { reader.upto(i); };
    const auto forward = [&](std::int64_t i) {
      for (std::int64_t h = 0; h < job.nrhs; ++h) batched::forwardrow(l, i, job.mc, rhs + h * job.n);
    };
    failed = batched::factor(band, job.n, stagewise::entrytolerance<T>(), rejectedat, arrive,
                             forward);
    for (std::int64_t h = 0; h < job.nrhs; ++h) batched::backward(l, job.n, job.mc, rhs + h * job.n);
  }
  if (job.family == batchfamily::factor) {
    std::int64_t last[w];
    for (int k = 0; k < w; ++k) {
      if (k >= count) systems[k] = nullptr;
      last[k] = (failed >> k & 1u) != 0 ? rejectedat[k] : job.n;
    }
    bandout<T, w>(band, runs, systems, last);
  } else {
    rhsout(job, first, count, failed, rhs);
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
                  info, nullptr, lanesfit<T>(family, n, mc, nrhs), 1, 0, 0, team{}};
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
