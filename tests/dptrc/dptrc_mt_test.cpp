// The trace log under several writing threads.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "dptrc/dptrc.h"
#include "trc_test_util.h"

using namespace trctest;

namespace {

class TrcThreads : public TrcFileTest {
 protected:
  void SetUp() override { open(2); }
};

}  // namespace

TEST_F(TrcThreads, OneTimeStampPerThreadAndSecond) {
  std::vector<ThrId> ids(2);
  std::vector<std::thread> threads;
  for (size_t k = 0; k < ids.size(); ++k) {
    threads.emplace_back([&ids, k] {
      ids[k] = ThrGetCurrentId();
      MOX_TRC(2, "first\n");
      MOX_TRC(2, "second\n");
    });
  }
  for (std::thread& t : threads) t.join();
  std::multiset<std::string> stamps;
  for (const std::string& line : lines()) {
    if (line.rfind("M [Thr ", 0) == 0) stamps.insert(line);
  }
  const std::string when = "] " + ascTime(1700000000);
  EXPECT_EQ(stamps, (std::multiset<std::string>{"M [Thr " + std::to_string(ids[0]) + when,
                                                "M [Thr " + std::to_string(ids[1]) + when}));
}

TEST_F(TrcThreads, ConcurrentLinesStayWholeAndErrorsKeepTheirLocation) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<ThrId> ids(kThreads);
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&ids, k] {
      ids[k] = ThrGetCurrentId();
      const std::string file = "src/writer" + std::to_string(k) + ".cpp";
      for (int i = 0; i < kLines; ++i) {
        MOX_TRC(2, "t%d a %d\nt%d b %d\n", k, i, k, i);
        trcErrorLine(file.c_str(), 10 + k, "t%d e %d\n", k, i);
      }
    });
  }
  for (std::thread& t : threads) t.join();

  std::multiset<std::string> expected;
  for (int k = 0; k < kThreads; ++k) {
    const std::string m = "M  [Thr " + std::to_string(ids[k]) + "] t" + std::to_string(k);
    for (int i = 0; i < kLines; ++i) {
      const std::string n = std::to_string(i);
      expected.insert({m + " a " + n, m + " b " + n});
      expected.insert("M  [Thr " + std::to_string(ids[k]) + "] *** ERROR => t" + std::to_string(k) + " e " + n +
                      " [writer" + std::to_string(k) + ".cpp  1" + std::to_string(k) + "]");
    }
  }
  std::multiset<std::string> actual;
  for (const std::string& line : lines()) {
    if (line.rfind("M [Thr ", 0) != 0) actual.insert(line);
  }
  EXPECT_EQ(actual.size(), expected.size());
  EXPECT_TRUE(actual == expected);  // every line whole, with its own thread's tag and location
  EXPECT_EQ(TrcLockUsers(), 0);
}
