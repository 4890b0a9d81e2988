// The partitioned factorization object, its factorization and its solves,
// each run by a team of tasks over groups of partitions.

#include "solver/partitioned.hpp"

#include <algorithm>
#include <complex>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

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

// `count` elements of T, 64-byte aligned; null when they cannot be had.
// Several megabytes are asked for in huge pages, where the system gives
// them on request: in 4 KiB pages, the first touches of a factorization
// of 270 MB (N = 2,000,000, M = 8, double) took longer than factoring.
template <class T>
T* allocate(std::int64_t count) {
  const std::int64_t most = (std::int64_t{1} << 62) / std::int64_t{sizeof(T)};
  if (count < 0 || count > most) return nullptr;
  constexpr std::size_t hugepage = std::size_t{1} << 21;
  std::size_t bytes = static_cast<std::size_t>(std::max<std::int64_t>(count, 1)) * sizeof(T);
  if (bytes < 2 * hugepage) return static_cast<T*>(std::aligned_alloc(64, (bytes + 63) / 64 * 64));
  bytes = (bytes + hugepage - 1) / hugepage * hugepage;
  void* const memory = std::aligned_alloc(hugepage, bytes);
#ifdef MADV_HUGEPAGE
  if (memory != nullptr) madvise(memory, bytes, MADV_HUGEPAGE);  // a hint: no huge pages is no error
#endif
  return static_cast<T*>(memory);
}

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

  ~factorization() {
    std::free(records);
    std::free(spikes);
    std::free(z);
    std::free(reduced);
    std::free(spikeends);
  }

  std::int64_t recordcount() const { return groups * shape.rows * (shape.m + 1); }
  std::int64_t spikecount() const { return groups * shape.rows * shape.m; }
  std::int64_t blocksize() const { return shape.m * shape.m; }

  // Group gi (0-based) with the given per-group blocks E, F, G and stage.
  group<T, W> groupof(std::int64_t gi, vector<T>* e, vector<T>* f, vector<T>* g,
                      vector<T>* stage) const {
    const std::int64_t b = blocksize();
    return {records + gi * shape.rows * (shape.m + 1), spikes + gi * shape.rows * shape.m,
            z + gi * b, e ? e + gi * b : nullptr,
            f ? f + gi * b : nullptr, g ? g + gi * b : nullptr, stage, shape.m, shape.rows,
            spikeends + gi, gi * W + 1};
  }
  // Element (i, j), 0-based, of block `blocks` of partition p's group,
  // from its lane.
  T element(const vector<T>* blocks, std::int64_t p, std::int64_t i, std::int64_t j) const {
    return lane(blocks[(p - 1) / W * blocksize() + i * shape.m + j], (p - 1) % W);
  }
  T* diagonalblock(std::int64_t k) const { return reduced + (k - 1) * 2 * blocksize(); }
  T* couplingblock(std::int64_t k) const { return diagonalblock(k) + blocksize(); }
};

namespace {

template <class T>
struct factorjob {
  band_matrix<const T> a;
  factorization<T>* f;
  vector<T>* e;
  vector<T>* fblocks;
  vector<T>* g;
  vector<T>* stages;  // 2M+1 vectors per group
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
    const auto g = f.groupof(gi, job.e, job.fblocks, job.g, job.stages + gi * stagesize);
    if (!factorgroup(job.a, f.shape, g, stagewise::entrytolerance<T>())) {
      lockonparallellock(job.t.lockid);
      job.rejected = 1;
      unlockparallellock(job.t.lockid);
    }
  }
}

// The reduced system's blocks from the partitions' E, F and G, factored.
template <class T>
bool factorreduced(factorization<T>& f, const vector<T>* e, const vector<T>* fb,
                   const vector<T>* g) {
  const std::int64_t m = f.shape.m, parts = f.shape.parts;
  for (std::int64_t k = 1; k < parts; ++k) {
    T* const d = f.diagonalblock(k);
    for (std::int64_t i = 0; i < m; ++i) {
      for (std::int64_t j = 0; j <= i; ++j) {
        d[i * m + j] = f.element(e, k, i, j) + f.element(fb, k + 1, i, j);
      }
    }
    if (k > 1) subtractsquare(d, f.couplingblock(k), m);
    if (!factorblock(d, m, stagewise::entrytolerance<T>())) return false;
    if (k + 1 < parts) {
      T* const s = f.couplingblock(k + 1);
      for (std::int64_t i = 0; i < m; ++i) {
        for (std::int64_t j = 0; j < m; ++j) s[i * m + j] = f.element(g, k + 1, i, j);
      }
      solveright(s, d, m);
    }
  }
  return true;
}

