// The readable report of cspbench on standard output.
#pragma once

#include <cstdio>
#include <string>

#include "tools/benchmark.hpp"

// printheading(out, options): the problem, the machine and the checks,
// printed before the run starts.
void printheading(std::FILE* out, const benchoptions& options);

// printtable(out, result): one row per task count, the LAPACK comparison,
// notes on capped task counts, and the verdict.
void printtable(std::FILE* out, const benchresult& result);

// kindname(kind): "float", "double", "complex<float>" or "complex<double>"
// for the kinds 4, 8, z4 and z8.
const char* kindname(const std::string& kind);

// field(format, value): value in printf format, or "-" where there is none
// (NaN).
std::string field(const char* format, double value);
