// The distributed checks of cspbench-mpi.

#include "tools/mpi/distcheck.hpp"

#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <type_traits>

#include "solver/element.hpp"
#include "tools/mpi/distentries.hpp"

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

columnrange overlap(const columnrange& a, const columnrange& b) {
  const std::int64_t first = std::max(a.first, b.first);
  return {first, std::max<std::int64_t>(0, std::min(a.last(), b.last()) - first + 1)};
}

// Rows of nrhs columns of leading dimension ld whose first row is row
// `start`, packed to or from a contiguous buffer column by column.
template <class T>
T* pack(const T* from, std::int64_t start, std::int64_t ld, const columnrange& rows,
        std::int32_t nrhs, T* to) {
  for (std::int64_t r = 0; r < nrhs; ++r)
    to = std::copy_n(from + r * ld + (rows.first - start), rows.count, to);
  return to;
}
template <class T>
const T* unpack(const T* from, const columnrange& rows, std::int32_t nrhs, T* to,
                std::int64_t start, std::int64_t ld) {
  for (std::int64_t r = 0; r < nrhs; ++r, from += rows.count)
    std::copy_n(from, rows.count, to + r * ld + (rows.first - start));
  return from;
}

// One element of T as an MPI type, freed with the object.
template <class T>
struct elementtype {
  MPI_Datatype type;
  elementtype() {
    MPI_Type_contiguous(sizeof(T), MPI_BYTE, &type);
    MPI_Type_commit(&type);
  }
  ~elementtype() { MPI_Type_free(&type); }
};

// norm <- max(norm, value), a NaN value taken as infinite: MPI's maximum
// may drop a NaN, and a NaN must fail the check.
void keeplarger(double& norm, double value) {
  norm = std::max(norm, std::isnan(value) ? infinity : value);
}

double allmax(double value, MPI_Comm comm) {
  MPI_Allreduce(MPI_IN_PLACE, &value, 1, MPI_DOUBLE, MPI_MAX, comm);
  return value;
}
double allsum(double value, MPI_Comm comm) {
  MPI_Allreduce(MPI_IN_PLACE, &value, 1, MPI_DOUBLE, MPI_SUM, comm);
  return value;
}

// ||A||_inf over this process's rows, summed as verify.cpp's infnorm sums.
template <class T>
double rownorm(const localsystem<T>& s) {
  double norm = 0;
  for (std::int64_t i = s.own.first; i <= s.own.last(); ++i) {
    double row = 0;
    for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
         j <= std::min<std::int64_t>(s.n, i + s.m); ++j)
      row += modulus(s.entry(i, j));
    norm = std::max(norm, row);
  }
  return norm;
}

// min_i(|a_ii| - sum_{j != i} |a_ij|) over this process's rows.
template <class T>
double dominancemargin(const localsystem<T>& s) {
  double margin = infinity;
  for (std::int64_t i = s.own.first; i <= s.own.last(); ++i) {
    double offdiagonal = 0;
    for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
         j <= std::min<std::int64_t>(s.n, i + s.m); ++j)
      if (j != i) offdiagonal += modulus(s.entry(i, j));
    margin = std::min(margin, static_cast<double>(modulus(s.entry(i, i))) - offdiagonal);
  }
  return margin;
}

// The vectors of the estimator: this process's rows of an N-vector.
template <class R>
class estimatorvectors {
 public:
  estimatorvectors(const columnrange& own, std::int64_t n, MPI_Comm comm)
      : own_(own), n_(n), comm_(comm) {}

