# reference_lapack: an interface target that links reference LAPACK and BLAS,
# the oracle of the tests and the baseline of the benchmarks.
#
# On Debian, plain -llapack may resolve to an optimised implementation
# through the alternatives system, both at link time and at run time
# (liblapack.so.3 is a link the alternatives manage). Link the reference
# build's files explicitly and point the loader at their folders first, with
# an old-style RPATH, which also serves reference LAPACK's own dependence on
# libblas.so.3.
find_library(REFERENCE_LAPACK NAMES lapack
             PATHS /usr/lib/x86_64-linux-gnu/lapack NO_DEFAULT_PATH)
find_library(REFERENCE_BLAS NAMES blas
             PATHS /usr/lib/x86_64-linux-gnu/blas NO_DEFAULT_PATH)
if(NOT REFERENCE_LAPACK)
  find_library(REFERENCE_LAPACK NAMES lapack REQUIRED)
endif()
if(NOT REFERENCE_BLAS)
  find_library(REFERENCE_BLAS NAMES blas REQUIRED)
endif()
get_filename_component(REFERENCE_LAPACK_DIR ${REFERENCE_LAPACK} DIRECTORY)
get_filename_component(REFERENCE_BLAS_DIR ${REFERENCE_BLAS} DIRECTORY)

add_library(reference_lapack INTERFACE)
target_link_libraries(reference_lapack INTERFACE ${REFERENCE_LAPACK} ${REFERENCE_BLAS})
target_link_options(reference_lapack INTERFACE
  "LINKER:--disable-new-dtags"
  "LINKER:-rpath,${REFERENCE_LAPACK_DIR}"
  "LINKER:-rpath,${REFERENCE_BLAS_DIR}")
