// Machine-readable output of cspbench: JSON, CSV and the gnuplot SVG. Every
// file is written to a temporary file in its own folder and renamed into
// place, so that it appears complete or not at all.
#pragma once

#include <nlohmann/json.hpp>
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

// The pieces of the files above that cspbench-mpi writes too:
//   writeatomically(path, content, error): content into path, through a
//     temporary file beside it renamed into place;
//   jsonnumber(value): value, or null for NaN, which JSON cannot hold;
//   tojson(summary), tojson(checkresult): as in cspbench's JSON;
//   csvnumber(value): a CSV field, empty for NaN, 9 significant digits.
bool writeatomically(const std::string& path, const std::string& content, std::string& error);
nlohmann::json jsonnumber(double value);
nlohmann::json tojson(const summary& s);
nlohmann::json tojson(const checkresult& c);
std::string csvnumber(double value);
