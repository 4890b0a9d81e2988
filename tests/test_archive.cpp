// The installed archive next to a program that holds its own out-of-line
// copy of an inline function the library also uses (here one of the C
// interface's storage helpers, which the Python extension shares): the
// archive's internal copies must not be discarded in favour of the
// program's, which left the library's references to them dangling and the
// link failing.

#include <csp/csp.h>
#include <gtest/gtest.h>

#include "capi/storage.hpp"

namespace {

// Taking the address makes the compiler emit the copy out of line.
auto* volatile ownedcopy = &capi::copyin<double>;

TEST(Archive, LinksBesideTheProgramsOwnInlineCopies) {
  double ab[4] = {0, 4, 1, 4}, b[2] = {5, 5};
  ASSERT_EQ(csp_solve_d('U', 2, 1, 1, ab, 2, b, 2), 0);  // upper storage: copied in
  EXPECT_DOUBLE_EQ(b[0], 1.0);
  EXPECT_DOUBLE_EQ(b[1], 1.0);
  double compact[3];
  const double lower[4] = {4, 1, 4, 0};
  ownedcopy(capi::lapackband<const double>(lower, 1, 2, true), 2, 1, compact);
  EXPECT_EQ(compact[1], 1.0);
}

}  // namespace
