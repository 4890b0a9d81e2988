// Runs the real bench1 binary and checks the shape of its report: the
// headings, one block per configured processor, the time lines, the closing
// empty line and the exit status.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/runtime.hpp"

namespace {

// Path of the binary: fixed by the build, or taken from $BENCH1.
std::string benchpath() {
#ifdef BENCH1_PATH
  return BENCH1_PATH;
#else
  const char* path = std::getenv("BENCH1");
  return path ? path : "";
#endif
}

struct BenchRun {
  std::string output;
  int status = -1;
};

BenchRun runbench(const std::string& path) {
  BenchRun run;
  FILE* pipe = popen(("'" + path + "'").c_str(), "r");
  if (!pipe) return run;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.output.append(chunk, got);
  run.status = pclose(pipe);
  return run;
}

std::vector<std::string> splitlines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// Whether text has the shape of a time field: eight asterisks, or blanks,
// an optional minus, one or more digits, a point and two digits.
bool istimefield(const std::string& text) {
  if (text == "********") return true;
  std::size_t k = text.find_first_not_of(' ');
  if (k == std::string::npos) return false;
  if (text[k] == '-') ++k;
  const std::size_t point = text.find('.', k);
  const auto digits = [&](std::size_t from, std::size_t to) {
    return from < to && text.find_first_not_of("0123456789", from) >= to;
  };
  return point != std::string::npos && digits(k, point) && point + 3 == text.size() &&
         digits(point + 1, text.size());
}

// The value of a time line "<label><8-column field>", or NaN for "********".
double timevalue(const std::string& line, const std::string& label) {
  EXPECT_EQ(line.size(), label.size() + 8) << line;
  EXPECT_EQ(line.substr(0, label.size()), label) << line;
  const std::string number = line.size() >= label.size() ? line.substr(label.size()) : "";
  EXPECT_TRUE(istimefield(number)) << line;
  return number[0] == '*' ? NAN : std::atof(number.c_str());
}

TEST(Bench1, ReportShape) {
  const std::string path = benchpath();
  if (path.empty()) GTEST_SKIP() << "bench1 location unknown: build with BENCH1_PATH or set $BENCH1";
  const BenchRun run = runbench(path);
  ASSERT_TRUE(WIFEXITED(run.status)) << "bench1 did not exit normally: " << path;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  ASSERT_FALSE(run.output.empty()) << "no output from " << path;
  ASSERT_EQ(run.output.back(), '\n');

  std::int32_t nproc = 0;
  getcpus(nproc);
  const std::int32_t passes = nproc > 0 ? nproc : 0;
  const std::vector<std::string> lines = splitlines(run.output);
  ASSERT_EQ(lines.size(), std::size_t(2 + 6 * passes + 1)) << run.output;
  EXPECT_EQ(lines[0], " Number of equations:      2000000");
  EXPECT_EQ(lines[1], " Half bandwidth:            8");

  for (std::int32_t i = 1; i <= passes; ++i) {
    SCOPED_TRACE(::testing::Message() << "pass " << i);
    const auto* block = &lines[2 + 6 * (i - 1)];
    EXPECT_EQ(block[0], "");
    char count[16];
    std::snprintf(count, sizeof count, "%2d", i);
    const std::string expected = i == 1 ? std::string(" Processor:  1")
                                        : " Processors: " + std::string(i < 100 ? count : "**");
    EXPECT_EQ(block[1], expected);
    const double elapsed = timevalue(block[2], " Elapsed Time (Seconds): ");
    const double user = timevalue(block[3], " CPU Time in User Mode (Seconds): ");
    const double kernel = timevalue(block[4], " CPU Time in Kernel Mode (Seconds): ");
    const double total = timevalue(block[5], " Total CPU Time (Seconds): ");
    EXPECT_GE(elapsed, 0.0);
    EXPECT_GE(user, 0.0);
    EXPECT_GE(kernel, 0.0);
    // Each printed value is within half a hundredth of the one it shows.
    EXPECT_NEAR(total, user + kernel, 0.0151);
  }
  EXPECT_EQ(lines.back(), "");
}

}  // namespace
