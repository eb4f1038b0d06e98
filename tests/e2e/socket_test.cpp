// The socket agent through the exports: a collector listening on the
// loopback address receives the version line and the metric lines.
#include <sys/wait.h>

#include "e2e/e2e_support.h"
#include "support/tcp_listener.h"

namespace {

using e2e::countOf;
using e2e::kVersion;
using e2e::LibraryTest;

// Pairs for the socket agent and a collector on the loopback address.
e2e::Pairs toCollector(const testsupport::TcpListener& collector, const std::filesystem::path& logdir) {
  const std::string port = std::to_string(collector.port());
  return {{"datasending_method", "socket"},
          {"agent_host", "127.0.0.1"},
          {"agent_port", port},
          {"logdir", logdir.string()},
          {"lib_trace_level", "1"}};
}

TEST_F(LibraryTest, CollectorReceivesTheVersionLineAndTheMetricLines) {
  testsupport::TcpListener collector;
  ASSERT_TRUE(collector.ok());
  initPairs(toCollector(collector, dir_));
  for (int i = 0; i < 3; ++i) MOX_endTiming(MOX_startTiming(u"Db", u"select", 1));
  MOX_outputMetricData();
  const std::string counter = "name=\"VEL_MOX|e2e_0|Db|select:Finished Counter\" value=\"3\" />\n";
  ASSERT_TRUE(collector.waitFor([&] { return countOf(collector.allBytes(), counter) == 1; }));
  MOX_ProcExit();
  // The trace agent and the metric agent each have their own connection, closed at exit.
  EXPECT_TRUE(collector.waitFor([&] { return collector.open() == 0; }));
  EXPECT_EQ(collector.accepted(), 2u);
  EXPECT_EQ(countOf(collector.allBytes(), kVersion + "\n"), 1);
  EXPECT_EQ(countOf(traceFile(), "NI raw handle gets initialized successfully for the first time in agent 1\n"), 2);
}

// The first thing a user tries: a collector on the default port and a host
// that starts the library without any configuration.
TEST_F(LibraryTest, DefaultStartDeliversToACollectorOnTheDefaultPort) {
  testsupport::TcpListener collector(AF_INET, 59818);
  if (!collector.ok()) GTEST_SKIP() << "port 59818 is taken on this machine";
  const std::filesystem::path noConfig = dir_ / "no-config";
  std::filesystem::create_directory(noConfig);
  setenv("MOX_CONFIG", noConfig.c_str(), 1);
  MOX_ProcInit(u"e2e", 0);
  unsetenv("MOX_CONFIG");
  MOX_endTiming(MOX_startTiming(u"Default", u"start", 1));
  MOX_outputMetricData();
  EXPECT_TRUE(collector.waitFor([&] { return countOf(collector.allBytes(), kVersion) == 1; }));
  EXPECT_TRUE(collector.waitFor([&] {
    return collector.allBytes().find("e2e_0|Default|start:Finished Counter\" value=\"1\"") != std::string::npos;
  }));
  MOX_ProcExit();
}

// A child forked while the parent streams: it lets go of the parent's
// connections (which stay open and keep working) and opens its own.
TEST_F(LibraryTest, ForkedChildOpensItsOwnConnectionsAndLeavesTheParentsAlone) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer does not follow a multi-threaded fork";
#endif
  testsupport::TcpListener collector;
  ASSERT_TRUE(collector.ok());
  const e2e::Pairs pairs = toCollector(collector, dir_);
  initPairs(pairs, "parent");
  MOX_endTiming(MOX_startTiming(u"Before", u"fork", 1));
  MOX_outputMetricData();
  ASSERT_TRUE(collector.waitFor([&] { return collector.allBytes().find("Before|fork") != std::string::npos; }));

  const pid_t child = fork();
  if (child == 0) {
    MOX_ProcExit();
    initPairs(pairs, "child");
    MOX_endTiming(MOX_startTiming(u"In", u"child", 1));
    MOX_ProcExit();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_TRUE(collector.waitFor([&] { return collector.allBytes().find("child_0|In|child") != std::string::npos; }));

  MOX_endTiming(MOX_startTiming(u"After", u"fork", 1));
  MOX_outputMetricData();
  ASSERT_TRUE(collector.waitFor([&] { return collector.allBytes().find("parent_0|After|fork") != std::string::npos; }));
  EXPECT_EQ(collector.accepted(), 4u) << "two connections of the parent, two of the child";
  MOX_ProcExit();
}

}  // namespace
