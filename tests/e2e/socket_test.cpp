// The socket agent through the exports, with a collector on the loopback address.
#include "e2e/e2e_process.h"
#include "support/tcp_listener.h"

namespace {

using e2e::countOf;
using e2e::kVersion;
using e2e::LibraryTest;
using testsupport::TcpListener;

e2e::Pairs toCollector(const TcpListener& collector, const std::filesystem::path& logdir) {
  return {{"datasending_method", "socket"},
          {"agent_host", "127.0.0.1"},
          {"agent_port", std::to_string(collector.port())},
          {"logdir", logdir.string()},
          {"lib_trace_level", "1"}};
}

bool receives(const TcpListener& collector, const std::string& text) {
  return collector.waitFor([&] { return collector.allBytes().find(text) != std::string::npos; });
}

// A collector on the default port and a host started without configuration. Where the port must
// be free (MOX_TEST_EXPECT_FREE_PORTS=1, as in CI) a taken port fails the test.
TEST_F(LibraryTest, DefaultStartDeliversToACollectorOnTheDefaultPort) {
  TcpListener collector(AF_INET, 59818);
  if (!collector.ok()) {
    const char* expectFree = getenv("MOX_TEST_EXPECT_FREE_PORTS");
    ASSERT_FALSE(expectFree != nullptr && std::string(expectFree) == "1") << "port 59818 is taken";
    GTEST_SKIP() << "port 59818 is taken on this machine";
  }
  std::filesystem::create_directory(dir_ / "no-config");
  setenv("MOX_CONFIG", (dir_ / "no-config").c_str(), 1);
  MOX_ProcInit(u"e2e", 0);
  unsetenv("MOX_CONFIG");
  MOX_endTiming(MOX_startTiming(u"Default", u"start", 1));
  MOX_outputMetricData();
  EXPECT_TRUE(receives(collector, kVersion));
  EXPECT_TRUE(receives(collector, "e2e_0|Default|start:Finished Counter\" value=\"1\""));
  MOX_ProcExit();  // while the collector listens
}

// The trace and metric agents each have a connection, closed at exit. A child forked while the
// parent streams lets go of the parent's connections (which keep working) and opens its own.
TEST_F(LibraryTest, ParentAndForkedChildStreamOnTheirOwnConnections) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer does not follow a multi-threaded fork";
#endif
  TcpListener collector;
  ASSERT_TRUE(collector.ok());
  const e2e::Pairs pairs = toCollector(collector, dir_);
  initPairs(pairs, "parent");
  for (int i = 0; i < 3; ++i) MOX_endTiming(MOX_startTiming(u"Before", u"fork", 1));
  MOX_outputMetricData();
  ASSERT_TRUE(receives(collector, "name=\"VEL_MOX|parent_0|Before|fork:Finished Counter\" value=\"3\" />\n"));
  EXPECT_EQ(e2e::inChild([&] {
              MOX_ProcExit();
              initPairs(pairs, "child");
              MOX_endTiming(MOX_startTiming(u"In", u"child", 1));
              MOX_ProcExit();
              return 0;
            }),
            0);
  ASSERT_TRUE(receives(collector, "child_0|In|child"));
  MOX_endTiming(MOX_startTiming(u"After", u"fork", 1));
  MOX_outputMetricData();
  ASSERT_TRUE(receives(collector, "parent_0|After|fork"));
  MOX_ProcExit();
  EXPECT_TRUE(collector.waitFor([&] { return collector.open() == 0; }));
  EXPECT_EQ(collector.accepted(), 4u) << "two connections of the parent, two of the child";
  EXPECT_EQ(countOf(collector.allBytes(), "name=\"VEL_MOX|parent_0:MOX library version\" value=\"2.3.6\" />\n"), 1);
  EXPECT_EQ(countOf(collector.allBytes(), "Before|fork:Finished Counter"), 1);
  EXPECT_EQ(countOf(traceFile("parent"), "NI raw handle gets initialized successfully for the first time in agent 1\n"),
            2);
}

}  // namespace
