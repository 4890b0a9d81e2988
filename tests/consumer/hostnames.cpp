// A host program with names of its own that the library's internals also
// use (gettasks, settasks, getcpus, blockwidth, orvekdone): it links with
// either installed library, whose only global names are csp_*.

#include <csp/csp.h>

#include <cstdint>
#include <cstdio>

static std::int32_t hosttasks = 7;
void gettasks(std::int32_t& n) { n = hosttasks; }
void settasks(const std::int32_t& n) { hosttasks = n; }
void getcpus(std::int32_t& n) { n = 1; }
std::int32_t blockwidth(const std::int32_t& m) { return m; }
void orvekdone() {}

int main() {
  double ab[4] = {4, 1, 4, 0}, b[2] = {5, 5};
  settasks(3);
  std::int32_t mine = 0;
  gettasks(mine);
  const int info = csp_solve_d('L', 2, 1, 1, ab, 2, b, 2);
  if (info != 0 || mine != 3 || blockwidth(4) != 4) return 1;
  std::printf("x(1) = %.15g, x(2) = %.15g\n", b[0], b[1]);
  return 0;
}
