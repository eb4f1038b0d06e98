#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "thr/thr.h"
#include "thr/thr_internal.h"
#include "thr/wait_until.h"

namespace {

class ThrThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ThrInit(), THR_OK); }
  void TearDown() override { ThrShutdown(); }
};

struct Worker {
  std::atomic<ThrId> seenId{THR_INVALID_ID};
  std::atomic<bool>* go = nullptr;
  std::atomic<bool> finished{false};
};

void* workerMain(void* p) {
  auto* w = static_cast<Worker*>(p);
  w->seenId = ThrGetCurrentId();
  waitUntil([&] { return w->go->load(); }, std::chrono::seconds(30));
  w->finished = true;
  return nullptr;
}

TEST_F(ThrThreadsTest, CreatedThreadsAreListedWithUniqueIdsAndJoinedAtShutdown) {
  constexpr int kThreads = 5;
  std::atomic<bool> go{false};
  Worker workers[kThreads];
  std::set<ThrId> ids{ThrGetCurrentId()};
  for (int i = 0; i < kThreads; ++i) {
    workers[i].go = &go;
    ThrAttr attr;
    attr.kind = i < 2 ? 2 : 0;
    attr.stackSize = i == 0 ? 1 : 256 * 1024;  // a tiny request is raised to the minimum
    ThrId id = THR_INVALID_ID;
    ASSERT_EQ(ThrCreate(&attr, workerMain, &workers[i], &id), THR_OK);
    ASSERT_NE(id, THR_INVALID_ID);
    EXPECT_TRUE(waitUntil([&] { return workers[i].seenId.load() == id; }));
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kThreads + 1));
  EXPECT_EQ(thrListedThreads(), static_cast<uint32_t>(kThreads + 1));
  EXPECT_EQ(thrListedKind2Threads(), 2u);

  go = true;
  EXPECT_EQ(ThrShutdown(), THR_OK);
  // Shutdown has joined them: every one has run to its end.
  for (Worker& w : workers) EXPECT_TRUE(w.finished.load());
  EXPECT_EQ(thrListedThreads(), 0u);
}

// Keys whose destructors record what ThrExit hands them.
ThrKey g_keyWithValue;
ThrKey g_keyEmpty;
std::atomic<void*> g_valueSeen{nullptr};
std::atomic<bool> g_clearedBeforeDtor{false};
std::atomic<int> g_withValueCalls{0};
std::atomic<int> g_emptyCalls{0};

void dtorWithValue(void* old) {
  g_valueSeen = old;
  g_clearedBeforeDtor = ThrKeyVarGet(&g_keyWithValue) == nullptr;
  ++g_withValueCalls;
}
void dtorEmpty(void* old) {
  if (old == nullptr) ++g_emptyCalls;
}

void* exitingMain(void* value) {
  ThrKeyVarSet(&g_keyWithValue, value);
  ThrExit(42);
}

TEST_F(ThrThreadsTest, ExitRunsKeyDestructorsWithOldValues) {
  g_withValueCalls = 0;
  g_emptyCalls = 0;
  ASSERT_EQ(ThrKeyCreate(&g_keyWithValue, dtorWithValue), THR_OK);
  ASSERT_EQ(ThrKeyCreate(&g_keyEmpty, dtorEmpty), THR_OK);
  int mine = 0;
  ThrKeyVarSet(&g_keyWithValue, &mine);  // other threads' values stay

  int theirs = 0;
  ThrId id;
  ASSERT_EQ(ThrCreate(nullptr, exitingMain, &theirs, &id), THR_OK);
  ASSERT_TRUE(waitUntil([] { return g_withValueCalls.load() == 1; }));
  EXPECT_EQ(g_valueSeen.load(), &theirs);
  EXPECT_TRUE(g_clearedBeforeDtor.load());
  EXPECT_TRUE(waitUntil([] { return g_emptyCalls.load() == 1; }));
  EXPECT_EQ(ThrKeyVarGet(&g_keyWithValue), &mine);

  ThrShutdown();  // joins the ended thread
  EXPECT_EQ(g_withValueCalls.load(), 1);
  for (ThrKey* k : {&g_keyWithValue, &g_keyEmpty}) EXPECT_EQ(ThrKeyDelete(k), THR_OK);
}

TEST_F(ThrThreadsTest, EachEventSetReleasesOneWait) {
  ThrEvt* evt = nullptr;
  ASSERT_EQ(ThrEvtCreate(&evt), THR_OK);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (ThrEvtWaitReset(evt, THR_WAIT_FOREVER) == THR_OK) ++released;
    });
  }
  EXPECT_EQ(ThrEvtSet(evt), THR_OK);
  ASSERT_TRUE(waitUntil([&] { return released.load() >= 1; }));
  // That wake-up was used up: the event is not left signalled.
  EXPECT_EQ(ThrEvtWaitReset(evt, 0), THR_TIMEOUT);
  EXPECT_EQ(released.load(), 1);
  EXPECT_EQ(ThrEvtSet(evt), THR_OK);
  ASSERT_TRUE(waitUntil([&] { return released.load() == 2; }));
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(ThrEvtDelete(evt), THR_OK);
}

TEST_F(ThrThreadsTest, LazySectionIsSetUpOnceUnderRacingFirstLocks) {
  static ThrCriticalSection section;  // zero storage: set up by the first lock
  int guarded = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        ThrCSLock(&section);
        ++guarded;
        ThrCSUnlock(&section);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(guarded, 8000);
  EXPECT_EQ(section.count, 0);
}

}  // namespace
