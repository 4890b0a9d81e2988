// Element arithmetic of the band solver, for the four element kinds: float,
// double, std::complex<float> and std::complex<double>.
//
// The complex kinds factor a complex symmetric matrix as A = L*L^T, with the
// transpose and no conjugation. Their arithmetic is written out here rather
// than left to std::complex, whose operators check for infinities and NaNs
// on every product (slow in the inner loops) and whose division is not
// Smith's method. For the real kinds everything reduces to plain *, / and
// std::sqrt.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <type_traits>

template <class T>
struct element_traits {
  using real = T;
  static constexpr bool is_complex = false;
};
template <class R>
struct element_traits<std::complex<R>> {
  using real = R;
  static constexpr bool is_complex = true;
};

// The real type of an element kind: float for float and complex<float>.
template <class T>
using real_t = typename element_traits<T>::real;
template <class T>
inline constexpr bool is_complex_v = element_traits<T>::is_complex;

// A real product rounded on its own. GCC 12's vectoriser recognises the
// alternating subtract and add of the partial products of a complex product
// or quotient and fuses them into fmaddsub/fmsubadd instructions even under
// -ffp-contract=off; that drops the rounding of one product, so the result
// would depend on whether a loop happened to be vectorised. An association
// barrier around the product keeps it a separate, rounded operation and
// costs nothing else.
#if defined(__has_builtin)
#if __has_builtin(__builtin_assoc_barrier)
#define CSP_ASSOC_BARRIER(x) __builtin_assoc_barrier(x)
#endif
#endif
#ifndef CSP_ASSOC_BARRIER
#define CSP_ASSOC_BARRIER(x) (x)
#endif

template <class R>
inline R roundedproduct(const R x, const R y) {
  return CSP_ASSOC_BARRIER(x * y);
}

// Product x*y, without conjugation.
template <class T>
inline T mul(const T& x, const T& y) {
  if constexpr (is_complex_v<T>) {
    return T(roundedproduct(x.real(), y.real()) - roundedproduct(x.imag(), y.imag()),
             roundedproduct(x.real(), y.imag()) + roundedproduct(x.imag(), y.real()));
  } else {
    return x * y;
  }
}

// a - x*y, without conjugation: the update step of every elimination loop.
template <class T>
inline T mulsub(const T& a, const T& x, const T& y) {
  if constexpr (is_complex_v<T>) {
    return T(a.real() - (roundedproduct(x.real(), y.real()) - roundedproduct(x.imag(), y.imag())),
             a.imag() - (roundedproduct(x.real(), y.imag()) + roundedproduct(x.imag(), y.real())));
  } else {
    return a - x * y;
  }
}

// Quotient x/y; complex division by Smith's method: divide through by the
// larger in magnitude of the divisor's real and imaginary parts, so that
// no intermediate overflows where the quotient itself does not.
template <class T>
inline T div(const T& x, const T& y) {
  if constexpr (is_complex_v<T>) {
    using R = real_t<T>;
    if (std::abs(y.real()) >= std::abs(y.imag())) {
      const R ratio = y.imag() / y.real();
      const R denominator = y.real() + roundedproduct(y.imag(), ratio);
      return T((x.real() + roundedproduct(x.imag(), ratio)) / denominator,
               (x.imag() - roundedproduct(x.real(), ratio)) / denominator);
    }
    const R ratio = y.real() / y.imag();
    const R denominator = roundedproduct(y.real(), ratio) + y.imag();
    return T((roundedproduct(x.real(), ratio) + x.imag()) / denominator,
             (roundedproduct(x.imag(), ratio) - x.real()) / denominator);
  } else {
    return x / y;
  }
}

// Square root; the principal square root for the complex kinds (a negative
// real number has the purely imaginary root i*sqrt(-x)).
template <class T>
inline T principalsqrt(const T& x) {
  return std::sqrt(x);
}

// Modulus |x|; hypot of the two parts for the complex kinds.
template <class T>
inline real_t<T> modulus(const T& x) {
  if constexpr (is_complex_v<T>) {
    return std::hypot(x.real(), x.imag());
  } else {
    return std::abs(x);
  }
}

// Pivot test of the Cholesky step: the updated diagonal d is rejected when
// tolerance >= d (real kinds) or tolerance >= |d| (complex kinds), and also
// when d (or either of its parts) is NaN, so that a matrix holding a NaN fails instead of "solving"
// to a NaN solution with a success status.
template <class T>
inline bool pivotrejected(const real_t<T>& tolerance, const T& d) {
  if constexpr (is_complex_v<T>) {
    // hypot(NaN, inf) is inf: test the parts themselves for NaN too.
    if (std::isnan(d.real()) || std::isnan(d.imag())) return true;
    // |d| >= the larger part's magnitude (hypot is faithfully rounded, and
    // that magnitude is a number below or at |d|), so a larger part above
    // the tolerance passes without the costly modulus.
    if (std::max(std::abs(d.real()), std::abs(d.imag())) > tolerance) return false;
    return !(modulus(d) > tolerance);
  } else {
    return !(d > tolerance);
  }
}
