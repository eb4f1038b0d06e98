#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "support/test_files.h"
#include "thr/thr.h"
#include "thr/thr_internal.h"

using testsupport::waitUntil;

namespace {

class ThrThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ThrInit(), THR_OK); }
  void TearDown() override { ThrShutdown(); }
};

std::atomic<bool> g_go{false};

void* workerMain(void* finished) {
  waitUntil([] { return g_go.load(); });
  static_cast<std::atomic<bool>*>(finished)->store(true);
  return nullptr;
}

TEST_F(ThrThreadsTest, CreatedThreadsAreListedWithUniqueIdsAndJoinedAtShutdown) {
  constexpr int kThreads = 4;
  std::atomic<bool> finished[kThreads] = {};
  std::set<ThrId> ids{ThrGetCurrentId()};
  for (std::atomic<bool>& f : finished) {
    ThrId id = THR_INVALID_ID;
    ASSERT_EQ(ThrCreate(nullptr, workerMain, &f, &id), THR_OK);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), kThreads + 1u);
  EXPECT_EQ(thrListedThreads(), kThreads + 1u);
  g_go = true;
  EXPECT_EQ(ThrShutdown(), THR_OK);
  for (std::atomic<bool>& f : finished) EXPECT_TRUE(f.load());  // joined: run to their end
  EXPECT_EQ(thrListedThreads(), 0u);
}

TEST_F(ThrThreadsTest, EachEventSetReleasesOneWaitAndAnUnsetEventTimesOut) {
  ThrEvt* evt = nullptr;
  ASSERT_EQ(ThrEvtCreate(&evt), THR_OK);
  EXPECT_EQ(ThrEvtWaitReset(evt, 0), THR_TIMEOUT);  // created non-signalled
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ThrEvtSet(evt), THR_OK);
  EXPECT_EQ(ThrEvtWaitReset(evt, 0), THR_OK);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ThrEvtWaitReset(evt, 50), THR_TIMEOUT);  // the second set was not counted
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] { released += ThrEvtWaitReset(evt, THR_WAIT_FOREVER) == THR_OK; });
  }
  for (int round = 1; round <= 2; ++round) {
    EXPECT_EQ(ThrEvtSet(evt), THR_OK);
    ASSERT_TRUE(waitUntil([&] { return released.load() >= round; }));
    EXPECT_EQ(ThrEvtWaitReset(evt, 0), THR_TIMEOUT);  // that wake-up was used up
    EXPECT_EQ(released.load(), round);
  }
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(ThrEvtDelete(evt), THR_OK);
}

}  // namespace
