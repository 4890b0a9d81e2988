// The link of a window to the windows before and after it, over MPI: what
// the partitioned factorization and its solves exchange along the chain of
// the reduced system. A send packs its block, so the window may change the
// rows it sent at once; the sends complete by complete().
#pragma once

#include <mpi.h>

#include <deque>
#include <vector>

#include "dist/messages.hpp"
#include "solver/partitioned.hpp"

namespace dist {

template <class T>
class neighbours final : public partitioned::link<T> {
 public:
  neighbours(MPI_Comm comm, int previous, int next) : comm_(comm), previous_(previous), next_(next) {}
  ~neighbours() override { complete(); }

  void toprevious(const T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) override {
    send(block, rows, ld, cols, previous_, towardprevious);
  }
  void tonext(const T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) override {
    send(block, rows, ld, cols, next_, towardnext);
  }
  void fromprevious(T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) override {
    receive(block, rows, ld, cols, previous_, towardnext);
  }
  void fromnext(T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) override {
    receive(block, rows, ld, cols, next_, towardprevious);
  }
  void complete() { dist::complete(pending_); }

 private:
  void send(const T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols, int peer, int tag) {
    std::vector<T>& packed = packs_.emplace_back(rows * cols);
    for (std::int64_t c = 0; c < cols; ++c) std::copy_n(block + c * ld, rows, packed.data() + c * rows);
    post(true, packed.data(), rows, rows, cols, peer, tag, comm_, pending_);
  }
  void receive(T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols, int peer, int tag) {
    std::vector<MPI_Request> request;
    post(false, block, rows, ld, cols, peer, tag, comm_, request);
    dist::complete(request);
  }

  MPI_Comm comm_;
  int previous_, next_;
  std::deque<std::vector<T>> packs_;
  std::vector<MPI_Request> pending_;
};

}  // namespace dist
