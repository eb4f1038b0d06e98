// What mox-demo says about the delivery of its data when no collector
// listens, or when the collector goes away during the run.
#include <gtest/gtest.h>

#include "program_runner.h"
#include "support/tcp_listener.h"

namespace {

using collecttest::Program;

TEST(DemoDelivery, NothingListeningIsSaidPlainlyWithWhatToDo) {
  testsupport::TempDir dir;
  // Bound but not listening: connects are refused, and the port stays ours.
  const int held = testsupport::boundLoopbackSocket(AF_INET, 0);
  ASSERT_GE(held, 0);
  const std::string address = "127.0.0.1:" + std::to_string(testsupport::localPort(held));
  Program demo(dir, {"--collector", address, "--seconds", "1", "--threads", "1", "--logdir", dir.path()}, MOX_DEMO_BIN);
  EXPECT_EQ(demo.exitCode(std::chrono::seconds(60)), 0) << demo.err();
  close(held);
  const std::string out = demo.out();
  EXPECT_NE(out.find("metric data: NOT delivered: nothing was listening at " + address + ", so this run's"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("(./build/tools/mox-collect/mox-collect --top --listen " + address + ")"), std::string::npos);
  EXPECT_NE(out.find("or leave out --collector to have them written to " + dir.path() + "/mox-demo_mtdata.log."),
            std::string::npos);
  EXPECT_NE(out.find("trace file:  " + dir.path() + "/mox-demo_mox.trc\n"), std::string::npos) << out;
}

TEST(DemoDelivery, ACollectorGoneDuringTheRunIsReportedAsPartlyLost) {
  testsupport::TempDir dir;
  testsupport::TcpListener collector;
  ASSERT_TRUE(collector.ok());
  const std::string address = "127.0.0.1:" + std::to_string(collector.port());
  Program demo(dir, {"--collector", address, "--seconds", "3", "--threads", "1", "--logdir", dir.path()}, MOX_DEMO_BIN);
  // The first interval arrives after a second; the two after it and the last find the collector gone
  // (two seconds' margin for a slow test thread to take it down).
  ASSERT_TRUE(collector.waitForBytes(1)) << demo.out();
  collector.down();
  EXPECT_EQ(demo.exitCode(std::chrono::seconds(60)), 0) << demo.err();
  EXPECT_NE(demo.out().find("metric data: partly lost: the collector at " + address +
                            " was not reachable for part of the run"),
            std::string::npos)
      << demo.out();
}

}  // namespace
