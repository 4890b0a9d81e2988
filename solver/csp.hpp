// Band solver for symmetric positive definite band matrices of constant
// half bandwidth (the csp family), in four element kinds: _4 float, _8
// double, _z4 std::complex<float>, _z8 std::complex<double>. The complex
// kinds solve complex symmetric systems, A = L*L^T without conjugation.
//
// Band storage: the lower triangle, column by column, diagonal first;
// element (i, j), j <= i <= min(j+M, N), at 1-based position M*(j-1) + i,
// M*(N-1) + N entries in all. Right-hand sides: N x nrhs, column-major,
// leading dimension N, overwritten by the solutions.
#pragma once

#include <complex>
#include <cstdint>

// ---------------------------------------------------------------------------
// Grain sizes
// ---------------------------------------------------------------------------

namespace def_orvek {
extern std::int32_t cpus;         // task count when the grain sizes were fixed
extern std::int32_t minchunk;     // smallest grain size
extern std::int32_t maxchunk;     // largest grain size; > 0 once fixed
extern std::int32_t middlechunk;  // middle grain size
}  // namespace def_orvek

// Fix the grain sizes on first use (real kinds, complex kinds, and a third
// table with no caller). The first call of any of the three fixes them for
// the rest of the run; of first calls made on several threads at once, one
// fixes the whole set and the others find it fixed.
void requiregrainsize();
void requiregrainsizeforcomplex();
void requiregrainsizeforqp();

// blockwidth(m): the block width q of the factor-and-solve entries,
// max(maxchunk^2 / max(M, 1), M + 1), from the grain sizes already fixed.
std::int32_t blockwidth(const std::int32_t& m);

// ---------------------------------------------------------------------------
// Solver entries
// ---------------------------------------------------------------------------

// mesolution_csp_4(a, n, m, b, nrhs, work, status): factors A and solves
// A*X = B in one parallel sweep with the current task count (gettasks).
//   a      (in/out) band matrix, M*(N-1)+N entries; overwritten by scratch
//                   (not a reusable factor)
//   n      (in)     order N
//   m      (in)     half bandwidth M
//   b      (in/out) N x nrhs right-hand sides; the solutions on return
//   nrhs   (in)     number of right-hand sides (<= 0: factor only)
//   work   (out)    scratch of 2*N*M entries
//   status (out)    0: solved; 1: a pivot was rejected (A is not positive
//                   definite, or holds a NaN) and the solve was abandoned
void mesolution_csp_4(float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                      const std::int32_t& nrhs, float* work, std::int32_t& status);
void mesolution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                      const std::int32_t& nrhs, double* work, std::int32_t& status);
void mesolution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                       std::complex<float>* b, const std::int32_t& nrhs,
                       std::complex<float>* work, std::int32_t& status);
void mesolution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                       std::complex<double>* b, const std::int32_t& nrhs,
                       std::complex<double>* work, std::int32_t& status);

// decomposition_csp_4(a, n, m, status): factors A = L*L^T in place, in
// parallel stages, with the current task count.
//   a      (in/out) band matrix; overwritten by the factor L
//   n, m   (in)     order and half bandwidth
//   status (out)    0: factored; 1: a pivot was rejected
void decomposition_csp_4(float* a, const std::int32_t& n, const std::int32_t& m,
                         std::int32_t& status);
void decomposition_csp_8(double* a, const std::int32_t& n, const std::int32_t& m,
                         std::int32_t& status);
void decomposition_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                          std::int32_t& status);
void decomposition_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                          std::int32_t& status);

// substitution_csp_4(a, n, m, b, nrhs): solves L*L^T*X = B with a factor left
// by decomposition_csp_4 (or the column kernel over 1..N).
//   a    (in)     the factor L in band storage
//   n, m (in)     order and half bandwidth
//   b    (in/out) N x nrhs right-hand sides; the solutions on return
//   nrhs (in)     number of right-hand sides
void substitution_csp_4(const float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                        const std::int32_t& nrhs);
void substitution_csp_8(const double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                        const std::int32_t& nrhs);
void substitution_csp_z4(const std::complex<float>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<float>* b, const std::int32_t& nrhs);
void substitution_csp_z8(const std::complex<double>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<double>* b,
                         const std::int32_t& nrhs);

// solution_csp_4(a, n, m, b, nrhs, status): factors A in place and solves
// A*X = B; the first right-hand side is carried along the factorization,
// the others are solved by substitution with the factor it leaves.
//   a      (in/out) band matrix; overwritten by the factor L
//   n, m   (in)     order and half bandwidth
//   b      (in/out) N x nrhs right-hand sides; the solutions on return
//   nrhs   (in)     number of right-hand sides
//   status (out)    0: solved; 1: a pivot was rejected
void solution_csp_4(float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                    const std::int32_t& nrhs, std::int32_t& status);
void solution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                    const std::int32_t& nrhs, std::int32_t& status);
void solution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                     std::complex<float>* b, const std::int32_t& nrhs, std::int32_t& status);
void solution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                     std::complex<double>* b, const std::int32_t& nrhs, std::int32_t& status);

