// The window steps of the partitioned factorization, run as a distributed
// solve runs them but within one process: the partitions split into
// windows, each window on its own thread with only its own rows of the band
// (in separate pieces) and of B, its neighbours reached through in-process
// mailboxes. The windows' solution must be the bits of the whole system's
// factorization and solve, and a rejected pivot must let every window's
// chain finish.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "solver/partitioned.hpp"
#include "tests/oracle.hpp"
#include "tests/solves.hpp"

namespace {

using partitioned::layout;

template <class T>
T notanumber() {
  return T(std::numeric_limits<real_t<T>>::quiet_NaN());
}

// The messages one window sends one neighbour, in the order sent. A
// receive waits for its message, a minute at most: a chain whose sends and
// receives do not pair up fails the test rather than hanging it.
template <class T>
class mailbox {
 public:
  void send(const T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) {
    std::vector<T> packed(static_cast<std::size_t>(rows * cols));
    for (std::int64_t c = 0; c < cols; ++c)
      std::copy_n(block + c * ld, rows, packed.data() + c * rows);
    {
      const std::lock_guard hold(lock_);
      messages_.push_back(std::move(packed));
    }
    arrived_.notify_one();
  }
  void receive(T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) {
    std::unique_lock hold(lock_);
    if (!arrived_.wait_for(hold, std::chrono::minutes(1), [&] { return !messages_.empty(); })) {
      ADD_FAILURE() << "a window waits for a message never sent";
      return;
    }
    const std::vector<T> packed = std::move(messages_.front());
    messages_.pop_front();
    hold.unlock();
    ASSERT_EQ(static_cast<std::int64_t>(packed.size()), rows * cols)
        << "a message received as a block of another size";
    for (std::int64_t c = 0; c < cols; ++c)
      std::copy_n(packed.data() + c * rows, rows, block + c * ld);
  }
  bool empty() {
    const std::lock_guard hold(lock_);
    return messages_.empty();
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<std::vector<T>> messages_;
};

// Mailboxes between consecutive windows, one per direction: forward[k]
// carries window k's messages to window k+1, backward[k] the replies.
template <class T>
struct mailboxes {
  std::deque<mailbox<T>> forward, backward;
  explicit mailboxes(std::size_t windows) : forward(windows - 1), backward(windows - 1) {}
  bool allreceived() {
    for (auto* direction : {&forward, &backward}) {
      for (mailbox<T>& box : *direction) {
        if (!box.empty()) return false;
      }
    }
    return true;
  }
};

// Window k's link: a message to a neighbour it does not have fails.
template <class T>
class threadlink final : public partitioned::link<T> {
 public:
  threadlink(mailboxes<T>& boxes, std::size_t k)
      : toprevious_(k > 0 ? &boxes.backward[k - 1] : nullptr),
        fromprevious_(k > 0 ? &boxes.forward[k - 1] : nullptr),
        tonext_(k < boxes.forward.size() ? &boxes.forward[k] : nullptr),
        fromnext_(k < boxes.forward.size() ? &boxes.backward[k] : nullptr) {}

  void toprevious(const T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) override {
    if (reachable(toprevious_)) toprevious_->send(block, rows, ld, cols);
  }
  void tonext(const T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) override {
    if (reachable(tonext_)) tonext_->send(block, rows, ld, cols);
  }
  void fromprevious(T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) override {
    if (reachable(fromprevious_)) fromprevious_->receive(block, rows, ld, cols);
  }
  void fromnext(T* block, std::int64_t rows, std::int64_t ld, std::int64_t cols) override {
    if (reachable(fromnext_)) fromnext_->receive(block, rows, ld, cols);
  }

 private:
  static bool reachable(const mailbox<T>* box) {
    if (box == nullptr) ADD_FAILURE() << "a message to or from beyond the first or last window";
    return box != nullptr;
  }
  mailbox<T>* toprevious_;
  mailbox<T>* fromprevious_;
  mailbox<T>* tonext_;
  mailbox<T>* fromnext_;
};

// What one window holds: its rows of the band in the solver's storage, in
// up to three runs of whole columns, each run an allocation of its own (as
// a distributed window holds the columns it reads where they lie between
// copies of those around them), the entries that couple to rows past the
// window NaN, so that a read of one shows in the result; its rows of B
// (leading dimension three past its rows); and its factorization.
template <class T>
struct windowshare {
  layout shape;
  std::vector<T> pieces[3];
  std::int64_t starts[4] = {1, 1, 1, 1};  // piece k: window columns starts[k] .. starts[k+1]-1
  int piececount;
  std::vector<T> b;
  std::int64_t ldb = 0;
  partitioned::factorization<T>* f = nullptr;
  partitioned::outcome grouped = partitioned::outcome::outofmemory;
  bool chained = false;

