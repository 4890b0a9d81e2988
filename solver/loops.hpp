// Fast inner loops of the band solver: W elements of one element kind held
// side by side in vector registers ("lanes"), one independent element per
// lane.
//
// The kernels keep every element's sequence of operations as the algorithm
// gives it; what they may choose is which independent elements travel
// together. Lanes let them put, for example, the same row of several
// coupling columns, or several sums that run over the same rows, into one
// vector, so that each step is one instruction for all of them. This also
// matters for single precision in particular: the couplings between distant
// blocks decay into subnormal numbers, and the processor handles every
// instruction that meets one in microcode, whatever the number of lanes.
//
// Each lane operation performs, lane by lane, exactly the operation of the
// element helpers (element.hpp) with the same roundings: the complex kinds
// keep their real and imaginary parts in two vectors and spell out the
// product without conjugation and Smith's division as there. Unused lanes
// hold zeros and are never stored.
#pragma once

#include <algorithm>
#include <bit>
#include <complex>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "solver/element.hpp"

#if defined(__AVX__)
#include <immintrin.h>
#endif
#if defined(__AVX512F__) && defined(__AVX512VL__)
#define CSP_MASKED_LANES 1
#endif

// The widest set of lanes worth using for element kind T: one vector
// register of the target (64 bytes with AVX-512, 32 with AVX, 16 before),
// at least 4 and at most 16 elements; a complex set takes two registers
// (real and imaginary parts) and is kept to 8 elements, so that W sums of
// them and their operands still fit the register file.
#if defined(__AVX512F__)
inline constexpr int vectorbytes = 64;
#elif defined(__AVX__)
inline constexpr int vectorbytes = 32;
#else
inline constexpr int vectorbytes = 16;
#endif
template <class T>
inline constexpr int widestlanes =
    std::clamp<int>(vectorbytes / sizeof(real_t<T>), 4, is_complex_v<T> ? 8 : 16);

// A vector of W reals of type R (GCC/Clang vector extension).
template <class R, int W>
struct realvector {
  typedef R type __attribute__((vector_size(W * sizeof(R))));
};

// W elements of kind T, element k in lane k (0-based).
template <class T, int W>
struct lanes {
  typename realvector<T, W>::type v;
};
template <class R, int W>
struct lanes<std::complex<R>, W> {
  typename realvector<R, W>::type re, im;
};

// Lanes have the real type of their elements, so that routines written for
// elements take them as they are.
template <class T, int W>
struct element_traits<lanes<T, W>> {
  using real = real_t<T>;
  static constexpr bool is_complex = is_complex_v<T>;
};

// All lanes zero.
template <class T, int W>
inline void clearlanes(lanes<T, W>& x) {
  x = lanes<T, W>{};
}

// Lane k <- p[k*stride] for begin <= k < end (0 <= begin <= end <= W); the
// other lanes zero. Only the elements of those lanes are read.
template <class T, int W>
inline void gatherlanes(lanes<T, W>& x, const T* p, std::int64_t stride, std::int64_t begin,
                        std::int64_t end) {
  clearlanes(x);
  for (std::int64_t k = begin; k < end; ++k) {
    if constexpr (is_complex_v<T>) {
      x.re[k] = p[k * stride].real();
      x.im[k] = p[k * stride].imag();
    } else {
      x.v[k] = p[k * stride];
    }
  }
}

#ifdef CSP_MASKED_LANES
// Masked moves of one 64-, 32- or 16-byte piece of real lanes: the first
// `count` elements between memory and the piece (all of them when count
// exceeds the piece, none when count <= 0); masked-off elements are neither
// read nor written.
template <class R, int bytes>
inline void loadpiece(void* piece, const R* p, std::int64_t count) {
  constexpr int size = bytes / sizeof(R);
  const unsigned mask = count <= 0 ? 0u : count >= size ? (1u << size) - 1 : (1u << count) - 1;
  if constexpr (std::is_same_v<R, float> && bytes == 64) {
    const __m512 x = _mm512_maskz_loadu_ps(static_cast<__mmask16>(mask), p);
    std::memcpy(piece, &x, bytes);
  } else if constexpr (std::is_same_v<R, float> && bytes == 32) {
    const __m256 x = _mm256_maskz_loadu_ps(static_cast<__mmask8>(mask), p);
    std::memcpy(piece, &x, bytes);
  } else if constexpr (std::is_same_v<R, float> && bytes == 16) {
    const __m128 x = _mm_maskz_loadu_ps(static_cast<__mmask8>(mask), p);
    std::memcpy(piece, &x, bytes);
  } else if constexpr (bytes == 64) {
    const __m512d x = _mm512_maskz_loadu_pd(static_cast<__mmask8>(mask), p);
    std::memcpy(piece, &x, bytes);
  } else if constexpr (bytes == 32) {
    const __m256d x = _mm256_maskz_loadu_pd(static_cast<__mmask8>(mask), p);
    std::memcpy(piece, &x, bytes);
  } else {
    const __m128d x = _mm_maskz_loadu_pd(static_cast<__mmask8>(mask), p);
    std::memcpy(piece, &x, bytes);
  }
}

