// The caller's arrays as the C interface and the Python extension see them,
// and the compact copies the solver entries take.
//
// The solver's band storage is the lower triangle column by column with
// M+1 entries a column: LAPACK's lower band storage with ldab = M+1, less
// the M unused entries at the end. Every other storage (upper triangle, a
// larger ldab, M >= N, a numpy array with any strides) is copied into it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include <sys/mman.h>

namespace capi {

// The half bandwidth the solver works with: a band wider than N-1 holds no
// more than the whole matrix.
inline std::int32_t bandwidth(std::int32_t n, std::int32_t m) {
  return std::min(m, std::max(n - 1, std::int32_t{0}));
}

// Uninitialised scratch of `count` elements of T (T trivially copyable),
// freed with the object. acquire() is false when the size does not fit in
// memory or the allocation fails.
//
// Scratch of several megabytes is asked for in huge pages, where the system
// gives them on request (Linux's transparent huge pages in madvise mode):
// in 4 KiB pages the first touches of a fresh copy of a large band took
// longer than the copy itself (N = 2,000,000, M = 8, double: 110 ms against
// the 15 ms of numpy's copy, which asks for huge pages as well).
template <class T>
class scratch {
 public:
  scratch() = default;
  scratch(const scratch&) = delete;
  scratch& operator=(const scratch&) = delete;
  ~scratch() { std::free(data_); }

  bool acquire(std::int64_t count) {
    const std::int64_t most = std::numeric_limits<std::int64_t>::max() / std::int64_t{sizeof(T)};
    if (count < 0 || count > most) return false;
    std::size_t bytes = static_cast<std::size_t>(std::max<std::int64_t>(count, 1)) * sizeof(T);
    if (bytes < 2 * hugepage) {
      data_ = static_cast<T*>(std::malloc(bytes));
      return data_ != nullptr;
    }
    bytes = (bytes + hugepage - 1) / hugepage * hugepage;
    data_ = static_cast<T*>(std::aligned_alloc(hugepage, bytes));
    if (data_ == nullptr) return false;
#ifdef MADV_HUGEPAGE
    madvise(data_, bytes, MADV_HUGEPAGE);  // a hint: no huge pages is no error
#endif
    return true;
  }
  T* data() const { return data_; }

 private:
  static constexpr std::size_t hugepage = std::size_t{1} << 21;
  T* data_ = nullptr;
};

// A band matrix in the caller's storage, addressed by byte strides so that
// LAPACK's arrays and numpy's arrays of any layout are the same thing.
// Element (i, j), 1-based, of the lower triangle (j <= i <= j+m) stands at
//   lower: row i-j,   column j of the stored array;
//   upper: row m+j-i, column i (the upper triangle holds A(j, i) = A(i, j)).
// Entries are moved with memcpy, so the array need not be aligned.
template <class T>
struct stridedband {
  using byte = std::conditional_t<std::is_const_v<T>, const unsigned char, unsigned char>;
  byte* base;
  std::int64_t rowstride;     // bytes from one stored row to the next
  std::int64_t columnstride;  // bytes from one stored column to the next
  std::int32_t m;             // the caller's half bandwidth
  bool lower;

