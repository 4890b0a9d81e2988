// Groups of blocks: W blocks of one pass of the factor-and-solve sweep
// worked side by side in vector lanes, block k of the group in lane k.
//
// At small half bandwidths each block's work is a long chain of dependent
// operations (the column kernel, the substitutions, the coupling solves),
// and lanes across the M elements of a row would stay mostly idle; the
// blocks of one pass, on the other hand, are independent and all do the
// same work. A group copies what its W blocks read into task-private
// scratch with the blocks interleaved (element e of block k at lane k of
// local element e), runs the plain block work of sweepsteps.hpp once on
// lanes, and copies what the blocks write back. Every element receives the
// operations of its own block in their order, so the results are the same
// bits as block by block.
//
// The group runs in local coordinates: its arrays hold only the rows and
// columns the pass reaches, numbered from 1, laid out so that the block
// work finds the same neighbours as in the matrix. Only regular blocks are
// grouped: full width, with both neighbours of the pass present and far
// enough from the ends of the matrix that no bound is cut at N; the others
// (the first and last blocks of a pass, the top levels) go block by block.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "solver/loops.hpp"
#include "solver/schedule.hpp"
#include "solver/sweepsteps.hpp"

namespace kernel {

// Blocks per group for element kind T: one vector register of reals per
// lane set (16 floats or 8 doubles with AVX-512), and so as many lanes for
// the complex kinds, whose parts take one register each.
template <class T>
inline constexpr int groupwidth = vectorbytes / sizeof(real_t<T>);

// The most scratch the local arrays of a group take (in the task's heap
// scratch, threadscratch): the blocks of a pass whose group would need more
// go one by one.
inline constexpr std::size_t groupbytes = 512 * 1024;

// The same in elements of the local arrays.
template <class T>
inline constexpr std::int64_t groupcapacity = groupbytes / sizeof(lanes<T, groupwidth<T>>);

// Where the group's arrays stand, in local rows and columns: the block is
// f..l, the local order n; the rest are the pass's neighbours.
struct grouplayout {
  std::int64_t n, f, l, bandcolumns, savedcolumns;
};

// The local layout of a pass for half bandwidth M and block width q:
//   first interior: the left separator's last M columns 1..M, the block,
//                   the right separator's first M rows;
//   separator:      the left neighbour's last M rows 1..M, the separator,
//                   the right neighbour's q rows;
//   interior:       the block from row 1, the right separator's first M rows;
//   backward:       the left separator's last M rows, the block, the right
//                   separator's first M rows.
inline grouplayout layoutof(sweep::pass p, std::int64_t m, std::int64_t q) {
  switch (p) {
    case sweep::pass::firstinterior:
      return {q + 2 * m, m + 1, m + q, m + q, 0};
    case sweep::pass::separator:
      return {2 * q + m, m + 1, m + q, m + q, 2 * m};
    case sweep::pass::interior:
      return {q + m, 1, q, q, 0};
    case sweep::pass::backward:
      return {q + 2 * m, m + 1, m + q, m + q, q + 2 * m};
    case sweep::pass::finished:
      break;
  }
  return {};
}

// Elements of local scratch that pass p needs.
inline std::int64_t groupsize(sweep::pass p, std::int64_t m, std::int64_t q, std::int64_t nrhs) {
  const grouplayout g = layoutof(p, m, q);
  return g.bandcolumns * (m + 1) + g.n * (m + nrhs) + m * g.savedcolumns;
}

// Whether the block with first column f is regular in pass p: a full block
// whose neighbours in the pass exist and reach no bound at row N.
inline bool regularblock(sweep::pass p, std::int64_t f, std::int64_t n, std::int64_t m,
                         std::int64_t q, std::int64_t distance, std::int64_t firstblock) {
  switch (p) {
    case sweep::pass::firstinterior:
      return f > 1 && f + q - 1 + m <= n;
    case sweep::pass::separator:
      return f - distance > firstblock && f + distance + q - 1 <= n;
    case sweep::pass::interior:
      return f - distance >= firstblock && f + q - 1 <= n && f + distance + m - 1 <= n;
    case sweep::pass::backward:
      return f - distance > 0 && f + q - 1 <= n && f + distance + m - 1 <= n;
    case sweep::pass::finished:
      break;
  }
  return false;
}

// Local element i of `local` <- the W spans of `count` elements that start
// at p, p + stride, ..., lane k from span k; read W elements of each span
// at a time and transposed in registers.
//
// A complex element is its real and imaginary part side by side, and lanes
// of complex elements are the vector of real parts followed by the vector
// of imaginary parts: the spans of a complex kind are moved as spans of
// twice as many reals, whose lanes land in that order.
template <class T, int W>
void interleave(lanes<T, W>* local, const T* p, std::int64_t stride, std::int64_t count) {
  using R = real_t<T>;
  constexpr int parts = is_complex_v<T> ? 2 : 1;
  static_assert(sizeof(lanes<T, W>) == parts * sizeof(lanes<R, W>));
  const R* reals = reinterpret_cast<const R*>(p);
  char* bytes = reinterpret_cast<char*>(local);
  lanes<R, W> tile[W];
  for (std::int64_t i0 = 0; i0 < parts * count; i0 += W) {
    const std::int64_t rows = std::min<std::int64_t>(W, parts * count - i0);
    readrows(tile, reals + i0, parts * stride, W, rows);
    for (std::int64_t i = 0; i < rows; ++i) {
      std::memcpy(bytes + (i0 + i) * sizeof tile[i], &tile[i], sizeof tile[i]);
    }
  }
}

// Asks for the W spans of interleave(local, p, stride, count) to be brought
// into the cache. The spans of a group are many, short and far apart, which
// the processor's prefetchers do not follow; asking for all of a group's
// spans before reading any lets their reads from memory overlap.
template <class T>
void prefetchspans(int w, const T* p, std::int64_t stride, std::int64_t count) {
  constexpr std::int64_t line = 64 / sizeof(T);
  for (int k = 0; k < w; ++k) {
    const T* span = p + k * stride;
    for (std::int64_t i = 0; i < count; i += line) __builtin_prefetch(span + i, 0, 2);
    __builtin_prefetch(span + count - 1, 0, 2);
  }
}

// The converse: span k <- lane k of the local elements.
template <class T, int W>
void deinterleave(const lanes<T, W>* local, T* p, std::int64_t stride, std::int64_t count) {
  using R = real_t<T>;
  constexpr int parts = is_complex_v<T> ? 2 : 1;
  R* reals = reinterpret_cast<R*>(p);
  const char* bytes = reinterpret_cast<const char*>(local);
  lanes<R, W> tile[W];
  for (std::int64_t i0 = 0; i0 < parts * count; i0 += W) {
    const std::int64_t rows = std::min<std::int64_t>(W, parts * count - i0);
    for (std::int64_t i = 0; i < W; ++i) {
      if (i < rows) {
        std::memcpy(&tile[i], bytes + (i0 + i) * sizeof tile[i], sizeof tile[i]);
      } else {
        clearlanes(tile[i]);
      }
    }
    transposelanes(tile);
    for (int k = 0; k < W; ++k) storelanes(tile[k], reals + k * parts * stride + i0, rows);
  }
}

// A group of W regular blocks of one pass, the first at column f, the
// others `stride` columns apart, and its local arrays.
template <class T>
class blockgroup {
 public:
  static constexpr int W = groupwidth<T>;
  using E = lanes<T, W>;

