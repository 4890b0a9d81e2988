// Test system generator and its random number generator.

#include "bench/generate.hpp"

#include <algorithm>
#include <cstdint>

#include "bench/product.hpp"
#include "solver/band.hpp"

namespace {

// xoshiro128** state. It starts as the seeded state, so even a draw before
// the first ini_random comes from a proper (nonzero) state.
constexpr std::int32_t statewords = 4;
static_assert(statewords <= def_random::seedcount, "the seed table must cover the state");

std::uint32_t state[statewords] = {
    static_cast<std::uint32_t>(def_random::seed[0]), static_cast<std::uint32_t>(def_random::seed[1]),
    static_cast<std::uint32_t>(def_random::seed[2]), static_cast<std::uint32_t>(def_random::seed[3])};

std::uint32_t rotl(std::uint32_t v, int k) { return (v << k) | (v >> (32 - k)); }

// One step of xoshiro128**: returns the next 32-bit output.
std::uint32_t nextword() {
  const std::uint32_t result = rotl(state[1] * 5u, 7) * 9u;
  const std::uint32_t t = state[1] << 9;
  state[2] ^= state[0];
  state[3] ^= state[1];
  state[1] ^= state[2];
  state[0] ^= state[3];
  state[2] ^= t;
  state[3] = rotl(state[3], 11);
  return result;
}

// Fills the band storage with the fixed pattern of the lower factor: a
// counter running 1..M over the storage positions in order, so position k
// receives ((k-1) mod M) + 1 (1 everywhere when M = 0). Walking the columns
// in storage order keeps every access on the band accessor; the slots of
// the last M columns that lie below row N are filled too.
template <class T>
void fillpattern(T* band, std::int64_t n, std::int64_t m) {
  const band_matrix<T> a{band, m};
  std::int64_t c = 0;
  for (std::int64_t j = 1; j <= n; ++j) {
    const std::int64_t last = j < n ? j + m : n;  // column N holds its diagonal only
    for (std::int64_t i = j; i <= last; ++i) {
      c = c + 1;
      if (c > m) c = 1;
      a(i, j) = static_cast<T>(c);
    }
  }
}

// Rows from the last to the first and, within a row, columns from the
// diagonal to the band's edge: every entry read is still an entry of F, so
// the product is formed in place without a copy.
template <class T>
void makepositive_cb(T* band, std::int64_t n, std::int64_t m) {
  const band_matrix<T> a{band, m};
  for (std::int64_t c = n; c >= 1; --c) {
    const std::int64_t lo = std::max<std::int64_t>(1, c - m);
    for (std::int64_t k = c; k >= lo; --k) {
      T s = a(c, k) * a(k, k);
      for (std::int64_t l = lo; l <= k - 1; ++l) s += a(c, l) * a(k, l);
      a(c, k) = s;
    }
  }
}

// The generator in the element type T: band, diagonal scaling and b = A*x
// in T, x from the stream of 32-bit draws (exact in T).
template <class T>
void generate(T* band, T* b, T* x, std::int64_t n, std::int64_t m, std::int64_t nrhs) {
  ini_random();
  fillpattern(band, n, m);
  makepositive_cb(band, n, m);
  const band_matrix<T> a{band, m};
  for (std::int64_t i = 1; i <= n; ++i) a(i, i) = T(10) * a(i, i);
  if (nrhs < 1) return;
  const column_major<T> xs{x, n};
  for (std::int64_t r = 1; r <= nrhs; ++r) {
    for (std::int64_t i = 1; i <= n; ++i) {
      float draw = 0.0f;
      random_number(draw);
      xs(i, r) = draw;
    }
  }
  formrighthandsides(band, b, x, n, m, nrhs);
}

}  // namespace

void random_seedsize(std::int32_t& n) { n = statewords; }

void random_setseed(const std::int32_t* put) {
  for (std::int32_t w = 1; w <= statewords; ++w) state[w - 1] = static_cast<std::uint32_t>(put[w - 1]);
}

void random_number(float& r) {
  constexpr float scale = 1.0f / 16777216.0f;  // 2^-24
  r = static_cast<float>(nextword() >> 8) * scale;
}

// The state takes the first random_seedsize entries of the table, in order.
void ini_random() { random_setseed(def_random::seed); }

void makepositive_cb_4(float* band, const std::int32_t& n, const std::int32_t& m) {
  makepositive_cb<float>(band, n, m);
}

void makepositive_cb_8(double* band, const std::int32_t& n, const std::int32_t& m) {
  makepositive_cb<double>(band, n, m);
}

void generatedata(float* band, float* b, float* x, const std::int32_t& n,
                  const std::int32_t& m, const std::int32_t& nrhs) {
  generate<float>(band, b, x, n, m, nrhs);
}

void generatedata_8(double* band, double* b, double* x, const std::int32_t& n,
                    const std::int32_t& m, const std::int32_t& nrhs) {
  generate<double>(band, b, x, n, m, nrhs);
}
