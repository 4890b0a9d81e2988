// The partitioned factorization object, its factorization and its solves,
// each run by a team of tasks over groups of partitions.

#include "solver/partitioned.hpp"

#include <algorithm>
#include <complex>
#include <cstdlib>
#include <cstring>

#include "solver/partitionrows.hpp"
#include "solver/reduced.hpp"
#include "solver/scratch.hpp"
#include "solver/stagewise.hpp"
#include "solver/team.hpp"

namespace partitioned {

namespace {

// Partitions per group: the widest lanes of the kind.
template <class T>
inline constexpr int width = widestlanes<T>;
template <class T>
using vector = lanes<T, width<T>>;

// The smallest power of two above m: a ring of solved rows.
std::int64_t ringsize(std::int64_t m) { return std::int64_t{1} << std::bit_width(std::uint64_t(m)); }

}  // namespace

template <class T>
class factorization {
 public:
  static constexpr int W = width<T>;

  layout shape;
  std::int64_t groups = 0;
  vector<T>* records = nullptr;  // per group: rows records of M+1 vectors
  vector<T>* spikes = nullptr;   // per group: rows spike rows of M vectors
  vector<T>* z = nullptr;        // per group: M x M
  T* reduced = nullptr;          // per separator: D_k and S_k, M x M each
  std::int64_t* spikeends = nullptr;  // per group
  // Per group, from the groups' factorization to the separators': E, F, G.
  vector<T>* e = nullptr;
  vector<T>* fblocks = nullptr;
  vector<T>* g = nullptr;
  T* outside = nullptr;  // in a window: F and G of the partitions beside it

  ~factorization() {
    std::free(records);
    std::free(spikes);
    std::free(z);
    std::free(reduced);
    std::free(spikeends);
    releaseblocks();
  }
  void releaseblocks() {
    std::free(e);
    std::free(fblocks);
    std::free(g);
    std::free(outside);
    e = fblocks = g = nullptr;
    outside = nullptr;
  }

  std::int64_t recordcount() const { return groups * shape.rows * (shape.m + 1); }
  std::int64_t spikecount() const { return groups * shape.rows * shape.m; }
  std::int64_t blocksize() const { return shape.m * shape.m; }
  // Separators firstheld .. with a block of the reduced system here: their
  // own D_k, and S_k for the one after the window.
  std::int64_t reducedcount() const {
    return std::max<std::int64_t>(0, std::min(shape.lastheld + 1, shape.parts - 1) - shape.firstheld + 1);
  }