  // The local arrays lie in `scratch`, groupsize(p, ...) elements; without
  // it the group can only prefetch.
  blockgroup(const sweepdata<T>& s, sweep::pass p, std::int64_t f, std::int64_t stride,
             E* scratch)
      : s_(s), f_(f), stride_(stride), layout_(layoutof(p, s.m, s.q)) {
    local_.n = layout_.n;
    local_.m = s.m;
    local_.q = s.q;
    local_.nrhs = s.nrhs;
    if (scratch == nullptr) return;
    const grouplayout& g = layout_;
    E* next = scratch;
    local_.a = {next, s.m};
    next += g.bandcolumns * (s.m + 1);
    local_.coupling = {next, g.n};
    next += g.n * s.m;
    local_.b = {next, g.n};
    next += g.n * s.nrhs;
    local_.saved = {next, s.m};
  }

  const sweepdata<E>& local() const { return local_; }

  // Reads what pass p's block work reads into the local arrays; with
  // `prefetch`, only asks for it to be brought into the cache.
  void fetch(sweep::pass p, std::int64_t distance, bool prefetch) {
    prefetching_ = prefetch;
    const std::int64_t m = s_.m, q = s_.q, f = layout_.f, l = layout_.l;
    switch (p) {
      case sweep::pass::firstinterior:
        getband(-m, -m, 1, 1, (q + m) * (m + 1));  // columns f-M..l
        getb(0, f, q);
        break;
      case sweep::pass::separator: {
        const std::int64_t leftrows = -distance + q - m;  // the left neighbour's last M rows
        getband(0, -1, f, f - 1, m + m * (m + 1));        // column f-1's buffer, columns f..f+M-1
        getband(q - m, q - m, l - m + 1, l - m + 1, m * (m + 1));  // columns l-M+1..l
        getcoupling(leftrows, 1, m);
        getcoupling(0, f, m);
        getcoupling(distance, l + 1, q);
        getb(leftrows, 1, m);
        getb(0, f, q);
        getb(distance, l + 1, q);
        break;
      }
      case sweep::pass::interior:
        getband(0, 0, f, f, q * (m + 1));
        getcoupling(0, f, q);
        getcoupling(distance, l + 1, m);
        getb(0, f, q);
        break;
      case sweep::pass::backward:
        getband(0, 0, f, f, q * (m + 1));
        getcoupling(0, f, q);
        getb(-distance + q - m, 1, m);
        getb(0, f, q);
        getb(distance, l + 1, m);
        getsaved(q, l + 1);
        break;
      case sweep::pass::finished:
        break;
    }
    prefetching_ = false;
  }
  const grouplayout& layout() const { return layout_; }

