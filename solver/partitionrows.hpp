// The row steps of the partitioned factorization and of its solves, for one
// group of W partitions in W vector lanes: lane k works partition k of the
// group, every lane with the same operations in the same order, so each
// partition's bits do not depend on which lanes or group it shares.
//
// A partition's interior D (rows 1..R, padding included) is factored row by
// row, D = L*L^T, and with it the left spike V = L^-1 * C, where C couples
// the interior's first M rows to the left separator. Row r of the factor is
// kept as one record of M+1 lane vectors, and its spike row apart, so that
// the rows past the spike's end (see spikecutoff) are neither written nor
// read:
//
//   record  [0, M)  L(r, r-M+u), u = 0..M-1 (zero where r-M+u < 1)
//           M       1 / L(r, r)
//   spike   [0, M)  V(r, c), c = 0..M-1
//
// The M rows of the right separator continue the band factorization past
// the interior: Z(s, q) = L(separator row s, interior row R-M+q). What the
// interior adds to the reduced system is gathered in three M x M blocks:
//   E = A(S,S) - Z*Z^T     on the right separator's diagonal block,
//   F = -V^T*V             on the left separator's diagonal block,
//   G = -Z*V(last M rows)  coupling the right separator to the left one.
#pragma once

#include <algorithm>
#include <cstdint>

#include "solver/band.hpp"
#include "solver/loops.hpp"
#include "solver/partitions.hpp"

namespace partitioned {

// x with `value` in every lane.
template <class T, int W>
inline lanes<T, W> broadcast(const T& value) {
  lanes<T, W> x;
  for (int k = 0; k < W; ++k) setlane(x, k, value);
  return x;
}

// One group's share of the factorization: its records and its M x M blocks
// Z, E, F, G (element (s, q) of each at [s*M + q], 0-based).
template <class T, int W>
struct group {
  lanes<T, W>* records;  // rows records of M+1 vectors
  lanes<T, W>* spikes;   // rows spike rows of M vectors (those up to *spikeend written)
  lanes<T, W>* z;
  lanes<T, W>* e;
  lanes<T, W>* f;
  lanes<T, W>* g;
  lanes<T, W>* stage;  // 2M+2 vectors of scratch: one row's entries
  std::int64_t m, rows;
  std::int64_t* spikeend;  // the last row whose spike row is not zero in every lane
  std::int64_t firstpart;  // partition of lane 0, 1-based

  lanes<T, W>* record(std::int64_t r) const { return records + (r - 1) * (m + 1); }
  lanes<T, W>* spike(std::int64_t r) const { return spikes + (r - 1) * m; }
};

// Which partition each lane holds, where its row 1 stands in the window's
// rows, and which lanes hold a partition at all. A lane past the last held
// partition repeats lane 0's partition: it reads and factors the same rows,
// so that its pivots are those of a matrix that is there, and nothing it
// computes is kept.
template <int W>
struct lanemap {
  std::int64_t part[W];
  std::int64_t origin[W];  // window row of row r is origin + r (rows > padding)
  bool used[W];

