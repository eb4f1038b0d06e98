// The network layer initialised, the trace file at a chosen level, the
// process-wide switches restored; each test must leave no handle open.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "dptrc/dptrc.h"
#include "ni/ni.h"
#include "ni/ni_internal.h"
#include "si/si.h"
#include "support/tcp_listener.h"
#include "support/test_files.h"

namespace nitest {

using testsupport::countOf;
using testsupport::TcpListener;

class NiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NiInit3(), VEL_O_K);
    ipv6Active(nullptr);
    handlesBefore_ = NiIHandlesInUse();
  }
  void TearDown() override {
    trace();
    SiUseSelect(false);
    ipv6Active(nullptr);
    EXPECT_EQ(NiIHandlesInUse(), handlesBefore_) << "a handle was left open";
  }
  // VEL_IPv6_ACTIVE (nullptr: unset), read again.
  static void ipv6Active(const char* value) {
    value ? setenv("VEL_IPv6_ACTIVE", value, 1) : unsetenv("VEL_IPv6_ACTIVE");
    NiIResetIPProtoUsage();
  }
  void openTrace(int level) { trcOpenLibraryFile(u"ni", dir_.path16(), level); }
  // The trace so far, closed (level 0: later lines would go to stderr).
  std::string trace() {
    trcCloseLibraryFile();
    TrcLevel.store(0);
    return testsupport::readFile(dir_.file("ni_mox.trc"));
  }
  static NiHostAddr addrOf(const char16_t* host) {
    NiHostAddr addr{};
    EXPECT_EQ(NiHostToAddr(host, &addr), VEL_O_K);
    return addr;
  }
  static NI_HDL connectTo(uint16_t port, const char16_t* host = u"127.0.0.1") {
    const NiHostAddr addr = addrOf(host);
    NI_HDL hdl = NI_INVALID_HDL;
    EXPECT_EQ(NiRawHandleForAddr(&addr, port, 2000, &hdl), VEL_O_K);
    return hdl;
  }
  static int write(NI_HDL hdl, const std::string& bytes, int32_t timeoutMs = 2000, int32_t* written = nullptr) {
    int32_t ignored = 0;
    return NiRawWrite(hdl, bytes.data(), static_cast<int32_t>(bytes.size()), timeoutMs, written ? written : &ignored);
  }

  testsupport::TempDir dir_;
  int handlesBefore_ = 0;
};

inline long long msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// A listening socket that never accepts by itself: connections complete in
// its queue and whatever is sent to them stays unread.
struct UnreadPeer {
  UnreadPeer() { listen(fd, 4); }
  ~UnreadPeer() { close(fd); }
  uint16_t port() const { return testsupport::localPort(fd); }
  int acceptOne() const { return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
  const int fd = testsupport::boundLoopbackSocket(AF_INET, 0);
};

}  // namespace nitest
