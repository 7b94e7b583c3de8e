// Packets sent with bMore wait in the socket only until the burst ends: the
// next plain Send or a Flush puts them on the wire, whole and in order (left
// alone, the system would send them only after its cork time).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "net/my_socket.h"
#include "net/packet.h"
#include "tests/support/packet_builder.h"
#include "tests/support/socket_probe.h"
#include "tests/support/wait.h"
#include "tools/server/test_server.h"

namespace {

constexpr int kWait = 5000;

Json::Value Message(const char* op) {
  Json::Value v;
  v["SESSION"] = "";
  v["MODULE"] = "TEST";
  v["OPERATION"] = op;
  return v;
}

class SocketBurstTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(sock.Open(probe.ConnectParam(server.Port())), 0);
    ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_CONNECTED, 1, kWait));
    ASSERT_TRUE(server.WaitForConnections(1, kWait));
  }
  void TearDown() override {
    sock.Close();
    server.Stop();
  }
  bool Send(const char* op, bool bMore) { return SendSignalPacketOn(sock, Message(op), 0, 0, false, bMore); }
  // Nothing sent is waiting for an acknowledgement: an arriving ACK can then
  // no longer push held bytes out, only the sender can.
  bool AllAcknowledged() {
    tcp_info info{};
    socklen_t len = sizeof info;
    return getsockopt(sock.Handle(), IPPROTO_TCP, TCP_INFO, &info, &len) == 0 && info.tcpi_unacked == 0;
  }

  CTestServer server;
  CSocketProbe probe;
  CMySocket sock;
};

TEST_F(SocketBurstTest, HeldPacketsLeaveWithTheLastOfTheBurstInOrder) {
  ASSERT_TRUE(Send("ONE", true));
  ASSERT_TRUE(Send("TWO", true));
  ASSERT_TRUE(Send("THREE", false));
  ASSERT_TRUE(server.WaitForOperation(CONN_ANY, "THREE", 1, kWait));
  std::vector<std::string> ops = server.Operations(CONN_ANY);
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0], "ONE");
  EXPECT_EQ(ops[1], "TWO");
  EXPECT_EQ(ops[2], "THREE");
}

TEST_F(SocketBurstTest, FlushEndsABurstThatHasNoLastPacket) {
  ASSERT_TRUE(Send("FIRST", false));
  ASSERT_TRUE(server.WaitForOperation(CONN_ANY, "FIRST", 1, kWait));
  ASSERT_TRUE(WaitUntil([&] { return AllAcknowledged(); }, kWait));
  ASSERT_TRUE(Send("HELD", true));
  sock.Flush();
  EXPECT_TRUE(server.WaitForOperation(CONN_ANY, "HELD", 1, kWait));
}

TEST(SocketFlushTest, FlushWithoutAConnectionDoesNothing) {
  CMySocket sock;
  sock.Flush();
  SocketParam none;
  none.nMode = SOCK_MODE_NONE;
  ASSERT_EQ(sock.Open(none), 0);
  sock.Flush();
  EXPECT_EQ(sock.Send("x", 1, 0, true), -1);
  sock.Close();
}

}  // namespace