  double onenorm(const std::vector<R>& v) const {
    double sum = 0;
    for (R e : v) sum += std::abs(e);
    return allsum(sum, comm_);
  }
  // ?lacn2's sign vector: +1 where v >= 0, -1 elsewhere.
  static std::vector<R> signs(const std::vector<R>& v) {
    std::vector<R> s(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) s[i] = v[i] >= 0 ? R(1) : R(-1);
    return s;
  }
  bool same(const std::vector<R>& a, const std::vector<R>& b) const {
    int differ = a != b;
    MPI_Allreduce(MPI_IN_PLACE, &differ, 1, MPI_INT, MPI_LOR, comm_);
    return !differ;
  }
  // I?AMAX: the first global row of largest modulus, and that modulus.
  std::int64_t largest(const std::vector<R>& v, double& size) const {
    struct {
      double value;
      int row;
    } best{-1, 0};
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (std::abs(v[i]) > best.value) best = {std::abs(v[i]), static_cast<int>(own_.first + i)};
    }
    MPI_Allreduce(MPI_IN_PLACE, &best, 1, MPI_DOUBLE_INT, MPI_MAXLOC, comm_);
    size = best.value;
    return best.row;
  }
  double at(const std::vector<R>& v, std::int64_t row) const {
    const bool mine = row >= own_.first && row <= own_.last();
    return allsum(mine ? v[static_cast<std::size_t>(row - own_.first)] : 0, comm_);
  }
  std::vector<R> constant(R value) const {
    return std::vector<R>(static_cast<std::size_t>(own_.count), value);
  }
  std::vector<R> unit(std::int64_t row) const {
    std::vector<R> e = constant(0);
    if (row >= own_.first && row <= own_.last()) e[static_cast<std::size_t>(row - own_.first)] = 1;
    return e;
  }
  // ?lacn2's last vector: (-1)^(i+1) (1 + (i-1)/(N-1)).
  std::vector<R> alternating() const {
    std::vector<R> v(static_cast<std::size_t>(own_.count));
    for (std::int64_t i = own_.first; i <= own_.last(); ++i) {
      const R size = R(1) + static_cast<R>(i - 1) / static_cast<R>(n_ - 1);
      v[static_cast<std::size_t>(i - own_.first)] = i % 2 == 1 ? size : -size;
    }
    return v;
  }

 private:
  columnrange own_;
  std::int64_t n_;
  MPI_Comm comm_;
};

// ?lacn2's estimate of ||A^-1||_1 (Hager's method with Higham's final
// alternating vector, at most 5 iterations), with solve(v) overwriting v by
// A^-1 v: A is symmetric, so A^-T v is the same solve.
template <class R, class Solve>
double inversenorm(const estimatorvectors<R>& vectors, std::int64_t n, Solve&& solve) {
  constexpr int iterations = 5;
  std::vector<R> x = vectors.constant(R(1) / static_cast<R>(n));
  solve(x);
  if (n == 1) return vectors.onenorm(x);
  double estimate = vectors.onenorm(x);
  std::vector<R> signs = vectors.signs(x);
  x = signs;
  solve(x);
  double size = 0;
  std::int64_t j = vectors.largest(x, size);
  for (int iteration = 2;; ++iteration) {
    x = vectors.unit(j);
    solve(x);
    const double previous = estimate;
    estimate = vectors.onenorm(x);
    const std::vector<R> next = vectors.signs(x);
    if (vectors.same(next, signs) || estimate <= previous) break;
    signs = next;
    x = signs;
    solve(x);
    const std::int64_t last = j;
    j = vectors.largest(x, size);
    if (vectors.at(x, last) == size || iteration >= iterations) break;
  }
  x = vectors.alternating();
  solve(x);
  return std::max(estimate, 2 * vectors.onenorm(x) / (3.0 * static_cast<double>(n)));
}

// The estimate with a csp_dist factorization of the system; NaN when it
// cannot be factored.
template <class R>
double inversenorm(const localsystem<R>& s, MPI_Comm comm) {
  csp_dist_factorization* f = nullptr;
  const int status = distentries<R>::factorize(comm, 'L', s.n, s.m, s.own.first, s.own.count,
                                               celements(s.ownband()), s.m + 1, &f, 0);
  if (status != 0) return std::numeric_limits<double>::quiet_NaN();
  const auto solve = [&](std::vector<R>& v) {
    distentries<R>::solvefactorized(f, 1, v.data(), s.ld(), 0);
  };
  const double estimate = inversenorm(estimatorvectors<R>(s.own, s.n, comm), s.n, solve);
  csp_dist_free_factorization(f);
  return estimate;
}

}  // namespace