template <class R, int bytes>
inline void storepiece(const void* piece, R* p, std::int64_t count) {
  constexpr int size = bytes / sizeof(R);
  const unsigned mask = count <= 0 ? 0u : count >= size ? (1u << size) - 1 : (1u << count) - 1;
  if constexpr (std::is_same_v<R, float> && bytes == 64) {
    __m512 x;
    std::memcpy(&x, piece, bytes);
    _mm512_mask_storeu_ps(p, static_cast<__mmask16>(mask), x);
  } else if constexpr (std::is_same_v<R, float> && bytes == 32) {
    __m256 x;
    std::memcpy(&x, piece, bytes);
    _mm256_mask_storeu_ps(p, static_cast<__mmask8>(mask), x);
  } else if constexpr (std::is_same_v<R, float> && bytes == 16) {
    __m128 x;
    std::memcpy(&x, piece, bytes);
    _mm_mask_storeu_ps(p, static_cast<__mmask8>(mask), x);
  } else if constexpr (bytes == 64) {
    __m512d x;
    std::memcpy(&x, piece, bytes);
    _mm512_mask_storeu_pd(p, static_cast<__mmask8>(mask), x);
  } else if constexpr (bytes == 32) {
    __m256d x;
    std::memcpy(&x, piece, bytes);
    _mm256_mask_storeu_pd(p, static_cast<__mmask8>(mask), x);
  } else {
    __m128d x;
    std::memcpy(&x, piece, bytes);
    _mm_mask_storeu_pd(p, static_cast<__mmask8>(mask), x);
  }
}
#endif

// Lane k <- p[k] for k < count (count <= W), the other lanes zero; only
// those elements are read (with AVX-512, by masked loads of 64 bytes at a
// time).
template <class T, int W>
inline void loadlanes(lanes<T, W>& x, const T* p, std::int64_t count) {
#ifdef CSP_MASKED_LANES
  if constexpr (!is_complex_v<T> && (W * sizeof(T)) % 16 == 0) {
    constexpr int bytes = std::min<int>(64, W * sizeof(T)), size = bytes / sizeof(T);
    char* const v = reinterpret_cast<char*>(&x.v);
#pragma GCC unroll 4
    for (int i = 0; i < W; i += size) loadpiece<T, bytes>(v + i * sizeof(T), p + i, count - i);
    return;
  }
#endif
  if constexpr (!is_complex_v<T>) {
    if (count >= W) {
      std::memcpy(&x.v, p, sizeof x.v);
    } else {
      T part[W];
      for (int k = 0; k < W; ++k) part[k] = k < count ? p[k] : T(0);
      std::memcpy(&x.v, part, sizeof x.v);
    }
    return;
  }
  gatherlanes(x, p, 1, 0, count);
}

// p[k*stride] <- lane k for k < count.
template <class T, int W>
inline void scatterlanes(const lanes<T, W>& x, T* p, std::int64_t stride, std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) {
    if constexpr (is_complex_v<T>) {
      p[k * stride] = T(x.re[k], x.im[k]);
    } else {
      p[k * stride] = x.v[k];
    }
  }
}