// The separators' solutions of one right-hand side, once every group's
// forward pass has left y in the interiors and -V^T*y added to the
// separators.
template <class T>
void solvereduced(const factorization<T>& f, T* column) {
  const layout& s = f.shape;
  const std::int64_t m = s.m;
  for (std::int64_t k = 1; k < s.parts; ++k) {
    T* const r = column + s.separator(k) - 1;
    const T* const y = column + s.separator(k) - 2 - m;  // y[q], q = 1..M: the last rows
    for (std::int64_t sr = 1; sr <= m; ++sr) {
      for (std::int64_t q = sr; q <= m; ++q) {
        r[sr - 1] = mulsub(r[sr - 1], f.element(f.z, k, sr - 1, q - 1), y[q]);
      }
    }
    if (k > 1) {
      const T* const previous = column + s.separator(k - 1) - 1;
      const T* const coupling = f.couplingblock(k);
      for (std::int64_t i = 0; i < m; ++i) {
        for (std::int64_t l = 0; l < m; ++l) r[i] = mulsub(r[i], coupling[i * m + l], previous[l]);
      }
    }
    forwardblock(f.diagonalblock(k), m, r);
  }
  for (std::int64_t k = s.parts - 1; k >= 1; --k) {
    T* const x = column + s.separator(k) - 1;
    if (k + 1 < s.parts) {
      const T* const next = column + s.separator(k + 1) - 1;
      const T* const coupling = f.couplingblock(k + 1);
      for (std::int64_t i = 0; i < m; ++i) {
        for (std::int64_t l = 0; l < m; ++l) x[i] = mulsub(x[i], coupling[l * m + i], next[l]);
      }
    }
    backwardblock(f.diagonalblock(k), m, x);
  }
}

template <class T>
struct solvejob {
  const factorization<T>* f;
  T* b;
  std::int64_t ldb;
  std::int64_t nrhs;
  vector<T>* scratch;  // one slice per participant
  std::int64_t forward = 0, backward = 0;
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
  for (std::int64_t item = 0; takeitem(job.t.lockid, job.forward, items, nullptr, item);) {
    const auto [g, b] = pass(item);
    forwardgroup(g, f.shape, b, solved);
  }
  if (arrivelast(job.t.eventids[0])) {
    for (std::int64_t h = 0; h < job.nrhs; ++h) solvereduced(f, job.b + h * job.ldb);
    releasebarrier(job.t.eventids, 1, job.t.ntasks);
  }
  for (std::int64_t item = 0; takeitem(job.t.lockid, job.backward, items, nullptr, item);) {
    const auto [g, b] = pass(item);
    backwardgroup(g, f.shape, b, solved);
  }
}

}  // namespace

template <class T>
outcome factorize(const T* a, std::int64_t n, std::int64_t m, std::int32_t tasks,
                  factorization<T>*& result, const layout* shape) {
  result = nullptr;
  auto* f = new (std::nothrow) factorization<T>;
  if (f == nullptr) return outcome::outofmemory;
  f->shape = shape ? *shape : partitionlayout(n, m);
  constexpr int W = factorization<T>::W;
  f->groups = (f->shape.parts + W - 1) / W;
  const std::int64_t blocks = f->groups * f->blocksize();
  f->records = allocate<vector<T>>(f->recordcount());
  f->spikes = allocate<vector<T>>(f->spikecount());
  f->z = allocate<vector<T>>(blocks);
  f->reduced = allocate<T>((f->shape.parts - 1) * 2 * f->blocksize());
  f->spikeends = allocate<std::int64_t>(f->groups);
  factorjob<T> job{{a, m}, f, allocate<vector<T>>(blocks), allocate<vector<T>>(blocks),
                   allocate<vector<T>>(blocks), allocate<vector<T>>(f->groups * (2 * m + 2)),
                   0, 0, team{}};
  outcome status = outcome::outofmemory;
  if (f->records && f->spikes && f->z && f->reduced && f->spikeends && job.e && job.fblocks && job.g && job.stages) {
    runjob(job, std::min<std::int64_t>(tasks, f->groups), &factortask<T>);
    status = job.rejected == 0 && factorreduced(*f, job.e, job.fblocks, job.g)
                 ? outcome::factored
                 : outcome::rejected;
  }
  std::free(job.e);
  std::free(job.fblocks);
  std::free(job.g);
  std::free(job.stages);
  if (status == outcome::factored) {
    result = f;
  } else {
    delete f;
  }
  return status;
}

template <class T>
bool solve(const factorization<T>& f, T* b, std::int64_t ldb, std::int32_t nrhs,
           std::int32_t tasks) {
  if (nrhs <= 0) return true;
  tasks = std::clamp<std::int32_t>(std::min<std::int64_t>(tasks, f.groups * passes(nrhs)), 1,
                                   maxteam);
  auto* scratch = static_cast<vector<T>*>(
      threadscratch(tasks * slicesize(f.shape.m) * sizeof(vector<T>)));
  if (scratch == nullptr) return false;
  solvejob<T> job{&f, b, ldb, nrhs, scratch, 0, 0, 0, team{}};
  runjob(job, tasks, &solvetask<T>);
  return true;
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
         (f.shape.parts - 1) * 2 * f.blocksize() * std::int64_t{sizeof(T)};
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
  template std::int32_t usefultasks<T>(const layout&, std::int32_t);
CSP_INSTANTIATE(float)
CSP_INSTANTIATE(double)
CSP_INSTANTIATE(std::complex<float>)
CSP_INSTANTIATE(std::complex<double>)
#undef CSP_INSTANTIATE

}  // namespace partitioned
