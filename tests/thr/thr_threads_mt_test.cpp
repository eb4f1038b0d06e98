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

struct Worker {
  std::atomic<ThrId> seenId{THR_INVALID_ID};
  std::atomic<bool>* go = nullptr;
  std::atomic<bool> finished{false};
};

void* workerMain(void* p) {
  auto* w = static_cast<Worker*>(p);
  w->seenId = ThrGetCurrentId();
  waitUntil([&] { return w->go->load(); });
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
    EXPECT_TRUE(waitUntil([&] { return workers[i].seenId.load() == id; }));
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kThreads + 1));
  EXPECT_EQ(thrListedThreads(), static_cast<uint32_t>(kThreads + 1));
  EXPECT_EQ(thrListedKind2Threads(), 2u);
  go = true;
  EXPECT_EQ(ThrShutdown(), THR_OK);
  for (Worker& w : workers) EXPECT_TRUE(w.finished.load());  // joined: run to their end
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
  ASSERT_EQ(ThrKeyCreate(&g_keyWithValue, dtorWithValue), THR_OK);
  ASSERT_EQ(ThrKeyCreate(&g_keyEmpty, dtorEmpty), THR_OK);
  int mine = 0;
  ThrKeyVarSet(&g_keyWithValue, &mine);  // other threads' values stay
  int theirs = 0;
  ThrId id;
  ASSERT_EQ(ThrCreate(nullptr, exitingMain, &theirs, &id), THR_OK);
  ASSERT_TRUE(waitUntil([] { return g_withValueCalls.load() == 1 && g_emptyCalls.load() == 1; }));
  EXPECT_EQ(g_valueSeen.load(), &theirs);
  EXPECT_TRUE(g_clearedBeforeDtor.load());
  EXPECT_EQ(ThrKeyVarGet(&g_keyWithValue), &mine);
  ThrShutdown();  // joins the ended thread
  EXPECT_EQ(g_withValueCalls.load(), 1);
  EXPECT_EQ(ThrKeyCreate(&g_keyEmpty, dtorEmpty), THR_KEY_EXISTS);  // a second create keeps the key
  for (ThrKey* k : {&g_keyWithValue, &g_keyEmpty}) EXPECT_EQ(ThrKeyDelete(k), THR_OK);
  EXPECT_EQ(ThrKeyDelete(&g_keyEmpty), THR_KEY_NOT_CREATED);
}

TEST_F(ThrThreadsTest, EachEventSetReleasesOneWaitAndAnUnsetEventTimesOut) {
  ThrEvt* evt = nullptr;
  ASSERT_EQ(ThrEvtCreate(&evt), THR_OK);
  EXPECT_EQ(ThrEvtWaitReset(evt, 0), THR_TIMEOUT);  // created non-signalled
  EXPECT_EQ(ThrEvtSet(evt), THR_OK);
  EXPECT_EQ(ThrEvtSet(evt), THR_OK);  // not counted: still one wake-up
  EXPECT_EQ(ThrEvtWaitReset(evt, THR_WAIT_FOREVER), THR_OK);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ThrEvtWaitReset(evt, 50), THR_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (ThrEvtWaitReset(evt, THR_WAIT_FOREVER) == THR_OK) ++released;
    });
  }
  EXPECT_EQ(ThrEvtSet(evt), THR_OK);
  ASSERT_TRUE(waitUntil([&] { return released.load() >= 1; }));
  EXPECT_EQ(ThrEvtWaitReset(evt, 0), THR_TIMEOUT);  // that wake-up was used up
  EXPECT_EQ(released.load(), 1);
  EXPECT_EQ(ThrEvtSet(evt), THR_OK);
  ASSERT_TRUE(waitUntil([&] { return released.load() == 2; }));
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(ThrEvtDelete(evt), THR_OK);
}

}  // namespace