// p[k] <- lane k for k < count; nothing else is written.
template <class T, int W>
inline void storelanes(const lanes<T, W>& x, T* p, std::int64_t count) {
#ifdef CSP_MASKED_LANES
  if constexpr (!is_complex_v<T> && (W * sizeof(T)) % 16 == 0) {
    constexpr int bytes = std::min<int>(64, W * sizeof(T)), size = bytes / sizeof(T);
    const char* const v = reinterpret_cast<const char*>(&x.v);
#pragma GCC unroll 4
    for (int i = 0; i < W; i += size) storepiece<T, bytes>(v + i * sizeof(T), p + i, count - i);
    return;
  }
#endif
  if constexpr (!is_complex_v<T>) {
    if (count >= W) {
      std::memcpy(p, &x.v, sizeof x.v);
    } else {
      T part[W];
      std::memcpy(part, &x.v, sizeof x.v);
      for (int k = 0; k < W; ++k) {
        if (k < count) p[k] = part[k];
      }
    }
    return;
  }
  scatterlanes(x, p, 1, count);
}

// Lane k.
template <class T, int W>
inline T lane(const lanes<T, W>& x, std::int64_t k) {
  if constexpr (is_complex_v<T>) {
    return T(x.re[k], x.im[k]);
  } else {
    return x.v[k];
  }
}

// Lane k <- value.
template <class T, int W>
inline void putlane(lanes<T, W>& x, std::int64_t k, const T& value) {
  if constexpr (is_complex_v<T>) {
    x.re[k] = value.real();
    x.im[k] = value.imag();
  } else {
    x.v[k] = value;
  }
}

// ---------------------------------------------------------------------------
// Arithmetic, and tiny numbers in single precision
// ---------------------------------------------------------------------------
//
// A single precision operation with a subnormal operand or result costs the
// processor a microcode assist, a hundred times a normal operation, whatever
// the number of lanes. The couplings between distant blocks decay through
// that range. The same operation done in double precision on the same
// operands and rounded to float gives the same bits (double carries more
// than twice float's precision plus two bits, so rounding twice is exact, and
// float's subnormals are normal doubles), and the conversions take no
// assists. The lane operations below therefore take a flag `tiny`: when it
// is set, each float operation goes through double; the double kinds ignore
// it. The kernels set it for lanes that tinylanes() finds near the subnormal
// range; either way the result is the same.

// Lanes that hold a nonzero number below 2^-60 in single precision, whose
// products may fall into or below the subnormal range. Always false for
// the double kinds.
template <int W>
inline bool tinyfloats(const typename realvector<float, W>::type& v) {
  constexpr float threshold = 0x1p-60f;
#ifdef CSP_MASKED_LANES
  // 0 < |v| < threshold, as one unsigned compare of the bits less one, into
  // a mask register.
  constexpr std::uint32_t limit = std::bit_cast<std::uint32_t>(threshold) - 1;
  if constexpr (W == 16) {
    __m512i bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits = _mm512_sub_epi32(_mm512_and_si512(bits, _mm512_set1_epi32(0x7fffffff)),
                            _mm512_set1_epi32(1));
    return _mm512_cmplt_epu32_mask(bits, _mm512_set1_epi32(limit)) != 0;
  } else if constexpr (W == 8) {
    __m256i bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits = _mm256_sub_epi32(_mm256_and_si256(bits, _mm256_set1_epi32(0x7fffffff)),
                            _mm256_set1_epi32(1));
    return _mm256_cmplt_epu32_mask(bits, _mm256_set1_epi32(limit)) != 0;
  } else if constexpr (W == 4) {
    __m128i bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits = _mm_sub_epi32(_mm_and_si128(bits, _mm_set1_epi32(0x7fffffff)), _mm_set1_epi32(1));
    return _mm_cmplt_epu32_mask(bits, _mm_set1_epi32(limit)) != 0;
  }
#endif
  const auto size = v < 0 ? -v : v;
  const auto below = (size < threshold) & (size > 0.0f);
  for (int k = 0; k < W; ++k) {
    if (below[k] != 0) return true;
  }
  return false;
}

template <class T, int W>
inline bool tinylanes(const lanes<T, W>& x) {
  if constexpr (std::is_same_v<real_t<T>, float>) {
    if constexpr (is_complex_v<T>) {
      return tinyfloats<W>(x.re) || tinyfloats<W>(x.im);
    } else {
      return tinyfloats<W>(x.v);
    }
  } else {
    return false;
  }
}

