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
