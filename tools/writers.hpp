// Machine-readable output of cspbench: JSON, CSV and the gnuplot SVG. Every
// file is written to a temporary file in its own folder and renamed into
// place, so that it appears complete or not at all.
#pragma once

#include <string>

#include "tools/benchmark.hpp"

// writejson(path, result, error), writecsv(...), writeplot(...)
//   path   (in)  the file to write.
//   result (in)  the results of the run.
//   error  (out) what went wrong when the function returns false; nothing
//                is left behind then.
bool writejson(const std::string& path, const benchresult& result, std::string& error);
bool writecsv(const std::string& path, const benchresult& result, std::string& error);
bool writeplot(const std::string& path, const benchresult& result, std::string& error);
