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

#include <complex>
#include <cstdint>
#include <cstring>

#include "solver/element.hpp"

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

// Lane k.
template <class T, int W>
inline T lane(const lanes<T, W>& x, std::int64_t k) {
  if constexpr (is_complex_v<T>) {
    return T(x.re[k], x.im[k]);
  } else {
    return x.v[k];
  }
}

// x <- x - y*s lane by lane: mulsub(x(k), y(k), s).
template <class T, int W>
inline void subtractproduct(lanes<T, W>& x, const lanes<T, W>& y, const T& s) {
  if constexpr (is_complex_v<T>) {
    const real_t<T> sr = s.real(), si = s.imag();
    x.re = x.re - (y.re * sr - y.im * si);
    x.im = x.im - (y.re * si + y.im * sr);
  } else {
    x.v = x.v - y.v * s;
  }
}

// x <- x + y*s lane by lane: x(k) + mul(y(k), s).
template <class T, int W>
inline void addproduct(lanes<T, W>& x, const lanes<T, W>& y, const T& s) {
  if constexpr (is_complex_v<T>) {
    const real_t<T> sr = s.real(), si = s.imag();
    x.re = x.re + (y.re * sr - y.im * si);
    x.im = x.im + (y.re * si + y.im * sr);
  } else {
    x.v = x.v + y.v * s;
  }
}

// x <- x / s lane by lane: div(x(k), s), Smith's method for the complex
// kinds with the branch taken once for the common divisor.
template <class T, int W>
inline void dividelanes(lanes<T, W>& x, const T& s) {
  if constexpr (is_complex_v<T>) {
    using R = real_t<T>;
    const auto re = x.re, im = x.im;
    if (std::abs(s.real()) >= std::abs(s.imag())) {
      const R ratio = s.imag() / s.real();
      const R denominator = s.real() + roundedproduct(s.imag(), ratio);
      x.re = (re + im * ratio) / denominator;
      x.im = (im - re * ratio) / denominator;
    } else {
      const R ratio = s.real() / s.imag();
      const R denominator = roundedproduct(s.real(), ratio) + s.imag();
      x.re = (re * ratio + im) / denominator;
      x.im = (im * ratio - re) / denominator;
    }
  } else {
    x.v = x.v / s;
  }
}