  // The band from global element (i, j) of the first block on, `count`
  // entries in storage order, to or from local element (li, lj).
  void getband(std::int64_t i, std::int64_t j, std::int64_t li, std::int64_t lj,
               std::int64_t count) {
    get([&] { return &local_.a(li, lj); }, &s_.a(f_ + i, f_ + j), (s_.m + 1) * stride_, count);
  }
  void putband(std::int64_t i, std::int64_t j, std::int64_t li, std::int64_t lj,
               std::int64_t count) {
    deinterleave(&local_.a(li, lj), &s_.a(f_ + i, f_ + j), (s_.m + 1) * stride_, count);
  }
  // `count` rows of every coupling column, from global row f + r of the
  // first block on, to or from local row lr.
  void getcoupling(std::int64_t r, std::int64_t lr, std::int64_t count) {
    for (std::int64_t c = 1; c <= s_.m; ++c) {
      get([&] { return &local_.coupling(lr, c); }, &s_.coupling(f_ + r, c), stride_, count);
    }
  }
  void putcoupling(std::int64_t r, std::int64_t lr, std::int64_t count) {
    for (std::int64_t c = 1; c <= s_.m; ++c) {
      deinterleave(&local_.coupling(lr, c), &s_.coupling(f_ + r, c), stride_, count);
    }
  }
  // The same for the right-hand sides.
  void getb(std::int64_t r, std::int64_t lr, std::int64_t count) {
    for (std::int64_t h = 1; h <= s_.nrhs; ++h) {
      get([&] { return &local_.b(lr, h); }, &s_.b(f_ + r, h), stride_, count);
    }
  }
  void putb(std::int64_t r, std::int64_t lr, std::int64_t count) {
    for (std::int64_t h = 1; h <= s_.nrhs; ++h) {
      deinterleave(&local_.b(lr, h), &s_.b(f_ + r, h), stride_, count);
    }
  }
  // M columns of savedcoupling from global column f + j of the first block
  // on, to or from local column lj.
  void getsaved(std::int64_t j, std::int64_t lj) {
    get([&] { return &local_.saved(1, lj); }, &s_.saved(1, f_ + j), s_.m * stride_,
        s_.m * s_.m);
  }
  void putsaved(std::int64_t j, std::int64_t lj) {
    deinterleave(&local_.saved(1, lj), &s_.saved(1, f_ + j), s_.m * stride_, s_.m * s_.m);
  }

