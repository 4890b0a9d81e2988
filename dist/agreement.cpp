#include "dist/agreement.hpp"

#include <algorithm>
#include <limits>

namespace dist {

bool usable(MPI_Comm comm) {
  if (comm == MPI_COMM_NULL) return false;
  int inter = 0;
  MPI_Comm_test_inter(comm, &inter);
  return inter == 0;
}

namespace {

constexpr int fields = sizeof(callargs) / sizeof(std::int64_t);

// The code nearest to -1 of a list of codes (0 for none).
int nearest(int a, int b) {
  if (a == 0) return b;
  if (b == 0) return a;
  return std::max(a, b);
}

}  // namespace

int agree(MPI_Comm comm, const callargs& mine, const argcodes& codes, std::vector<rows>& columns) {
  int ranks = 0;
  MPI_Comm_size(comm, &ranks);
  std::vector<callargs> all(ranks);
  MPI_Allgather(&mine, fields, MPI_INT64_T, all.data(), fields, MPI_INT64_T, comm);
  int code = 0;
  for (const callargs& a : all) code = nearest(code, static_cast<int>(a.code));
  if (code != 0) return code;
  const callargs& root = all[0];
  for (const callargs& a : all) {
    if (a.kind != root.kind) code = nearest(code, codes.comm);
    if (a.uplo != root.uplo) code = nearest(code, codes.uplo);
    if (a.n != root.n) code = nearest(code, codes.n);
    if (a.m != root.m) code = nearest(code, codes.m);
    if (a.nrhs != root.nrhs) code = nearest(code, codes.nrhs);
  }
  if (code != 0) return code;
  columns.assign(ranks, rows{});
  std::int64_t next = 1;
  for (int r = 0; r < ranks; ++r) {
    if (all[r].ncols == 0) {
      columns[r] = {next, next - 1};
      continue;
    }
    if (all[r].first != next) return codes.first;
    columns[r] = {next, next + all[r].ncols - 1};
    next += all[r].ncols;
  }
  return next == root.n + 1 ? 0 : codes.ncols;
}

int agreesolve(MPI_Comm comm, int code, std::int32_t nrhs, int nrhscode) {
  // MAX over {code or the lowest int, nrhs, -nrhs}: the code nearest to
  // -1, and the largest and smallest nrhs.
  std::int64_t v[3] = {code != 0 ? code : std::numeric_limits<int>::min(), nrhs, -std::int64_t{nrhs}};
  MPI_Allreduce(MPI_IN_PLACE, v, 3, MPI_INT64_T, MPI_MAX, comm);
  if (v[0] != std::numeric_limits<int>::min()) return static_cast<int>(v[0]);
  return v[1] != -v[2] ? nrhscode : 0;
}

int agreeoutcome(MPI_Comm comm, int outcome) {
  MPI_Allreduce(MPI_IN_PLACE, &outcome, 1, MPI_INT, MPI_MAX, comm);
  return outcome;
}

}  // namespace dist
