#include "dist/plan.hpp"

#include <algorithm>

namespace dist {

plan makeplan(std::int64_t n, std::int64_t mc, const std::vector<rows>& columns, int rank) {
  plan p;
  p.whole = partitioned::partitionlayout(n, mc);
  p.columns = columns;
  p.rank = rank;
  const int ranks = static_cast<int>(columns.size());
  p.firstpart.assign(ranks, 1);
  p.lastpart.assign(ranks, 0);
  // Ranks in order, partitions in order: each partition goes to the rank
  // whose columns hold its first equation.
  int r = 0;
  for (std::int64_t part = 1; part <= p.whole.parts; ++part) {
    const std::int64_t equation = p.whole.first(part);
    while (columns[r].count() == 0 || columns[r].last < equation) ++r;
    if (p.lastpart[r] < p.firstpart[r]) p.firstpart[r] = part;
    p.lastpart[r] = part;
  }
  return p;
}

partitioned::layout plan::windowof(int r) const {
  return partitioned::window(whole, firstpart[r], lastpart[r]);
}

rows plan::windowrows(int r) const {
  if (!holds(r)) return {};
  const partitioned::layout w = windowof(r);
  return {w.offset + 1, w.offset + w.windowrows()};
}

rows plan::solvedrows(int r) const {
  rows all = windowrows(r);
  if (holds(r) && firstpart[r] > 1) all.first = whole.first(firstpart[r]);
  return all;
}

int plan::previous() const {
  if (!holds(rank)) return -1;
  for (int r = rank - 1; r >= 0; --r) {
    if (holds(r)) return r;
  }
  return -1;
}

int plan::next() const {
  if (!holds(rank)) return -1;
  for (int r = rank + 1; r < ranks(); ++r) {
    if (holds(r)) return r;
  }
  return -1;
}

}  // namespace dist
