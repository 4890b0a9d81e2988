// The LAPACK baselines of the solver benchmarks.
#include "benchmarks/baselines.hpp"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace {

// The Debian builds of OpenBLAS, in order of preference.
constexpr const char* openblaspaths[] = {
    "/usr/lib/x86_64-linux-gnu/openblas-pthread/libopenblas.so.0",
    "/usr/lib/x86_64-linux-gnu/openblas-openmp/libopenblas.so.0",
    "/usr/lib/x86_64-linux-gnu/openblas-serial/libopenblas.so.0",
};

// The file that holds the code at address, as the loader resolved it.
std::string libraryof(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "(unknown)";
  std::error_code error;
  const std::filesystem::path file = std::filesystem::canonical(info.dli_fname, error);
  return error ? std::string(info.dli_fname) : file.string();
}

template <class T, class Routine>
int pbsvwith(Routine routine, int n, int m, T* band, T* b) {
  const int nrhs = 1, ldab = m + 1, ldb = n > 1 ? n : 1;
  int info = 0;
  routine("L", &n, &m, &nrhs, band, &ldab, b, &ldb, &info, 1);
  return info;
}

}  // namespace

lapacklibrary referencelapack() {
  lapacklibrary library;
  library.spbsv = spbsv_;
  library.dpbsv = dpbsv_;
  library.path = libraryof(reinterpret_cast<const void*>(&spbsv_));
  return library;
}

void loadopenblas(lapacklibrary& library, std::string& note) {
  library = lapacklibrary{};
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizer runtimes refuse RTLD_DEEPBIND, which the baseline needs.
  note = "not loaded in a sanitizer build";
  return;
#endif
  for (const char* path : openblaspaths) {
    // RTLD_DEEPBIND: OpenBLAS's ?pbsv reaches ?pbtrf, ?pbtrs and its BLAS
    // through its own dynamic symbols; without it they would bind to the
    // reference LAPACK and BLAS already linked into this program, and the
    // baseline would time the reference code.
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
    if (handle == nullptr) continue;
    library.spbsv = reinterpret_cast<spbsv_routine>(dlsym(handle, "spbsv_"));
    library.dpbsv = reinterpret_cast<dpbsv_routine>(dlsym(handle, "dpbsv_"));
    if (library.spbsv == nullptr || library.dpbsv == nullptr) {
      library = lapacklibrary{};
      dlclose(handle);
      continue;
    }
    library.path = libraryof(reinterpret_cast<const void*>(library.spbsv));
    note = library.path;
    using threadsroutine = int (*)();
    if (auto threads = reinterpret_cast<threadsroutine>(dlsym(handle, "openblas_get_num_threads"))) {
      note += ", " + std::to_string(threads()) + " threads";
    }
    return;  // stays loaded for the rest of the run
  }
  note = "not installed; its benchmarks are skipped";
}

int pbsv(const lapacklibrary& library, int n, int m, float* band, float* b) {
  return pbsvwith(library.spbsv, n, m, band, b);
}

int pbsv(const lapacklibrary& library, int n, int m, double* band, double* b) {
  return pbsvwith(library.dpbsv, n, m, band, b);
}
