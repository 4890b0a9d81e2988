// JSON, CSV and SVG output of cspbench.

#include "tools/writers.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/measure.hpp"

namespace {

// A temporary file beside the final one, with the permissions an ordinary
// new file would get (mkstemp makes it private).
struct temporaryfile {
  std::string path;
  int descriptor = -1;
};

bool createbeside(const std::string& target, temporaryfile& file, std::string& error) {
  const std::filesystem::path final(target);
  file.path = (final.parent_path() / ("." + final.filename().string() + ".XXXXXX")).string();
  file.descriptor = mkstemp(file.path.data());
  if (file.descriptor < 0) {
    error = "cannot create a temporary file beside " + target + ": " + std::strerror(errno);
    return false;
  }
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(file.descriptor, 0666 & ~mask);
  return true;
}

bool commit(temporaryfile& file, const std::string& target, std::string& error) {
  const bool closed = close(file.descriptor) == 0;
  file.descriptor = -1;
  if (closed && std::rename(file.path.c_str(), target.c_str()) == 0) return true;
  error = "cannot write " + target + ": " + std::strerror(errno);
  std::remove(file.path.c_str());
  return false;
}

void discard(temporaryfile& file) {
  if (file.descriptor >= 0) close(file.descriptor);
  std::remove(file.path.c_str());
}

}  // namespace

