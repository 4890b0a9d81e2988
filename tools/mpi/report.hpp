// The output of cspbench-mpi: the readable report, printed by rank 0, and
// the JSON and CSV files, with cspbench's field names where they apply.
#pragma once

#include <cstdio>
#include <string>

#include "tools/mpi/distbench.hpp"

// printmpiheading(out, options, group, columns): the problem, the
// processes, the layout and the checks, before the run starts.
void printmpiheading(std::FILE* out, const mpioptions& options, const processgroup& group,
                     const layout& columns);

// printmpitable(out, result): the one-shot rows, the factorization and
// solve rows, the ScaLAPACK comparison and the verdict.
void printmpitable(std::FILE* out, const mpiresult& result);

// writempijson(path, result, error), writempicsv(...): the files; error
// says what went wrong when they return false (nothing is left behind).
bool writempijson(const std::string& path, const mpiresult& result, std::string& error);
bool writempicsv(const std::string& path, const mpiresult& result, std::string& error);