// ---------------------------------------------------------------------------
// Kernels
// ---------------------------------------------------------------------------

namespace kernel {

// decompose_csp_4(a, m, first, last, tolerance, info, flagindex): factors
// the diagonal block of columns first..last of a band matrix in place by
// the left-looking Cholesky method, using only columns first..last.
//   a         (in/out) band matrix; rows and columns first..last overwritten
//   m         (in)     half bandwidth M >= 0
//   first     (in)     first column of the block, 1-based
//   last      (in)     last column of the block, <= N; nothing when first > last
//   tolerance (in)     pivot threshold (the entries pass 0)
//   info      (out)    failure flags; info(flagindex) <- 1 on a rejected pivot,
//                      never cleared
//   flagindex (in)     1-based index of the flag to set
void decompose_csp_4(float* a, const std::int32_t& m, const std::int32_t& first,
                     const std::int32_t& last, const float& tolerance, std::int32_t* info,
                     const std::int32_t& flagindex);
void decompose_csp_8(double* a, const std::int32_t& m, const std::int32_t& first,
                     const std::int32_t& last, const double& tolerance, std::int32_t* info,
                     const std::int32_t& flagindex);
void decompose_csp_z4(std::complex<float>* a, const std::int32_t& m, const std::int32_t& first,
                      const std::int32_t& last, const float& tolerance, std::int32_t* info,
                      const std::int32_t& flagindex);
void decompose_csp_z8(std::complex<double>* a, const std::int32_t& m, const std::int32_t& first,
                      const std::int32_t& last, const double& tolerance, std::int32_t* info,
                      const std::int32_t& flagindex);

// p_mesolution_csp_4(a, n, m, b, nrhs, savedcoupling, coupling, lockid,
// eventids, q, ntasks, level, distance, stride, firstblock, nextblock,
// backblock, tolerance, info): one task's share of the block-hierarchy
// factor-and-solve sweep; every task of a solve runs it with the same
// arguments. The shared counters level..backblock run past N and are 64-bit.
//   a, n, m, b, nrhs  as mesolution_csp_4
//   savedcoupling     (work) M x N, leading dimension M
//   coupling          (work) N x M, leading dimension N
//   lockid            (in)   parallel lock guarding nextblock and backblock
//   eventids          (in)   the two alternating barrier events; eventids(1)
//                            armed for ntasks arrivals before the start
//   q                 (in)   block width, q >= M + 1
//   ntasks            (in)   number of participants
//   level, distance, stride, firstblock, nextblock, backblock
//                     (in/out) sweep state; start at 1, q, 2q, 1, 1, 0
//   tolerance         (in)   pivot threshold
//   info              (in/out) the two failure flags, zero at the start
void p_mesolution_csp_4(float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                        const std::int32_t& nrhs, float* savedcoupling, float* coupling,
                        const std::int32_t& lockid, std::int32_t* eventids,
                        const std::int32_t& q, const std::int32_t& ntasks, std::int64_t& level,
                        std::int64_t& distance, std::int64_t& stride, std::int64_t& firstblock,
                        std::int64_t& nextblock, std::int64_t& backblock,
                        const float& tolerance, std::int32_t* info);
void p_mesolution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                        const std::int32_t& nrhs, double* savedcoupling, double* coupling,
                        const std::int32_t& lockid, std::int32_t* eventids,
                        const std::int32_t& q, const std::int32_t& ntasks, std::int64_t& level,
                        std::int64_t& distance, std::int64_t& stride, std::int64_t& firstblock,
                        std::int64_t& nextblock, std::int64_t& backblock,
                        const double& tolerance, std::int32_t* info);
void p_mesolution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                         std::complex<float>* b, const std::int32_t& nrhs,
                         std::complex<float>* savedcoupling, std::complex<float>* coupling,
                         const std::int32_t& lockid, std::int32_t* eventids,
                         const std::int32_t& q, const std::int32_t& ntasks,
                         std::int64_t& level, std::int64_t& distance, std::int64_t& stride,
                         std::int64_t& firstblock, std::int64_t& nextblock,
                         std::int64_t& backblock, const float& tolerance, std::int32_t* info);
void p_mesolution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                         std::complex<double>* b, const std::int32_t& nrhs,
                         std::complex<double>* savedcoupling, std::complex<double>* coupling,
                         const std::int32_t& lockid, std::int32_t* eventids,
                         const std::int32_t& q, const std::int32_t& ntasks,
                         std::int64_t& level, std::int64_t& distance, std::int64_t& stride,
                         std::int64_t& firstblock, std::int64_t& nextblock,
                         std::int64_t& backblock, const double& tolerance, std::int32_t* info);

