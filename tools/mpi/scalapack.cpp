// ScaLAPACK's band Cholesky solver as cspbench-mpi's baseline.

#include "tools/mpi/scalapack.hpp"

#include <complex>
#include <limits>
#include <vector>

#include "solver/element.hpp"
#include "tools/measure.hpp"
#include "tools/mpi/repeats.hpp"

// BLACS and ScaLAPACK have no C header of their own. Fortran character
// arguments carry their length as a hidden trailing argument.
extern "C" {
void Cblacs_pinfo(int* process, int* processes);
int Csys2blacs_handle(MPI_Comm comm);
void Cfree_blacs_system_handle(int handle);
void Cblacs_gridinit(int* context, const char* order, int rows, int columns);
void Cblacs_gridinfo(int context, int* rows, int* columns, int* row, int* column);
void Cblacs_gridexit(int context);

#define CSPBENCH_SCALAPACK_ROUTINES(p, T)                                                        \
  void p##pbsv_(const char* uplo, const int* n, const int* bw, const int* nrhs, T* a,            \
                const int* ja, const int* desca, T* b, const int* ib, const int* descb, T* work, \
                const int* lwork, int* info, std::size_t uplolength);                            \
  void p##pbtrf_(const char* uplo, const int* n, const int* bw, T* a, const int* ja,             \
                 const int* desca, T* af, const int* laf, T* work, const int* lwork, int* info,  \
                 std::size_t uplolength);                                                        \
  void p##pbtrs_(const char* uplo, const int* n, const int* bw, const int* nrhs, T* a,           \
                 const int* ja, const int* desca, T* b, const int* ib, const int* descb, T* af,  \
                 const int* laf, T* work, const int* lwork, int* info, std::size_t uplolength);
CSPBENCH_SCALAPACK_ROUTINES(ps, float)
CSPBENCH_SCALAPACK_ROUTINES(pd, double)
CSPBENCH_SCALAPACK_ROUTINES(pc, std::complex<float>)
CSPBENCH_SCALAPACK_ROUTINES(pz, std::complex<double>)
}

namespace {

template <class T>
struct routines;
#define CSPBENCH_SCALAPACK_TABLE(p, T)        \
  template <>                                 \
  struct routines<T> {                        \
    static constexpr const char* prefix = #p; \
    static constexpr auto pbsv = p##pbsv_;    \
    static constexpr auto pbtrf = p##pbtrf_;  \
    static constexpr auto pbtrs = p##pbtrs_;  \
  };
CSPBENCH_SCALAPACK_TABLE(ps, float)
CSPBENCH_SCALAPACK_TABLE(pd, double)
CSPBENCH_SCALAPACK_TABLE(pc, std::complex<float>)
CSPBENCH_SCALAPACK_TABLE(pz, std::complex<double>)

// The sizes of one run, in ScaLAPACK's 32-bit integers.
struct sizes {
  int n, bw, nrhs, block;
  int fillin;      // LAF of p?pbtrf and p?pbtrs: (NB + 3 bw) bw, see below
  int factorwork;  // LWORK of p?pbtrf: bw^2
  int solvework;   // LWORK of p?pbtrs: bw nrhs
  // LWORK of p?pbsv: its fill-in (NB + 2 bw) bw and the larger work array.
  int work() const { return fillin - factorwork + std::max(factorwork, solvework); }
};

// The fill-in of p?pbtrf is documented as (NB + 2 bw) bw, but the last
// process writes its bw x bw block of the reduced system at offset
// (its columns + 2 bw) bw, past that size when it holds more than NB - bw
// columns (as it does when P divides N). bw^2 more keeps that block in
// the array; p?pbsv, which places the fill-in at the start of WORK, then
// writes it into its own work space.
sizes sizesof(const mpioptions& o, std::int64_t block) {
  return {o.n,
          o.m,
          o.nrhs,
          static_cast<int>(block),
          static_cast<int>((block + 3 * std::int64_t{o.m}) * o.m),
          o.m * o.m,
          o.m * o.nrhs};
}

// ScaLAPACK's band solver on one process's share: the 1 x P descriptors of
// the band (type 501) and of the right-hand sides (type 502), the band's
// working copy and the fill-in kept between p?pbtrf and p?pbtrs. B needs a
// leading dimension of at least NB: a process with fewer rows solves in a
// staging copy.
template <class T>
class scalapackband {
 public:
  scalapackband(const localsystem<T>& s, const sizes& z, int context)
      : s_(s),
        z_(z),
        desca_{501, context, z.n, z.block, 0, z.bw + 1, 0},
        descb_{502, context, z.n, z.block, 0, z.block, 0},
        band_(std::max<std::size_t>(1, s.band.size())),
        fillin_(static_cast<std::size_t>(std::max(1, z.fillin))),
        work_(static_cast<std::size_t>(std::max(1, z.work()))),
        staging_(s.ld() < z.block ? static_cast<std::size_t>(z.block) * z.nrhs : 0) {}