  windowshare(const oracle::bandsystem<T>& s, const layout& window, int runs,
              const std::vector<T>& rhs, std::int32_t nrhs)
      : shape(window), piececount(runs) {
    const std::int64_t rows = shape.windowrows(), depth = s.m + 1;
    for (int k = 0; k < piececount; ++k) {
      starts[k] = 1 + k * rows / piececount;
      starts[k + 1] = 1 + (k + 1) * rows / piececount;
      for (std::int64_t j = starts[k]; j < starts[k + 1]; ++j) {
        for (std::int64_t e = 0; e < depth; ++e) {
          pieces[k].push_back(j + e <= rows ? s.band[(shape.offset + j - 1) * depth + e]
                                            : notanumber<T>());
        }
      }
    }
    ldb = rows + 3;
    b.assign(static_cast<std::size_t>(ldb * nrhs), notanumber<T>());
    for (std::int32_t h = 0; h < nrhs; ++h) {
      std::copy_n(&rhs[h * s.n + shape.offset], rows, &b[h * ldb]);
    }
  }
  ~windowshare() { partitioned::release(f); }
  windowshare(const windowshare&) = delete;
  windowshare& operator=(const windowshare&) = delete;

  piecedband<const T> band() const {
    const T* const at[3] = {pieces[0].data(), pieces[1].data(), pieces[2].data()};
    return piecedband<const T>(at, starts, piececount, shape.m);
  }
};

// The windows of the whole cut `shape`: window k holds partitions
// lasts[k-1]+1 .. lasts[k], its band in 3, 2, 1, 3, ... runs.
template <class T>
std::deque<windowshare<T>> splitwindows(const oracle::bandsystem<T>& s, const layout& shape,
                                        const std::vector<std::int64_t>& lasts,
                                        const std::vector<T>& rhs, std::int32_t nrhs) {
  std::deque<windowshare<T>> windows;
  std::int64_t first = 1;
  for (const std::int64_t last : lasts) {
    const int runs = 3 - static_cast<int>(windows.size() % 3);
    windows.emplace_back(s, partitioned::window(shape, first, last), runs, rhs, nrhs);
    first = last + 1;
  }
  return windows;
}

// Runs `step` for every window on a thread of its own, window k with its
// link, and waits for all of them.
template <class T, class Step>
void onthreads(std::deque<windowshare<T>>& windows, mailboxes<T>& boxes, Step step) {
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < windows.size(); ++k) {
    threads.emplace_back([&, k] {
      threadlink<T> link(boxes, k);
      step(windows[k], link, static_cast<std::int32_t>(1 + k % 2));
    });
  }
  for (std::thread& t : threads) t.join();
}

// Factors every window: its groups, then its share of the reduced system,
// the latter whatever the former gave.
template <class T>
void factorwindows(std::deque<windowshare<T>>& windows, mailboxes<T>& boxes) {
  onthreads(windows, boxes, [](windowshare<T>& w, threadlink<T>& link, std::int32_t tasks) {
    w.grouped = partitioned::factorgroups(w.band(), w.shape, tasks, w.f);
    w.chained = w.f != nullptr && partitioned::factorseparators(*w.f, link);
  });
}

// Solves with the windows' factorizations: forward passes, the chain of
// the separators, backward passes.
template <class T>
void solvewindows(std::deque<windowshare<T>>& windows, mailboxes<T>& boxes, std::int32_t nrhs) {
  onthreads(windows, boxes, [nrhs](windowshare<T>& w, threadlink<T>& link, std::int32_t tasks) {
    const bool last = w.shape.lastheld == w.shape.parts;
    std::vector<T> beyond(static_cast<std::size_t>(w.shape.m * nrhs));
    EXPECT_TRUE(partitioned::solvegroups(*w.f, w.b.data(), w.ldb, nrhs, tasks, true));
    partitioned::solveseparators(*w.f, w.b.data(), w.ldb, nrhs, link,
                                 last ? nullptr : beyond.data());
    EXPECT_TRUE(partitioned::solvegroups(*w.f, w.b.data(), w.ldb, nrhs, tasks, false));
  });
}

// The windows' solution as one n x nrhs array: each window's rows but its
// left separator, which must hold the bits the window before solved.
template <class T>
std::vector<T> assemble(const std::deque<windowshare<T>>& windows, std::int64_t n,
                        std::int32_t nrhs) {
  std::vector<T> x(static_cast<std::size_t>(n * nrhs));
  for (const windowshare<T>& w : windows) {
    const std::int64_t shared = w.shape.firstheld > 1 ? w.shape.m : 0;
    for (std::int32_t h = 0; h < nrhs; ++h) {
      const T* const from = &w.b[h * w.ldb];
      T* const to = &x[h * n + w.shape.offset];
      EXPECT_EQ(std::memcmp(from, to, shared * sizeof(T)), 0)
          << "the left separator of the window from partition " << w.shape.firstheld;
      std::copy(from + shared, from + w.shape.windowrows(), to + shared);
    }
  }
  return x;
}

// A system cut into `parts` partitions (0: the library's cut), the last
// partition of each window, and the right-hand sides.
struct windowcase {
  std::int32_t n, m, parts;
  std::vector<std::int64_t> lasts;
  std::int32_t nrhs;
};

layout cutof(const windowcase& c) {
  return c.parts > 0 ? partitioned::cut(c.n, c.m, c.parts) : partitioned::partitionlayout(c.n, c.m);
}

template <class T>
class Windows : public ::testing::Test {};
TYPED_TEST_SUITE(Windows, oracle::element_kinds);

// Windows of one partition first, last and between, uneven windows, the
// library's cut of hundreds of partitions, separators of width 0 and 16,
// one to six right-hand sides.
TYPED_TEST(Windows, SolveAsTheWholeSystem) {
  using T = TypeParam;
  const windowcase cases[] = {{2000, 3, 9, {3, 4, 9}, 3},
                              {20000, 2, 0, {1, 100, 255, 256}, 6},
                              {600, 7, 5, {2, 5}, 1},
                              {64, 0, 20, {7, 13, 20}, 6},
                              {5000, 16, 0, {5, 6, 16}, 5}};
  for (const windowcase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "n " << c.n << " m " << c.m << " windows "
                                      << c.lasts.size() << " nrhs " << c.nrhs);
    const layout shape = cutof(c);
    ASSERT_EQ(shape.parts, c.lasts.back());
    const auto s = oracle::makesystem<T>(c.n, c.m, 21);
    const auto rhs = oracle::randomvector<T>(std::int64_t{c.n} * c.nrhs, 22);
    partitioned::factorization<T>* whole = nullptr;
    ASSERT_EQ(partitioned::factorize(s.band.data(), c.n, c.m, 2, whole, &shape),
              partitioned::outcome::factored);
    std::vector<T> expected = rhs;
    EXPECT_TRUE(partitioned::solve(*whole, expected.data(), c.n, c.nrhs, 2));
    partitioned::release(whole);
    EXPECT_LT(oracle::residualratio(s, rhs, expected, c.nrhs), 30);

    auto windows = splitwindows(s, shape, c.lasts, rhs, c.nrhs);
    mailboxes<T> boxes(windows.size());
    factorwindows(windows, boxes);
    for (const windowshare<T>& w : windows) {
      ASSERT_EQ(w.grouped, partitioned::outcome::factored) << "window at " << w.shape.firstheld;
      ASSERT_TRUE(w.chained) << "window at " << w.shape.firstheld;
    }
    ASSERT_TRUE(boxes.allreceived());
    solvewindows(windows, boxes, c.nrhs);
    EXPECT_TRUE(boxes.allreceived());
    EXPECT_TRUE(solves::samebits(assemble(windows, c.n, c.nrhs), expected));
  }
}

