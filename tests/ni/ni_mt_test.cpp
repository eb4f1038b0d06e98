// The network layer from many threads at once, and a handle closed while another thread is writing on it.
#include <sys/ioctl.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ni_test_support.h"

using namespace nitest;

namespace {

TEST_F(NiTest, ThreadsOpenWriteAndCloseTheirOwnHandlesConcurrently) {
  TcpListener peer;
  ASSERT_TRUE(peer.ok());
  constexpr int kThreads = 6;
  constexpr int kRounds = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const NiHostAddr addr = addrOf(u"127.0.0.1");
      for (int r = 0; r < kRounds; ++r) {
        NI_HDL hdl = NI_INVALID_HDL;
        const std::string line = "<t" + std::to_string(t) + "r" + std::to_string(r) + ">";
        if (NiRawHandleForAddr(&addr, peer.port(), 5000, &hdl) != VEL_O_K || write(hdl, line, 5000) != VEL_O_K ||
            NiCloseHandle(hdl) != VEL_O_K) {
          ++failures;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  ASSERT_TRUE(peer.waitFor([&] { return peer.accepted() == kThreads * kRounds && peer.open() == 0; }));
  const std::string all = peer.allBytes();
  for (int t = 0; t < kThreads; ++t) {
    for (int r = 0; r < kRounds; ++r) {
      EXPECT_EQ(countOf(all, "<t" + std::to_string(t) + "r" + std::to_string(r) + ">"), 1u);
    }
  }
}

TEST_F(NiTest, CloseWakesAWriterOnTheSameHandleAndFreesTheEntryAfterIt) {
  UnreadPeer listener;  // never read: the writer blocks
  const NI_HDL hdl = connectTo(listener.port());
  const int peer = listener.acceptOne();
  ASSERT_GE(peer, 0);
  std::atomic<int> result{1};
  std::thread writer([&] { result = write(hdl, std::string(64 << 20, 'w'), 60000); });
  // Bytes arriving at the peer show that the writer is inside its write.
  ASSERT_TRUE(testsupport::waitUntil([&] {
    int queued = 0;
    return ioctl(peer, FIONREAD, &queued) == 0 && queued > 0;
  }));
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
  writer.join();  // woken by the close, long before its time-out
  EXPECT_EQ(result.load(), NIECONN_BROKEN);
  EXPECT_EQ(NiCloseHandle(hdl), NIEINVAL);
  close(peer);
}

}  // namespace
