// The LAPACK baselines of the solver benchmarks: reference LAPACK's band
// Cholesky solve ?pbsv, linked, and OpenBLAS's, loaded at run time when one
// of its Debian builds is installed.
#pragma once

#include <string>

#include "bench/lapack.hpp"

// Pointers to ?pbsv: the linked reference routines or ones loaded at run
// time. A call through them passes the hidden length of uplo itself.
using spbsv_routine = decltype(&spbsv_);
using dpbsv_routine = decltype(&dpbsv_);

// One LAPACK implementation's band solves; spbsv and dpbsv are null when
// it is not available.
struct lapacklibrary {
  std::string path;  // the file the routines come from
  spbsv_routine spbsv = nullptr;
  dpbsv_routine dpbsv = nullptr;
};

// referencelapack(): the linked reference LAPACK, with the file its spbsv_
// was resolved to by the loader.
lapacklibrary referencelapack();

// loadopenblas(library, note)
//   library (out) OpenBLAS's spbsv_ and dpbsv_ from the first of the Debian
//                 builds (pthread, openmp, serial) that loads; null routines
//                 when none does.
//   note    (out) what was loaded, or why nothing was.
void loadopenblas(lapacklibrary& library, std::string& note);

// pbsv(library, n, m, band, b): solves A*x = b with the library's ?pbsv on
// the lower band storage (leading dimension M+1) of the solver's layout.
// Returns LAPACK's info (0: solved).
int pbsv(const lapacklibrary& library, int n, int m, float* band, float* b);
int pbsv(const lapacklibrary& library, int n, int m, double* band, double* b);
