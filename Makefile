# Thin front end over CMake. `make bench` builds and runs bench1,
# `make test` builds and runs every test, `make perf` runs the solver
# benchmarks against LAPACK; all install missing
# build dependencies first (see scripts/deps.sh).

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build bench test perf tsan asan clean

all: build

deps:
	@scripts/deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

bench: build
	./build/bench/bench1

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

# The solver's entries against reference LAPACK (and OpenBLAS when
# installed), every task count, with a summary of medians and ratios.
perf: build
	./build/benchmarks/solverbench

# Sanitizer builds of the tests, each in a build folder of its own.
tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCSP_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCSP_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1" \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-tsan build-asan
