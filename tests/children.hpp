// Child processes of a test program under a watchdog: a child still running
// at its time limit is killed, so that a hang fails its test instead of
// stopping the suite.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace children {

// How a child ended when it did not exit by itself (exit codes of test
// children stay below these).
inline constexpr int hung = 100;       // still running at the limit, killed
inline constexpr int signalled = 101;  // ended by a signal

// Waits for child, polling, until limit has passed; kills it if it is still
// running then. Returns its exit code, hung or signalled.
inline int await(pid_t child, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return hung;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : signalled;
}

// Expects child to exit with 0 within limit.
inline void expectsuccess(pid_t child, std::chrono::seconds limit) {
  const int end = await(child, limit);
  ASSERT_NE(end, hung) << "the child still ran after " << limit.count() << " s: it hangs";
  ASSERT_NE(end, signalled) << "the child ended by a signal";
  EXPECT_EQ(end, 0) << "the child reported failures (above)";
}

// Runs body in a forked child, which reports its failures as any test does
// and exits with 1 when it had any, and expects it to succeed within limit.
template <class Body>
void inchild(Body body, std::chrono::seconds limit = std::chrono::seconds{300}) {
  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    body();
    std::fflush(stdout);
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  expectsuccess(child, limit);
}

}  // namespace children
