// Report fields: exact rounding of the time field, overflow to asterisks,
// the task count field and the free-format heading line.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <utility>

#include "bench/report.hpp"

namespace {

class TimeField : public ::testing::TestWithParam<std::pair<float, const char*>> {};

TEST_P(TimeField, PrintsExpectedText) {
  const auto& [value, text] = GetParam();
  EXPECT_EQ(timefield(value), text) << "value " << value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, TimeField,
    ::testing::Values(
        // Exact binary ties go away from zero.
        std::pair{0.125f, "    0.13"}, std::pair{0.375f, "    0.38"}, std::pair{1.125f, "    1.13"},
        std::pair{65535.625f, "65535.63"}, std::pair{-0.125f, "   -0.13"},
        // Decimal-looking ties whose float lies below the tie round down.
        std::pair{2.675f, "    2.67"}, std::pair{1.005f, "    1.00"}, std::pair{0.015f, "    0.01"},
        // Plain values.
        std::pair{0.0f, "    0.00"}, std::pair{-0.0f, "    0.00"}, std::pair{0.5f, "    0.50"},
        std::pair{12.25f, "   12.25"}, std::pair{0.004f, "    0.00"}, std::pair{-0.004f, "    0.00"},
        std::pair{-0.5f, "   -0.50"}, std::pair{-9999.99f, "-9999.99"},
        // The upper edge: the float nearest 99999.995 is 99999.9921875.
        std::pair{99999.99f, "99999.99"}, std::pair{99999.995f, "99999.99"},
        std::pair{100000.0f, "********"}, std::pair{1.0e30f, "********"},
        std::pair{-10000.0f, "********"}, std::pair{-100000.0f, "********"},
        std::pair{std::numeric_limits<float>::infinity(), "********"},
        std::pair{std::numeric_limits<float>::quiet_NaN(), "********"}));

// Away from exact ties, correctly rounding printf is an independent oracle.
// At an exact tie in hundredths (a float that is an odd multiple of 1/8)
// the expected text is the neighbour away from zero, where printf would
// take the even one.
TEST(TimeFieldSweep, AgreesWithCorrectRoundingAwayFromTies) {
  std::mt19937 engine(2024);
  std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
  std::uniform_int_distribution<int> exponent(-12, 16);
  char oracle[64];
  for (int k = 0; k < 20000; ++k) {
    float v = std::ldexp(mantissa(engine), exponent(engine)) * (k % 3 == 0 ? -1.0f : 1.0f);
    if (k % 5 == 0) v = std::round(v * 8.0f) / 8.0f;  // plenty of exact ties
    const double hundredths = double(v) * 100.0;     // exact
    const bool tie = hundredths - std::floor(hundredths) == 0.5;
    const double shown = tie ? (hundredths + std::copysign(0.5, hundredths)) / 100.0 : double(v);
    std::snprintf(oracle, sizeof oracle, "%8.2f", shown);
    std::string expected = oracle;
    if (expected.size() > 8) expected = "********";
    if (expected == "   -0.00") expected = "    0.00";
    ASSERT_EQ(timefield(v), expected) << "value " << v;
  }
}

TEST(CountField, TwoColumnsOrAsterisks) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {1, " 1"}, {9, " 9"}, {12, "12"}, {99, "99"}, {100, "**"}, {1000, "**"}, {0, " 0"}, {-9, "-9"}, {-10, "**"}};
  for (const auto& [count, text] : cases) EXPECT_EQ(countfield(count), text) << count;
}

TEST(FreeFormatLine, HeadingsAndFieldWidth) {
  EXPECT_EQ(freeformatline("Number of equations: ", 2000000), " Number of equations:      2000000");
  EXPECT_EQ(freeformatline("Half bandwidth: ", 8), " Half bandwidth:            8");
  EXPECT_EQ(freeformatline("x", std::numeric_limits<std::int32_t>::min()), " x -2147483648");
}

}  // namespace
