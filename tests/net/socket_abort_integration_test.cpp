// Ending a connection from the owner's side: Abort makes a blocked send fail
// at once, WaitSent tells whether the peer has taken everything.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "net/my_socket.h"
#include "tests/support/debug_capture.h"
#include "tests/support/packet_builder.h"
#include "tests/support/wait.h"
#include "tools/server/test_server.h"

namespace {

struct SocketAbortTest : ::testing::Test {
  DebugCapture capture;
  CTestServer srv;
  CMySocket sock;
  int32_t conn = -1;

  void SetUp() override {
    srv.SetReceiveBuffer(4096);
    ASSERT_TRUE(srv.Start());
    SocketParam p;
    p.nMode = SOCK_MODE_CONNECT;
    p.nMaxBuf = 600000;
    p.nRemoteIp = 0x7F000001;
    p.nRemotePort = srv.Port();
    ASSERT_EQ(sock.Open(p), 0);
    ASSERT_TRUE(WaitUntil([&] { return sock.IsConnected(); }, 5000));
    ASSERT_TRUE(srv.WaitForConnections(1, 5000));
    conn = 1;
    int sndbuf = 8192;
    setsockopt(sock.Handle(), SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
  }
  void TearDown() override {
    sock.Close();
    srv.Stop();
  }
  // Stops the peer reading and fills both buffers until a timed send finds no
  // room. Whole packets, so that the server reads them again once resumed.
  void Fill() {
    srv.SetReading(conn, false);
    Bytes block = BuildMediaPacket(NTYPE_LIVE, 0, Bytes(4000 - PACKET_HEAD_LEN, 1));
    ASSERT_TRUE(WaitUntil([&] { return sock.Send(block.data(), 4000, 50) == 0; }, 5000));
  }
};

TEST_F(SocketAbortTest, AbortEndsASendWaitingForRoomAtOnce) {
  Fill();
  std::vector<uint8_t> block(4000, 2);
  std::atomic<int> result{1};
  auto t0 = std::chrono::steady_clock::now();
  std::thread sender([&] { result.store(sock.Send(block.data(), 4000, 5000)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  sock.Abort();
  sender.join();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LE(result.load(), 0);
  EXPECT_LT(ms, 2500);
  EXPECT_LE(sock.Send(block.data(), 10, 1000), 0);  // and every later one
  EXPECT_LE(sock.Send(block.data(), 10, 0), 0);
}

TEST_F(SocketAbortTest, WaitSentTellsWhetherThePeerTookEverything) {
  Fill();
  EXPECT_FALSE(sock.WaitSent(200));
  srv.SetReading(conn, true);
  EXPECT_TRUE(sock.WaitSent(5000));
  sock.Close();
  sock.Abort();  // harmless once closed
  EXPECT_FALSE(sock.WaitSent(10));
}

}  // namespace
