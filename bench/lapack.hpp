// Prototypes of the LAPACK routines that the tests, cspbench and
// solverbench call: the real band Cholesky family (?pbsv, ?pbtrf, ?pbtrs)
// and the norm estimator ?lacn2.
//
// The libraries are built by gfortran: every argument is passed by address,
// and each character argument adds a hidden length, passed by value after
// all the others. Every caller here passes a one-character option, so the
// length defaults to 1; a call through a function pointer (decltype of these
// names) has no default and passes it itself.
#pragma once

#include <cstddef>

extern "C" {

// ?pbsv: factors the band matrix (uplo = 'L': lower band storage, leading
// dimension ldab >= kd+1) and solves A*X = B in place.
void spbsv_(const char* uplo, const int* n, const int* kd, const int* nrhs, float* ab,
            const int* ldab, float* b, const int* ldb, int* info, std::size_t uplolength = 1);
void dpbsv_(const char* uplo, const int* n, const int* kd, const int* nrhs, double* ab,
            const int* ldab, double* b, const int* ldb, int* info, std::size_t uplolength = 1);

// ?pbtrf: the band Cholesky factorization alone, in place.
void spbtrf_(const char* uplo, const int* n, const int* kd, float* ab, const int* ldab, int* info,
             std::size_t uplolength = 1);
void dpbtrf_(const char* uplo, const int* n, const int* kd, double* ab, const int* ldab,
             int* info, std::size_t uplolength = 1);

// ?pbtrs: solves with a factor from ?pbtrf.
void spbtrs_(const char* uplo, const int* n, const int* kd, const int* nrhs, const float* ab,
             const int* ldab, float* b, const int* ldb, int* info, std::size_t uplolength = 1);
void dpbtrs_(const char* uplo, const int* n, const int* kd, const int* nrhs, const double* ab,
             const int* ldab, double* b, const int* ldb, int* info, std::size_t uplolength = 1);

// ?lacn2: one step of the reverse-communication 1-norm estimator (isave
// holds 3 entries of its state between calls).
void slacn2_(const int* n, float* v, float* x, int* isgn, float* est, int* kase, int* isave);
void dlacn2_(const int* n, double* v, double* x, int* isgn, double* est, int* kase, int* isave);
}
