// A striped performance record reads as the record it replaces: running
// timings started on one thread and ended on another, carried timings,
// times and minima, under contention too.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "mox/metrics/perf_record.h"
#include "mox/metrics/perf_stripes.h"

namespace {

using End = PerfUpdate::End;
const PerfUpdate kStart{true};
const PerfUpdate kEnd{false, false, 0, -1, 0, -1, End::Finished};

// A thread of its own that runs one piece of work at a time for the caller,
// so that a test decides which thread (and so which stripe) each update takes.
class Worker {
 public:
  Worker() : thread_([this] { loop(); }) {}
  ~Worker() {
    run(nullptr);
    thread_.join();
  }
  // Runs work on the worker and returns when it is done; nullptr ends the worker.
  void run(std::function<void()> work) {
    std::unique_lock<std::mutex> hold(m_);
    work_ = std::move(work);
    pending_ = true;
    changed_.notify_all();
    changed_.wait(hold, [this] { return !pending_; });
  }

 private:
  void loop() {
    for (;;) {
      std::unique_lock<std::mutex> hold(m_);
      changed_.wait(hold, [this] { return pending_; });
      if (!work_) {
        pending_ = false;
        changed_.notify_all();
        return;
      }
      work_();
      pending_ = false;
      changed_.notify_all();
    }
  }

  std::mutex m_;
  std::condition_variable changed_;
  std::function<void()> work_;
  bool pending_ = false;
  std::thread thread_;
};

std::vector<int64_t> fields(const PerfValues& v) {
  return {v.active,        v.finished,  v.terminated,    v.count,     v.sumElapsed,    v.sumCpu,
          v.sumNetElapsed, v.sumNetCpu, v.maxElapsed,    v.maxCpu,    v.maxNetElapsed, v.maxNetCpu,
          v.minElapsed,    v.minCpu,    v.minNetElapsed, v.minNetCpu, v.skipped};
}

// Every order of up to six starts and ends, each on one of three threads in
// turn, with up to two running timings carried in late, then more of both:
// the striped record counts what the plain one counts at every step.
TEST(PerfRecordMtTest, StripedRecordCountsRunningTimingsAsOne) {
  Worker workers[3];
  for (uint32_t running = 0; running <= 2; ++running) {
    for (int length = 0; length <= 6; ++length) {
      for (uint32_t bits = 0; bits < (1u << length); ++bits) {
        CPerfRecord plain(u"K|m"), striped(u"K|m");
        ASSERT_TRUE(striped.spreadUpdates());
        int step = 0;
        const auto both = [&](const PerfUpdate& update) {
          plain.apply(update);
          workers[step++ % 3].run([&] { striped.apply(update); });
        };
        for (int i = 0; i < length; ++i) both((bits >> i) & 1 ? kStart : kEnd);
        plain.carryIn(running, false);
        striped.carryIn(running, false);
        ASSERT_EQ(fields(striped.snapshot()), fields(plain.snapshot())) << running << ", " << bits << "/" << length;
        for (const PerfUpdate* update : {&kEnd, &kStart, &kEnd, &kEnd, &kStart}) both(*update);
        ASSERT_EQ(fields(striped.snapshot()), fields(plain.snapshot())) << running << ", " << bits << "/" << length;
      }
    }
  }
}

// One thread's updates, part of them before the record was striped: the
// minima, restarted by unmeasured times on either side, read as one sequence.
TEST(PerfRecordMtTest, StripingMidwayChangesNoValue) {
  const int64_t cpu[] = {5, -1, 8, 3, -1, -1, 9, 2};
  for (size_t cut = 0; cut <= 8; ++cut) {
    CPerfRecord plain(u"K|m"), striped(u"K|m");
    for (size_t i = 0; i < 8; ++i) {
      if (i == cut) {
        ASSERT_TRUE(striped.spreadUpdates());
      }
      const PerfUpdate update{i % 2 == 0, true, static_cast<int32_t>(i), cpu[i], 1, cpu[7 - i], End::Finished};
      plain.apply(update);
      striped.apply(update);
    }
    EXPECT_EQ(fields(striped.snapshot()), fields(plain.snapshot())) << "striped before update " << cut;
  }
}

// Two threads time pairs of their own, a third starts timings that a fourth
// ends: every end follows its start, so none may find the record without a
// running timing, and at the end none runs.
TEST(PerfRecordMtTest, ContendedUpdatesLoseNothing) {
  constexpr uint32_t kPairs = 20000;
  CPerfRecord record(u"K|m");
  std::atomic<uint32_t> handedOver{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (uint32_t i = 0; i < kPairs; ++i) {
        record.apply(kStart);
        record.apply(PerfUpdate{false, true, 2, 10, 1, 5, End::Finished});
      }
    });
  }
  threads.emplace_back([&] {
    for (uint32_t i = 0; i < kPairs; ++i) {
      record.apply(kStart);
      handedOver.fetch_add(1, std::memory_order_release);
    }
  });
  threads.emplace_back([&] {
    for (uint32_t ended = 0; ended < kPairs; ++ended) {
      while (handedOver.load(std::memory_order_acquire) <= ended) std::this_thread::yield();
      record.apply(PerfUpdate{false, false, 0, -1, 0, -1, End::Terminated});
    }
  });
  for (std::thread& thread : threads) thread.join();
  const PerfValues values = record.snapshot();
  EXPECT_EQ(values.active, 0u);
  EXPECT_EQ(values.finished, 2 * kPairs);
  EXPECT_EQ(values.terminated, kPairs);
  EXPECT_EQ(values.count, 2 * kPairs);
  EXPECT_EQ(values.sumElapsed, static_cast<int32_t>(4 * kPairs));
  EXPECT_EQ(values.minCpu, 10);
  EXPECT_EQ(values.maxNetCpu, 5);
  // Carrying in more running timings than ends went unmatched leaves the surplus running.
  record.carryIn(3, false);
  EXPECT_EQ(record.active(), 3u);
}

// A thread whose stripe is held by another (which may have been preempted
// holding it) does not wait: it takes another stripe, and keeps it.
TEST(PerfRecordMtTest, AThreadFindingItsStripeTakenMovesOn) {
  PerfStripes stripes;
  Worker worker;
  PerfStripe* drawn = nullptr;
  worker.run([&] { drawn = &stripes.mine(); });
  ThrSpinGuard holder(drawn->lock);
  std::promise<PerfStripe*> held;
  std::future<PerfStripe*> moved = held.get_future();
  std::thread mover([&] { worker.run([&] { held.set_value(&stripes.hold()); }); });
  const bool waited = moved.wait_for(std::chrono::seconds(30)) != std::future_status::ready;
  if (waited) drawn->lock.unlock();  // lets the waiting thread end
  mover.join();
  ASSERT_FALSE(waited);
  PerfStripe* other = moved.get();
  EXPECT_NE(other, drawn);
  other->lock.unlock();
  worker.run([&] { EXPECT_EQ(&stripes.mine(), other); });
}

}  // namespace
