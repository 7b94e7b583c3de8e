// What CTestServer lets a test do to single connections (reset, graceful
// close, pause, refuse, listener closed and reopened) and what its log keeps.
// The device and socket tests stand on these, and most of them would pass
// unnoticed if a switch did nothing.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>
#include <vector>

#include "tests/support/packet_builder.h"
#include "tests/support/plain_client.h"
#include "tests/support/wait.h"
#include "tools/server/test_server.h"

namespace {
constexpr int WAIT_MS = 5000;

Bytes LoginPacket(const std::string& id) {
  Json::Value m;
  m["OPERATION"] = "CONNECT";
  m["PARAMETER"]["DSNO"] = id;
  return BuildJsonPacket(m);
}

// The next packet's bytes (a signalling answer is at most a few hundred bytes).
Bytes NextPacket(CPlainClient& c) {
  Bytes head, rest;
  if (!c.RecvExactly(PACKET_HEAD_LEN, WAIT_MS, &head)) return {};
  PacketInfo info;
  if (!ParsePacketHead(head.data(), &info) || !c.RecvExactly(static_cast<size_t>(info.nDataLen), WAIT_MS, &rest)) return {};
  head.insert(head.end(), rest.begin(), rest.end());
  return head;
}

// True when the peer's end was a reset rather than an orderly close.
bool WasReset(CPlainClient& c) {
  char byte;
  for (int i = 0; i < 100; ++i) {
    ssize_t n = recv(c.Fd(), &byte, 1, MSG_DONTWAIT);
    if (n < 0 && errno == ECONNRESET) return true;
    if (n == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}
}  // namespace

TEST(TestServerActions, DropResetsCloseFinishesAndTheListenerReopensOnItsPort) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  uint16_t port = srv.Port();
  CPlainClient a, b;
  ASSERT_TRUE(a.Connect(port));
  ASSERT_TRUE(a.SendAll(LoginPacket("A")));
  ASSERT_EQ(srv.WaitForDevice("A", WAIT_MS), 1);
  ASSERT_TRUE(b.Connect(port));
  ASSERT_TRUE(srv.WaitForConnections(2, WAIT_MS));

  // Queued bytes go out before the FIN of a graceful close.
  Bytes tail = BuildPacket(NTYPE_TALK, 0, std::string_view("abc"));
  ASSERT_TRUE(srv.SendRaw(1, tail));
  ASSERT_TRUE(srv.CloseConn(1));
  Bytes answer = NextPacket(a);
  ASSERT_GT(answer.size(), 12u);
  EXPECT_EQ(answer[1], NTYPE_SIGNAL);
  Bytes got;
  ASSERT_TRUE(a.RecvExactly(tail.size(), WAIT_MS, &got));
  EXPECT_EQ(got, tail);
  EXPECT_FALSE(WasReset(a));
  EXPECT_FALSE(srv.SendRaw(1, tail));

  ASSERT_TRUE(srv.Drop(2));
  EXPECT_TRUE(WasReset(b));
  ConnInfo info;
  ASSERT_TRUE(srv.Connection(2, &info));
  EXPECT_FALSE(info.bOpen);
  EXPECT_TRUE(info.bDroppedByServer);
  EXPECT_FALSE(info.bClosedByPeer);
  EXPECT_FALSE(srv.Drop(2));

  srv.CloseListener();
  CPlainClient refused;
  EXPECT_FALSE(refused.Connect(port));
  ASSERT_TRUE(srv.Restart());
  EXPECT_EQ(srv.Port(), port);
  CPlainClient c, d;
  ASSERT_TRUE(c.Connect(port));
  ASSERT_TRUE(d.Connect(port));
  ASSERT_TRUE(srv.WaitForConnections(4, WAIT_MS));
  srv.DropAll();
  EXPECT_TRUE(c.WaitClosed(WAIT_MS));
  EXPECT_TRUE(d.WaitClosed(WAIT_MS));
  ASSERT_TRUE(srv.Connection(4, &info));
  EXPECT_FALSE(info.bOpen);
}

TEST(TestServerActions, RefusedAndPausedConnections) {
  CTestServer srv;
  srv.SetRefuse(true);
  ASSERT_TRUE(srv.Start());
  CPlainClient refused;
  ASSERT_TRUE(refused.Connect(srv.Port()));
  EXPECT_TRUE(refused.WaitClosed(WAIT_MS));
  ConnInfo info;
  ASSERT_TRUE(srv.Connection(1, &info));
  EXPECT_TRUE(info.bDroppedByServer);

  // A paused connection with a small receive buffer backs its peer up.
  srv.SetRefuse(false);
  srv.SetReceiveBuffer(4096);
  srv.SetPauseNewConnections(true);
  CPlainClient c;
  ASSERT_TRUE(c.Connect(srv.Port()));
  int sndbuf = 8192;
  setsockopt(c.Fd(), SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
  Bytes packet = BuildMediaPacket(NTYPE_LIVE, 0, Bytes(4000, 0x5A));
  int64_t sent = 0;
  for (int i = 0; i < 1000; ++i) {
    ssize_t n = send(c.Fd(), packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += n;
  }
  EXPECT_LT(sent, 1000 * static_cast<int64_t>(packet.size()));
  EXPECT_FALSE(srv.WaitForBytes(2, 1, 200));
  srv.SetReading(2, true);
  EXPECT_TRUE(srv.WaitForBytes(2, sent, WAIT_MS));
  ASSERT_TRUE(srv.Connection(2, &info));
  EXPECT_TRUE(info.bOpen);
  EXPECT_EQ(srv.Stats().nMalformed, 0u);
}

TEST(TestServerLog, EveryPacketOfEveryConnectionInOrderWithinItsByteBudget) {
  constexpr int kClients = 3;
  constexpr int kTexts = 30;
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  srv.SetRecordLimit(60000);  // one large media packet's bytes
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&srv, t] {
      Bytes all = LoginPacket("L" + std::to_string(t));
      for (int i = 0; i < kTexts; ++i) {
        Json::Value v;
        v["OPERATION"] = "NOTE";
        v["N"] = i;
        Bytes p = BuildJsonPacket(v);
        all.insert(all.end(), p.begin(), p.end());
      }
      Bytes big = BuildMediaPacket(NTYPE_DOWNLOAD, t, Bytes(40000, 1));
      all.insert(all.end(), big.begin(), big.end());
      CPlainClient c;
      ASSERT_TRUE(c.Connect(srv.Port()));
      // Odd chunk sizes cut headers and payloads anywhere.
      for (size_t pos = 0; pos < all.size(); pos += 37) {
        Bytes chunk(all.begin() + static_cast<long>(pos), all.begin() + static_cast<long>(std::min(all.size(), pos + 37)));
        ASSERT_TRUE(c.SendAll(chunk));
      }
      ASSERT_TRUE(srv.WaitForPacket([t](const CapturedPacket& p) { return p.info.nType == NTYPE_DOWNLOAD && p.info.nChannel == t; }, WAIT_MS));
    });
  }
  for (auto& th : threads) th.join();

