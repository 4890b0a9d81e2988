#include "solver/partitions.hpp"

namespace partitioned {

layout cut(std::int64_t n, std::int64_t m, std::int64_t parts) {
  layout s;
  s.n = n;
  s.m = m;
  s.parts = parts;
  const std::int64_t equations = n - (parts - 1) * m;  // in the interiors
  s.rows = (equations + parts - 1) / parts;
  s.longer = equations - parts * (s.rows - 1);
  s.lastheld = parts;
  return s;
}

layout window(const layout& s, std::int64_t first, std::int64_t last) {
  layout w = s;
  w.firstheld = first;
  w.lastheld = last;
  w.offset = first > 1 ? s.first(first) - s.m - 1 : 0;
  return w;
}

// An interior is kept at least `shortest` equations long: each partition
// adds work of about 5*M^3 (its couplings to the separators, its share of
// the reduced system, which is solved on one task) to the 4*M^2 per
// equation of its interior, so 16*M equations hold that share near 8%.
// Up to 256 partitions keep 32 groups of 8 lanes for the tasks to share.
layout partitionlayout(std::int64_t n, std::int64_t m) {
  const std::int64_t shortest = std::max<std::int64_t>(16 * m, 64);
  std::int64_t parts = std::clamp<std::int64_t>((n + m) / (shortest + m), 1, 256);
  if (parts >= 16) parts -= parts % 16;
  return cut(n, m, parts);
}

}  // namespace partitioned