  lanemap(const layout& s, std::int64_t firstpart) {
    for (int k = 0; k < W; ++k) {
      used[k] = firstpart + k <= s.lastheld;
      part[k] = used[k] ? firstpart + k : firstpart;
      origin[k] = s.first(part[k]) - 1 - s.padding(part[k]);
    }
  }
};

// Row r's entries in the lanes: x[t] = A(row r, row r-M+t) for t = 0..M
// (x[M] the diagonal) inside the interior, c[c'] = A(row r, separator
// column c') for the left separator's columns; a padding row is the
// identity. Past row M+1 no row has a padding column or a coupling to the
// left separator, and each lane's entries are one walk through the band.
template <class T, int W>
void readrow(const piecedband<const T>& a, const layout& s, const lanemap<W>& map,
             std::int64_t r, lanes<T, W>* x, lanes<T, W>* c) {
  const std::int64_t m = s.m;
  for (std::int64_t t = 0; t < m; ++t) clearlanes(c[t]);
  if (r > m + 1) {
    const T* from[W];
    bool walks = true;  // every lane's row lies in one piece of the band
    for (int k = 0; k < W; ++k) {
      const std::int64_t i = map.origin[k] + r;
      from[k] = &a(i, i - m);
      walks = walks && a.together(i - m, i);
    }
    T row[W];
    if (walks) {
      for (std::int64_t t = 0; t <= m; ++t) {
        for (int k = 0; k < W; ++k) row[k] = from[k][t * m];
        loadlanes(x[t], row, W);
      }
      return;
    }
    for (std::int64_t t = 0; t <= m; ++t) {
      for (int k = 0; k < W; ++k) row[k] = a(map.origin[k] + r, map.origin[k] + r - m + t);
      loadlanes(x[t], row, W);
    }
    return;
  }
  for (std::int64_t t = 0; t <= m; ++t) clearlanes(x[t]);
  for (int k = 0; k < W; ++k) {
    const std::int64_t p = map.part[k];
    if (r <= s.padding(p)) {
      setlane(x[m], k, T(1));
      continue;
    }
    const std::int64_t i = map.origin[k] + r, start = s.first(p);
    for (std::int64_t t = 0; t <= m; ++t) {
      const std::int64_t column = i - m + t;
      if (column >= start) {
        setlane(x[t], k, a(i, column));
      } else if (p > 1) {
        setlane(c[column - (start - m)], k, a(i, column));
      }
    }
  }
}

// Spikes decay along the interior, for a diagonally dominant matrix
// geometrically, and would spend thousands of rows in the subnormal range,
// where every operation costs the processor a microcode assist. A spike
// entry below 2^-120 (double) or 2^-60 (single precision) times the largest
// one of its partition so far is set to zero: what it would add to the
// reduced system or to a solution lies some 60 bits below the rounding of
// the entries it would change. The test runs lane by lane, so a
// partition's spike depends on nothing its lanes' neighbours hold.
template <class T>
inline constexpr real_t<T> spikecutoff = std::is_same_v<real_t<T>, float> ? 0x1p-60f : 0x1p-120;

template <class T, int W>
using reallanes = typename realvector<real_t<T>, W>::type;

// |x| for the real kinds, max(|re|, |im|) for the complex ones, by lane.
template <class T, int W>
inline reallanes<T, W> size(const lanes<T, W>& x) {
  if constexpr (is_complex_v<T>) {
    const reallanes<T, W> re = x.re < 0 ? -x.re : x.re, im = x.im < 0 ? -x.im : x.im;
    return re > im ? re : im;
  } else {
    return x.v < 0 ? -x.v : x.v;
  }
}

// Sets the lanes of x at or below `limit` in size to +0 (a NaN stays).
template <class T, int W>
inline void flush(lanes<T, W>& x, const reallanes<T, W>& limit) {
  const auto keep = size(x) > limit || size(x) != size(x);
  if constexpr (is_complex_v<T>) {
    x.re = keep ? x.re : 0;
    x.im = keep ? x.im : 0;
  } else {
    x.v = keep ? x.v : 0;
  }
}

// The real lanes of x (its real parts, for the complex kinds).
template <class T, int W>
inline reallanes<T, W>& reals(lanes<T, W>& x) {
  if constexpr (is_complex_v<T>) {
    return x.re;
  } else {
    return x.v;
  }
}

template <class T, int W>
inline bool allzero(const lanes<T, W>& x) {
  for (int k = 0; k < W; ++k) {
    if (lane(x, k) != T(0)) return false;
  }
  return true;
}

// Factors row r: its L entries, its pivot and its spike row, from x and c
// as readrow gives them. False when a lane's pivot is rejected. The
// spike row is not computed where it is known to be zero: past the rows
// the left separator couples to, once M rows in a row had zero spike rows.
template <class T, int W>
bool factorrow(const group<T, W>& g, std::int64_t r, const lanes<T, W>* x,
               const lanes<T, W>* c, real_t<T> tolerance) {
  const std::int64_t m = g.m, first = std::max<std::int64_t>(0, m + 1 - r);
  lanes<T, W>* const out = g.record(r);
  for (std::int64_t t = 0; t < first; ++t) clearlanes(out[t]);
  for (std::int64_t t = first; t < m; ++t) {
    const lanes<T, W>* const above = g.record(r - m + t);
    lanes<T, W> sum = x[t];
    for (std::int64_t u = first; u < t; ++u) sum = mulsub(sum, out[u], above[u - t + m]);
    out[t] = mul(sum, above[m]);
  }
  lanes<T, W> pivot = x[m];
  for (std::int64_t u = first; u < m; ++u) pivot = mulsub(pivot, out[u], out[u]);
  if (pivotrejected(tolerance, pivot)) return false;
  const lanes<T, W> inverse = div(broadcast<T, W>(T(1)), principalsqrt(pivot));
  out[m] = inverse;
  if (r > m + 1 && *g.spikeend <= r - 1 - m) return true;
  lanes<T, W>* const spike = g.spike(r);
  reallanes<T, W>& largest = reals(g.stage[2 * m + 1]);  // this row's partitions' largest
  // Row by row of the spike above, each read once and whole: every entry
  // still takes its terms in the order u = first..M-1.
  for (std::int64_t col = 0; col < m; ++col) spike[col] = c[col];
  for (std::int64_t u = first; u < m; ++u) {
    const lanes<T, W>* const above = g.spike(r - m + u);
    for (std::int64_t col = 0; col < m; ++col) spike[col] = mulsub(spike[col], out[u], above[col]);
  }
  bool zero = true;
  for (std::int64_t col = 0; col < m; ++col) {
    spike[col] = mul(spike[col], inverse);
    flush(spike[col], largest * spikecutoff<T>);
    const reallanes<T, W> magnitude = size(spike[col]);
    largest = magnitude > largest ? magnitude : largest;
    zero = zero && allzero(spike[col]);
  }
  if (!zero) *g.spikeend = r;
  return true;
}

// F <- F - v*v^T over the lower triangle for the spike rows v of rows
// first..last, in that order for every entry; rows past the spike's end are
// zero and leave F as it is. Several rows at a time, so that F (M^2
// vectors, more than the caches hold from M = 64 on) passes once for all.
template <class T, int W>
void gatherleft(const group<T, W>& g, std::int64_t first, std::int64_t last) {
  const std::int64_t m = g.m;
  last = std::min(last, *g.spikeend);
  for (std::int64_t i = 0; i < m; ++i) {
    for (std::int64_t j = 0; j <= i; ++j) {
      lanes<T, W> sum = g.f[i * m + j];
      for (std::int64_t r = first; r <= last; ++r) {
        const lanes<T, W>* const v = g.spike(r);
        sum = mulsub(sum, v[i], v[j]);
      }
      g.f[i * m + j] = sum;
    }
  }
}

// The right separator's rows: Z, E and G. Lanes whose partition is the
// last (or none) have no right separator and read zeros.
template <class T, int W>
void factorseparator(const piecedband<const T>& a, const layout& s, const lanemap<W>& map,
                     const group<T, W>& g) {
  const std::int64_t m = g.m, rows = g.rows;
  for (std::int64_t q = 0; q < m * m; ++q) {
    clearlanes(g.z[q]);
    clearlanes(g.e[q]);
    clearlanes(g.g[q]);
  }
  for (std::int64_t sr = 1; sr <= m; ++sr) {
    // x[t] = A(separator row sr, interior row R-M+sr+t) for t <= M-sr (the
    // coupling), then the separator's own entries A(sr, sr-(M-t)).
    lanes<T, W>* const row = g.stage;
    for (std::int64_t t = 0; t <= m; ++t) clearlanes(row[t]);
    for (int k = 0; k < W; ++k) {
      const std::int64_t p = map.part[k];
      if (!map.used[k] || p == s.parts) continue;
      const std::int64_t i = s.separator(p) + sr - 1;
      for (std::int64_t t = 0; t <= m; ++t) setlane(row[t], k, a(i, i - m + t));
    }
    lanes<T, W>* const zrow = g.z + (sr - 1) * m;  // Z(sr, q) at zrow[q-1]
    for (std::int64_t q = sr; q <= m; ++q) {
      const lanes<T, W>* const interior = g.record(rows - m + q);
      lanes<T, W> sum = row[q - sr];
      for (std::int64_t q2 = sr; q2 < q; ++q2) sum = mulsub(sum, zrow[q2 - 1], interior[q2 - q + m]);
      zrow[q - 1] = mul(sum, interior[m]);
    }
    for (std::int64_t s2 = 1; s2 <= sr; ++s2) {
      lanes<T, W> sum = row[m - sr + s2];
      const lanes<T, W>* const other = g.z + (s2 - 1) * m;
      for (std::int64_t q = sr; q <= m; ++q) sum = mulsub(sum, zrow[q - 1], other[q - 1]);
      g.e[(sr - 1) * m + s2 - 1] = sum;
    }
    // Spike rows past the spike's end are zero: leaving them out changes no
    // bit of a sum that starts at +0.
    for (std::int64_t col = 0; col < m; ++col) {
      lanes<T, W> sum;
      clearlanes(sum);
      for (std::int64_t q = sr; q <= std::min(m, *g.spikeend - (rows - m)); ++q) {
        sum = mulsub(sum, zrow[q - 1], g.spike(rows - m + q)[col]);
      }
      g.g[(sr - 1) * m + col] = sum;
    }
  }
}

// Factors the group's W partitions. False when a pivot is rejected.
template <class T, int W>
bool factorgroup(const piecedband<const T>& a, const layout& s, const group<T, W>& g,
                 real_t<T> tolerance) {
  const lanemap<W> map(s, g.firstpart);
  const std::int64_t m = s.m;
  for (std::int64_t q = 0; q < m * m; ++q) clearlanes(g.f[q]);
  clearlanes(g.stage[2 * m + 1]);
  *g.spikeend = 0;
  lanes<T, W>* const x = g.stage;
  lanes<T, W>* const c = g.stage + m + 1;
  constexpr std::int64_t batch = 16;  // spike rows gathered into F at a time
  for (std::int64_t r = 1; r <= g.rows; ++r) {
    readrow(a, s, map, r, x, c);
    if (!factorrow(g, r, x, c, tolerance)) return false;
    if (r % batch == 0 || r == g.rows) gatherleft(g, r - (r - 1) % batch, r);
  }
  factorseparator(a, s, map, g);  // zeros for a partition without a right separator
  return true;
}

}  // namespace partitioned