// Whether every lane (both parts, for the complex kinds) is below 2^-75 in
// magnitude (2^-538 in double precision): then the product of any two of
// them is below half the least subnormal number and rounds to zero.
template <class R, int W>
inline bool negligiblereals(const typename realvector<R, W>::type& v) {
  constexpr R bound = std::is_same_v<R, float> ? R(0x1p-75) : R(0x1p-538);
#ifdef CSP_MASKED_LANES
  if constexpr (std::is_same_v<R, float> && W == 16) {
    __m512 x;
    std::memcpy(&x, &v, sizeof x);
    return _mm512_cmp_ps_mask(_mm512_abs_ps(x), _mm512_set1_ps(bound), _CMP_LT_OQ) == 0xffff;
  } else if constexpr (std::is_same_v<R, float> && W == 8) {
    __m256 x;
    std::memcpy(&x, &v, sizeof x);
    const __m256 size = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x);
    return _mm256_cmp_ps_mask(size, _mm256_set1_ps(bound), _CMP_LT_OQ) == 0xff;
  } else if constexpr (std::is_same_v<R, double> && W == 8) {
    __m512d x;
    std::memcpy(&x, &v, sizeof x);
    return _mm512_cmp_pd_mask(_mm512_abs_pd(x), _mm512_set1_pd(bound), _CMP_LT_OQ) == 0xff;
  }
#endif
  for (int k = 0; k < W; ++k) {
    if (!(v[k] < bound && v[k] > -bound)) return false;
  }
  return true;
}

template <class T, int W>
inline bool negligiblelanes(const lanes<T, W>& x) {
  if constexpr (is_complex_v<T>) {
    return negligiblereals<real_t<T>, W>(x.re) && negligiblereals<real_t<T>, W>(x.im);
  } else {
    return negligiblereals<T, W>(x.v);
  }
}

// a <- a op b for a vector of reals a and a vector or a scalar b (which
// stands in every lane), rounded once to the reals' type; through double
// when `tiny` and that type is float. (The helpers work in place: GCC warns
// about functions that return vectors wider than the target's registers.)
enum class operation { add, subtract, multiply, divide };

template <operation op, class V, class B>
inline void apply(V& a, const B& b) {
  if constexpr (op == operation::add) {
    a = a + b;
  } else if constexpr (op == operation::subtract) {
    a = a - b;
  } else if constexpr (op == operation::multiply) {
    a = a * b;
  } else {
    a = a / b;
  }
}

template <operation op, class V, class B>
inline void rounded(V& a, const B& b, bool tiny) {
  using R = std::remove_cvref_t<decltype(a[0])>;
  if constexpr (std::is_same_v<R, float>) {
    if (tiny) {
      constexpr int size = sizeof(V) / sizeof(float);
      typedef double D __attribute__((vector_size(size * sizeof(double))));
      D wide = __builtin_convertvector(a, D);
      if constexpr (std::is_same_v<B, V>) {
        apply<op>(wide, __builtin_convertvector(b, D));
      } else {
        apply<op>(wide, double{b});
      }
      a = __builtin_convertvector(wide, V);
      return;
    }
  }
  apply<op>(a, b);
}

// p <- y*s, the product of lanes y and a complex s without conjugation, by
// parts: p.re = y.re*s.re - y.im*s.im, p.im = y.re*s.im + y.im*s.re.
template <class T, int W>
inline void complexproduct(lanes<T, W>& p, const lanes<T, W>& y, const T& s, bool tiny) {
  auto re = y.re, im = y.re, other = y.im;
  rounded<operation::multiply>(re, s.real(), tiny);
  rounded<operation::multiply>(other, s.imag(), tiny);
  rounded<operation::subtract>(re, other, tiny);
  rounded<operation::multiply>(im, s.imag(), tiny);
  other = y.im;
  rounded<operation::multiply>(other, s.real(), tiny);
  rounded<operation::add>(im, other, tiny);
  p.re = re;
  p.im = im;
}

// x <- x - y*s lane by lane: mulsub(x(k), y(k), s).
template <class T, int W>
inline void subtractproduct(lanes<T, W>& x, const lanes<T, W>& y, const T& s, bool tiny = false) {
  if constexpr (is_complex_v<T>) {
    lanes<T, W> p;
    complexproduct(p, y, s, tiny);
    rounded<operation::subtract>(x.re, p.re, tiny);
    rounded<operation::subtract>(x.im, p.im, tiny);
  } else {
    auto p = y.v;
    rounded<operation::multiply>(p, s, tiny);
    rounded<operation::subtract>(x.v, p, tiny);
  }
}

