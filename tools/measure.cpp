// Clocks, summary statistics and the operation count of cspbench.

#include "tools/measure.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <limits>

clockreading readclocks() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + 1e-6 * t.tv_usec; };
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return {std::chrono::duration<double>(now).count(), seconds(usage.ru_utime),
          seconds(usage.ru_stime)};
}

interval between(const clockreading& start, const clockreading& end) {
  return {end.wall - start.wall, (end.user - start.user) + (end.system - start.system)};
}

summary summarize(std::vector<double> values) {
  if (values.empty()) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    return {none, none, none};
  }
  std::sort(values.begin(), values.end());
  const std::size_t count = values.size();
  const double median =
      count % 2 == 1 ? values[count / 2] : 0.5 * (values[count / 2 - 1] + values[count / 2]);
  return {median, values.front(), values.back()};
}

// Column j has k = min(M, N-j) entries below its diagonal. The factor costs
// per column 1 square root, k divisions and k(k+1)/2 multiply-subtract
// pairs; the two substitutions per column and right-hand side 2 divisions
// and 2k multiply-subtract pairs. With r = min(M, N) columns short of the
// full band (k = 0 .. r-1) and N - r full ones (k = M):
//   K1 = sum k          = (N-r) M + r(r-1)/2
//   K2 = sum k(k+1)/2   = (N-r) M(M+1)/2 + (r-1) r (r+1)/6
//   multiplicative = N + K1 + K2 + nrhs (2N + 2 K1),  additive = K2 + nrhs 2 K1.
// Real kinds count one flop each; complex kinds 6 real flops for each
// multiplication, division or square root and 2 for each addition or
// subtraction.
double flopcount(std::int64_t n, std::int64_t m, std::int64_t nrhs, bool complexkind) {
  const double dn = static_cast<double>(n), dm = static_cast<double>(m);
  const double r = static_cast<double>(std::min(m, n));
  const double full = dn - r;
  const double k1 = full * dm + r * (r - 1) / 2;
  const double k2 = full * dm * (dm + 1) / 2 + (r - 1) * r * (r + 1) / 6;
  const double rhs = static_cast<double>(nrhs);
  const double multiplicative = dn + k1 + k2 + rhs * (2 * dn + 2 * k1);
  const double additive = k2 + rhs * 2 * k1;
  return complexkind ? 6 * multiplicative + 2 * additive : multiplicative + additive;
}

std::string flopformula() {
  return "GFLOP/s = operation count / median wall time / 1e9. Operation count of band\n"
         "Cholesky plus forward and backward substitution, k = min(M, N-j) entries\n"
         "below the diagonal of column j, summed over j = 1..N:\n"
         "  real kinds:    sum (k+1)^2 + nrhs * sum (4k+2)\n"
         "                 = N(M+1)^2 + nrhs N(4M+2) for N >> M, less the last M columns\n"
         "  complex kinds: sum (4k^2+10k+6) + nrhs * sum (16k+12)\n"
         "                 = N(4M^2+10M+6) + nrhs N(16M+12) for N >> M\n"
         "  Per column: 1 square root, k divisions, k(k+1)/2 multiply-subtract pairs\n"
         "  (factor); 2 divisions and 2k multiply-subtract pairs per right-hand side\n"
         "  (substitution). A complex multiplication, division or square root counts\n"
         "  6 real flops, a complex addition or subtraction 2. The count is the same\n"
         "  for every method and for LAPACK.\n";
}