// A pivot rejected in the last window's partitions (its share of the
// reduced system factored all the same, from what its groups left), in its
// share of the reduced system, or in the first window's share, after which
// the later windows go on with a coupling of zeros: the whole system is
// rejected, the window that meets the pivot says so, the windows before a
// separator's rejection factor theirs, and every window's chain finishes
// with every message received.
TYPED_TEST(Windows, RejectedPivotEndsEveryChain) {
  using T = TypeParam;
  const windowcase c{2000, 3, 9, {3, 6, 9}, 1};
  const layout shape = cutof(c);
  struct rejection {
    std::int64_t row;
    std::size_t window;
    bool ingroups;  // in the window's partitions, else in its separators
  };
  const rejection rejections[] = {
      {c.n - 1, 2, true}, {shape.separator(8), 2, false}, {shape.separator(2) + 1, 0, false}};
  for (const rejection& r : rejections) {
    SCOPED_TRACE(::testing::Message() << "row " << r.row);
    auto s = oracle::makesystem<T>(c.n, c.m, 23);
    for (std::int64_t j = std::max<std::int64_t>(1, r.row - c.m); j <= r.row; ++j)
      s.at()(r.row, j) = T(0);
    for (std::int64_t i = r.row; i <= std::min<std::int64_t>(c.n, r.row + c.m); ++i)
      s.at()(i, r.row) = T(0);
    partitioned::factorization<T>* whole = nullptr;
    EXPECT_EQ(partitioned::factorize(s.band.data(), c.n, c.m, 1, whole, &shape),
              partitioned::outcome::rejected);

    auto windows = splitwindows(s, shape, c.lasts, oracle::randomvector<T>(c.n, 24), c.nrhs);
    mailboxes<T> boxes(windows.size());
    factorwindows(windows, boxes);
    EXPECT_TRUE(boxes.allreceived());
    for (std::size_t k = 0; k < windows.size(); ++k) {
      const bool here = k == r.window;
      EXPECT_EQ(windows[k].grouped == partitioned::outcome::rejected, here && r.ingroups)
          << "window " << k;
      if (!r.ingroups && k <= r.window) {
        EXPECT_EQ(windows[k].chained, !here) << "window " << k;
      }
    }
  }
}

}  // namespace
