// Work at a thread's end, on real threads (this file is built for Linux and for Windows): every handler armed on a
// thread runs once with its last value, on the thread that armed it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "port/thread_exit.h"
#include "port/thread_id.h"
#include "port/thread_owned.h"

namespace {

// What a thread arms a handler with: a number to add up, and the thread's id.
struct Armed {
  int number = 0;
  uint32_t thread = 0;
};

struct Seen {
  std::atomic<int> runs{0};
  std::atomic<int> sum{0};
  std::atomic<int> onTheArmingThread{0};
  void note(void* value) {
    const Armed& armed = *static_cast<Armed*>(value);
    runs.fetch_add(1);
    sum.fetch_add(armed.number);
    onTheArmingThread.fetch_add(armed.thread == portCurrentThreadId() ? 1 : 0);
  }
};
Seen first, second;

void onFirst(void* value) { first.note(value); }
void onSecond(void* value) { second.note(value); }

TEST(ThreadExitTest, EveryArmedHandlerRunsOnceWithItsLastValueOnItsThread) {
  constexpr int kThreads = 6;
  std::vector<Armed> armed(2 * kThreads);
  Armed replaced{1000, 0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&armed, &replaced, t] {
      const uint32_t self = portCurrentThreadId();
      ASSERT_TRUE(portAtThreadExit(onFirst, &replaced));
      armed[2 * t] = {t + 1, self};
      ASSERT_TRUE(portAtThreadExit(onFirst, &armed[2 * t]));  // replaces the value armed before
      if (t % 2 == 0) {
        armed[2 * t + 1] = {100 * (t + 1), self};
        ASSERT_TRUE(portAtThreadExit(onSecond, &armed[2 * t + 1]));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(first.runs.load(), kThreads);
  EXPECT_EQ(first.sum.load(), 1 + 2 + 3 + 4 + 5 + 6);
  EXPECT_EQ(first.onTheArmingThread.load(), kThreads);
  EXPECT_EQ(second.runs.load(), kThreads / 2);
  EXPECT_EQ(second.sum.load(), 100 * (1 + 3 + 5));
  EXPECT_EQ(second.onTheArmingThread.load(), kThreads / 2);
}

// A thread's own object: distinct per thread, kept across uses, and destroyed once when its thread ends.
std::atomic<int> ownedAlive{0};
struct Owned {
  int uses = 0;
  Owned() { ownedAlive.fetch_add(1); }
  ~Owned() { ownedAlive.fetch_sub(1); }
};
using ThreadsOwned = ThreadOwned<struct ThreadsOwnedTag, Owned>;

TEST(ThreadExitTest, AThreadsOwnedObjectIsItsOwnAndEndsWithIt) {
  constexpr int kThreads = 4;
  std::vector<int> uses(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&uses, t] {
      for (int use = 0; use <= t; ++use) ++ThreadsOwned::get().uses;
      uses[t] = ThreadsOwned::get().uses;
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(ownedAlive.load(), 0);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(uses[t], t + 1);
}

}  // namespace
