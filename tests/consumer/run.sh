#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it from outside:
#   run.sh BUILD SOURCE CC CXX [PYTHON]
# Each program must print what it is expected to.
set -euo pipefail
build=$1 source=$2 cc=$3 cxx=$4 python=${5:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
expected='x(1) = 1, x(1000) = 1'
consumer=$source/tests/consumer

check() {  # check NAME EXPECTED COMMAND...: runs the command, compares its output
  local name=$1 wanted=$2 output
  shift 2
  output=$("$@")
  if [ "$output" != "$wanted" ]; then
    echo "$name printed '$output', expected '$wanted'" >&2
    exit 1
  fi
  echo "$name: ok"
}

fail() {
  echo "$*" >&2
  exit 1
}

# Whether a program loads libcsp.so (yes) or holds the archive's code (no).
loadslibcsp() { readelf -d "$1" | grep -q 'NEEDED.*libcsp\.so'; }

cmake --install "$build" --prefix "$prefix/usr" > /dev/null
lib=$(dirname "$(echo "$prefix"/usr/lib*/libcsp.a)")

# Both libraries define no global name but csp_*: the shared one exports
# nothing else; the archive's other global names are the standard library's
# own weak template instances, which never clash.
others=$(nm -D --defined-only "$lib/libcsp.so" | awk '$3 !~ /^csp_/')
[ -z "$others" ] || fail "libcsp.so exports names besides csp_*: $others"
others=$(nm -g --defined-only "$lib/libcsp.a" | awk 'NF == 3 && $3 !~ /^csp_/ && !($2 ~ /[WV]/ && $3 ~ /^_ZN?K?St/)')
[ -z "$others" ] || fail "libcsp.a defines global names besides csp_*: $others"
readelf -d "$lib/libcsp.so" | grep -q 'SONAME.*libcsp\.so\.[0-9]' || fail "libcsp.so has no versioned SONAME"
echo "exported names: ok"

# pkg-config, a C program: the shared library by default, the archive with
# --static (and a static link).
export PKG_CONFIG_PATH=$lib/pkgconfig
# shellcheck disable=SC2046  # the flags are words
"$cc" -std=c99 -Wall -Werror "$source/examples/solve.c" -o "$prefix/solve_c" \
  $(pkg-config --cflags --libs csp) -Wl,-rpath,"$lib"
loadslibcsp "$prefix/solve_c" || fail "pkg-config: the C program did not link libcsp.so"
check "pkg-config C program, shared" "$expected" "$prefix/solve_c"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror -static "$source/examples/solve.c" -o "$prefix/solve_c_static" \
  $(pkg-config --static --cflags --libs csp) 2> "$prefix/static.log" ||
  { cat "$prefix/static.log" >&2; fail "pkg-config --static: the C program did not link"; }
loadslibcsp "$prefix/solve_c_static" && fail "pkg-config --static: the C program loads libcsp.so"
check "pkg-config C program, --static" "$expected" "$prefix/solve_c_static"

# Host programs: names the library uses inside, with either library; a
# variable named I in C; the C header inside extern "C" in C++.
# shellcheck disable=SC2046
"$cxx" -std=c++17 -Wall -Werror "$consumer/hostnames.cpp" -o "$prefix/hostnames" \
  $(pkg-config --cflags --libs csp) -Wl,-rpath,"$lib"
check "own gettasks, shared" "x(1) = 1, x(2) = 1" "$prefix/hostnames"
# shellcheck disable=SC2046
"$cxx" -std=c++17 -Wall -Werror "$consumer/hostnames.cpp" -o "$prefix/hostnames_static" \
  $(pkg-config --cflags csp) "$lib/libcsp.a" -pthread
check "own gettasks, archive" "x(1) = 1, x(2) = 1" "$prefix/hostnames_static"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror "$consumer/complexnames.c" -o "$prefix/complexnames" \
  $(pkg-config --cflags --libs csp) -Wl,-rpath,"$lib"
check "C variable named I" "x(1) = 1, x(2) = 1, I = 2" "$prefix/complexnames"
# shellcheck disable=SC2046
"$cxx" -std=c++17 -Wall -Werror "$consumer/externc.cpp" -o "$prefix/externc" \
  $(pkg-config --cflags --libs csp) -Wl,-rpath,"$lib"
check "extern \"C\" include" "x(1) = 2, x(2) = 0.5" "$prefix/externc"

# find_package(csp): the C++ example on <csp/csp.hpp> with csp::csp (the
# shared library), and the C example with CSP_USE_STATIC_LIBS (the archive).
build_project() {  # build_project FOLDER EXAMPLE [CMAKE ARGUMENTS...]
  local folder=$1 example=$2
  shift 2
  cmake -S "$consumer" -B "$folder" -DCMAKE_PREFIX_PATH="$prefix/usr" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DEXAMPLE="$example" "$@" > /dev/null
  cmake --build "$folder" > /dev/null
}
build_project "$prefix/cmake_cxx" "$source/examples/solve.cpp"
loadslibcsp "$prefix/cmake_cxx/solve" || fail "csp::csp did not link libcsp.so"
check "find_package(csp), C++ with <csp/csp.hpp>" "$expected" "$prefix/cmake_cxx/solve"
build_project "$prefix/cmake_c" "$source/examples/solve.c" -DCSP_USE_STATIC_LIBS=ON
loadslibcsp "$prefix/cmake_c/solve" && fail "CSP_USE_STATIC_LIBS: csp::csp linked libcsp.so"
check "find_package(csp), C with the archive" "$expected" "$prefix/cmake_c/solve"

# The distributed solver, where the build has it: libcsp_mpi exports the
# csp_dist_* routines alone; a program built with pkg-config csp-mpi, one
# linked to both archives (each library keeps its own solver inside), and
# one built with find_package and csp::mpi run on two processes.
if [ -e "$lib/libcsp_mpi.so" ]; then
  others=$(nm -D --defined-only "$lib/libcsp_mpi.so" | awk '$3 !~ /^csp_dist_/')
  [ -z "$others" ] || fail "libcsp_mpi.so exports names besides csp_dist_*: $others"
  others=$(nm -g --defined-only "$lib/libcsp_mpi.a" |
    awk 'NF == 3 && $3 !~ /^csp_dist_/ && !($2 ~ /[WV]/ && $3 ~ /^_ZN?K?St/)')
  [ -z "$others" ] || fail "libcsp_mpi.a defines global names besides csp_dist_*: $others"
  echo "exported names of libcsp_mpi: ok"
  run2() { OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 mpirun --oversubscribe -np 2 "$@"; }
  # shellcheck disable=SC2046
  "$cc" -std=c99 -Wall -Werror "$source/examples/dist.c" -o "$prefix/dist_c" \
    $(pkg-config --cflags --libs csp-mpi) -Wl,-rpath,"$lib"
  check "pkg-config csp-mpi, two processes" "$expected" run2 "$prefix/dist_c"
  # shellcheck disable=SC2046
  "$cc" -std=c99 -Wall -Werror "$consumer/both.c" -o "$prefix/both" \
    $(pkg-config --cflags csp-mpi) "$lib/libcsp_mpi.a" "$lib/libcsp.a" \
    $(pkg-config --libs ompi-c) -lstdc++ -lm -pthread
  check "both archives in one program" "x(1) = 1, 1; codes 0 0" run2 "$prefix/both"
  build_project "$prefix/cmake_mpi" "$source/examples/dist.c" -DLINK=csp::mpi
  check "find_package(csp), csp::mpi" "$expected" run2 "$prefix/cmake_mpi/solve"
fi

# The installed Python package.
if [ -n "$python" ]; then
  site=$(echo "$prefix"/usr/lib/python*/site-packages)
  check "installed cspband" "$expected" env PYTHONPATH="$site" "$python" "$source/examples/solve.py"
fi
