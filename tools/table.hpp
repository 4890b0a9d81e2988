// The readable report of cspbench on standard output.
#pragma once

#include <cstdio>

#include "tools/benchmark.hpp"

// printheading(out, options): the problem, the machine and the checks,
// printed before the run starts.
void printheading(std::FILE* out, const benchoptions& options);

// printtable(out, result): one row per task count, the LAPACK comparison,
// notes on capped task counts, and the verdict.
void printtable(std::FILE* out, const benchresult& result);
