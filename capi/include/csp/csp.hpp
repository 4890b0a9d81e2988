// csp for C++ (C++17 and later): the C interface <csp/csp.h> as one name per
// routine family for the four element types float, double,
// std::complex<float> and std::complex<double>, with exceptions.
//
//   csp::solve(uplo, n, m, nrhs, ab, ldab, b, ldb)       as csp_solve_X
//   csp::solve(uplo, n, m, nrhs, ab, ldab, b, ldb, tasks) as csp_solve_tasks_X
//   csp::factor(uplo, n, m, ab, ldab)                    as csp_factor_X
//   csp::factor_solve(uplo, n, m, nrhs, ab, ldab, b, ldb) as csp_factor_solve_X
//   csp::solve(uplo, m, ab, b), csp::factor(uplo, m, ab),
//   csp::factor_solve(uplo, m, ab, b)                    the same on contiguous
//       containers (std::vector, std::array, std::span, ...): ab holds n
//       columns of m+1 entries (ldab = m+1), b n rows (ldb = n) and
//       size()/n columns
//   csp::set_tasks, csp::get_tasks, csp::version
//
// Errors: an invalid argument throws std::invalid_argument (what() names the
// routine and the argument, as the C code -i does); a matrix that is not
// positive definite throws csp::not_positive_definite (a std::runtime_error
// whose info() is the C code); scratch memory that cannot be had throws
// std::bad_alloc. On an exception the arrays hold what the C routine left.
// csp::nothrow:: holds the same routines returning the C code instead.
#ifndef CSP_CSP_HPP
#define CSP_CSP_HPP

#include <complex>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "csp/csp.h"

namespace csp {

// The matrix is not positive definite (complex kinds: a pivot of modulus
// zero appeared); info() is the C interface's positive code.
class not_positive_definite : public std::runtime_error {
 public:
  explicit not_positive_definite(int info)
      : std::runtime_error("csp: the matrix is not positive definite"), info_(info) {}
  int info() const noexcept { return info_; }

