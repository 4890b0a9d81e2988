// Line and field formatting of the benchmark report.

#include "bench/report.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

// text right-aligned in width columns, or width asterisks when it is wider.
std::string rightalign(const std::string& text, std::size_t width) {
  if (text.size() > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

}  // namespace

std::string freeformatline(std::string_view text, const std::int32_t& value) {
  std::string line(1, ' ');
  line.append(text).append(1, ' ').append(rightalign(std::to_string(value), 11));
  return line;
}

std::string countfield(const std::int32_t& count) { return rightalign(std::to_string(count), 2); }

std::string timefield(const float& seconds) {
  constexpr std::size_t width = 8;
  if (!std::isfinite(seconds)) return std::string(width, '*');
  // Widening to double is exact, and so is the product by 100: the float's
  // 24 significant bits times the 7 of 100 fit in double's 53. std::round
  // then takes the exact value half-way cases away from zero, which printf
  // (ties to even on the binary value) does not.
  const double hundredths = std::round(static_cast<double>(seconds) * 100.0);
  // Far beyond anything that fits; keeps the integer conversion in range.
  if (std::fabs(hundredths) >= 1e12) return std::string(width, '*');
  const long long h = static_cast<long long>(hundredths);
  const long long magnitude = h < 0 ? -h : h;
  char text[32];
  std::snprintf(text, sizeof text, "%s%lld.%02lld", h < 0 ? "-" : "", magnitude / 100,
                magnitude % 100);
  return rightalign(text, width);
}
