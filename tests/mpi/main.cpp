// The distributed tests' main: every rank runs every test; rank 0 alone
// prints gtest's report, the other ranks print only their failures, marked
// with their rank; the run fails on every rank when a test failed on any.

#include <gtest/gtest.h>
#include <mpi.h>

#include <cstdio>

namespace {

// Prints a failed assertion of a rank other than 0, which has no printer.
class rankfailures : public ::testing::EmptyTestEventListener {
 public:
  explicit rankfailures(int rank) : rank_(rank) {}
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (!result.failed()) return;
    std::fprintf(stderr, "[rank %d] %s:%d: failure\n%s\n", rank_,
                 result.file_name() ? result.file_name() : "?", result.line_number(),
                 result.message());
  }

 private:
  int rank_;
};

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  if (rank != 0) {
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
    listeners.Append(new rankfailures(rank));
  }
  int failed = RUN_ALL_TESTS() != 0 ? 1 : 0;
  MPI_Allreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  MPI_Finalize();
  return failed;
}