// x <- x + y*s lane by lane: x(k) + mul(y(k), s).
template <class T, int W>
inline void addproduct(lanes<T, W>& x, const lanes<T, W>& y, const T& s, bool tiny = false) {
  if constexpr (is_complex_v<T>) {
    lanes<T, W> p;
    complexproduct(p, y, s, tiny);
    rounded<operation::add>(x.re, p.re, tiny);
    rounded<operation::add>(x.im, p.im, tiny);
  } else {
    auto p = y.v;
    rounded<operation::multiply>(p, s, tiny);
    rounded<operation::add>(x.v, p, tiny);
  }
}

// x <- x / s lane by lane: div(x(k), s), Smith's method for the complex
// kinds with the branch taken once for the common divisor:
//   |s.re| >= |s.im|: ratio = s.im/s.re, d = s.re + s.im*ratio,
//                     x <- ((x.re + x.im*ratio)/d, (x.im - x.re*ratio)/d);
//   otherwise:        ratio = s.re/s.im, d = s.re*ratio + s.im,
//                     x <- ((x.re*ratio + x.im)/d, (x.im*ratio - x.re)/d).
template <class T, int W>
inline void dividelanes(lanes<T, W>& x, const T& s, bool tiny = false) {
  using R = real_t<T>;
  if constexpr (is_complex_v<T>) {
    const bool realbigger = std::abs(s.real()) >= std::abs(s.imag());
    const R ratio = realbigger ? s.imag() / s.real() : s.real() / s.imag();
    const R denominator = realbigger ? s.real() + roundedproduct(s.imag(), ratio)
                                     : roundedproduct(s.real(), ratio) + s.imag();
    auto re = x.re, im = x.im;
    if (realbigger) {
      auto term = x.im;
      rounded<operation::multiply>(term, ratio, tiny);
      rounded<operation::add>(re, term, tiny);
      term = x.re;
      rounded<operation::multiply>(term, ratio, tiny);
      rounded<operation::subtract>(im, term, tiny);
    } else {
      rounded<operation::multiply>(re, ratio, tiny);
      rounded<operation::add>(re, x.im, tiny);
      rounded<operation::multiply>(im, ratio, tiny);
      rounded<operation::subtract>(im, x.re, tiny);
    }
    rounded<operation::divide>(re, denominator, tiny);
    rounded<operation::divide>(im, denominator, tiny);
    x.re = re;
    x.im = im;
  } else {
    rounded<operation::divide>(x.v, s, tiny);
  }
}

// x <- x - y*s in lanes k < count only (mulsub(x(k), y(k), s)); the other
// lanes keep their values.
template <class T, int W>
inline void subtractproductfirst(lanes<T, W>& x, const lanes<T, W>& y, const T& s,
                                 std::int64_t count) {
  lanes<T, W> updated = x;
  subtractproduct(updated, y, s);
  using R = real_t<T>;
  using I = std::conditional_t<sizeof(R) == 4, std::int32_t, std::int64_t>;
  typedef I mask __attribute__((vector_size(W * sizeof(R))));
  mask lane{};
  for (int k = 0; k < W; ++k) lane[k] = k;
  const mask first = lane < static_cast<I>(count);
  if constexpr (is_complex_v<T>) {
    x.re = first ? updated.re : x.re;
    x.im = first ? updated.im : x.im;
  } else {
    x.v = first ? updated.v : x.v;
  }
}

// out lane k <- x lane k+1, the last lane zero: a column's entries from one
// row further down.
template <class V, int... K>
inline void nextlanes(V& out, const V& v, std::integer_sequence<int, K...>) {
  out = __builtin_shufflevector(v, V{}, (K + 1)...);
}
template <class T, int W>
inline void droplane(lanes<T, W>& out, const lanes<T, W>& x) {
  if constexpr (is_complex_v<T>) {
    nextlanes(out.re, x.re, std::make_integer_sequence<int, W>());
    nextlanes(out.im, x.im, std::make_integer_sequence<int, W>());
  } else {
    nextlanes(out.v, x.v, std::make_integer_sequence<int, W>());
  }
}

// v <- `value` in every lane (exactly: no arithmetic on it).
template <class V, class R>
inline void splat(V& v, const R value) {
  for (std::size_t k = 0; k < sizeof(V) / sizeof(R); ++k) v[k] = value;
}