// p_decompose_csp_4(a, n, m, q, lockid, eventids, ntasks, kstage, knext,
// tolerance, info): one task's share of the stage-wise factorization A = L*L^T.
//   a           (in/out) band matrix; overwritten by L
//   n, m        (in)     order and half bandwidth
//   q           (in)     columns per stage, >= 1
//   lockid      (in)     parallel lock guarding knext
//   eventids    (in)     the two alternating barrier events
//   ntasks      (in)     number of participants
//   kstage      (in/out) first column of the current stage; 1 at the start
//   knext       (in/out) first row of the next piece; 1 at the start
//   tolerance   (in)     pivot threshold
//   info        (in/out) the two failure flags, zero at the start
void p_decompose_csp_4(float* a, const std::int32_t& n, const std::int32_t& m,
                       const std::int32_t& q, const std::int32_t& lockid,
                       std::int32_t* eventids, const std::int32_t& ntasks,
                       std::int64_t& kstage, std::int64_t& knext, const float& tolerance,
                       std::int32_t* info);
void p_decompose_csp_8(double* a, const std::int32_t& n, const std::int32_t& m,
                       const std::int32_t& q, const std::int32_t& lockid,
                       std::int32_t* eventids, const std::int32_t& ntasks,
                       std::int64_t& kstage, std::int64_t& knext, const double& tolerance,
                       std::int32_t* info);
void p_decompose_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                        const std::int32_t& q, const std::int32_t& lockid,
                        std::int32_t* eventids, const std::int32_t& ntasks,
                        std::int64_t& kstage, std::int64_t& knext, const float& tolerance,
                        std::int32_t* info);
void p_decompose_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                        const std::int32_t& q, const std::int32_t& lockid,
                        std::int32_t* eventids, const std::int32_t& ntasks,
                        std::int64_t& kstage, std::int64_t& knext, const double& tolerance,
                        std::int32_t* info);

// p_substitute_csp_4(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext,
// jstage, jnext): one task's share of the stage-wise solve L*L^T*x = b for
// one right-hand side with a factor already in a.
//   a        (in)     the factor L
//   n, m     (in)     order and half bandwidth
//   b        (in/out) right-hand side of N entries; the solution on return
//   q        (in)     rows per stage and piece, >= 1
//   lockid, eventids, ntasks  as p_decompose_csp_4
//   kstage, knext (in/out) forward cursors; 1 at the start
//   jstage, jnext (in/out) backward cursors; N at the start
void p_substitute_csp_4(const float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                        const std::int32_t& q, const std::int32_t& lockid,
                        std::int32_t* eventids, const std::int32_t& ntasks,
                        std::int64_t& kstage, std::int64_t& knext, std::int64_t& jstage,
                        std::int64_t& jnext);
void p_substitute_csp_8(const double* a, const std::int32_t& n, const std::int32_t& m,
                        double* b, const std::int32_t& q, const std::int32_t& lockid,
                        std::int32_t* eventids, const std::int32_t& ntasks,
                        std::int64_t& kstage, std::int64_t& knext, std::int64_t& jstage,
                        std::int64_t& jnext);
void p_substitute_csp_z4(const std::complex<float>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<float>* b, const std::int32_t& q,
                         const std::int32_t& lockid, std::int32_t* eventids,
                         const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                         std::int64_t& jstage, std::int64_t& jnext);
void p_substitute_csp_z8(const std::complex<double>* a, const std::int32_t& n,
                         const std::int32_t& m, std::complex<double>* b, const std::int32_t& q,
                         const std::int32_t& lockid, std::int32_t* eventids,
                         const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                         std::int64_t& jstage, std::int64_t& jnext);

// p_solution_csp_4(a, n, m, b, q, lockid, eventids, ntasks, kstage, knext,
// jstage, jnext, tolerance, info): one task's share of the stage-wise
// factorization with the forward substitution carried along, followed by the
// backward substitution in stages of 2q rows.
//   arguments as p_decompose_csp_4 and p_substitute_csp_4
void p_solution_csp_4(float* a, const std::int32_t& n, const std::int32_t& m, float* b,
                      const std::int32_t& q, const std::int32_t& lockid, std::int32_t* eventids,
                      const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                      std::int64_t& jstage, std::int64_t& jnext, const float& tolerance,
                      std::int32_t* info);
void p_solution_csp_8(double* a, const std::int32_t& n, const std::int32_t& m, double* b,
                      const std::int32_t& q, const std::int32_t& lockid, std::int32_t* eventids,
                      const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                      std::int64_t& jstage, std::int64_t& jnext, const double& tolerance,
                      std::int32_t* info);
void p_solution_csp_z4(std::complex<float>* a, const std::int32_t& n, const std::int32_t& m,
                       std::complex<float>* b, const std::int32_t& q,
                       const std::int32_t& lockid, std::int32_t* eventids,
                       const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                       std::int64_t& jstage, std::int64_t& jnext, const float& tolerance,
                       std::int32_t* info);
void p_solution_csp_z8(std::complex<double>* a, const std::int32_t& n, const std::int32_t& m,
                       std::complex<double>* b, const std::int32_t& q,
                       const std::int32_t& lockid, std::int32_t* eventids,
                       const std::int32_t& ntasks, std::int64_t& kstage, std::int64_t& knext,
                       std::int64_t& jstage, std::int64_t& jnext, const double& tolerance,
                       std::int32_t* info);

}  // namespace kernel