bool writeatomically(const std::string& target, const std::string& content, std::string& error) {
  temporaryfile file;
  if (!createbeside(target, file, error)) return false;
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t written = write(file.descriptor, content.data() + done, content.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = "cannot write " + target + ": " + std::strerror(errno);
      discard(file);
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return commit(file, target, error);
}

// NaN has no JSON form: it becomes null.
nlohmann::json jsonnumber(double value) {
  return std::isnan(value) ? nlohmann::json() : nlohmann::json(value);
}

nlohmann::json tojson(const summary& s) {
  return {{"median", jsonnumber(s.median)}, {"min", jsonnumber(s.min)}, {"max", jsonnumber(s.max)}};
}

namespace {

bool factorized(const benchoptions& options) { return options.method == "factorized"; }
bool batched(const benchoptions& options) { return options.batch > 0; }

// The parts of the factorized method's cycles.
void addparts(nlohmann::json& target, const measured& m) {
  target["factorize_seconds"] = m.factorize;
  target["solve_seconds"] = m.solve;
  target["factorize_time"] = tojson(m.factorizetime);
  target["solve_time"] = tojson(m.solvetime);
}

}  // namespace

nlohmann::json tojson(const checkresult& c) {
  return {{"status", c.status},
          {"relative_error", c.relativeerror},
          {"error_ratio", c.errorratio},
          {"residual_ratio", c.residualratio},
          {"pass", c.pass}};
}

namespace {

nlohmann::json tojson(const taskrun& run, bool cycles, bool batch) {
  nlohmann::json j = {{"tasks_requested", run.requested},
                      {"tasks", run.used},
                      {"capped", run.used != run.requested},
                      {"wall_seconds", run.wall},
                      {"cpu_seconds", run.cpu},
                      {"time", tojson(run.time)},
                      {"cpu_time", tojson(run.cputime)},
                      {"gflops", run.gflops},
                      {"speedup", jsonnumber(run.speedup)},
                      {"efficiency", jsonnumber(run.efficiency)},
                      {"lapack_ratio", jsonnumber(run.lapackratio)},
                      {"check", tojson(run.check)}};
  if (cycles) {
    addparts(j, run);
    j["lapack_factorize_ratio"] = jsonnumber(run.factorizeratio);
    j["lapack_solve_ratio"] = jsonnumber(run.solveratio);
  }
  if (batch) j["per_system_time"] = tojson(run.persystemtime);
  return j;
}

nlohmann::json tojson(const lapackrun& lapack, bool cycles, bool batch) {
  if (!lapack.made) return nullptr;
  nlohmann::json j = {{"routine", lapack.routine},
                      {"wall_seconds", lapack.wall},
                      {"time", tojson(lapack.time)},
                      {"gflops", lapack.gflops},
                      {"check", tojson(lapack.check)}};
  if (cycles) addparts(j, lapack);
  if (batch) j["per_system_time"] = tojson(lapack.persystemtime);
  return j;
}

nlohmann::json tojson(const benchresult& result) {
  const benchoptions& o = result.options;
  const bool cycles = factorized(o);
  const bool batch = batched(o);
  nlohmann::json runs = nlohmann::json::array();
  for (const taskrun& run : result.runs) runs.push_back(tojson(run, cycles, batch));
  return {{"program", "cspbench"},
          {"problem",
           {{"n", o.n},
            {"m", o.m},
            {"nrhs", o.nrhs},
            {"kind", o.kind},
            {"method", o.method},
            {"solves", cycles ? nlohmann::json(o.solves) : nlohmann::json()},
            {"matrix", o.matrix},
            {"batch", batch ? nlohmann::json(o.batch) : nlohmann::json()},
            {"repeat", o.repeat}}},
          {"processors", result.processors},
          {"flops", result.flops},
          {"anorm", result.norms.anorm},
          {"condition", jsonnumber(result.norms.condition)},
          {"condition_source", result.norms.source},
          {"threshold", checkthreshold},
          {"runs", runs},
          {"lapack", tojson(result.lapack, cycles, batch)},
          {"lapack_note", result.lapack.note},
          {"pass", result.pass}};
}

}  // namespace

std::string csvnumber(double value) {
  if (std::isnan(value)) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

namespace {

// Single-quoted gnuplot string: a quote inside is doubled.
std::string gnuplotquoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

std::string plotscript(const benchresult& result, const std::string& output) {
  const benchoptions& o = result.options;
  std::int32_t lo = result.runs.front().used, hi = lo;
  for (const taskrun& run : result.runs) {
    lo = std::min(lo, run.used);
    hi = std::max(hi, run.used);
  }
  const bool speedup = !std::isnan(result.runs.front().speedup);
  std::ostringstream s;
  s << "set terminal svg size 800,480 dynamic font 'sans,12' background rgb 'white'\n"
    << "set output " << gnuplotquoted(output) << "\n"
    << "set title "
    << gnuplotquoted("cspbench: N = " + std::to_string(o.n) + ", M = " + std::to_string(o.m) +
                     ", nrhs = " + std::to_string(o.nrhs) + ", kind " + o.kind + ", " + o.method +
                     (batched(o) ? " " + std::to_string(o.batch) + " systems" : ""))
    << "\nset xlabel 'tasks'\nset ylabel 'wall time (s), median with min and max'\n"
    << "set xrange [" << lo - 0.5 << ":" << hi + 0.5 << "]\nset yrange [0:*]\n"
    << (hi - lo <= 16 ? "set xtics 1\n" : "")
    << "set grid\nset key below horizontal height 1.5\nset ytics nomirror\n";
  if (speedup) s << "set y2label 'speedup'\nset y2range [0:*]\nset y2tics\n";
  s << "$data << EOD\n";
  for (const taskrun& run : result.runs)
    s << run.used << " " << run.time.median << " " << run.time.min << " " << run.time.max << " "
      << (speedup ? run.speedup : 0) << "\n";
  s << "EOD\nplot $data using 1:2:3:4 with yerrorlines lw 2 pt 7 title 'time' axes x1y1";
  if (speedup)
    s << ", $data using 1:5 with linespoints lw 2 pt 5 title 'speedup' axes x1y2"
      << ", $data using 1:1 with lines dashtype 2 title 'ideal speedup' axes x1y2";
  s << "\n";
  return s.str();
}

}  // namespace

bool writejson(const std::string& path, const benchresult& result, std::string& error) {
  return writeatomically(path, tojson(result).dump(2) + "\n", error);
}

bool writecsv(const std::string& path, const benchresult& result, std::string& error) {
  const benchoptions& o = result.options;
  std::string text =
      "n,m,nrhs,kind,method,tasks_requested,tasks,median_s,min_s,max_s,cpu_median_s,gflops,"
      "speedup,efficiency,relative_error,error_ratio,residual_ratio,status,check,"
      "lapack_median_s,lapack_ratio,matrix,solves,factorize_median_s,solve_median_s,"
      "lapack_factorize_median_s,lapack_solve_median_s,lapack_factorize_ratio,"
      "lapack_solve_ratio,batch,per_system_median_s,lapack_per_system_median_s\n";
  const bool lapack = result.lapack.made;
  // The parts of factorized cycles are NaN, so empty, for one-shot methods;
  // the batch columns are empty unless batched.
  const auto lapackvalue = [&](double value) { return lapack ? csvnumber(value) : ""; };
  for (const taskrun& run : result.runs) {
    const std::string fields[] = {
        std::to_string(o.n),
        std::to_string(o.m),
        std::to_string(o.nrhs),
        o.kind,
        o.method,
        std::to_string(run.requested),
        std::to_string(run.used),
        csvnumber(run.time.median),
        csvnumber(run.time.min),
        csvnumber(run.time.max),
        csvnumber(run.cputime.median),
        csvnumber(run.gflops),
        csvnumber(run.speedup),
        csvnumber(run.efficiency),
        csvnumber(run.check.relativeerror),
        csvnumber(run.check.errorratio),
        csvnumber(run.check.residualratio),
        std::to_string(run.check.status),
        run.check.pass ? "PASS" : "FAIL",
        lapackvalue(result.lapack.time.median),
        csvnumber(run.lapackratio),
        o.matrix,
        factorized(o) ? std::to_string(o.solves) : "",
        csvnumber(run.factorizetime.median),
        csvnumber(run.solvetime.median),
        lapackvalue(result.lapack.factorizetime.median),
        lapackvalue(result.lapack.solvetime.median),
        csvnumber(run.factorizeratio),
        csvnumber(run.solveratio),
        batched(o) ? std::to_string(o.batch) : "",
        batched(o) ? csvnumber(run.persystemtime.median) : "",
        batched(o) ? lapackvalue(result.lapack.persystemtime.median) : ""};
    for (std::size_t k = 0; k < std::size(fields); ++k) text += (k ? "," : "") + fields[k];
    text += "\n";
  }
  return writeatomically(path, text, error);
}

bool writeplot(const std::string& path, const benchresult& result, std::string& error) {
  temporaryfile file;
  if (!createbeside(path, file, error)) return false;
  std::FILE* gnuplot = popen("gnuplot", "w");
  if (gnuplot == nullptr) {
    error = "cannot start gnuplot (package gnuplot-nox)";
    discard(file);
    return false;
  }
  // A gnuplot that dies early must fail the plot, not end the program.
  const auto previous = signal(SIGPIPE, SIG_IGN);
  const std::string script = plotscript(result, file.path);
  const bool sent = std::fwrite(script.data(), 1, script.size(), gnuplot) == script.size();
  const int status = pclose(gnuplot);
  signal(SIGPIPE, previous);
  struct stat written {};
  if (!sent || status != 0 || fstat(file.descriptor, &written) != 0 || written.st_size == 0) {
    error = "gnuplot could not draw " + path;
    discard(file);
    return false;
  }
  return commit(file, path, error);
}