// out <- x*y lane by lane: mul(x(k), y(k)).
template <class T, int W>
inline void multiplylanes(lanes<T, W>& out, const lanes<T, W>& x, const lanes<T, W>& y) {
  if constexpr (is_complex_v<T>) {
    auto re = x.re, im = x.re, other = x.im;
    rounded<operation::multiply>(re, y.re, false);
    rounded<operation::multiply>(other, y.im, false);
    rounded<operation::subtract>(re, other, false);
    rounded<operation::multiply>(im, y.im, false);
    other = x.im;
    rounded<operation::multiply>(other, y.re, false);
    rounded<operation::add>(im, other, false);
    out.re = re;
    out.im = im;
  } else {
    out.v = x.v * y.v;
  }
}

// Lane k <- value (0 <= k < W).
template <class T, int W>
inline void setlane(lanes<T, W>& x, std::int64_t k, const T& value) {
  using R = real_t<T>;
  using I = std::conditional_t<sizeof(R) == 4, std::int32_t, std::int64_t>;
  typedef I mask __attribute__((vector_size(W * sizeof(R))));
  typedef R vector __attribute__((vector_size(W * sizeof(R))));
  mask lane{};
  for (int j = 0; j < W; ++j) lane[j] = j;
  const mask here = lane == static_cast<I>(k);
  vector part{};
  if constexpr (is_complex_v<T>) {
    splat(part, value.real());
    x.re = here ? part : x.re;
    splat(part, value.imag());
    x.im = here ? part : x.im;
  } else {
    splat(part, value);
    x.v = here ? part : x.v;
  }
}

// Lane k <- lane k-1 for k >= 1, lane 0 <- value: a column's entries from
// one row further up.
template <class V, int... K>
inline void previouslanes(V& x, const V& first, std::integer_sequence<int, K...>) {
  x = __builtin_shufflevector(first, x, 0, (K + sizeof(V) / sizeof(x[0]))...);
}
template <class T, int W>
inline void pushlane(lanes<T, W>& x, const T& value) {
  using R = real_t<T>;
  typedef R vector __attribute__((vector_size(W * sizeof(R))));
  vector first{};
  if constexpr (is_complex_v<T>) {
    splat(first, value.real());
    previouslanes(x.re, first, std::make_integer_sequence<int, W - 1>());
    splat(first, value.imag());
    previouslanes(x.im, first, std::make_integer_sequence<int, W - 1>());
  } else {
    splat(first, value);
    previouslanes(x.v, first, std::make_integer_sequence<int, W - 1>());
  }
}

// ---------------------------------------------------------------------------
// Transposition
// ---------------------------------------------------------------------------

// One step of the transposition of a W x W matrix held as W rows of lanes:
// it exchanges element (i, j) with (i^d, j^d) wherever bits d of i and j
// differ. Lane j of the new row i (bit d clear) is lane j-d of row i+d when
// bit d of j is set, else its own; lane j of the new row i+d is lane j+d of
// row i when bit d of j is clear, else its own. (Shuffle indices count the
// lanes of the first operand, then those of the second.)
constexpr int lowlane(int j, int w, int d) { return (j & d) != 0 ? w + (j - d) : j; }
constexpr int highlane(int j, int w, int d) { return (j & d) != 0 ? w + j : j + d; }

template <class R, int W, int D, int... J>
inline void exchangebits(typename realvector<R, W>::type (&x)[W],
                         std::integer_sequence<int, J...>) {
#pragma GCC unroll 16
  for (int i = 0; i < W; ++i) {
    if ((i & D) != 0) continue;
    const auto a = x[i], b = x[i + D];
    x[i] = __builtin_shufflevector(a, b, lowlane(J, W, D)...);
    x[i + D] = __builtin_shufflevector(a, b, highlane(J, W, D)...);
  }
}

template <class R, int W, int D = W / 2>
inline void transposevectors(typename realvector<R, W>::type (&x)[W]) {
  if constexpr (D >= 1) {
    exchangebits<R, W, D>(x, std::make_integer_sequence<int, W>());
    transposevectors<R, W, D / 2>(x);
  }
}

