// The partitioned factorization of a band matrix, kept for repeated solves,
// and its solves: the library's fast path (see partitions.hpp for how the
// columns are cut and partitionrows.hpp for the arithmetic).
//
// Partitions are factored in groups of W, one partition per vector lane,
// and the tasks of a factorization or a solve take groups (and, in a solve,
// right-hand sides) from a shared cursor. Which task takes what changes
// nothing: every result is the same bits for every task count.
#pragma once

#include <cstdint>

#include "solver/band.hpp"
#include "solver/partitions.hpp"

namespace partitioned {

template <class T>
class factorization;

// Outcomes of factorize().
enum class outcome { factored, rejected, outofmemory };

// Factors the band `a` (the solver's band storage: lower triangle, M+1
// entries a column) of order n >= 1 and half bandwidth m <= n-1 on at most
// `tasks` tasks, into a new factorization f (null unless factored). The
// cut is `shape` when given, else partitionlayout's.
template <class T>
outcome factorize(const T* a, std::int64_t n, std::int64_t m, std::int32_t tasks,
                  factorization<T>*& f, const layout* shape = nullptr);

// Solves A*X = B with f on at most `tasks` tasks: B is n x nrhs with
// leading dimension ldb >= n, overwritten by X. Only reads f. Allocates
// nothing once the calling thread has solved once with a factorization
// at least as large (its scratch, of a few KiB, is kept per thread); false
// when that scratch cannot be had, with B unchanged.
template <class T>
bool solve(const factorization<T>& f, T* b, std::int64_t ldb, std::int32_t nrhs,
           std::int32_t tasks);

template <class T>
void release(factorization<T>* f);

// What a window's factorization and solves exchange with the windows that
// hold the partitions just before and just after it, when the partitions of
// one system are spread over processes. Each call moves one block of `rows`
// x `cols` elements, `ld` apart, column by column; a receive overwrites
// the block. The messages from one window to one neighbour are received in
// the order they are sent.
template <class T>
class link {
 public:
  virtual ~link() = default;
  virtual void toprevious(const T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) = 0;
  virtual void tonext(const T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) = 0;
  virtual void fromprevious(T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) = 0;
  virtual void fromnext(T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) = 0;
};

// The steps of factorize() and solve() for a window of a layout (see
// partitions.hpp), its neighbours reached through a link. Every partition
// and separator gets the same operations as in factorize() and solve() of
// the whole system, so the bits are the same however the partitions are
// spread.
//
// factorgroups factors the window's partitions from `a`, the window's rows
// in the solver's band storage (in pieces, see band.hpp), keeping what they add to the reduced
// system; factorseparators then factors the window's share of the reduced
// system, a chain from the first window to the last (false: a pivot
// rejected in this window's separators; a window that rejects one passes
// zeros on, so the windows after it finish, and the outcome is agreed on
// afterwards). Both must complete on every window, the link's sends and
// receives pairing up, whatever the outcome.
template <class T>
outcome factorgroups(const piecedband<const T>& a, const layout& window, std::int32_t tasks,
                     factorization<T>*& f);
template <class T>
bool factorseparators(factorization<T>& f, link<T>& neighbours);

// A window's solve, b its rows: the forward passes through its groups
// (forward = true) or the backward ones, and between them its separators'
// share of the reduced solve, a chain to the last window and back; `beyond`
// is M x nrhs scratch (ld M) for the separator after the window, null for
// the last window. False when the passes' scratch cannot be had, with b
// unchanged.
template <class T>
bool solvegroups(const factorization<T>& f, T* b, std::int64_t ldb, std::int32_t nrhs,
                 std::int32_t tasks, bool forward);
template <class T>
void solveseparators(const factorization<T>& f, T* b, std::int64_t ldb, std::int32_t nrhs,
                     link<T>& neighbours, T* beyond);

// The cut of f, and the bytes f holds.
template <class T>
const layout& shapeof(const factorization<T>& f);
template <class T>
std::int64_t bytesof(const factorization<T>& f);

// The most tasks a factorization or a solve of nrhs right-hand sides puts
// to work on the cut.
template <class T>
std::int32_t usefultasks(const layout& s, std::int32_t nrhs);

}  // namespace partitioned
