// Test systems of cspbench.

#include "tools/testsystem.hpp"

#include <complex>

#include "bench/complexsystem.hpp"
#include "bench/generate.hpp"

namespace {

void build(testsystem<float>& s) {
  generatedata(s.band.data(), s.b.data(), s.x.data(), s.n, s.m, s.nrhs);
}
void build(testsystem<double>& s) {
  generatedata_8(s.band.data(), s.b.data(), s.x.data(), s.n, s.m, s.nrhs);
}
void build(testsystem<std::complex<float>>& s) {
  complexsystem_z4(s.band.data(), s.b.data(), s.x.data(), s.n, s.m, s.nrhs);
}
void build(testsystem<std::complex<double>>& s) {
  complexsystem_z8(s.band.data(), s.b.data(), s.x.data(), s.n, s.m, s.nrhs);
}

}  // namespace

template <class T>
testsystem<T> buildtestsystem(std::int32_t n, std::int32_t m, std::int32_t nrhs) {
  testsystem<T> s;
  s.n = n;
  s.m = m;
  s.nrhs = nrhs;
  s.band.assign(static_cast<std::size_t>(std::int64_t(m + 1) * n), T(0));
  s.b.assign(static_cast<std::size_t>(std::int64_t(n) * nrhs), T(0));
  s.x.assign(s.b.size(), T(0));
  build(s);
  return s;
}

template testsystem<float> buildtestsystem<float>(std::int32_t, std::int32_t, std::int32_t);
template testsystem<double> buildtestsystem<double>(std::int32_t, std::int32_t, std::int32_t);
template testsystem<std::complex<float>> buildtestsystem<std::complex<float>>(std::int32_t,
                                                                              std::int32_t,
                                                                              std::int32_t);
template testsystem<std::complex<double>> buildtestsystem<std::complex<double>>(std::int32_t,
                                                                                std::int32_t,
                                                                                std::int32_t);

std::size_t elementbytes(const std::string& kind) {
  if (kind == "4") return sizeof(float);
  if (kind == "8") return sizeof(double);
  if (kind == "z4") return sizeof(std::complex<float>);
  return sizeof(std::complex<double>);
}

double problembytes(const benchoptions& options) {
  const double n = options.n, m = options.m, nrhs = options.nrhs;
  const double band = (m + 1) * n;
  const double work = options.method == "mesolution" ? 2 * n * m : 0;
  const bool realkind = options.kind == "4" || options.kind == "8";
  // The condition estimate: 2N reals and N integers.
  const double condition = realkind ? n * (2.0 * elementbytes(options.kind) + 4.0) : 0;
  return static_cast<double>(elementbytes(options.kind)) * (2 * band + 3 * n * nrhs + work) +
         condition;
}