  byte* at(std::int64_t i, std::int64_t j) const {
    return lower ? base + (i - j) * rowstride + (j - 1) * columnstride
                 : base + (m + j - i) * rowstride + (i - 1) * columnstride;
  }
  // Bytes from element (i, j) to element (i+1, j).
  std::int64_t down() const { return lower ? rowstride : columnstride - rowstride; }
};

// LAPACK's band storage: column-major with leading dimension ldab.
template <class T>
stridedband<T> lapackband(T* ab, std::int32_t m, std::int32_t ldab, bool lower) {
  using byte = typename stridedband<T>::byte;
  return {reinterpret_cast<byte*>(ab), std::int64_t{sizeof(T)},
          std::int64_t{ldab} * std::int64_t{sizeof(T)}, m, lower};
}

// Offset of element (i, j), j <= i <= j+mc, 1-based, in the solver's band
// storage of half bandwidth mc.
inline std::int64_t compactoffset(std::int32_t mc, std::int64_t i, std::int64_t j) {
  return std::int64_t{mc} * (j - 1) + i - 1;
}

// Entries of the solver's band storage of order n and half bandwidth mc.
inline std::int64_t compactsize(std::int32_t n, std::int32_t mc) {
  return n > 0 ? std::int64_t{mc} * (n - 1) + n : 0;
}

// Copies the band of half bandwidth mc <= the caller's m from the caller's
// storage into the solver's (compact -> the entries, in the solver's layout).
// Copies the band of half bandwidth mc <= the caller's m from the caller's
// storage into the solver's (compact: its entries), column by column, each
// column one walk with a fixed step through the caller's array.
template <class T>
void copyin(const stridedband<const T>& from, std::int32_t n, std::int32_t mc, T* compact) {
  const std::int64_t down = from.down();
  for (std::int64_t j = 1; j <= n; ++j) {
    const unsigned char* source = from.at(j, j);
    T* target = compact + compactoffset(mc, j, j);
    for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + mc); ++i, source += down) {
      std::memcpy(target++, source, sizeof(T));
    }
  }
}

// The reverse of copyin: writes the band back into the caller's storage,
// the entries outside it untouched.
template <class T>
void copyout(const T* compact, std::int32_t n, std::int32_t mc, const stridedband<T>& to) {
  const std::int64_t down = to.down();
  for (std::int64_t j = 1; j <= n; ++j) {
    unsigned char* target = to.at(j, j);
    const T* source = compact + compactoffset(mc, j, j);
    for (std::int64_t i = j; i <= std::min<std::int64_t>(n, j + mc); ++i, target += down) {
      std::memcpy(target, source++, sizeof(T));
    }
  }
}

// Whether LAPACK storage is already the solver's: lower, ldab = m+1, m < n.
inline bool compactlayout(bool lower, std::int32_t n, std::int32_t m, std::int32_t ldab) {
  return lower && ldab == m + 1 && m == bandwidth(n, m);
}

// The right-hand sides as the solver takes them: n x nrhs with leading
// dimension n. B with a larger ldb and more than one column is copied in by
// open() and back by close(); otherwise the caller's array is used.
template <class T>
class compactrhs {
 public:
  compactrhs(T* b, std::int32_t n, std::int32_t nrhs, std::int32_t ldb)
      : b_(b), n_(n), nrhs_(nrhs), ldb_(ldb) {}

  // False when the copy cannot be allocated.
  bool open() {
    if (ldb_ == n_ || nrhs_ <= 1) {
      data_ = b_;
      return true;
    }
    if (!copy_.acquire(std::int64_t{n_} * nrhs_)) return false;
    data_ = copy_.data();
    for (std::int64_t h = 0; h < nrhs_; ++h) {
      std::copy_n(b_ + h * ldb_, n_, data_ + h * n_);
    }
    return true;
  }
  void close() {
    if (data_ == b_) return;
    for (std::int64_t h = 0; h < nrhs_; ++h) {
      std::copy_n(data_ + h * n_, n_, b_ + h * ldb_);
    }
  }
  T* data() const { return data_; }

 private:
  T* b_;
  std::int32_t n_, nrhs_, ldb_;
  scratch<T> copy_;
  T* data_ = nullptr;
};

}  // namespace capi

namespace capi {

// The band of LAPACK storage (ab, m, ldab, lower) of order n > 0 in the
// solver's storage of half bandwidth bandwidth(n, m): ab itself when its
// layout is already the solver's, else a copy made in `copy`; null when the
// copy cannot be allocated. U is T or const T.
template <class T, class U>
U* solverband(U* ab, std::int32_t n, std::int32_t m, std::int32_t ldab, bool lower,
              scratch<T>& copy) {
  if (compactlayout(lower, n, m, ldab)) return ab;
  const std::int32_t mc = bandwidth(n, m);
  if (!copy.acquire(compactsize(n, mc))) return nullptr;
  copyin(lapackband<const T>(ab, m, ldab, lower), n, mc, copy.data());
  return copy.data();
}

}  // namespace capi