 private:
  // local() gives the local element the spans go to; a group without
  // scratch only prefetches and never forms it.
  template <class Local>
  void get(Local local, const T* p, std::int64_t stride, std::int64_t count) {
    if (prefetching_) {
      prefetchspans(W, p, stride, count);
    } else {
      interleave(local(), p, stride, count);
    }
  }

  const sweepdata<T>& s_;
  bool prefetching_ = false;
  std::int64_t f_, stride_;
  grouplayout layout_;
  sweepdata<E> local_{};
};

// Asks for what pass p's work on the group at column f reads to be brought
// into the cache.
template <class T>
void prefetchgroup(const sweepdata<T>& s, sweep::pass p, std::int64_t f, std::int64_t stride,
                   std::int64_t distance) {
  blockgroup<T> g(s, p, f, stride, nullptr);
  g.fetch(p, distance, true);
}

// The first interior pass on a group: factor, left coupling, right
// coupling, forward substitution. False, with nothing written back, when a
// pivot of any block is rejected.
template <class T>
bool firstinteriorgroup(blockgroup<T>& g, const real_t<T>& tolerance) {
  const auto& s = g.local();
  const std::int64_t m = s.m, q = s.q, f = g.layout().f, l = g.layout().l;
  g.fetch(sweep::pass::firstinterior, 0, false);
  if (!factorcolumns(s, f, l, tolerance)) return false;
  solveleft(s, f, l, gatherleft(s, f, l));
  rightfactor(s, f, l);
  forwardcolumns(s, f, l);
  g.putband(0, 0, f, f, q * (m + 1));
  g.putcoupling(0, f, q + m);
  g.putb(0, f, q);
  return true;
}

// The separator pass on a group: both Schur-complement updates and the fill.
template <class T>
void separatorgroup(blockgroup<T>& g, std::int64_t distance) {
  const auto& s = g.local();
  const std::int64_t m = s.m, q = s.q, f = g.layout().f, l = g.layout().l;
  const std::int64_t before = 0;  // the left neighbour's last M rows are rows 1..M
  g.fetch(sweep::pass::separator, distance, false);
  sigmaupdate(s, l, l + 1, l + q);
  leftupdate(s, f, f + m - 1, before, f);
  fill(s, f, f + m - 1, l, before);
  g.putband(0, -1, f, f - 1, m + m * (m + 1));
  g.putband(q - m, q - m, l - m + 1, l - m + 1, m * (m + 1));
  g.putcoupling(0, f, q);
  g.putb(0, f, q);
  g.putsaved(-distance + q, f);
}

// An interior pass of level 2 and up on a group: factor, left coupling,
// right coupling, forward substitution. False, with nothing written back,
// when a pivot of any block is rejected.
template <class T>
bool interiorgroup(blockgroup<T>& g, std::int64_t distance, const real_t<T>& tolerance) {
  const auto& s = g.local();
  const std::int64_t m = s.m, q = s.q, f = g.layout().f, l = g.layout().l;
  g.fetch(sweep::pass::interior, distance, false);
  if (!factorcolumns(s, f, l, tolerance)) return false;
  solveleft(s, f, l, m);
  solveright(s, l, l + 1, l + m);
  forwardcolumns(s, f, l);
  g.putband(0, 0, f, f, q * (m + 1));
  g.putcoupling(0, f, q);
  g.putcoupling(distance, l + 1, m);
  g.putb(0, f, q);
  return true;
}

// A backward pass on a group: the separators' terms, then the backward
// substitution.
template <class T>
void backwardgroup(blockgroup<T>& g, std::int64_t distance) {
  const auto& s = g.local();
  const std::int64_t m = s.m, q = s.q, f = g.layout().f, l = g.layout().l;
  g.fetch(sweep::pass::backward, distance, false);
  leftterms(s, f, l, 0);
  rightterms(s, l, l + 1, m);
  backwardcolumns(s, f, l);
  g.putb(0, f, q);
}

}  // namespace kernel