 private:
  int info_;
};

namespace detail {

// T where it must not take part in deducing T (b may be a null pointer).
template <class T>
struct same {
  using type = T;
};
template <class T>
using same_t = typename same<T>::type;

// The C interface's element type of T: the complex structs share
// std::complex's layout.
template <class T>
struct ctype {
  using type = T;
};
template <>
struct ctype<std::complex<float>> {
  using type = csp_complex_float;
};
template <>
struct ctype<std::complex<double>> {
  using type = csp_complex_double;
};

template <class T>
typename ctype<T>::type* c(T* p) {
  return reinterpret_cast<typename ctype<T>::type*>(p);
}
template <class T>
const typename ctype<T>::type* c(const T* p) {
  return reinterpret_cast<const typename ctype<T>::type*>(p);
}

// The entries of each element type.
template <class T>
struct entries;
template <>
struct entries<float> {
  static constexpr auto solve = &csp_solve_tasks_s;
  static constexpr auto factor = &csp_factor_s;
  static constexpr auto factor_solve = &csp_factor_solve_s;
};
template <>
struct entries<double> {
  static constexpr auto solve = &csp_solve_tasks_d;
  static constexpr auto factor = &csp_factor_d;
  static constexpr auto factor_solve = &csp_factor_solve_d;
};
template <>
struct entries<std::complex<float>> {
  static constexpr auto solve = &csp_solve_tasks_c;
  static constexpr auto factor = &csp_factor_c;
  static constexpr auto factor_solve = &csp_factor_solve_c;
};
template <>
struct entries<std::complex<double>> {
  static constexpr auto solve = &csp_solve_tasks_z;
  static constexpr auto factor = &csp_factor_z;
  static constexpr auto factor_solve = &csp_factor_solve_z;
};

// Throws for a C code other than 0; `names` lists the routine's arguments
// in order, so that code -i names argument i.
inline void check(int info, const char* routine, const char* const* names, int count) {
  if (info == 0) return;
  if (info == CSP_OUT_OF_MEMORY) throw std::bad_alloc();
  if (info > 0) throw not_positive_definite(info);
  const int i = -info;
  std::string what = std::string("csp::") + routine + ": argument " + std::to_string(i);
  if (i <= count) what += std::string(" (") + names[i - 1] + ")";
  throw std::invalid_argument(what + " is invalid");
}

constexpr const char* solvenames[] = {"uplo", "n", "m", "nrhs", "ab", "ldab", "b", "ldb",
                                      "tasks"};
constexpr const char* factornames[] = {"uplo", "n", "m", "ab", "ldab"};

// n and the right-hand side columns of containers holding (m+1) x n and
// n x nrhs elements; throws std::invalid_argument when they do not fit.
template <class Band, class Rhs>
void containershape(const char* routine, std::int32_t m, const Band& ab, const Rhs& b,
                    std::int32_t& n, std::int32_t& nrhs) {
  const auto column = static_cast<std::size_t>(m < 0 ? 0 : m) + 1;
  const std::size_t columns = ab.size() / column;
  const std::size_t most = 2147483647;
  if (m < 0 || ab.size() % column != 0 || columns > most) {
    throw std::invalid_argument(std::string("csp::") + routine +
                                ": ab must hold n columns of m+1 entries");
  }
  const std::size_t rows = columns == 0 ? 1 : columns;
  if (b.size() % rows != 0 || b.size() / rows > most) {
    throw std::invalid_argument(std::string("csp::") + routine + ": b must hold n rows");
  }
  n = static_cast<std::int32_t>(columns);
  nrhs = static_cast<std::int32_t>(columns == 0 ? 0 : b.size() / rows);
}

}  // namespace detail

namespace nothrow {

// The C routines for every element type T; they return the C code. T is
// deduced from ab (factor<T> where ab is a null pointer).
template <class T>
int solve(char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, T* ab,
          std::int32_t ldab, detail::same_t<T>* b, std::int32_t ldb, std::int32_t tasks = 0) {
  return detail::entries<T>::solve(uplo, n, m, nrhs, detail::c(ab), ldab, detail::c(b), ldb,
                                   tasks);
}

template <class T>
int factor(char uplo, std::int32_t n, std::int32_t m, T* ab, std::int32_t ldab) {
  return detail::entries<T>::factor(uplo, n, m, detail::c(ab), ldab);
}

template <class T>
int factor_solve(char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, const T* ab,
                 std::int32_t ldab, detail::same_t<T>* b, std::int32_t ldb) {
  return detail::entries<T>::factor_solve(uplo, n, m, nrhs, detail::c(ab), ldab, detail::c(b),
                                          ldb);
}

}  // namespace nothrow

// Solves A*X = B (ab holds scratch afterwards, b the solutions); tasks > 0:
// at most that many tasks for this call, 0: the process-wide count.
template <class T>
void solve(char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, T* ab,
           std::int32_t ldab, detail::same_t<T>* b, std::int32_t ldb, std::int32_t tasks = 0) {
  detail::check(nothrow::solve(uplo, n, m, nrhs, ab, ldab, b, ldb, tasks), "solve",
                detail::solvenames, 9);
}

// Factors A in place: L (uplo 'L') or U = L^T (uplo 'U') in ab.
template <class T>
void factor(char uplo, std::int32_t n, std::int32_t m, T* ab, std::int32_t ldab) {
  detail::check(nothrow::factor(uplo, n, m, ab, ldab), "factor", detail::factornames, 5);
}

// Solves A*X = B with the factor that factor() left in ab.
template <class T>
void factor_solve(char uplo, std::int32_t n, std::int32_t m, std::int32_t nrhs, const T* ab,
                  std::int32_t ldab, detail::same_t<T>* b, std::int32_t ldb) {
  detail::check(nothrow::factor_solve(uplo, n, m, nrhs, ab, ldab, b, ldb), "factor_solve",
                detail::solvenames, 8);
}

// The same on contiguous containers of one element type: ab of (m+1)*n
// elements, b of n*nrhs.
template <class Band, class Rhs>
void solve(char uplo, std::int32_t m, Band& ab, Rhs& b, std::int32_t tasks = 0) {
  std::int32_t n = 0, nrhs = 0;
  detail::containershape("solve", m, ab, b, n, nrhs);
  solve(uplo, n, m, nrhs, ab.data(), m + 1, b.data(), n > 0 ? n : 1, tasks);
}

template <class Band>
void factor(char uplo, std::int32_t m, Band& ab) {
  std::int32_t n = 0, nrhs = 0;
  detail::containershape("factor", m, ab, ab, n, nrhs);
  factor(uplo, n, m, ab.data(), m + 1);
}

template <class Band, class Rhs>
void factor_solve(char uplo, std::int32_t m, const Band& ab, Rhs& b) {
  std::int32_t n = 0, nrhs = 0;
  detail::containershape("factor_solve", m, ab, b, n, nrhs);
  factor_solve(uplo, n, m, nrhs, ab.data(), m + 1, b.data(), n > 0 ? n : 1);
}

inline void set_tasks(std::int32_t tasks) { csp_set_tasks(tasks); }
inline std::int32_t get_tasks() { return csp_get_tasks(); }
inline const char* version() { return csp_version(); }

}  // namespace csp

#endif  // CSP_CSP_HPP
