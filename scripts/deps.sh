#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are installed.
# As root it installs what is missing; otherwise it prints the exact
# apt-get line to run and fails.
set -euo pipefail

# Every build dependency of the project, in one place.
packages=(
  cmake
  g++
  make
  libgtest-dev
  liblapack-dev
  libblas-dev
  libbenchmark-dev
  libcli11-dev
  nlohmann-json3-dev
  gnuplot-nox
  pkg-config
  python3-dev
  python3-numpy
  python3-pybind11
  python3-scipy
  python3-pytest
  libopenmpi-dev
  openmpi-bin
  python3-mpi4py
  libscalapack-openmpi-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "Missing build dependencies. Install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