// x[i] lane j <-> x[j] lane i: rows of lanes become columns.
template <class T, int W>
inline void transposelanes(lanes<T, W> (&x)[W]) {
  using R = real_t<T>;
  typename realvector<R, W>::type part[W];
  if constexpr (is_complex_v<T>) {
    for (int i = 0; i < W; ++i) part[i] = x[i].re;
    transposevectors<R, W>(part);
    for (int i = 0; i < W; ++i) x[i].re = part[i];
    for (int i = 0; i < W; ++i) part[i] = x[i].im;
    transposevectors<R, W>(part);
    for (int i = 0; i < W; ++i) x[i].im = part[i];
  } else {
    for (int i = 0; i < W; ++i) part[i] = x[i].v;
    transposevectors<R, W>(part);
    for (int i = 0; i < W; ++i) x[i].v = part[i];
  }
}

// x[i] <- row i of a column-major block of `rows` rows and `columns`
// columns (element (i, c) at p[i + c*ld]), lane c for column c; rows and
// lanes past the block zero. Each column's run is read contiguously and the
// W x W block transposed in registers.
template <class T, int W>
inline void readrows(lanes<T, W> (&x)[W], const T* p, std::int64_t ld, std::int64_t columns,
                     std::int64_t rows) {
#pragma GCC unroll 16
  for (int c = 0; c < W; ++c) {
    if (c < columns) {
      loadlanes(x[c], p + c * ld, rows);
    } else {
      clearlanes(x[c]);
    }
  }
  transposelanes(x);
}

// Rows first.. of a column-major array (element (r, c) at p[r + c*ld],
// 0-based from the first row and column wanted), `columns` columns of it,
// as lanes: one set per row, lane c for column c. The rows are read W at a
// time, each column's run contiguously, and transposed.
template <class T, int W>
class rowreader {
 public:
  rowreader(const T* p, std::int64_t ld, std::int64_t columns, std::int64_t rows)
      : p_(p), ld_(ld), columns_(columns), rows_(rows) {}

  // Row r (0-based, r < rows), for r increasing.
  const lanes<T, W>& row(std::int64_t r) {
    if (r >= base_ + W || r < base_) {
      base_ = r;
      const std::int64_t count = std::min<std::int64_t>(W, rows_ - r);
      for (std::int64_t c = 0; c < W; ++c) {
        if (c < columns_) {
          loadlanes(tile_[c], p_ + c * ld_ + r, count);
        } else {
          clearlanes(tile_[c]);
        }
      }
      transposelanes(tile_);
    }
    return tile_[r - base_];
  }

 private:
  const T* p_;
  std::int64_t ld_, columns_, rows_;
  std::int64_t base_ = -W;
  lanes<T, W> tile_[W];
};

// The converse: rows put in increasing order without gaps are written back
// W at a time; flush() writes the last ones.
template <class T, int W>
class rowwriter {
 public:
  rowwriter(T* p, std::int64_t ld, std::int64_t columns) : p_(p), ld_(ld), columns_(columns) {}

  void put(std::int64_t r, const lanes<T, W>& x) {
    if (count_ == W) flush();
    if (count_ == 0) base_ = r;
    tile_[count_++] = x;
  }

  void flush() {
    if (count_ == 0) return;
    for (std::int64_t i = count_; i < W; ++i) clearlanes(tile_[i]);
    transposelanes(tile_);
    for (std::int64_t c = 0; c < columns_; ++c) storelanes(tile_[c], p_ + c * ld_ + base_, count_);
    count_ = 0;
  }

 private:
  T* p_;
  std::int64_t ld_, columns_;
  std::int64_t base_ = 0, count_ = 0;
  lanes<T, W> tile_[W];
};

// ---------------------------------------------------------------------------
// The element helpers lane by lane
// ---------------------------------------------------------------------------
//
// The same names as element.hpp's, taking lanes for elements, so that one
// routine written with them runs either on single elements or on W
// independent problems side by side, problem k in lane k. Each lane gets
// exactly the operations and roundings of the element helper.

// Lane k <- f(lane k of x) for every lane: for operations done one lane at a
// time (square roots, once per column).
template <class T, int W, class F>
inline lanes<T, W> eachlane(const lanes<T, W>& x, F f) {
  lanes<T, W> y;
  for (int k = 0; k < W; ++k) {
    const T value = f(lane(x, k));
    if constexpr (is_complex_v<T>) {
      y.re[k] = value.real();
      y.im[k] = value.imag();
    } else {
      y.v[k] = value;
    }
  }
  return y;
}