  EXPECT_EQ(srv.OperationCount(CONN_ANY, "NOTE"), kClients * kTexts);
  int withBytes = 0;
  for (int t = 0; t < kClients; ++t) {
    int32_t conn = srv.FindDeviceConnection("L" + std::to_string(t));
    ASSERT_GT(conn, 0);
    std::vector<CapturedPacket> pkts = srv.Packets(conn);
    ASSERT_EQ(pkts.size(), static_cast<size_t>(kTexts + 2));
    for (int i = 0; i < kTexts; ++i) EXPECT_EQ(pkts[static_cast<size_t>(i) + 1].json["N"], i);  // in order, none lost
    EXPECT_EQ(pkts.back().info.nDataLen, 40000);
    withBytes += pkts.back().bBytesDropped ? 0 : 1;
    EXPECT_EQ(pkts.back().bytes.size(), pkts.back().bBytesDropped ? 0u : 40012u);
    ConnInfo info;
    ASSERT_TRUE(srv.Connection(conn, &info));
    EXPECT_EQ(info.packetsByType[NTYPE_SIGNAL], kTexts + 1);
  }
  EXPECT_EQ(withBytes, 1);
  EXPECT_FALSE(srv.WaitForPacket([](const CapturedPacket& p) { return p.Operation() == "NONE"; }, 100));
}