  // Group gi (0-based) with the given per-group blocks E, F, G and stage.
  group<T, W> groupof(std::int64_t gi, vector<T>* eb, vector<T>* fb, vector<T>* gb,
                      vector<T>* stage) const {
    const std::int64_t b = blocksize();
    return {records + gi * shape.rows * (shape.m + 1), spikes + gi * shape.rows * shape.m,
            z + gi * b, eb ? eb + gi * b : nullptr,
            fb ? fb + gi * b : nullptr, gb ? gb + gi * b : nullptr, stage, shape.m, shape.rows,
            spikeends + gi, shape.firstheld + gi * W};
  }
  // Element (i, j), 0-based, of block `blocks` of held partition p's
  // group, from its lane.
  T element(const vector<T>* blocks, std::int64_t p, std::int64_t i, std::int64_t j) const {
    const std::int64_t index = p - shape.firstheld;
    return lane(blocks[index / W * blocksize() + i * shape.m + j], index % W);
  }
  T* diagonalblock(std::int64_t k) const { return reduced + (k - shape.firstheld) * 2 * blocksize(); }
  T* couplingblock(std::int64_t k) const { return diagonalblock(k) + blocksize(); }
};

namespace {

template <class T>
struct factorjob {
  piecedband<const T> a;
  factorization<T>* f;
  vector<T>* stages;  // 2M+2 vectors per group
  std::int64_t next = 0;
  std::int32_t rejected = 0;
  team t;
};

template <class T>
void factortask(factorjob<T>& job) {
  const factorization<T>& f = *job.f;
  const std::int64_t stagesize = 2 * f.shape.m + 2;
  for (std::int64_t gi = 0;
       takeitem(job.t.lockid, job.next, f.groups, &job.rejected, gi);) {
    const auto g = f.groupof(gi, f.e, f.fblocks, f.g, job.stages + gi * stagesize);
    if (!factorgroup(job.a, f.shape, g, stagewise::entrytolerance<T>())) {
      lockonparallellock(job.t.lockid);
      job.rejected = 1;
      unlockparallellock(job.t.lockid);
    }
  }
}

// Block `which` (F or G) of held partition p as a row-major M x M array.
template <class T>
void copyblock(const factorization<T>& f, const vector<T>* which, std::int64_t p, T* to) {
  const std::int64_t m = f.shape.m;
  for (std::int64_t i = 0; i < m; ++i) {
    for (std::int64_t j = 0; j < m; ++j) to[i * m + j] = f.element(which, p, i, j);
  }
}

// A link for a window that is the whole system: it has no neighbours, and
// nothing is ever sent or received.
template <class T>
class nolink final : public link<T> {
 public:
  void toprevious(const T*, std::int64_t, std::int64_t, std::int64_t) override {}
  void tonext(const T*, std::int64_t, std::int64_t, std::int64_t) override {}
  void fromprevious(T*, std::int64_t, std::int64_t, std::int64_t) override {}
  void fromnext(T*, std::int64_t, std::int64_t, std::int64_t) override {}
};

}  // namespace

// The reduced system's blocks of the window's separators, from E, F and G,
// factored in order: a separator needs S_k of the one before, which the
// previous window computes for the window's first. F and G of the
// partition after the window come from the next window, which gets S back.
template <class T>
bool factorseparators(factorization<T>& f, link<T>& neighbours) {
  const layout& s = f.shape;
  const std::int64_t m = s.m, first = s.firstheld, last = s.lastheld, b = f.blocksize();
  T* const outside = f.outside;
  T* const nextf = outside;  // F and G of partition last+1
  T* const nextg = outside + b;
  if (first > 1) {
    copyblock(f, f.fblocks, first, outside + 2 * b);
    copyblock(f, f.g, first, outside + 3 * b);
    neighbours.toprevious(outside + 2 * b, 2 * b, 2 * b, 1);
  }
  if (last < s.parts) neighbours.fromnext(nextf, 2 * b, 2 * b, 1);
  if (first > 1 && first < s.parts) neighbours.fromprevious(f.couplingblock(first), b, b, 1);
  bool factored = true;
  for (std::int64_t k = first; factored && k <= s.lastseparator(); ++k) {
    T* const d = f.diagonalblock(k);
    for (std::int64_t i = 0; i < m; ++i) {
      for (std::int64_t j = 0; j <= i; ++j) {
        const T right = k < last ? f.element(f.fblocks, k + 1, i, j) : nextf[i * m + j];
        d[i * m + j] = f.element(f.e, k, i, j) + right;
      }
    }
    if (k > 1) subtractsquare(d, f.couplingblock(k), m);
    factored = factorblock(d, m, stagewise::entrytolerance<T>());
    if (factored && k + 1 < s.parts) {
      T* const coupling = f.couplingblock(k + 1);
      for (std::int64_t i = 0; i < m; ++i) {
        for (std::int64_t j = 0; j < m; ++j) {
          coupling[i * m + j] = k < last ? f.element(f.g, k + 1, i, j) : nextg[i * m + j];
        }
      }
      solveright(coupling, d, m);
    }
  }
  if (last + 1 < s.parts) {
    // After a rejected pivot the next windows still get a block, of zeros,
    // and finish their chain; the outcome is agreed on afterwards.
    if (!factored) std::fill_n(f.couplingblock(last + 1), b, T(0));
    neighbours.tonext(f.couplingblock(last + 1), b, b, 1);
  }
  f.releaseblocks();
  return factored;
}

// The separators' solutions, once every group's forward pass has left y in
// the interiors and -V^T*y added to the separators: block forward
// substitution from the first separator to the last, then backward. The
// window's left separator rows come to hold, in turn, what the previous
// window's forward step and its solution give them; its right separator
// gets what the next window's first partition adds to it.
template <class T>
void solveseparators(const factorization<T>& f, T* b, std::int64_t ldb, std::int32_t nrhs,
                     link<T>& neighbours, T* beyond) {
  const layout& s = f.shape;
  const std::int64_t m = s.m, first = s.firstheld, last = s.lastheld;
  const column_major<T> x{b, ldb};
  auto rows = [&](std::int64_t k) { return &x(s.separator(k), 1); };  // separator k's rows
  if (first > 1) neighbours.toprevious(rows(first - 1), m, ldb, nrhs);
  if (last < s.parts) neighbours.fromnext(rows(last), m, ldb, nrhs);
  if (first > 1 && first < s.parts) neighbours.fromprevious(rows(first - 1), m, ldb, nrhs);
  for (std::int64_t k = first; k <= s.lastseparator(); ++k) {
    for (std::int64_t h = 1; h <= nrhs; ++h) {
      T* const r = &x(s.separator(k), h);
      const T* const y = &x(s.separator(k) - 1 - m, h);  // y[q], q = 1..M: the last rows
      for (std::int64_t sr = 1; sr <= m; ++sr) {
        for (std::int64_t q = sr; q <= m; ++q) {
          r[sr - 1] = mulsub(r[sr - 1], f.element(f.z, k, sr - 1, q - 1), y[q]);
        }
      }
      if (k > 1) {
        const T* const previous = &x(s.separator(k - 1), h);
        const T* const coupling = f.couplingblock(k);
        for (std::int64_t i = 0; i < m; ++i) {
          for (std::int64_t l = 0; l < m; ++l) r[i] = mulsub(r[i], coupling[i * m + l], previous[l]);
        }
      }
      forwardblock(f.diagonalblock(k), m, r);
    }
  }
  if (last + 1 < s.parts) {
    neighbours.tonext(rows(last), m, ldb, nrhs);
    neighbours.fromnext(beyond, m, m, nrhs);
  }
  for (std::int64_t k = s.lastseparator(); k >= first; --k) {
    for (std::int64_t h = 1; h <= nrhs; ++h) {
      T* const r = &x(s.separator(k), h);
      if (k + 1 < s.parts) {
        const T* const next = k < last ? &x(s.separator(k + 1), h) : beyond + (h - 1) * m;
        const T* const coupling = f.couplingblock(k + 1);
        for (std::int64_t i = 0; i < m; ++i) {
          for (std::int64_t l = 0; l < m; ++l) r[i] = mulsub(r[i], coupling[l * m + i], next[l]);
        }
      }
      backwardblock(f.diagonalblock(k), m, r);
    }
  }
  if (first > 1 && first < s.parts) neighbours.toprevious(rows(first), m, ldb, nrhs);
  if (last < s.parts) neighbours.tonext(rows(last), m, ldb, nrhs);
  if (first > 1) neighbours.fromprevious(rows(first - 1), m, ldb, nrhs);
}

namespace {

template <class T>
struct solvejob {
  const factorization<T>* f;
  T* b;
  std::int64_t ldb;
  std::int64_t nrhs;
  vector<T>* scratch;  // one slice per participant
  bool forward, backward;  // the passes to run, and the separators between when both
  std::int64_t forwarditem = 0, backwarditem = 0;
  std::int32_t slots = 0;
  team t;
};

// Passes of a solve's right-hand sides: passcolumns at a time.
inline std::int64_t passes(std::int64_t nrhs) { return (nrhs + passcolumns - 1) / passcolumns; }

// A task's scratch: the stage (2M vectors per right-hand side of a pass),
// then the rings.
inline std::int64_t slicesize(std::int64_t m) { return passcolumns * (2 * m + ringsize(m)); }

template <class T>
void solvetask(solvejob<T>& job) {
  const factorization<T>& f = *job.f;
  const std::int64_t m = f.shape.m, items = f.groups * passes(job.nrhs);
  lockonparallellock(job.t.lockid);
  vector<T>* const slice = job.scratch + job.slots++ * slicesize(m);
  unlockparallellock(job.t.lockid);
  const ring<T, width<T>> solved{slice + passcolumns * 2 * m, ringsize(m) - 1};
  auto pass = [&](std::int64_t item) {
    const std::int64_t first = item / f.groups * passcolumns;
    const columns<T> b{job.b + first * job.ldb, job.ldb,
                       static_cast<int>(std::min<std::int64_t>(passcolumns, job.nrhs - first))};
    return std::make_pair(f.groupof(item % f.groups, nullptr, nullptr, nullptr, slice), b);
  };
  if (job.forward) {
    for (std::int64_t item = 0; takeitem(job.t.lockid, job.forwarditem, items, nullptr, item);) {
      const auto [g, b] = pass(item);
      forwardgroup(g, f.shape, b, solved);
    }
  }
  if (!job.backward) return;
  if (job.forward && arrivelast(job.t.eventids[0])) {
    nolink<T> none;
    solveseparators<T>(f, job.b, job.ldb, static_cast<std::int32_t>(job.nrhs), none, nullptr);
    releasebarrier(job.t.eventids, 1, job.t.ntasks);
  }
  for (std::int64_t item = 0; takeitem(job.t.lockid, job.backwarditem, items, nullptr, item);) {
    const auto [g, b] = pass(item);
    backwardgroup(g, f.shape, b, solved);
  }
}

// Runs a solve's passes (and, with both, the separators between them) on
// at most `tasks` tasks; false when the scratch cannot be had.
template <class T>
bool runpasses(const factorization<T>& f, T* b, std::int64_t ldb, std::int32_t nrhs,
               std::int32_t tasks, bool forward, bool backward) {
  if (nrhs <= 0) return true;
  tasks = std::clamp<std::int32_t>(std::min<std::int64_t>(tasks, f.groups * passes(nrhs)), 1,
                                   maxteam);
  auto* scratch = static_cast<vector<T>*>(
      threadscratch(tasks * slicesize(f.shape.m) * sizeof(vector<T>)));
  if (scratch == nullptr) return false;
  solvejob<T> job{&f, b, ldb, nrhs, scratch, forward, backward, 0, 0, 0, team{}};
  runjob(job, tasks, &solvetask<T>);
  return true;
}

}  // namespace

template <class T>
outcome factorgroups(const piecedband<const T>& a, const layout& window, std::int32_t tasks,
                     factorization<T>*& result) {
  result = nullptr;
  auto* f = new (std::nothrow) factorization<T>;
  if (f == nullptr) return outcome::outofmemory;
  f->shape = window;
  constexpr int W = factorization<T>::W;
  const std::int64_t m = window.m;
  f->groups = (window.held() + W - 1) / W;
  const std::int64_t blocks = f->groups * f->blocksize();
  f->records = allocate<vector<T>>(f->recordcount());
  f->spikes = allocate<vector<T>>(f->spikecount());
  f->z = allocate<vector<T>>(blocks);
  f->reduced = allocate<T>(f->reducedcount() * 2 * f->blocksize());
  f->spikeends = allocate<std::int64_t>(f->groups);
  f->e = allocate<vector<T>>(blocks);
  f->fblocks = allocate<vector<T>>(blocks);
  f->g = allocate<vector<T>>(blocks);
  const bool whole = window.firstheld == 1 && window.lastheld == window.parts;
  if (!whole) f->outside = allocate<T>(4 * f->blocksize());
  factorjob<T> job{a, f, allocate<vector<T>>(f->groups * (2 * m + 2)), 0, 0, team{}};
  outcome status = outcome::outofmemory;
  if (f->records && f->spikes && f->z && f->reduced && f->spikeends && f->e && f->fblocks &&
      f->g && (whole || f->outside) && job.stages) {
    runjob(job, std::min<std::int64_t>(tasks, f->groups), &factortask<T>);
    status = job.rejected == 0 ? outcome::factored : outcome::rejected;
  }
  std::free(job.stages);
  if (status == outcome::outofmemory) {
    delete f;
  } else {
    result = f;
  }
  return status;
}

template <class T>
outcome factorize(const T* a, std::int64_t n, std::int64_t m, std::int32_t tasks,
                  factorization<T>*& result, const layout* shape) {
  factorization<T>* f = nullptr;
  outcome status =
      factorgroups(piecedband<const T>(a, m), shape ? *shape : partitionlayout(n, m), tasks, f);
  nolink<T> none;
  if (status == outcome::factored && !factorseparators(*f, none)) status = outcome::rejected;
  if (status == outcome::factored) {
    result = f;
  } else {
    delete f;
    result = nullptr;
  }
  return status;
}

template <class T>
bool solve(const factorization<T>& f, T* b, std::int64_t ldb, std::int32_t nrhs,
           std::int32_t tasks) {
  return runpasses(f, b, ldb, nrhs, tasks, true, true);
}

template <class T>
bool solvegroups(const factorization<T>& f, T* b, std::int64_t ldb, std::int32_t nrhs,
                 std::int32_t tasks, bool forward) {
  return runpasses(f, b, ldb, nrhs, tasks, forward, !forward);
}

template <class T>
void release(factorization<T>* f) {
  delete f;
}

template <class T>
const layout& shapeof(const factorization<T>& f) {
  return f.shape;
}

template <class T>
std::int64_t bytesof(const factorization<T>& f) {
  return std::int64_t{sizeof(factorization<T>)} +
         (f.recordcount() + f.spikecount() + f.groups * f.blocksize()) *
             std::int64_t{sizeof(vector<T>)} +
         f.reducedcount() * 2 * f.blocksize() * std::int64_t{sizeof(T)};
}

template <class T>
std::int32_t usefultasks(const layout& s, std::int32_t nrhs) {
  const std::int64_t groups = (s.parts + width<T> - 1) / width<T>;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(groups * passes(std::max(nrhs, std::int32_t{1})), 1, maxteam));
}

