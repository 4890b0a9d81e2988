// Processor and task counts: the platform binding, the cap settasks applies
// and the default of gettasks, all against the platform's own answer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "runtime/runtime.hpp"

namespace {

std::int32_t platformprocessors() { return static_cast<std::int32_t>(::sysconf(_SC_NPROCESSORS_CONF)); }

TEST(Counts, BindingAndGetcpusGiveThePlatformsAnswer) {
  for (std::int32_t selector : {_SC_NPROCESSORS_CONF, _SC_CLK_TCK})
    EXPECT_EQ(binding::sysconf(selector), static_cast<std::int32_t>(::sysconf(selector)));
  std::int32_t n = -7;
  getcpus(n);
  EXPECT_EQ(n, platformprocessors());
  EXPECT_GT(n, 0);
}

TEST(Counts, SettasksCapsAtProcessorsAndThirtyTwo) {
  const std::int32_t cpus = platformprocessors();
  for (std::int32_t request : {1, 2, cpus - 1, cpus, cpus + 1, 31, 32, 33, 40, 1000}) {
    if (request < 1) continue;
    settasks(request);
    std::int32_t n = -7;
    gettasks(n);
    EXPECT_EQ(n, std::min({request, cpus, 32})) << "request " << request;
  }
}

TEST(Counts, UnsetCountDefaultsToAllProcessorsWithoutTheCap) {
  const std::int32_t cpus = platformprocessors();
  const std::int32_t zero = 0;
  settasks(zero);  // leaves the count unset
  std::int32_t n = -7;
  gettasks(n);
  EXPECT_EQ(n, cpus);

  settasks(1);
  resettasks();
  gettasks(n);
  EXPECT_EQ(n, cpus);
}

}  // namespace
