// Line and field formatting of the benchmark report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// freeformatline(text, value)
//   text  (in) the text item, printed as given.
//   value (in) the integer after it.
//   Returns one blank, the text, one blank and the value right-aligned in
//   11 columns, without the line feed: " Half bandwidth:            8".
std::string freeformatline(std::string_view text, const std::int32_t& value);

// countfield(count)
//   count (in) a task count.
//   Returns count right-aligned in 2 columns, or "**" when it does not fit
//   (100 or more, -10 or less).
std::string countfield(const std::int32_t& count);

// timefield(seconds)
//   seconds (in) a time.
//   Returns seconds right-aligned in 8 columns with 2 decimals and a digit
//   before the point ("    0.50"), rounded to the nearest hundredth with an
//   exact tie of the float's exact value rounded away from zero (0.125 gives
//   "    0.13"). A value that does not fit after rounding (100000.00 or
//   more, -10000.00 or less) or is not finite gives "********". A value that
//   rounds to zero prints without a sign.
std::string timefield(const float& seconds);
