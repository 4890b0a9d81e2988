// Test systems of cspbench, one per element kind, each with its exact
// solution: bench1's generator for float, its double twin, and the complex
// symmetric system of the benchmark library for the complex kinds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/options.hpp"

// A test system as built, kept pristine: every timed solve starts from a
// copy of it.
template <class T>
struct testsystem {
  std::int32_t n = 0;
  std::int32_t m = 0;
  std::int32_t nrhs = 0;
  std::vector<T> band;  // (M+1)*N entries: band storage plus M spare, which
                        // is also LAPACK's lower band layout (LDAB = M+1)
  std::vector<T> b;     // N*nrhs right-hand sides, leading dimension N
  std::vector<T> x;     // N*nrhs exact solutions
};

// buildtestsystem(n, m, nrhs): allocates and builds the system of kind T.
template <class T>
testsystem<T> buildtestsystem(std::int32_t n, std::int32_t m, std::int32_t nrhs);

// Bytes of one element of a kind ("4", "8", "z4", "z8").
std::size_t elementbytes(const std::string& kind);

// problembytes(options): the memory a run allocates: the pristine system,
// its working copies, the exact solutions, the solver's work area
// (mesolution) and the condition estimate's work space (real kinds).
double problembytes(const benchoptions& options);