  void prepare() {
    std::copy(s_.ownband(), s_.ownband() + s_.own.count * (s_.m + 1), band_.begin());
  }
  std::int32_t solve(T* b) {
    return staged(b, [&](T* rows, int& info) {
      const int lwork = z_.work();
      routines<T>::pbsv("L", &z_.n, &z_.bw, &z_.nrhs, band_.data(), &one, desca_, rows, &one,
                        descb_, work_.data(), &lwork, &info, 1);
    });
  }
  std::int32_t factor() {
    int info = 0;
    routines<T>::pbtrf("L", &z_.n, &z_.bw, band_.data(), &one, desca_, fillin_.data(), &z_.fillin,
                       work_.data(), &z_.factorwork, &info, 1);
    return info;
  }
  std::int32_t substitute(T* b) {
    return staged(b, [&](T* rows, int& info) {
      routines<T>::pbtrs("L", &z_.n, &z_.bw, &z_.nrhs, band_.data(), &one, desca_, rows, &one,
                         descb_, fillin_.data(), &z_.fillin, work_.data(), &z_.solvework, &info, 1);
    });
  }
  void release() {}

 private:
  template <class Call>
  std::int32_t staged(T* b, Call&& call) {
    int info = 0;
    if (staging_.empty()) {
      call(b, info);
      return info;
    }
    const std::int64_t rows = s_.own.count, ld = s_.ld();
    for (std::int64_t r = 0; r < z_.nrhs; ++r)
      std::copy_n(b + r * ld, rows, staging_.data() + r * z_.block);
    call(staging_.data(), info);
    for (std::int64_t r = 0; r < z_.nrhs; ++r)
      std::copy_n(staging_.data() + r * z_.block, rows, b + r * ld);
    return info;
  }

  static constexpr int one = 1;
  const localsystem<T>& s_;
  sizes z_;
  int desca_[7], descb_[7];
  std::vector<T> band_, fillin_, work_, staging_;
};

// The system ScaLAPACK solves: cspbench-mpi's for the real kinds; for the
// complex kinds the real kind's of the same precision, widened.
template <class T>
localsystem<T> widened(const localsystem<real_t<T>>& real) {
  localsystem<T> s;
  s.n = real.n;
  s.m = real.m;
  s.nrhs = real.nrhs;
  s.own = real.own;
  s.lo = real.lo;
  s.band.assign(real.band.begin(), real.band.end());
  s.b.assign(real.b.begin(), real.b.end());
  s.x.assign(real.x.begin(), real.x.end());
  return s;
}

// Why ScaLAPACK cannot solve the system on P processes, or "".
std::string refusal(const mpioptions& o, int processes, std::int64_t block) {
  if (processes > 1 && block < 2 * std::int64_t{o.m})
    return "ScaLAPACK's divide and conquer needs NB >= 2M when the matrix spans several "
           "processes, and NB = ceil(N/P) = " +
           std::to_string(block) + " < " + std::to_string(2 * std::int64_t{o.m}) +
           "; no comparison is made";
  const std::int64_t fillin = (block + 3 * std::int64_t{o.m}) * o.m;
  if (fillin + std::max<std::int64_t>(std::int64_t{o.m} * o.m, std::int64_t{o.m} * o.nrhs) >
      std::numeric_limits<int>::max())
    return "the work arrays of ScaLAPACK for this system exceed its 32-bit sizes; no "
           "comparison is made";
  return {};
}

// A 1 x P BLACS grid over comm, its process column r the process of rank r.
class blacsgrid {
 public:
  explicit blacsgrid(MPI_Comm comm) : handle_(systemhandle(comm)), context_(handle_) {
    int processes = 1, rank = 0;
    MPI_Comm_size(comm, &processes);
    MPI_Comm_rank(comm, &rank);
    Cblacs_gridinit(&context_, "R", 1, processes);
    int rows = 0, columns = 0, row = 0, column = 0;
    Cblacs_gridinfo(context_, &rows, &columns, &row, &column);
    int misplaced = rows != 1 || columns != processes || column != rank;
    MPI_Allreduce(MPI_IN_PLACE, &misplaced, 1, MPI_INT, MPI_LOR, comm);
    inorder_ = !misplaced;
  }
  ~blacsgrid() {
    Cblacs_gridexit(context_);
    Cfree_blacs_system_handle(handle_);
  }
  blacsgrid(const blacsgrid&) = delete;
  blacsgrid& operator=(const blacsgrid&) = delete;
  int context() const { return context_; }
  bool inorder() const { return inorder_; }

