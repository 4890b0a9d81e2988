// cspbench: its test systems, operation count and checks, and the real
// executable's option errors, runs of every kind and method, LAPACK
// baselines, and output files.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bench/complexsystem.hpp"
#include "tests/oracle.hpp"
#include "tools/measure.hpp"
#include "tools/options.hpp"
#include "tools/testsystem.hpp"
#include "tools/verify.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// ---------------------------------------------------------------------------
// Running the executable
// ---------------------------------------------------------------------------

struct outcome {
  int status = -1;  // exit status
  std::string out, err;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A fresh folder for one test's files, removed with the fixture.
class scratchfolder {
 public:
  scratchfolder() {
    std::string pattern = (fs::temp_directory_path() / "cspbench-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~scratchfolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Runs cspbench with args; searchpath, when given, replaces PATH.
outcome runcspbench(const std::vector<std::string>& args, const char* searchpath = nullptr) {
  scratchfolder folder;
  const fs::path out = folder.path() / "out", err = folder.path() / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> words{CSPBENCH_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables;
  for (char** v = environ; *v != nullptr; ++v)
    if (searchpath == nullptr || std::string(*v).rfind("PATH=", 0) != 0) variables.push_back(*v);
  if (searchpath != nullptr) variables.push_back(std::string("PATH=") + searchpath);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  outcome result;
  pid_t pid = 0;
  if (posix_spawn(&pid, CSPBENCH_PATH, &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = slurp(out);
  result.err = slurp(err);
  return result;
}

std::int32_t processors() { return static_cast<std::int32_t>(sysconf(_SC_NPROCESSORS_CONF)); }

// ---------------------------------------------------------------------------
// Test systems
// ---------------------------------------------------------------------------

template <class T>
class ComplexSystem : public ::testing::Test {};
using complexkinds = ::testing::Types<std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(ComplexSystem, complexkinds);

template <class T>
void makecomplexsystem(oracle::bandsystem<T>& s, std::vector<T>& b, std::vector<T>& x,
                       std::int32_t nrhs) {
  if constexpr (std::is_same_v<T, std::complex<float>>) {
    complexsystem_z4(s.band.data(), b.data(), x.data(), s.n, s.m, nrhs);
  } else {
    complexsystem_z8(s.band.data(), b.data(), x.data(), s.n, s.m, nrhs);
  }
}

// The system is genuinely complex, strictly diagonally dominant by at least
// 1 in every row, reproducible, and b is A times the exact solution.
TYPED_TEST(ComplexSystem, DominantComplexSymmetricWithConsistentRightHandSide) {
  using T = TypeParam;
  for (const auto& [n, m] : {std::pair{1, 0}, {30, 0}, {30, 3}, {12, 11}, {200, 7}}) {
    SCOPED_TRACE(::testing::Message() << "N = " << n << ", M = " << m);
    const std::int32_t nrhs = 2;
    oracle::bandsystem<T> s{n, m, std::vector<T>(std::size_t(m + 1) * n, T(7))};
    std::vector<T> b(std::size_t(n) * nrhs), x(b.size());
    makecomplexsystem(s, b, x, nrhs);
    for (std::int64_t i = 1; i <= n; ++i) {
      double offdiagonal = 0;
      for (std::int64_t j = std::max<std::int64_t>(1, i - m); j <= std::min<std::int64_t>(n, i + m);
           ++j) {
        if (j == i) continue;
        EXPECT_NE(s.entry(i, j).imag(), 0) << "(" << i << ", " << j << ")";
        offdiagonal += std::abs(std::complex<double>(s.entry(i, j)));
      }
      const std::complex<double> diagonal(s.entry(i, i));
      EXPECT_NE(diagonal.imag(), 0);
      EXPECT_GE(std::abs(diagonal) - offdiagonal, 0.999) << "row " << i;
    }
    EXPECT_GT(oracle::infnorm(x), 0);
    const std::vector<T> ax = oracle::multiply(s, x, nrhs);
    EXPECT_LT(oracle::differenceratio(b, ax), 4.0 * (2 * m + 1));
    std::vector<T> bagain(b.size()), xagain(x.size());
    oracle::bandsystem<T> second{n, m, std::vector<T>(s.band.size(), T(7))};
    makecomplexsystem(second, bagain, xagain, nrhs);
    EXPECT_EQ(second.band, s.band);
    EXPECT_EQ(bagain, b);
    EXPECT_EQ(xagain, x);
  }
}

template <class T>
class RandomSystem : public ::testing::Test {};
TYPED_TEST_SUITE(RandomSystem, oracle::element_kinds);

template <class T>
bool inunitinterval(const T& value) {
  const auto within = [](double part) { return part >= -1 && part < 1; };
  return within(std::real(value)) && within(std::imag(value));
}

// Entries of A off the diagonal and of x in [-1, 1), of both signs; every
// row dominant by exactly 1, the complex diagonal d + d/2 i; the unused
// corner zero; b = A*x; the same system on every build, and not the
// generator's.
TYPED_TEST(RandomSystem, DominantReproducibleAndConsistent) {
  using T = TypeParam;
  for (const auto& [n, m] : {std::pair{1, 0}, {40, 1}, {60, 7}, {9, 8}}) {
    SCOPED_TRACE(::testing::Message() << "N = " << n << ", M = " << m);
    const std::int32_t nrhs = 2;
    const testsystem<T> s = buildtestsystem<T>(n, m, nrhs, matrixsource::random);
    const oracle::bandsystem<T> a{n, m, s.band};
    std::int64_t negative = 0;
    for (std::int64_t i = 1; i <= n; ++i) {
      double offdiagonal = 0;
      for (std::int64_t j = std::max<std::int64_t>(1, i - m); j <= std::min<std::int64_t>(n, i + m);
           ++j) {
        if (j == i) continue;
        EXPECT_TRUE(inunitinterval(a.entry(i, j))) << "(" << i << ", " << j << ")";
        negative += std::real(a.entry(i, j)) < 0;
        offdiagonal += modulus(a.entry(i, j));
      }
      const T diagonal = a.entry(i, i);
      EXPECT_NEAR(std::real(diagonal), offdiagonal + 1, 1e-5 * (offdiagonal + 1)) << "row " << i;
      EXPECT_EQ(std::imag(diagonal), is_complex_v<T> ? std::real(diagonal) / 2 : 0);
    }
    const std::int64_t offdiagonals = std::int64_t(m) * (2 * n - m - 1);
    if (offdiagonals > 20) {
      EXPECT_GT(negative, 0);
      EXPECT_LT(negative, offdiagonals);
    }
    for (std::int64_t j = n - m + 1; j <= n; ++j)
      for (std::int64_t k = n - j + 1; k <= m; ++k)
        EXPECT_EQ(s.band[static_cast<std::size_t>((m + 1) * (j - 1) + k)], T(0));
    EXPECT_TRUE(std::all_of(s.x.begin(), s.x.end(), inunitinterval<T>));
    EXPECT_LT(oracle::differenceratio(s.b, oracle::multiply(a, s.x, nrhs)), 2.0 * (m + 1));

    const testsystem<T> again = buildtestsystem<T>(n, m, nrhs, matrixsource::random);
    EXPECT_EQ(again.band, s.band);
    EXPECT_EQ(again.b, s.b);
    EXPECT_EQ(again.x, s.x);
    EXPECT_NE(buildtestsystem<T>(n, m, nrhs).x, s.x);
  }
}

template <class T>
class TestBatch : public ::testing::Test {};
TYPED_TEST_SUITE(TestBatch, oracle::element_kinds);

// System 0 of a batch is the single system; every system has b = A*x and
// differs from the one before it: random systems in their matrix, the
// generator's in their exact solutions.
TYPED_TEST(TestBatch, SystemsDifferAndAreConsistent) {
  using T = TypeParam;
  const std::int32_t n = 50, m = 4, nrhs = 2;
  for (const matrixsource source : {matrixsource::generator, matrixsource::random}) {
    const bool random = source == matrixsource::random;
    SCOPED_TRACE(random ? "random" : "generator");
    const std::vector<testsystem<T>> batch = buildtestbatch<T>(n, m, nrhs, source, 4);
    ASSERT_EQ(batch.size(), 4u);
    const testsystem<T> single = buildtestsystem<T>(n, m, nrhs, source);
    EXPECT_EQ(batch[0].band, single.band);
    EXPECT_EQ(batch[0].b, single.b);
    EXPECT_EQ(batch[0].x, single.x);
    for (std::size_t k = 1; k < batch.size(); ++k) {
      const testsystem<T>& s = batch[k];
      EXPECT_EQ(s.band == batch[k - 1].band, !random) << "system " << k;
      EXPECT_NE(s.x, batch[k - 1].x) << "system " << k;
      const oracle::bandsystem<T> a{n, m, s.band};
      EXPECT_LT(oracle::differenceratio(s.b, oracle::multiply(a, s.x, nrhs)), 2.0 * (m + 1))
          << "system " << k;
    }
  }
}

// ---------------------------------------------------------------------------
// Operation count and checks
// ---------------------------------------------------------------------------

// The closed form against the column-by-column count it sums.
TEST(FlopCount, ClosedFormMatchesTheColumnSum) {
  for (std::int64_t n : {1, 2, 5, 9, 40}) {
    for (std::int64_t m : {0, 1, 3, 8, 39, 60}) {
      for (std::int64_t nrhs : {1, 3}) {
        double multiplicative = 0, additive = 0;
        for (std::int64_t j = 1; j <= n; ++j) {
          const double k = static_cast<double>(std::min(m, n - j));
          multiplicative += 1 + k + k * (k + 1) / 2 + nrhs * (2 + 2 * k);
          additive += k * (k + 1) / 2 + nrhs * 2 * k;
        }
        EXPECT_EQ(flopcount(n, m, nrhs, false), multiplicative + additive)
            << n << " " << m << " " << nrhs;
        EXPECT_EQ(flopcount(n, m, nrhs, true), 6 * multiplicative + 2 * additive)
            << n << " " << m << " " << nrhs;
      }
    }
  }
  // One equation, no band: a square root and two divisions per right-hand side.
  EXPECT_EQ(flopcount(1, 0, 1, false), 3);
}

template <class T>
class Checks : public ::testing::Test {};
TYPED_TEST_SUITE(Checks, oracle::element_kinds);

// The exact solution passes; a solution off by far more than cond*eps, a
// NaN, or a failed status does not; the worst of several keeps a NaN.
TYPED_TEST(Checks, SeparateSoundFromWrongSolutions) {
  using T = TypeParam;
  const testsystem<T> s = buildtestsystem<T>(400, 4, 2);
  std::vector<T> scratch(s.band.size());
  const systemnorms norms = systemnormsof(s, scratch);
  ASSERT_TRUE(std::isfinite(norms.condition));
  ASSERT_GE(norms.condition, 1);

  const checkresult exact = checksolution(s, s.x, 0, norms);
  EXPECT_TRUE(exact.pass);
  EXPECT_LE(exact.errorratio, checkthreshold);
  EXPECT_FALSE(checksolution(s, s.x, 1, norms).pass);

  std::vector<T> wrong = s.x;
  wrong[std::size_t(s.n) + 17] += T(static_cast<real_t<T>>(
      100 * checkthreshold * norms.condition * oracle::epsilon<T>() * oracle::infnorm(s.x)));
  const checkresult off = checksolution(s, wrong, 0, norms);
  EXPECT_FALSE(off.pass);
  EXPECT_GT(off.errorratio, checkthreshold);

  std::vector<T> broken = s.x;
  broken[5] = T(std::numeric_limits<real_t<T>>::quiet_NaN());
  const checkresult nan = checksolution(s, broken, 0, norms);
  EXPECT_FALSE(nan.pass);
  const checkresult worst = worstof(nan, exact);
  EXPECT_FALSE(worst.pass);
  EXPECT_TRUE(std::isnan(worst.relativeerror));
  EXPECT_TRUE(std::isnan(worstof(exact, nan).relativeerror));
}

TEST(TaskList, CountsRangesAndErrors) {
  std::vector<std::int32_t> tasks;
  std::string error;
  ASSERT_TRUE(parsetasklist("1,4-6,2,4", tasks, error)) << error;
  EXPECT_EQ(tasks, (std::vector<std::int32_t>{1, 4, 5, 6, 2}));
  for (const char* bad : {"0", "3-1", "a", "", "1,,2", "2-", "-3", "1-2000", "4.5"}) {
    EXPECT_FALSE(parsetasklist(bad, tasks, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

// ---------------------------------------------------------------------------
// The executable
// ---------------------------------------------------------------------------

struct badinput {
  std::vector<std::string> args;
  std::string mentions;  // the message names the option or the problem
};

class OptionErrors : public ::testing::TestWithParam<badinput> {};

// Exit status 2, one line on standard error, and nothing run (no output).
TEST_P(OptionErrors, OneLineAndExitStatusTwo) {
  const outcome run = runcspbench(GetParam().args);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("cspbench: error: ", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find(GetParam().mentions), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cspbench, OptionErrors,
    ::testing::Values(
        badinput{{"--n", "abc"}, "--n"}, badinput{{"--n", "0"}, "--n"},
        badinput{{"--n", "99999999999"}, "--n"}, badinput{{"--m", "-1"}, "--m"},
        badinput{{"--n", "10", "--m", "10"}, "--m"}, badinput{{"--nrhs", "0"}, "--nrhs"},
        badinput{{"--tasks", "0"}, "--tasks"}, badinput{{"--tasks", "3-1"}, "--tasks"},
        badinput{{"--tasks", "two"}, "--tasks"}, badinput{{"--repeat", "0"}, "--repeat"},
        badinput{{"--kind", "z16"}, "--kind"}, badinput{{"--method", "cholesky"}, "--method"},
        badinput{{"--bogus"}, "--bogus"},
        badinput{{"--json", "/nonexistent-folder/r.json"}, "--json"},
        badinput{{"--method", "factorized", "--solves", "0"}, "--solves"},
        badinput{{"--method", "factorized", "--solves", "many"}, "--solves"},
        badinput{{"--solves", "3"}, "--solves"},
        badinput{{"--method", "auto", "--solves", "3"}, "--solves"},
        badinput{{"--matrix", "hilbert"}, "--matrix"}, badinput{{"--batch", "0"}, "--batch"},
        badinput{{"--batch", "-4"}, "--batch"}, badinput{{"--batch", "many"}, "--batch"},
        badinput{{"--batch", "4", "--method", "auto"}, "--method"},
        badinput{{"--batch", "4", "--solves", "3"}, "--solves"},
        badinput{{"--batch", "2000000000", "--n", "1000", "--m", "10"}, "GiB"},
        badinput{{"--n", "2000000000", "--m", "100000", "--kind", "z8"}, "GiB"}));

TEST(Cspbench, PlotWithoutGnuplotNamesThePackage) {
  scratchfolder folder;
  const outcome run =
      runcspbench({"--n", "100", "--plot", (folder.path() / "p.svg").string()}, "/nonexistent");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("gnuplot-nox"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_empty(folder.path()));
}

struct kindmethod {
  std::string kind, method;
};

class KindsAndMethods : public ::testing::TestWithParam<kindmethod> {};

// A small verified run of each solver entry in each kind, with two
// right-hand sides and two task counts; the factorized method makes its
// default 10 solves per factorization.
TEST_P(KindsAndMethods, EverySolveVerified) {
  scratchfolder folder;
  const fs::path report = folder.path() / "r.json";
  const outcome run = runcspbench({"--kind", GetParam().kind, "--method", GetParam().method, "--n",
                                   "3000", "--m", "5", "--nrhs", "2", "--tasks", "1-2", "--repeat",
                                   "2", "--json", report.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out.find("FAIL"), std::string::npos) << run.out;
  const json result = json::parse(slurp(report));
  EXPECT_TRUE(result["pass"].get<bool>());
  const bool complexkind = GetParam().kind[0] == 'z';
  const bool factorized = GetParam().method == "factorized";
  EXPECT_EQ(result["flops"].get<double>(), flopcount(3000, 5, factorized ? 20 : 2, complexkind));
  ASSERT_EQ(result["runs"].size(), 2u);
  for (const json& taskrun : result["runs"]) {
    EXPECT_EQ(taskrun["check"]["status"], 0);
    EXPECT_LE(taskrun["check"]["error_ratio"].get<double>(), checkthreshold);
    EXPECT_LE(taskrun["check"]["residual_ratio"].get<double>(), checkthreshold);
    EXPECT_EQ(taskrun["wall_seconds"].size(), 2u);
    EXPECT_EQ(taskrun.contains("solve_seconds"), factorized);
    if (factorized) {
      EXPECT_EQ(taskrun["solve_seconds"].size(), 20u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cspbench, KindsAndMethods,
    ::testing::Values(kindmethod{"4", "mesolution"}, kindmethod{"4", "solution"},
                      kindmethod{"4", "decomposition"}, kindmethod{"8", "mesolution"},
                      kindmethod{"8", "solution"}, kindmethod{"8", "decomposition"},
                      kindmethod{"z4", "mesolution"}, kindmethod{"z4", "solution"},
                      kindmethod{"z4", "decomposition"}, kindmethod{"z8", "mesolution"},
                      kindmethod{"z8", "solution"}, kindmethod{"z8", "decomposition"},
                      kindmethod{"4", "auto"}, kindmethod{"8", "auto"}, kindmethod{"z4", "auto"},
                      kindmethod{"z8", "auto"}, kindmethod{"4", "factorized"},
                      kindmethod{"8", "factorized"}, kindmethod{"z4", "factorized"},
                      kindmethod{"z8", "factorized"}),
    [](const auto& info) { return "kind" + info.param.kind + "_" + info.param.method; });

std::vector<std::string> splitline(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

// JSON and CSV carry the same runs, LAPACK's run is verified and its ratio
// is the quotient of the medians, and only the asked-for files appear.
TEST(Cspbench, JsonCsvAndPlotOfOneRun) {
  scratchfolder folder;
  const fs::path jsonfile = folder.path() / "r.json", csvfile = folder.path() / "r.csv",
                 plotfile = folder.path() / "r.svg";
  std::vector<std::string> args{"--kind",
                                "8",
                                "--n",
                                "2000",
                                "--m",
                                "4",
                                "--tasks",
                                "1,2",
                                "--repeat",
                                "3",
                                "--compare-lapack",
                                "--json",
                                jsonfile.string(),
                                "--csv",
                                csvfile.string()};
  const bool plot = std::system("command -v gnuplot > /dev/null 2>&1") == 0;
  if (plot) args.insert(args.end(), {"--plot", plotfile.string()});
  const outcome run = runcspbench(args);
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  const json result = json::parse(slurp(jsonfile));
  EXPECT_EQ(result["problem"]["n"], 2000);
  EXPECT_EQ(result["problem"]["kind"], "8");
  EXPECT_TRUE(result["problem"]["batch"].is_null());
  ASSERT_EQ(result["lapack"]["routine"], "dpbsv");
  EXPECT_TRUE(result["lapack"]["check"]["pass"].get<bool>());
  const double lapackmedian = result["lapack"]["time"]["median"].get<double>();
  const json& runs = result["runs"];
  ASSERT_EQ(runs.size(), 2u);

  std::ifstream csv(csvfile);
  std::string line;
  ASSERT_TRUE(std::getline(csv, line));
  const std::vector<std::string> header = splitline(line);
  std::vector<std::vector<std::string>> rows;
  while (std::getline(csv, line)) rows.push_back(splitline(line));
  ASSERT_EQ(rows.size(), 2u);
  const auto column = [&](const std::string& name) {
    return std::find(header.begin(), header.end(), name) - header.begin();
  };
  for (std::size_t r = 0; r < 2; ++r) {
    const json& taskrun = runs[r];
    const double median = taskrun["time"]["median"].get<double>();
    EXPECT_EQ(taskrun["wall_seconds"].size(), 3u);
    EXPECT_LE(taskrun["time"]["min"].get<double>(), median);
    EXPECT_LE(median, taskrun["time"]["max"].get<double>());
    EXPECT_NEAR(taskrun["lapack_ratio"].get<double>(), lapackmedian / median,
                1e-9 * lapackmedian / median);
    ASSERT_EQ(rows[r].size(), header.size());
    EXPECT_EQ(rows[r][column("tasks_requested")], std::to_string(r + 1));
    EXPECT_EQ(rows[r][column("check")], "PASS");
    EXPECT_EQ(rows[r][column("batch")], "");
    EXPECT_NEAR(std::stod(rows[r][column("median_s")]), median, 1e-8 * median);
  }
  EXPECT_EQ(runs[0]["speedup"].get<double>(), 1.0);

  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.path())) ++files;
  EXPECT_EQ(files, plot ? 3u : 2u);  // no temporary file left behind
  if (plot) {
    EXPECT_NE(slurp(plotfile).find("<svg"), std::string::npos);
  }
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t half = values.size() / 2;
  return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// A factorized run times each cycle's factorization and solves apart, its
// total is their sum, the time per solve is the median of every solve, and
// LAPACK's factorization and substitution are timed and compared the same
// way; CSV carries the same medians.
TEST(Cspbench, FactorizedCyclesTimedInParts) {
  scratchfolder folder;
  const fs::path jsonfile = folder.path() / "r.json", csvfile = folder.path() / "r.csv";
  const outcome run =
      runcspbench({"--kind", "8", "--n", "2000", "--m", "4", "--tasks", "1,2", "--repeat", "2",
                   "--method", "factorized", "--solves", "3", "--compare-lapack", "--json",
                   jsonfile.string(), "--csv", csvfile.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("1 factorization + 3 solves"), std::string::npos) << run.out;
  const json result = json::parse(slurp(jsonfile));
  EXPECT_EQ(result["problem"]["solves"], 3);
  EXPECT_EQ(result["flops"].get<double>(), flopcount(2000, 4, 3, false));
  const json& lapack = result["lapack"];
  ASSERT_EQ(lapack["routine"], "dpbtrf + dpbtrs");
  EXPECT_TRUE(lapack["check"]["pass"].get<bool>());
  for (const json* timedrun : {&result["runs"][0], &result["runs"][1], &lapack}) {
    const json& r = *timedrun;
    const auto factorize = r["factorize_seconds"].get<std::vector<double>>();
    const auto solves = r["solve_seconds"].get<std::vector<double>>();
    const auto wall = r["wall_seconds"].get<std::vector<double>>();
    ASSERT_EQ(factorize.size(), 2u);
    ASSERT_EQ(solves.size(), 6u);
    ASSERT_EQ(wall.size(), 2u);
    for (std::size_t cycle = 0; cycle < 2; ++cycle) {
      const double sum =
          factorize[cycle] + solves[3 * cycle] + solves[3 * cycle + 1] + solves[3 * cycle + 2];
      EXPECT_NEAR(wall[cycle], sum, 1e-12 + 1e-9 * sum) << "cycle " << cycle;
    }
    EXPECT_EQ(r["solve_time"]["median"].get<double>(), median(solves));
    EXPECT_EQ(r["factorize_time"]["median"].get<double>(), median(factorize));
  }
  const auto lapackmedian = [&](const char* part) { return lapack[part]["median"].get<double>(); };
  std::ifstream csv(csvfile);
  std::string line;
  ASSERT_TRUE(std::getline(csv, line));
  const std::vector<std::string> header = splitline(line);
  const auto field = [&](const std::vector<std::string>& row, const std::string& name) {
    const auto at = std::find(header.begin(), header.end(), name);
    return at == header.end() ? std::nan("") : std::stod(row[at - header.begin()]);
  };
  for (const json& taskrun : result["runs"]) {
    const double factorize = taskrun["factorize_time"]["median"].get<double>();
    const double solve = taskrun["solve_time"]["median"].get<double>();
    EXPECT_NEAR(taskrun["lapack_factorize_ratio"].get<double>(),
                lapackmedian("factorize_time") / factorize,
                1e-9 * lapackmedian("factorize_time") / factorize);
    EXPECT_NEAR(taskrun["lapack_solve_ratio"].get<double>(), lapackmedian("solve_time") / solve,
                1e-9 * lapackmedian("solve_time") / solve);
    EXPECT_LE(taskrun["check"]["error_ratio"].get<double>(), checkthreshold);
    ASSERT_TRUE(std::getline(csv, line));
    const std::vector<std::string> row = splitline(line);
    ASSERT_EQ(row.size(), header.size());
    EXPECT_NEAR(field(row, "factorize_median_s"), factorize, 1e-8 * factorize);
    EXPECT_NEAR(field(row, "solve_median_s"), solve, 1e-8 * solve);
    EXPECT_EQ(field(row, "solves"), 3);
    EXPECT_NEAR(field(row, "lapack_solve_median_s"), lapackmedian("solve_time"),
                1e-8 * lapackmedian("solve_time"));
  }
}

struct lapackcase {
  std::string kind, method, m, routine;
};

class LapackBaseline : public ::testing::TestWithParam<lapackcase> {};

// The baseline matches the method, tridiagonal for M = 1, and verifies.
TEST_P(LapackBaseline, MatchesMethodAndBand) {
  scratchfolder folder;
  const fs::path jsonfile = folder.path() / "r.json";
  std::vector<std::string> args{"--kind",
                                GetParam().kind,
                                "--method",
                                GetParam().method,
                                "--m",
                                GetParam().m,
                                "--n",
                                "1500",
                                "--tasks",
                                "1",
                                "--repeat",
                                "1",
                                "--compare-lapack",
                                "--json",
                                jsonfile.string()};
  if (GetParam().method == "factorized") args.insert(args.end(), {"--solves", "2"});
  const outcome run = runcspbench(args);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("LAPACK " + GetParam().routine + " "), std::string::npos) << run.out;
  const json result = json::parse(slurp(jsonfile));
  EXPECT_EQ(result["lapack"]["routine"], GetParam().routine);
  EXPECT_TRUE(result["lapack"]["check"]["pass"].get<bool>());
  EXPECT_GT(result["runs"][0]["lapack_ratio"].get<double>(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cspbench, LapackBaseline,
                         ::testing::Values(lapackcase{"8", "auto", "1", "dptsv"},
                                           lapackcase{"4", "mesolution", "1", "sptsv"},
                                           lapackcase{"8", "auto", "3", "dpbsv"},
                                           lapackcase{"8", "factorized", "1", "dpttrf + dpttrs"},
                                           lapackcase{"4", "factorized", "3", "spbtrf + spbtrs"}),
                         [](const auto& info) {
                           return "kind" + info.param.kind + "_" + info.param.method + "_m" +
                                  info.param.m;
                         });

struct batchcase {
  std::string kind, matrix, n, m;
};

class BatchedRuns : public ::testing::TestWithParam<batchcase> {};

// The batched solve of a batch that does not fill the vector lanes evenly,
// with two right-hand sides per system, verifies every system in each kind,
// on the lane path (N < 20000) and on the one-by-one path; the operation
// count and the time per system cover the whole batch.
TEST_P(BatchedRuns, EverySystemVerified) {
  scratchfolder folder;
  const fs::path report = folder.path() / "r.json";
  const batchcase& c = GetParam();
  const outcome run =
      runcspbench({"--batch", "11", "--kind", c.kind, "--matrix", c.matrix, "--n", c.n, "--m", c.m,
                   "--nrhs", "2", "--tasks", "1-2", "--repeat", "2", "--json", report.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("per sys s"), std::string::npos) << run.out;
  const json result = json::parse(slurp(report));
  EXPECT_TRUE(result["pass"].get<bool>());
  EXPECT_EQ(result["problem"]["batch"], 11);
  EXPECT_EQ(result["problem"]["method"], "batched");
  EXPECT_EQ(result["flops"].get<double>(),
            11 * flopcount(std::stoi(c.n), std::stoi(c.m), 2, c.kind[0] == 'z'));
  ASSERT_EQ(result["runs"].size(), 2u);
  for (const json& taskrun : result["runs"]) {
    EXPECT_EQ(taskrun["check"]["status"], 0);
    EXPECT_LE(taskrun["check"]["error_ratio"].get<double>(), checkthreshold);
    EXPECT_EQ(taskrun["wall_seconds"].size(), 2u);
    const double median = taskrun["time"]["median"].get<double>();
    EXPECT_NEAR(taskrun["per_system_time"]["median"].get<double>(), median / 11, 1e-12 * median);
  }
}

INSTANTIATE_TEST_SUITE_P(Cspbench, BatchedRuns,
                         ::testing::Values(batchcase{"4", "generator", "300", "5"},
                                           batchcase{"8", "random", "300", "5"},
                                           batchcase{"z4", "random", "300", "5"},
                                           batchcase{"z8", "generator", "300", "0"},
                                           batchcase{"8", "random", "20000", "2"}),
                         [](const auto& info) {
                           return "kind" + info.param.kind + "_" + info.param.matrix + "_n" +
                                  info.param.n + "_m" + info.param.m;
                         });

// LAPACK's loop over the batch (?ptsv at M = 1, ?pbsv above) is verified,
// and JSON and CSV carry the batch, the time per system and the ratio.
TEST(Cspbench, BatchedLapackJsonAndCsv) {
  for (const auto& [m, routine] : {std::pair{"1", "dptsv"}, {"3", "dpbsv"}}) {
    SCOPED_TRACE(routine);
    scratchfolder folder;
    const fs::path jsonfile = folder.path() / "r.json", csvfile = folder.path() / "r.csv";
    const outcome run = runcspbench({"--batch", "9", "--kind", "8", "--n", "400", "--m", m,
                                     "--tasks", "1,2", "--repeat", "3", "--compare-lapack",
                                     "--json", jsonfile.string(), "--csv", csvfile.string()});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(std::string("LAPACK ") + routine + ", one call per system"),
              std::string::npos)
        << run.out;
    const json result = json::parse(slurp(jsonfile));
    const json& lapack = result["lapack"];
    ASSERT_EQ(lapack["routine"], routine);
    EXPECT_TRUE(lapack["check"]["pass"].get<bool>());
    const double lapackmedian = lapack["time"]["median"].get<double>();
    EXPECT_NEAR(lapack["per_system_time"]["median"].get<double>(), lapackmedian / 9,
                1e-12 * lapackmedian);

    std::ifstream csv(csvfile);
    std::string line;
    ASSERT_TRUE(std::getline(csv, line));
    const std::vector<std::string> header = splitline(line);
    const auto field = [&](const std::vector<std::string>& row, const std::string& name) {
      const auto at = std::find(header.begin(), header.end(), name);
      return at == header.end() ? std::string("missing") : row[at - header.begin()];
    };
    for (const json& taskrun : result["runs"]) {
      const double median = taskrun["time"]["median"].get<double>();
      EXPECT_NEAR(taskrun["lapack_ratio"].get<double>(), lapackmedian / median,
                  1e-9 * lapackmedian / median);
      ASSERT_TRUE(std::getline(csv, line));
      const std::vector<std::string> row = splitline(line);
      ASSERT_EQ(row.size(), header.size());
      EXPECT_EQ(field(row, "batch"), "9");
      EXPECT_EQ(field(row, "method"), "batched");
      EXPECT_NEAR(std::stod(field(row, "per_system_median_s")), median / 9, 1e-8 * median);
      EXPECT_NEAR(std::stod(field(row, "lapack_per_system_median_s")), lapackmedian / 9,
                  1e-8 * lapackmedian);
    }
  }
}

// A random system runs verified, and its dominance margin of 1 bounds the
// condition estimate by ||A||.
TEST(Cspbench, RandomMatrixRuns) {
  scratchfolder folder;
  const fs::path jsonfile = folder.path() / "r.json";
  const outcome run =
      runcspbench({"--matrix", "random", "--kind", "8", "--n", "2000", "--m", "6", "--tasks", "1",
                   "--repeat", "2", "--compare-lapack", "--json", jsonfile.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("matrix random"), std::string::npos) << run.out;
  const json result = json::parse(slurp(jsonfile));
  EXPECT_EQ(result["problem"]["matrix"], "random");
  EXPECT_TRUE(result["pass"].get<bool>());
  EXPECT_LE(result["condition"].get<double>(), result["anorm"].get<double>());
  EXPECT_GE(result["condition"].get<double>(), 1);
}

// Complex symmetric systems have no LAPACK band counterpart: the run says
// so and reports no ratio.
TEST(Cspbench, ComplexComparisonIsRefused) {
  scratchfolder folder;
  const fs::path jsonfile = folder.path() / "r.json";
  const outcome run =
      runcspbench({"--kind", "z8", "--n", "2000", "--m", "5", "--tasks", "1", "--repeat", "1",
                   "--compare-lapack", "--json", jsonfile.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("no LAPACK counterpart"), std::string::npos) << run.out;
  const json result = json::parse(slurp(jsonfile));
  EXPECT_TRUE(result["lapack"].is_null());
  EXPECT_TRUE(result["runs"][0]["lapack_ratio"].is_null());
}

// A request beyond min(processors, 32) runs with the capped count and says
// so; without --tasks every count from 1 to the processor count runs.
TEST(Cspbench, TaskCountsCappedAndDefaulted) {
  scratchfolder folder;
  const fs::path jsonfile = folder.path() / "r.json";
  const outcome run = runcspbench(
      {"--n", "500", "--m", "2", "--tasks", "1,64", "--repeat", "1", "--json", jsonfile.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const json capped = json::parse(slurp(jsonfile))["runs"][1];
  const std::int32_t cap = std::min(processors(), 32);
  EXPECT_EQ(capped["tasks_requested"], 64);
  EXPECT_EQ(capped["tasks"], cap);
  EXPECT_TRUE(capped["capped"].get<bool>());
  EXPECT_NE(run.out.find("64 -> " + std::to_string(cap)), std::string::npos) << run.out;

  const outcome defaulted =
      runcspbench({"--n", "500", "--m", "2", "--repeat", "1", "--json", jsonfile.string()});
  ASSERT_EQ(defaulted.status, 0) << defaulted.out << defaulted.err;
  const json runs = json::parse(slurp(jsonfile))["runs"];
  ASSERT_EQ(runs.size(), static_cast<std::size_t>(processors()));
  for (std::size_t t = 0; t < runs.size(); ++t) EXPECT_EQ(runs[t]["tasks_requested"], t + 1);
}

}  // namespace