namespace partitioned {

// The most right-hand sides a group's pass takes at once: each row of the
// factor, read once, serves all of them.
inline constexpr int passcolumns = 4;

// One pass's right-hand sides: `count` columns from `first`, ldb apart.
template <class T>
struct columns {
  T* first;
  std::int64_t ldb;
  int count;
  T* operator[](int h) const { return first + h * ldb; }
};

// A pass's right-hand sides as the lanes of a group see them: lane k's
// row r of column h is b[h][origin[k] + r - 1]. Rows are moved W at a
// time, each lane's run read contiguously and transposed in registers;
// row 1, where a padding row may stand, and the rows past the last whole
// block one by one.
template <class T, int W>
struct lanerows {
  columns<T> b;
  lanemap<W> map;
  std::int64_t padded[W];  // padding rows of each lane (0 or 1)

  lanerows(const columns<T>& pass, const layout& s, std::int64_t firstpart)
      : b(pass), map(s, firstpart) {
    for (int k = 0; k < W; ++k) padded[k] = s.padding(map.part[k]);
  }
  // Row r of column h alone; a padding row reads zero.
  void get(int h, lanes<T, W>& x, std::int64_t r) const {
    clearlanes(x);
    for (int k = 0; k < W; ++k) {
      if (r > padded[k]) setlane(x, k, b[h][map.origin[k] + r - 1]);
    }
  }
  void put(int h, const lanes<T, W>& x, std::int64_t r) const {
    for (int k = 0; k < W; ++k) {
      if (map.used[k] && r > padded[k]) b[h][map.origin[k] + r - 1] = lane(x, k);
    }
  }
  // Rows r..r+W-1 of column h, all of them interior rows of every used
  // lane (r >= 2).
  void getblock(int h, lanes<T, W> (&x)[W], std::int64_t r) const {
    for (int k = 0; k < W; ++k) loadlanes(x[k], b[h] + map.origin[k] + r - 1, W);
    transposelanes(x);
  }
  void putblock(int h, lanes<T, W> (&x)[W], std::int64_t r) const {
    transposelanes(x);
    for (int k = 0; k < W; ++k) {
      if (map.used[k]) storelanes(x[k], b[h] + map.origin[k] + r - 1, W);
    }
  }
};

// Calls step(r, x) for rows 1..rows in order (forward) or in reverse, x[h]
// holding row r of right-hand side h (h < count <= passcolumns) on entry
// and what step leaves in it written back, rows moving W at a time where
// they can.
template <class T, int W, class Step>
void walkrows(const lanerows<T, W>& b, std::int64_t rows, bool forward, Step step) {
  const int count = b.b.count;
  lanes<T, W> x[passcolumns];
  lanes<T, W> block[passcolumns][W];
  const std::int64_t blocks = (rows - 1) / W;  // whole blocks in rows 2..rows
  auto single = [&](std::int64_t r) {
    for (int h = 0; h < count; ++h) b.get(h, x[h], r);
    step(r, x);
    for (int h = 0; h < count; ++h) b.put(h, x[h], r);
  };
  auto whole = [&](std::int64_t r) {
    for (int h = 0; h < count; ++h) b.getblock(h, block[h], r);
    for (int k = 0; k < W; ++k) {
      const int i = forward ? k : W - 1 - k;
      for (int h = 0; h < count; ++h) x[h] = block[h][i];
      step(r + i, x);
      for (int h = 0; h < count; ++h) block[h][i] = x[h];
    }
    for (int h = 0; h < count; ++h) b.putblock(h, block[h], r);
  };
  const std::int64_t tail = 2 + blocks * W;  // first row after the blocks
  if (forward) {
    single(1);
    for (std::int64_t j = 0; j < blocks; ++j) whole(2 + j * W);
    for (std::int64_t r = tail; r <= rows; ++r) single(r);
  } else {
    for (std::int64_t r = rows; r >= tail; --r) single(r);
    for (std::int64_t j = blocks - 1; j >= 0; --j) whole(2 + j * W);
    single(1);
  }
}

// A ring of the last `size` (a power of two > M) solved rows of each of a
// pass's right-hand sides.
template <class T, int W>
struct ring {
  lanes<T, W>* x;
  std::int64_t mask;
  lanes<T, W>& at(int h, std::int64_t r) const { return x[h * (mask + 1) + (r & mask)]; }
};

// Forward substitution of a pass's right-hand sides through a group:
// y = L^-1*b in place, and the left separator's share, gl = -V^T*y, added
// to b's rows of that separator. Scratch: M vectors per right-hand side in
// the stage.
template <class T, int W>
void forwardgroup(const group<T, W>& g, const layout& s, const columns<T>& b,
                  const ring<T, W>& y) {
  const std::int64_t m = g.m;
  const lanerows<T, W> rows(b, s, g.firstpart);
  lanes<T, W>* const gl = g.stage;  // gl[h*M + c]
  for (std::int64_t c = 0; c < m * b.count; ++c) clearlanes(gl[c]);
  walkrows(rows, g.rows, true, [&](std::int64_t r, lanes<T, W>* x) {
    const lanes<T, W>* const rec = g.record(r);
    for (std::int64_t u = std::max<std::int64_t>(0, m + 1 - r); u < m; ++u) {
      for (int h = 0; h < b.count; ++h) x[h] = mulsub(x[h], rec[u], y.at(h, r - m + u));
    }
    for (int h = 0; h < b.count; ++h) {
      x[h] = mul(x[h], rec[m]);
      y.at(h, r) = x[h];
    }
    if (r > *g.spikeend) return;
    const lanes<T, W>* const spike = g.spike(r);
    for (int h = 0; h < b.count; ++h) {
      for (std::int64_t c = 0; c < m; ++c) gl[h * m + c] = mulsub(gl[h * m + c], spike[c], x[h]);
    }
  });
  const lanemap<W>& map = rows.map;
  for (int k = 0; k < W; ++k) {
    const std::int64_t p = map.part[k];
    if (!map.used[k] || p == 1) continue;
    for (int h = 0; h < b.count; ++h) {
      T* const separator = b[h] + s.separator(p - 1) - 1;
      for (std::int64_t c = 0; c < m; ++c) separator[c] = separator[c] + lane(gl[h * m + c], k);
    }
  }
}

// Backward substitution of a pass's right-hand sides through a group, with
// the separators' solutions in b: x = L^-T*(y - Z^T*xr - V*xl) in place.
// Scratch: 2M vectors per right-hand side in the stage.
template <class T, int W>
void backwardgroup(const group<T, W>& g, const layout& s, const columns<T>& b,
                   const ring<T, W>& x) {
  const std::int64_t m = g.m, last = g.rows;
  const lanerows<T, W> rows(b, s, g.firstpart);
  lanes<T, W>* const xl = g.stage;                // xl[h*M + c]
  lanes<T, W>* const xr = g.stage + m * b.count;  // xr[h*M + c]
  for (std::int64_t c = 0; c < m * b.count; ++c) {
    clearlanes(xl[c]);
    clearlanes(xr[c]);
  }
  const lanemap<W>& map = rows.map;
  for (int k = 0; k < W; ++k) {
    const std::int64_t p = map.part[k];
    if (!map.used[k]) continue;
    for (int h = 0; h < b.count; ++h) {
      for (std::int64_t c = 0; c < m; ++c) {
        if (p > 1) setlane(xl[h * m + c], k, b[h][s.separator(p - 1) - 1 + c]);
        if (p < s.parts) setlane(xr[h * m + c], k, b[h][s.separator(p) - 1 + c]);
      }
    }
  }
  walkrows(rows, last, false, [&](std::int64_t r, lanes<T, W>* v) {
    const lanes<T, W>* const rec = g.record(r);
    for (std::int64_t q = r - (last - m), sr = 1; sr <= q; ++sr) {
      const lanes<T, W>& z = g.z[(sr - 1) * m + q - 1];
      for (int h = 0; h < b.count; ++h) v[h] = mulsub(v[h], z, xr[h * m + sr - 1]);
    }
    for (std::int64_t i = r + 1; i <= std::min(last, r + m); ++i) {
      const lanes<T, W>& l = g.record(i)[r - i + m];
      for (int h = 0; h < b.count; ++h) v[h] = mulsub(v[h], l, x.at(h, i));
    }
    // V*xl summed from +0 and subtracted once: where the spike row is zero
    // the sum is +0 and leaves v as it is, so skipping it changes no bit.
    if (r <= *g.spikeend) {
      const lanes<T, W>* const row = g.spike(r);
      for (int h = 0; h < b.count; ++h) {
        lanes<T, W> sum;
        clearlanes(sum);
        for (std::int64_t c = 0; c < m; ++c) sum = sum + mul(row[c], xl[h * m + c]);
        v[h] = v[h] - sum;
      }
    }
    for (int h = 0; h < b.count; ++h) {
      v[h] = mul(v[h], rec[m]);
      x.at(h, r) = v[h];
    }
  });
}

}  // namespace partitioned
