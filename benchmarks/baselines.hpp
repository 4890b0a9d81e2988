// The LAPACK baselines of the solver benchmarks: reference LAPACK's band
// Cholesky solve ?pbsv, linked, and OpenBLAS's, loaded at run time when one
// of its Debian builds is installed.
#pragma once

#include <cstddef>
#include <string>

// ?pbsv(uplo, n, kd, nrhs, ab, ldab, b, ldb, info), with the hidden length
// of the character argument that gfortran-built libraries take last.
using spbsv_routine = void (*)(const char* uplo, const int* n, const int* kd, const int* nrhs,
                               float* ab, const int* ldab, float* b, const int* ldb, int* info,
                               std::size_t uplolength);
using dpbsv_routine = void (*)(const char* uplo, const int* n, const int* kd, const int* nrhs,
                               double* ab, const int* ldab, double* b, const int* ldb,
                               int* info, std::size_t uplolength);

extern "C" {
void spbsv_(const char* uplo, const int* n, const int* kd, const int* nrhs, float* ab,
            const int* ldab, float* b, const int* ldb, int* info, std::size_t uplolength);
void dpbsv_(const char* uplo, const int* n, const int* kd, const int* nrhs, double* ab,
            const int* ldab, double* b, const int* ldb, int* info, std::size_t uplolength);
}

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