 private:
  // BLACS sets itself up in Cblacs_pinfo, which must come first.
  static int systemhandle(MPI_Comm comm) {
    int process = 0, processes = 0;
    Cblacs_pinfo(&process, &processes);
    return Csys2blacs_handle(comm);
  }

  int handle_;
  int context_;
  bool inorder_ = false;
};

template <class T>
scalapackrun runkind(const mpioptions& o, MPI_Comm comm) {
  int processes = 1, rank = 0;
  MPI_Comm_size(comm, &processes);
  MPI_Comm_rank(comm, &rank);
  const std::string prefix = routines<T>::prefix;
  scalapackrun run;
  run.routine = prefix + "pbsv";
  run.parts = prefix + "pbtrf + " + prefix + "pbtrs";
  const layout even = evenlayout(o.n, processes);
  run.block = even.columns.front().count;
  run.note = refusal(o, processes, run.block);
  if (!run.note.empty()) return run;
  const blacsgrid grid(comm);
  if (!grid.inorder()) {
    run.note = "the BLACS grid does not follow the rank order; no comparison is made";
    return run;
  }
  const matrixsource source = o.matrix == "random" ? matrixsource::random : matrixsource::generator;
  const columnrange own = even.columns[static_cast<std::size_t>(rank)];
  localsystem<T> s;
  if constexpr (is_complex_v<T>) {
    const localsystem<real_t<T>> real =
        buildlocalsystem<real_t<T>>(o.n, o.m, o.nrhs, source, o.seed, own);
    run.norms = distributednorms(real, comm);
    s = widened<T>(real);
    run.system = std::string("the ") +
                 (std::is_same_v<T, std::complex<float>> ? "kind 4" : "kind 8") +
                 " system in complex storage (real, so Hermitian as " + prefix +
                 "pbsv needs; the csp solver's complex symmetric system is not)";
  } else {
    s = buildlocalsystem<T>(o.n, o.m, o.nrhs, source, o.seed, own);
    run.norms = distributednorms(s, comm);
  }
  scalapackband<T> solver(s, sizesof(o, run.block), grid.context());
  benchsystem<T> bench{s, even.columns, run.norms, comm, {}};
  measurerepeats(bench, solver, o.repeat, run);
  run.made = true;
  run.gflops = flopcount(o.n, o.m, o.nrhs, is_complex_v<T>) / run.time.median * 1e-9;
  return run;
}

}  // namespace

bool scalapackbuilt() { return true; }

scalapackrun runscalapack(const mpioptions& options, MPI_Comm comm) {
  if (options.kind == "8") return runkind<double>(options, comm);
  if (options.kind == "z4") return runkind<std::complex<float>>(options, comm);
  if (options.kind == "z8") return runkind<std::complex<double>>(options, comm);
  return runkind<float>(options, comm);
}
