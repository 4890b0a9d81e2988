// The layouts of cspbench-mpi.

#include "tools/mpi/layout.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

layout evenlayout(std::int64_t n, int processes) {
  layout result{"even", {}};
  const std::int64_t block = (n + processes - 1) / processes;
  for (std::int64_t r = 0; r < processes; ++r) {
    const std::int64_t first = std::min(n + 1, 1 + r * block);
    result.columns.push_back({first, std::min(block, n + 1 - first)});
  }
  return result;
}

layout weightedlayout(std::int64_t n, const std::vector<std::int64_t>& weights,
                      const std::string& name) {
  layout result{name, {}};
  __int128 total = 0;
  for (std::int64_t w : weights) total += w;
  __int128 sum = 0;
  std::int64_t first = 1;
  for (std::int64_t w : weights) {
    sum += w;
    // The boundary of N * sum / total columns, exact in 128 bits.
    const std::int64_t end = static_cast<std::int64_t>(n * sum / total);
    result.columns.push_back({first, end + 1 - first});
    first = end + 1;
  }
  return result;
}

bool parseweights(const std::string& text, std::vector<std::int64_t>& weights, std::string& error) {
  weights.clear();
  std::int64_t total = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t stop = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, stop - start);
    std::int64_t value = 0;
    const auto [end, fault] = std::from_chars(item.data(), item.data() + item.size(), value);
    if (item.empty() || fault != std::errc() || end != item.data() + item.size() || value < 0 ||
        value > std::numeric_limits<std::int32_t>::max()) {
      error = "'" + item + "' is not a weight (a whole number from 0 to 2147483647)";
      return false;
    }
    weights.push_back(value);
    total += value;
    if (stop == text.size()) break;
    start = stop + 1;
  }
  if (total == 0) {
    error = "the weights '" + text + "' sum to 0";
    return false;
  }
  return true;
}

bool makelayout(const std::string& text, std::int64_t n, int processes, layout& result,
                std::string& error) {
  if (text == "even") {
    result = evenlayout(n, processes);
    return true;
  }
  std::vector<std::int64_t> weights;
  if (text == "uneven") {
    for (int r = 1; r <= processes; ++r) weights.push_back(r);
  } else if (!parseweights(text, weights, error)) {
    return false;
  }
  if (weights.size() != static_cast<std::size_t>(processes)) {
    error = "--layout " + text + " gives " + std::to_string(weights.size()) + " weights for " +
            std::to_string(processes) + " processes";
    return false;
  }
  result = weightedlayout(n, weights, text);
  return true;
}