#define CSP_INSTANTIATE(T)                                                                      \
  template outcome factorize<T>(const T*, std::int64_t, std::int64_t, std::int32_t,           \
                                factorization<T>*&, const layout*);                           \
  template bool solve<T>(const factorization<T>&, T*, std::int64_t, std::int32_t,             \
                         std::int32_t);                                                       \
  template void release<T>(factorization<T>*);                                                \
  template const layout& shapeof<T>(const factorization<T>&);                                 \
  template std::int64_t bytesof<T>(const factorization<T>&);                                  \
  template std::int32_t usefultasks<T>(const layout&, std::int32_t);                          \
  template outcome factorgroups<T>(const piecedband<const T>&, const layout&, std::int32_t,      \
                                   factorization<T>*&);                                        \
  template bool factorseparators<T>(factorization<T>&, link<T>&);                              \
  template bool solvegroups<T>(const factorization<T>&, T*, std::int64_t, std::int32_t,         \
                               std::int32_t, bool);                                            \
  template void solveseparators<T>(const factorization<T>&, T*, std::int64_t, std::int32_t,     \
                                   link<T>&, T*);
CSP_INSTANTIATE(float)
CSP_INSTANTIATE(double)
CSP_INSTANTIATE(std::complex<float>)
CSP_INSTANTIATE(std::complex<double>)
#undef CSP_INSTANTIATE

}  // namespace partitioned
