// Light reads under real threads: a writer that swaps the value and drains
// never retires what a reader still uses.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "thr/thr_entry_gate.h"
#include "thr/thr_light_read.h"

namespace {

struct Box {
  std::atomic<int> alive{1};  // 0 once retired
};

// Readers take the current box and check it is alive for a while; the writer
// publishes a new box, drains, and only then retires the old one.
void swapUnderReaders() {
  constexpr int kReaders = 4;
  constexpr int kSwaps = 400;
  std::vector<Box> boxes(kSwaps + 1);
  std::atomic<Box*> current{&boxes[0]};
  std::atomic<bool> stop{false};
  std::atomic<long> reads{0}, violations{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < kReaders; ++t) {
    readers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        ThrLightRead read;
        ASSERT_TRUE(read);
        Box* box = current.load(std::memory_order_relaxed);
        for (int spin = 0; spin < 50; ++spin) {
          if (box->alive.load(std::memory_order_relaxed) != 1) ++violations;
        }
        ++reads;
      }
    });
  }
  for (int swap = 1; swap <= kSwaps; ++swap) {
    while (reads.load() < swap * 10L) std::this_thread::yield();
    Box* old = current.exchange(&boxes[swap], std::memory_order_relaxed);
    ThrLightReadersDrain();
    old->alive.store(0, std::memory_order_relaxed);
  }
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(violations.load(), 0);
}

TEST(ThrLightReadTest, WriterRetiresNothingAReaderStillUses) {
  // Readers fencing themselves (the gate not opened yet: no process barrier chosen).
  swapUnderReaders();
  // The process-wide barrier where the system offers one.
  ThrGateOpen();
  swapUnderReaders();
  ThrGateCloseAndDrain();
}

// A drain does not return while a read that began before it is in progress.
TEST(ThrLightReadTest, DrainWaitsForTheReadInProgress) {
  std::atomic<bool> inside{false}, draining{false}, drained{false};
  std::atomic<long> seenDrainedInside{0};
  std::thread reader([&] {
    ThrLightRead read;
    inside = true;
    while (!draining.load()) std::this_thread::yield();
    for (int round = 0; round < 2000; ++round) {
      if (drained.load()) ++seenDrainedInside;
      std::this_thread::yield();
    }
  });
  while (!inside.load()) std::this_thread::yield();
  std::thread writer([&] {
    draining = true;
    ThrLightReadersDrain();
    drained = true;
  });
  writer.join();
  reader.join();
  EXPECT_EQ(seenDrainedInside.load(), 0);
  EXPECT_TRUE(drained.load());
}

// A parent thread is inside a light read at the fork: in the child, which
// that thread did not follow, a drain does not wait for it.
TEST(ThrLightReadTest, ForkedChildDoesNotWaitForReadsThatStayedBehind) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer does not follow a multi-threaded fork";
#endif
  ThrGateOpen();  // registers the thread layer's fork handling
  std::atomic<bool> inside{false}, release{false};
  std::thread reader([&] {
    ThrLightRead read;
    inside = true;
    while (!release.load()) std::this_thread::yield();
  });
  while (!inside.load()) std::this_thread::yield();
  const testsupport::ChildEnd end = testsupport::runInChild([] {
    ThrLightReadersDrain();
    return 0;
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
  release = true;
  reader.join();
  ThrGateCloseAndDrain();
}

}  // namespace
