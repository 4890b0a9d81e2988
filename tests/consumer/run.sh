#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it from outside:
#   run.sh BUILD SOURCE CC CXX [PYTHON]
# Each program must print the examples' line.
set -euo pipefail
build=$1 source=$2 cc=$3 cxx=$4 python=${5:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
expected='x(1) = 1, x(1000) = 1'

check() {  # check NAME COMMAND...: runs the command, compares its output
  local name=$1 output
  shift
  output=$("$@")
  if [ "$output" != "$expected" ]; then
    echo "$name printed '$output', expected '$expected'" >&2
    exit 1
  fi
  echo "$name: ok"
}

cmake --install "$build" --prefix "$prefix/usr" > /dev/null

# pkg-config, a C program.
export PKG_CONFIG_PATH=$prefix/usr/lib/pkgconfig
# shellcheck disable=SC2046  # the flags are words
"$cc" -std=c99 -Wall -Werror "$source/examples/solve.c" -o "$prefix/solve_c" \
  $(pkg-config --cflags --libs csp)
check "pkg-config C program" "$prefix/solve_c"

# The C++ headers under csp/: the C++ example against the installed headers.
# shellcheck disable=SC2046
"$cxx" -std=c++20 -Wall -Werror -I"$prefix/usr/include/csp" "$source/examples/solve.cpp" \
  -o "$prefix/solve_cpp" $(pkg-config --libs csp)
check "C++ program on the installed headers" "$prefix/solve_cpp"

# find_package(csp) from a CMake project in C.
cmake -S "$source/tests/consumer" -B "$prefix/cmake" -DCMAKE_PREFIX_PATH="$prefix/usr" \
  -DCMAKE_C_COMPILER="$cc" -DEXAMPLE="$source/examples/solve.c" > /dev/null
cmake --build "$prefix/cmake" > /dev/null
check "find_package(csp) project" "$prefix/cmake/solve"

# The installed Python package.
if [ -n "$python" ]; then
  site=$(echo "$prefix"/usr/lib/python*/site-packages)
  check "installed cspband" env PYTHONPATH="$site" "$python" "$source/examples/solve.py"
fi