// x*y without conjugation.
template <class T, int W>
inline lanes<T, W> mul(const lanes<T, W>& x, const lanes<T, W>& y) {
  lanes<T, W> p;
  multiplylanes(p, x, y);
  return p;
}

// a - x*y.
template <class T, int W>
inline lanes<T, W> mulsub(const lanes<T, W>& a, const lanes<T, W>& x, const lanes<T, W>& y) {
  lanes<T, W> d = mul(x, y);
  if constexpr (is_complex_v<T>) {
    d.re = a.re - d.re;
    d.im = a.im - d.im;
  } else {
    d.v = a.v - d.v;
  }
  return d;
}

// a + b and a - b.
template <class T, int W>
inline lanes<T, W> operator+(const lanes<T, W>& a, const lanes<T, W>& b) {
  lanes<T, W> s = a;
  if constexpr (is_complex_v<T>) {
    s.re += b.re;
    s.im += b.im;
  } else {
    s.v += b.v;
  }
  return s;
}
template <class T, int W>
inline lanes<T, W> operator-(const lanes<T, W>& a, const lanes<T, W>& b) {
  lanes<T, W> s = a;
  if constexpr (is_complex_v<T>) {
    s.re -= b.re;
    s.im -= b.im;
  } else {
    s.v -= b.v;
  }
  return s;
}

// x/y; Smith's method for the complex kinds, each lane taking the branch of
// its own divisor (both are formed, the other is discarded).
template <class T, int W>
inline lanes<T, W> div(const lanes<T, W>& x, const lanes<T, W>& y) {
  lanes<T, W> q;
  if constexpr (is_complex_v<T>) {
    const auto sizere = y.re < 0 ? -y.re : y.re, sizeim = y.im < 0 ? -y.im : y.im;
    const auto realbigger = sizere >= sizeim;
    const auto ratio = realbigger ? y.im / y.re : y.re / y.im;
    const auto denominator = realbigger ? y.re + y.im * ratio : y.re * ratio + y.im;
    q.re = realbigger ? (x.re + x.im * ratio) / denominator : (x.re * ratio + x.im) / denominator;
    q.im = realbigger ? (x.im - x.re * ratio) / denominator : (x.im * ratio - x.re) / denominator;
  } else {
    q.v = x.v / y.v;
  }
  return q;
}

// Square roots; for the real kinds one vector instruction where the target
// has one of the lanes' size (the square root is correctly rounded either
// way, so the bits are those of std::sqrt).
template <class T, int W>
inline lanes<T, W> principalsqrt(const lanes<T, W>& x) {
#if defined(__AVX512F__)
  if constexpr (!is_complex_v<T> && W * sizeof(T) % 64 == 0) {
    lanes<T, W> y;
    for (std::size_t offset = 0; offset < W * sizeof(T); offset += 64) {
      char* const to = reinterpret_cast<char*>(&y.v) + offset;
      const char* const from = reinterpret_cast<const char*>(&x.v) + offset;
      // The maskless forms trip -Wmaybe-uninitialized in GCC's own header.
      if constexpr (std::is_same_v<T, double>) {
        __m512d piece;
        std::memcpy(&piece, from, 64);
        piece = _mm512_maskz_sqrt_pd(0xff, piece);
        std::memcpy(to, &piece, 64);
      } else {
        __m512 piece;
        std::memcpy(&piece, from, 64);
        piece = _mm512_maskz_sqrt_ps(0xffff, piece);
        std::memcpy(to, &piece, 64);
      }
    }
    return y;
  }
#elif defined(__AVX__)
  if constexpr (std::is_same_v<T, double> && W == 4) return {_mm256_sqrt_pd(x.v)};
  if constexpr (std::is_same_v<T, float> && W == 8) return {_mm256_sqrt_ps(x.v)};
#endif
  return eachlane(x, [](const T& value) { return principalsqrt(value); });
}

// Whether the pivot of any lane is rejected.
template <class T, int W>
inline bool pivotrejected(const real_t<T>& tolerance, const lanes<T, W>& d) {
  for (int k = 0; k < W; ++k) {
    if (pivotrejected(tolerance, lane(d, k))) return true;
  }
  return false;
}
