// The C interface in host processes: task counts that follow the CPUs a
// thread may use (affinity mask, control group quota), task counts of one
// call that leave the process-wide one alone, and the C++ header's
// templates and exceptions.

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <csp/csp.hpp>
#include "capi/tasks.hpp"
#include "runtime/runtime.hpp"

namespace {

namespace fs = std::filesystem;

// A scratch folder laid out like /sys/fs/cgroup, removed at the end.
class CgroupTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("csp-cgroup-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  void write(const std::string& path, const std::string& text) {
    fs::create_directories((root_ / path).parent_path());
    std::ofstream(root_ / path) << text;
  }
  std::int32_t cpus(const std::string& membership) {
    return capi::cgroupcpus(root_.string(), membership);
  }
  fs::path root_;
};

TEST_F(CgroupTree, Version2QuotaIsTheSmallestUpTheTree) {
  EXPECT_EQ(cpus("0::/\n"), 0) << "no cpu.max anywhere";
  write("cpu.max", "max 100000\n");
  write("jobs/cpu.max", "max 100000\n");
  write("jobs/one/cpu.max", "max 100000\n");
  EXPECT_EQ(cpus("0::/jobs/one\n"), 0) << "no limit is no quota";
  write("jobs/one/cpu.max", "150000 100000\n");
  EXPECT_EQ(cpus("0::/jobs/one\n"), 2) << "1.5 processors round up";
  write("jobs/cpu.max", "100000 100000\n");
  EXPECT_EQ(cpus("0::/jobs/one\n"), 1) << "the parent's quota is smaller";
  // A container's own group, mounted as the root, named by its host path.
  write("cpu.max", "300000 100000\n");
  EXPECT_EQ(cpus("0::/docker/abc\n"), 3);
}

TEST_F(CgroupTree, Version1QuotaOfTheCpuController) {
  const std::string membership =
      "12:pids:/x\n4:cpu,cpuacct:/batch/job\n3:memory:/batch/job\n1:name=systemd:/\n";
  write("cpu/batch/job/cpu.cfs_quota_us", "-1\n");
  write("cpu/batch/job/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(cpus(membership), 0) << "quota -1 is none";
  write("cpu/batch/job/cpu.cfs_quota_us", "250000\n");
  EXPECT_EQ(cpus(membership), 3);
  write("cpu/batch/cpu.cfs_quota_us", "50000\n");
  write("cpu/batch/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(cpus(membership), 1) << "half a processor is one task";
  EXPECT_EQ(cpus("4:cpuacct:/batch/job\n"), 0) << "only the cpu controller counts";
  EXPECT_EQ(cpus("garbage\n\n::\n0::relative/path\n"), 0);
}

// Runs f on a new thread whose affinity mask holds CPU 0 alone.
template <class F>
void onfirstcpu(F f) {
  std::thread pinned([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    f();
  });
  pinned.join();
}

TEST(TaskCount, FollowsTheAffinityMask) {
  csp_set_tasks(32);
  const std::int32_t everywhere = csp_get_tasks();
  EXPECT_EQ(everywhere, std::min(capi::usablecpus(), capi::mosttasks));
  onfirstcpu([] {
    EXPECT_EQ(capi::usablecpus(), 1);
    EXPECT_EQ(csp_get_tasks(), 1);
    EXPECT_EQ(capi::calltasks(2), 1) << "a call's own count is capped as well";
  });
  EXPECT_EQ(csp_get_tasks(), everywhere) << "the mask is the calling thread's";
  // The runtime's own count stays the configured processors'.
  std::int32_t configured = 0, runtime = 0;
  getcpus(configured);
  gettasks(runtime);
  EXPECT_EQ(runtime, std::min(configured, 32));
  csp_set_tasks(0);
}

TEST(TaskCount, CallsOwnCountLeavesTheProcessCountAlone) {
  csp_set_tasks(2);
  const std::int32_t before = csp_get_tasks();
  // Band [4, 1] of order n in the solver's layout, b = A * ones.
  const std::int32_t n = 25000;
  auto solveone = [n](std::int32_t tasks) {
    std::vector<double> ab(2 * std::size_t(n)), b(n, 6.0);
    for (std::int32_t j = 0; j < n; ++j) ab[2 * std::size_t(j)] = 4, ab[2 * std::size_t(j) + 1] = 1;
    b.front() = b.back() = 5.0;
    EXPECT_EQ(csp_solve_tasks_d('L', n, 1, 1, ab.data(), 2, b.data(), n, tasks), 0);
    return b;
  };
  const std::vector<double> reference = solveone(0);
  std::vector<std::thread> threads;
  for (std::int32_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 10; ++k) EXPECT_EQ(solveone(1 + (t + k) % 3), reference);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(csp_get_tasks(), before);
  csp_set_tasks(0);
}

// The C++ header: one template per family for the four element types, on
// pointers or containers, and exceptions for every kind of failure.
template <class T>
class CppHeader : public ::testing::Test {};
using kinds = ::testing::Types<float, double, std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(CppHeader, kinds);

TYPED_TEST(CppHeader, SolvesFactorsAndThrows) {
  using T = TypeParam;
  // [[4, 1], [1, 4]] in lower storage; x = (1, 2).
  const std::vector<T> band = {T(4), T(1), T(4), T(0)};
  std::vector<T> ab = band, b = {T(6), T(9)};
  csp::solve('L', 1, ab, b);
  EXPECT_NEAR(std::abs(b[0] - T(1)), 0, 1e-5);
  EXPECT_NEAR(std::abs(b[1] - T(2)), 0, 1e-5);

  std::vector<T> factor = band, x = {T(6), T(9), T(1), T(4)};  // two right-hand sides
  csp::factor('L', 1, factor);
  csp::factor_solve('L', 1, factor, x);
  EXPECT_NEAR(std::abs(x[1] - T(2)), 0, 1e-5);
  EXPECT_NEAR(std::abs(x[2]), 0, 1e-5);
  EXPECT_NEAR(std::abs(x[3] - T(1)), 0, 1e-5);

  std::vector<T> singular = {T(0), T(1), T(4), T(0)}, y = {T(1), T(1)};
  try {
    csp::solve('L', 1, singular, y);
    ADD_FAILURE() << "a zero pivot went unreported";
  } catch (const csp::not_positive_definite& e) {
    EXPECT_GT(e.info(), 0);
  }

  ab = band;
  try {
    csp::solve('L', 2, 1, 1, ab.data(), 1, b.data(), 2);
    ADD_FAILURE() << "ldab < m+1 went unreported";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "csp::solve: argument 6 (ldab) is invalid");
  }
  EXPECT_THROW(csp::factor<T>('X', 2, 1, ab.data(), 2), std::invalid_argument);
  EXPECT_THROW(csp::solve('L', 1, ab, b, -1), std::invalid_argument);
  std::vector<T> odd(3), rhs(3);
  EXPECT_THROW(csp::solve('L', 1, odd, rhs), std::invalid_argument) << "3 entries, m+1 = 2";
  std::vector<T> empty;
  EXPECT_NO_THROW(csp::solve('U', 4, empty, empty));
}

}  // namespace
