// The trace log under several writing threads.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "dptrc/dptrc.h"
#include "trc_test_util.h"

using namespace trctest;

using TrcThreads = TrcFileTest;

TEST_F(TrcThreads, LinesStayWholeKeepTheirLocationAndEachThreadStampsOnce) {
  open(2);
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<ThrId> ids(kThreads);
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&ids, k] {
      ids[size_t(k)] = ThrGetCurrentId();
      const std::string file = "src/writer" + std::to_string(k) + ".cpp";
      for (int i = 0; i < kLines; ++i) {
        MOX_TRC(2, "t%d a %d\nt%d b %d\n", k, i, k, i);
        trcErrorLine(file.c_str(), 10 + k, "t%d e %d\n", k, i);
      }
    });
  }
  for (std::thread& t : threads) t.join();

  std::multiset<std::string> expected, stamps;
  for (int k = 0; k < kThreads; ++k) {
    const std::string tag = "M  [Thr " + std::to_string(ids[size_t(k)]) + "] ", t = "t" + std::to_string(k);
    stamps.insert("M " + tag.substr(3) + ascTime(1700000000));
    for (int i = 0; i < kLines; ++i) {
      const std::string n = std::to_string(i);
      expected.insert({tag + t + " a " + n, tag + t + " b " + n,
                       tag + "*** ERROR => " + t + " e " + n + " [writer" + std::to_string(k) + ".cpp  1" +
                           std::to_string(k) + "]"});
    }
  }
  const std::vector<std::string> body = lines(), stampLines = lines(true);
  EXPECT_TRUE(std::multiset<std::string>(body.begin(), body.end()) == expected);
  EXPECT_EQ(std::multiset<std::string>(stampLines.begin(), stampLines.end()), stamps);
}

TEST_F(TrcThreads, HostFloodFromManyThreadsIsCountedExactly) {
  open(2);
  constexpr int kThreads = 4;
  constexpr int kCalls = 5000;
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([] {
      for (int i = 0; i < kCalls; ++i) MOX_TRC_HOST_ERROR("External sessionId function returns the empty sessionId\n");
    });
  }
  for (std::thread& t : threads) t.join();
  trcCloseLibraryFile();  // one second on the fake clock: the limit, then the rest reported at the close
  const std::string text = readFile(dir_.file("test_mox.trc"));
  EXPECT_EQ(testsupport::countOf(text, "*** ERROR => External sessionId"), kTrcRepeatLimit);
  const std::string report = " repeated " + std::to_string(kThreads * kCalls - kTrcRepeatLimit) + " times\n";
  EXPECT_EQ(testsupport::countOf(text, report), 1u) << text.substr(text.size() - 200);
}