template <class T>
std::vector<T> solutionwindow(const localsystem<T>& s, const std::vector<columnrange>& columns,
                              const T* solution, MPI_Comm comm) {
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  const int processes = static_cast<int>(columns.size());
  const columnrange halo = haloof(s.own, s.n, s.m);
  std::vector<T> window(static_cast<std::size_t>(halo.count * s.nrhs));
  std::vector<int> sendcounts(processes, 0), recvcounts(processes, 0);
  std::vector<int> senddispls(processes, 0), recvdispls(processes, 0);
  std::vector<columnrange> sent(processes), received(processes);
  for (int q = 0; q < processes; ++q) {
    if (q == rank) continue;
    sent[q] = overlap(s.own, haloof(columns[q], s.n, s.m));
    received[q] = overlap(columns[q], halo);
    sendcounts[q] = static_cast<int>(sent[q].count * s.nrhs);
    recvcounts[q] = static_cast<int>(received[q].count * s.nrhs);
  }
  for (int q = 1; q < processes; ++q) {
    senddispls[q] = senddispls[q - 1] + sendcounts[q - 1];
    recvdispls[q] = recvdispls[q - 1] + recvcounts[q - 1];
  }
  std::vector<T> outgoing(static_cast<std::size_t>(senddispls.back() + sendcounts.back()));
  std::vector<T> incoming(static_cast<std::size_t>(recvdispls.back() + recvcounts.back()));
  T* to = outgoing.data();
  for (int q = 0; q < processes; ++q) to = pack(solution, s.own.first, s.ld(), sent[q], s.nrhs, to);
  const elementtype<T> element;
  MPI_Alltoallv(outgoing.data(), sendcounts.data(), senddispls.data(), element.type,
                incoming.data(), recvcounts.data(), recvdispls.data(), element.type, comm);
  const T* from = incoming.data();
  for (int q = 0; q < processes; ++q)
    from = unpack(from, received[q], s.nrhs, window.data(), halo.first, halo.count);
  unpack(solution, s.own, s.nrhs, window.data(), halo.first, halo.count);
  return window;
}

template <class T>
systemnorms distributednorms(const localsystem<T>& s, MPI_Comm comm) {
  systemnorms norms;
  norms.anorm = allmax(rownorm(s), comm);
  if constexpr (is_complex_v<T>) {
    double margin = dominancemargin(s);
    MPI_Allreduce(MPI_IN_PLACE, &margin, 1, MPI_DOUBLE, MPI_MIN, comm);
    norms.condition =
        norms.anorm * (margin > 0 ? 1 / margin : std::numeric_limits<double>::quiet_NaN());
    norms.source = "diagonal dominance bound";
  } else {
    norms.condition = norms.anorm * inversenorm(s, comm);
    norms.source = std::string("csp_dist_factorize_") + (std::is_same_v<T, float> ? "s" : "d") +
                   " + the " + (std::is_same_v<T, float> ? "slacn2" : "dlacn2") +
                   " estimator over the processes";
  }
  return norms;
}

template <class T>
checkresult distributedcheck(const localsystem<T>& s, const std::vector<columnrange>& columns,
                             const T* solution, std::int32_t status, const systemnorms& norms,
                             MPI_Comm comm) {
  const std::vector<T> window = solutionwindow(s, columns, solution, comm);
  const columnrange halo = haloof(s.own, s.n, s.m);
  std::vector<columnnorms> norm(static_cast<std::size_t>(s.nrhs));
  for (std::int64_t r = 0; r < s.nrhs; ++r) {
    columnnorms& c = norm[static_cast<std::size_t>(r)];
    const auto x = [&](std::int64_t row) { return window[r * halo.count + row - halo.first]; };
    for (std::int64_t i = s.own.first; i <= s.own.last(); ++i) {
      const std::int64_t k = r * s.ld() + (i - s.own.first);
      wide_t<T> residual = wide_t<T>(s.b[k]);
      for (std::int64_t j = std::max<std::int64_t>(1, i - s.m);
           j <= std::min<std::int64_t>(s.n, i + s.m); ++j)
        residual -= wide_t<T>(s.entry(i, j)) * wide_t<T>(x(j));
      keeplarger(c.difference, modulus(x(i) - s.x[k]));
      keeplarger(c.exact, modulus(s.x[k]));
      keeplarger(c.residual, static_cast<double>(std::abs(residual)));
      keeplarger(c.solution, modulus(x(i)));
    }
  }
  MPI_Allreduce(MPI_IN_PLACE, norm.data(), 4 * s.nrhs, MPI_DOUBLE, MPI_MAX, comm);
  return verdict(norm, status, norms, s.n, epsilonof<T>());
}

#define CSPBENCH_MPI_CHECK_KIND(T)                                                               \
  template std::vector<T> solutionwindow(const localsystem<T>&, const std::vector<columnrange>&, \
                                         const T*, MPI_Comm);                                    \
  template systemnorms distributednorms(const localsystem<T>&, MPI_Comm);                        \
  template checkresult distributedcheck(const localsystem<T>&, const std::vector<columnrange>&,  \
                                        const T*, std::int32_t, const systemnorms&, MPI_Comm);
CSPBENCH_MPI_CHECK_KIND(float)
CSPBENCH_MPI_CHECK_KIND(double)
CSPBENCH_MPI_CHECK_KIND(std::complex<float>)
CSPBENCH_MPI_CHECK_KIND(std::complex<double>)
