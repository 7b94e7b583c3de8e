// The client socket against real loopback peers: connection events, framing
// of what arrives, drops, the share threads' groups, the output buffer and
// closing from any thread, the serving one included.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "net/my_socket.h"
#include "net/share_table.h"
#include "net/sock_conn.h"
#include "tests/support/debug_capture.h"
#include "tests/support/packet_builder.h"
#include "tests/support/plain_client.h"
#include "tests/support/socket_probe.h"
#include "tests/support/wait.h"
#include "tools/server/test_server.h"

namespace {

constexpr int kWait = 5000;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.Start()); }
  void TearDown() override { server.Stop(); }

  // Opens sock against the server and waits until both sides see the connection.
  void Connect(CMySocket& sock, CSocketProbe& probe, int32_t nConnExpected) {
    ASSERT_EQ(sock.Open(probe.ConnectParam(server.Port())), 0);
    ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_CONNECTED, 1, kWait));
    ASSERT_TRUE(server.WaitForConnections(nConnExpected, kWait));
  }

  CTestServer server;
};

TEST_F(SocketTest, ConnectRaisesConnectedAndFramesArriveWhole) {
  DebugCapture capture;
  CMySocket sock;
  CSocketProbe probe;
  Connect(sock, probe, 1);
  EXPECT_TRUE(sock.IsConnected());
  EXPECT_TRUE(capture.Has("CMySocket - connect to 127.0.0.1:" + std::to_string(server.Port())));
  EXPECT_TRUE(capture.Has("CMySocket - connect ok."));

  std::vector<Bytes> sent = {
      BuildTextPacket("{\"OPERATION\":\"CONNECT\"}"),
      BuildMediaPacket(NTYPE_TALK, 1, Bytes(1000, 0x31)),
      BuildTextPacket("{\"OPERATION\":\"KEEPALIVE\"}"),
      BuildMediaPacket(NTYPE_LIVE, 2, Bytes(30000, 0x32)),  // grows the receive buffer
      BuildTextPacket("{}"),
  };
  // The connection's first packet arrives in pieces too (5 bytes, then the
  // rest): the framing is decided once a whole header is there.
  Bytes first = BuildTextPacket("{\"OPERATION\":\"FIRST\"}");
  ASSERT_TRUE(server.SendRaw(1, Bytes(first.begin(), first.begin() + 5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(server.SendRaw(1, Bytes(first.begin() + 5, first.end())));
  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_DATA, 1, kWait));
  // After that a packet may come in three pieces (5 bytes, 20 bytes, the rest).
  const Bytes& p0 = sent[0];
  ASSERT_TRUE(server.SendRaw(1, Bytes(p0.begin(), p0.begin() + 5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(server.SendRaw(1, Bytes(p0.begin() + 5, p0.begin() + 25)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(server.SendRaw(1, Bytes(p0.begin() + 25, p0.end())));
  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_DATA, 2, kWait));
  // Two packets in one piece, then one and a half, then the other half.
  Bytes two = sent[1];
  two.insert(two.end(), sent[2].begin(), sent[2].end());
  ASSERT_TRUE(server.SendRaw(1, two));
  Bytes oneAndHalf = sent[3];
  oneAndHalf.insert(oneAndHalf.end(), sent[4].begin(), sent[4].begin() + 6);
  ASSERT_TRUE(server.SendRaw(1, oneAndHalf));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(server.SendRaw(1, Bytes(sent[4].begin() + 6, sent[4].end())));

  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_DATA, 6, kWait));
  sent.insert(sent.begin(), first);
  EXPECT_EQ(probe.Frames(), sent);
  EXPECT_EQ(probe.Count(SOCK_EVENT_CLOSED), 0);
  EXPECT_EQ(sock.FrameKind(), FRAME_NAPI);
  sock.Close();
  EXPECT_TRUE(server.WaitForClosed(1, kWait));
}

TEST_F(SocketTest, PeerCloseRaisesClosedWithoutAMessage) {
  DebugCapture capture;
  CMySocket sock;
  CSocketProbe probe;
  Connect(sock, probe, 1);
  ASSERT_TRUE(server.SendRaw(1, BuildTextPacket("{}")));
  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_DATA, 1, kWait));
  capture.Clear();
  ASSERT_TRUE(server.CloseConn(1));
  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_CLOSED, 1, kWait));
  EXPECT_TRUE(WaitUntil([&] { return !sock.IsOpen(); }, kWait));
  for (const auto& line : capture.Lines()) EXPECT_EQ(line, "CMySocket - share thread exit.");
  sock.Close();
  EXPECT_EQ(probe.Count(SOCK_EVENT_CLOSED), 1);
}

TEST(SocketRefused, FailedConnectRaisesNoEventAtAll) {
  DebugCapture capture;
  uint16_t port = UnusedLoopbackPort();
  ASSERT_NE(port, 0);
  CMySocket sock;
  CSocketProbe probe;
  ASSERT_EQ(sock.Open(probe.ConnectParam(port)), 0);
  EXPECT_FALSE(WaitUntil([&] { return probe.Total() > 0; }, 3000));
  EXPECT_FALSE(capture.Has("CMySocket - connect ok."));
  EXPECT_FALSE(sock.IsConnected());
  int64_t t0 = NowMs();
  sock.Close();
  EXPECT_LT(NowMs() - t0, 2000);
  EXPECT_EQ(probe.Total(), 0);
}

TEST_F(SocketTest, ClosingAfterADetachRaisesNoEvent) {
  CMySocket sock;
  CSocketProbe probe;
  Connect(sock, probe, 1);
  sock.Detach();
  ASSERT_TRUE(WaitUntil([&] { return !sock.IsOpen(); }, kWait));
  // The share thread has let go of the connection and closed it.
  EXPECT_TRUE(server.WaitForClosed(1, kWait));
  // Give a serving thread every chance to report something it should not.
  EXPECT_FALSE(WaitUntil([&] { return probe.Total() > 1; }, 1500));
  sock.Close();
  EXPECT_EQ(probe.Total(), 1);  // the CONNECTED event only
}

TEST_F(SocketTest, SixtyFifthSocketStartsASecondShareThread) {
  // Every test ends with its sockets closed, so the table is empty by now.
  ASSERT_TRUE(WaitUntil([] { return ShareThreadCount() == 0; }, kWait)) << "sockets of another test still open";
  constexpr int kSockets = SHARE_GROUP_SIZE + 1;
  std::vector<std::unique_ptr<CMySocket>> socks;
  std::vector<std::unique_ptr<CSocketProbe>> probes;
  for (int i = 0; i < kSockets; ++i) {
    socks.push_back(std::make_unique<CMySocket>());
    probes.push_back(std::make_unique<CSocketProbe>());
    ASSERT_EQ(socks[i]->Open(probes[i]->ConnectParam(server.Port())), 0);
    // A started share thread counts itself once it runs.
    if (i == SHARE_GROUP_SIZE - 1) {
      EXPECT_TRUE(WaitUntil([] { return ShareThreadCount() == 1; }, kWait));
    }
  }
  EXPECT_TRUE(WaitUntil([] { return ShareThreadCount() == 2; }, kWait));
  EXPECT_EQ(socks[0]->ShareGroup(), 0);
  EXPECT_EQ(socks[SHARE_GROUP_SIZE - 1]->ShareGroup(), 0);
  EXPECT_EQ(socks[SHARE_GROUP_SIZE]->ShareGroup(), 1);
  for (auto& p : probes) EXPECT_TRUE(p->WaitFor(SOCK_EVENT_CONNECTED, 1, kWait));
  ASSERT_TRUE(server.WaitForConnections(kSockets, kWait));

  // Closing the second group's only socket ends its thread.
  socks[SHARE_GROUP_SIZE]->Close();
  EXPECT_TRUE(WaitUntil([] { return ShareThreadCount() == 1; }, kWait));
  // The next Open into that group starts a new thread.
  ASSERT_EQ(socks[SHARE_GROUP_SIZE]->Open(probes[SHARE_GROUP_SIZE]->ConnectParam(server.Port())), 0);
  EXPECT_EQ(socks[SHARE_GROUP_SIZE]->ShareGroup(), 1);
  EXPECT_TRUE(WaitUntil([] { return ShareThreadCount() == 2; }, kWait));
  EXPECT_TRUE(probes[SHARE_GROUP_SIZE]->WaitFor(SOCK_EVENT_CONNECTED, 2, kWait));
  for (auto& s : socks) s->Close();
  EXPECT_TRUE(WaitUntil([] { return ShareThreadCount() == 0; }, kWait));
  for (auto& p : probes) EXPECT_EQ(p->Count(SOCK_EVENT_CLOSED), 0);
}

// Connections pinned to a group are served by its loop beyond its 64 table
// slots: no new thread, and the loop keeps serving them after every table
// slot has closed. Closing with a completion callback releases all of them
// at once; each callback runs once, after its connection is gone.
TEST_F(SocketTest, PinnedSocketsRideTheirGroupsLoopAndCloseWithOneWait) {
  ASSERT_TRUE(WaitUntil([] { return ShareThreadCount() == 0; }, kWait)) << "sockets of another test still open";
  constexpr int kTable = SHARE_GROUP_SIZE;
  constexpr int kPinned = 10;
  std::vector<std::unique_ptr<CMySocket>> socks;
  std::vector<std::unique_ptr<CSocketProbe>> probes;
  for (int i = 0; i < kTable + kPinned; ++i) {
    socks.push_back(std::make_unique<CMySocket>());
    probes.push_back(std::make_unique<CSocketProbe>());
    SocketParam p = probes[i]->ConnectParam(server.Port());
    if (i >= kTable) p.nShareGroup = 0;
    ASSERT_EQ(socks[i]->Open(p), 0);
  }
  for (auto& p : probes) ASSERT_TRUE(p->WaitFor(SOCK_EVENT_CONNECTED, 1, kWait));
  ASSERT_TRUE(server.WaitForConnections(kTable + kPinned, kWait));
  for (auto& sk : socks) EXPECT_EQ(sk->ShareGroup(), 0);
  EXPECT_EQ(ShareThreadCount(), 1);

  std::atomic<int32_t> done{0};
  for (int i = 0; i < kTable; ++i) socks[i]->Close([&] { done.fetch_add(1); });
  ASSERT_TRUE(WaitUntil([&] { return done.load() == kTable; }, kWait));
  // The pinned ones are still served by the same loop.
  Bytes packet = BuildTextPacket("{\"OPERATION\":\"KEEPALIVE\"}");
  EXPECT_EQ(socks[kTable]->Send(packet.data(), static_cast<int32_t>(packet.size()), 0), static_cast<int>(packet.size()));
  EXPECT_TRUE(server.WaitForOperation(CONN_ANY, "KEEPALIVE", 1, kWait));
  EXPECT_EQ(ShareThreadCount(), 1);

  for (int i = kTable; i < kTable + kPinned; ++i) socks[i]->Close([&] { done.fetch_add(1); });
  socks[0]->Close([&] { done.fetch_add(1); });  // nothing to release: runs at once
  ASSERT_TRUE(WaitUntil([&] { return done.load() == kTable + kPinned + 1; }, kWait));
  for (auto& sk : socks) EXPECT_FALSE(sk->IsOpen());
  EXPECT_TRUE(WaitUntil([] { return ShareThreadCount() == 0; }, kWait));
  EXPECT_FALSE(WaitUntil([&] { return done.load() > kTable + kPinned + 1; }, 200));
  for (auto& p : probes) EXPECT_EQ(p->Count(SOCK_EVENT_CLOSED), 0);
}

// A timed send waits for room and gives up; a send that does not wait puts
// what the kernel refuses in the output buffer, and a peer that lets that
// buffer reach its bound is dropped like a viewer that stops reading.
TEST_F(SocketTest, PeerThatNeverReadsTimesOutTimedSendsAndIsDroppedAtTheBound) {
  DebugCapture capture;
  server.SetReceiveBuffer(4096);
  server.SetPauseNewConnections(true);
  CMySocket sock;
  CSocketProbe probe;
  Connect(sock, probe, 1);
  Bytes chunk(65536, 0x41);
  // The kernel may still find room after a refusal (its buffers grow), so a
  // refused timed send is sought a few times; when one is refused, it waited.
  bool bTimedOut = false;
  for (int attempt = 0; attempt < 20 && !bTimedOut; ++attempt) {
    ASSERT_TRUE(WaitUntil([&] { return sock.Send(chunk.data(), 4000, 50) == 0; }, kWait));
    int64_t t0 = NowMs();
    if (sock.Send(chunk.data(), 100, 1000) != 0) continue;
    EXPECT_GE(NowMs() - t0, 900);
    bTimedOut = true;
  }
  EXPECT_TRUE(bTimedOut);
  EXPECT_TRUE(capture.Has("CMySocket - select timeout, send data failed."));
  EXPECT_EQ(probe.Count(SOCK_EVENT_CLOSED), 0);

  // The kernel may still take some; the output buffer takes the rest up to its bound.
  int32_t nTaken = 0;
  int n = 0;
  while (nTaken < 1000 && (n = sock.Send(chunk.data(), static_cast<int32_t>(chunk.size()), 0)) > 0) ++nTaken;
  EXPECT_EQ(n, 0);
  EXPECT_GE(static_cast<size_t>(nTaken), SocketOutLimit(60000) / chunk.size());
  EXPECT_TRUE(capture.Has("CMySocket - send buffer full, close socket!!!!!"));
  EXPECT_TRUE(probe.WaitFor(SOCK_EVENT_CLOSED, 1, kWait));
  EXPECT_TRUE(server.WaitForClosed(1, kWait));
  sock.Close();
}

TEST_F(SocketTest, BadSendArgumentsReturnMinusOneAndSendNothing) {
  CMySocket sock;
  CSocketProbe probe;
  Connect(sock, probe, 1);
  uint8_t byte = 1;
  EXPECT_EQ(sock.Send(&byte, 0, 0), -1);
  EXPECT_EQ(sock.Send(&byte, 0, 1000), -1);
  EXPECT_EQ(sock.Send(nullptr, 5, 0), -1);
  Bytes pkt = BuildTextPacket("{}");
  EXPECT_EQ(sock.Send(pkt.data(), static_cast<int32_t>(pkt.size()), 1000), static_cast<int>(pkt.size()));
  ASSERT_TRUE(server.WaitForBytes(1, static_cast<int64_t>(pkt.size()), kWait));
  ConnInfo info;
  ASSERT_TRUE(server.Connection(1, &info));
  EXPECT_EQ(info.nBytesIn, static_cast<int64_t>(pkt.size()));
  sock.Close();
  EXPECT_EQ(sock.Send(pkt.data(), static_cast<int32_t>(pkt.size()), 0), -1);
}

TEST(SocketModes, NoneOpensNothingAndOtherModesFail) {
  int32_t threads = ShareThreadCount();
  CMySocket sock;
  SocketParam p;
  p.nMode = SOCK_MODE_NONE;
  EXPECT_EQ(sock.Open(p), 0);
  EXPECT_FALSE(sock.IsOpen());
  EXPECT_EQ(ShareThreadCount(), threads);
  for (int32_t mode : {0, 5, -1, SOCK_MODE_LISTEN, SOCK_MODE_UDP}) {
    p.nMode = mode;
    EXPECT_EQ(sock.Open(p), 1) << mode;
    EXPECT_FALSE(sock.IsOpen());
  }
  // 0.0.0.0 would reach this machine instead of the server that was meant.
  p.nMode = SOCK_MODE_CONNECT;
  p.nRemoteIp = 0;
  p.nRemotePort = 5556;
  EXPECT_EQ(sock.Open(p), 1);
  EXPECT_FALSE(sock.IsOpen());
}

TEST_F(SocketTest, CloseOfADroppedSocketReturnsAtOnce) {
  CMySocket sock;
  CSocketProbe probe;
  Connect(sock, probe, 1);
  ASSERT_TRUE(server.Drop(1));
  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_CLOSED, 1, kWait));
  ASSERT_TRUE(WaitUntil([&] { return !sock.IsOpen(); }, kWait));
  int64_t t0 = NowMs();
  sock.Close();
  EXPECT_LT(NowMs() - t0, 500);
  EXPECT_EQ(probe.Count(SOCK_EVENT_CLOSED), 1);
}

TEST_F(SocketTest, CloseFromTheCallbackOfAnotherSocketInTheGroupReturnsPromptly) {
  DebugCapture capture;
  CMySocket a;
  CSocketProbe probeA, probeB;
  auto b = std::make_unique<CMySocket>();
  Connect(a, probeA, 1);
  Connect(*b, probeB, 2);
  ASSERT_EQ(a.ShareGroup(), b->ShareGroup());
  std::atomic<int32_t> closeMs{-1};
  probeA.SetHook([&](const ProbeEvent& e) {
    if (e.nEvent != SOCK_EVENT_DATA) return;
    int64_t t0 = NowMs();
    b->Close();
    closeMs.store(static_cast<int32_t>(NowMs() - t0));
  });
  ASSERT_TRUE(server.SendRaw(1, BuildTextPacket("{}")));
  ASSERT_TRUE(WaitUntil([&] { return closeMs.load() >= 0; }, kWait));
  EXPECT_LT(closeMs.load(), 1000);
  EXPECT_FALSE(b->IsOpen());
  EXPECT_TRUE(server.WaitForClosed(2, kWait));
  EXPECT_FALSE(capture.Has("CMySocket - wait thread exit failed!"));
  // The group goes on serving its other socket.
  probeA.SetHook(nullptr);
  ASSERT_TRUE(server.SendRaw(1, BuildTextPacket("{}")));
  EXPECT_TRUE(probeA.WaitFor(SOCK_EVENT_DATA, 2, kWait));
  EXPECT_EQ(probeB.Count(SOCK_EVENT_DATA), 0);
  EXPECT_EQ(probeB.Count(SOCK_EVENT_CLOSED), 0);
  a.Close();
}

TEST_F(SocketTest, SocketClosedAndDestroyedByAnotherCallbackInTheSamePassIsNotTouched) {
  CMySocket a;
  CSocketProbe probeA, probeB;
  auto b = std::make_unique<CMySocket>();
  Connect(a, probeA, 1);
  Connect(*b, probeB, 2);
  ASSERT_EQ(a.ShareGroup(), b->ShareGroup());
  std::atomic<int32_t> nData{0};
  probeA.SetHook([&](const ProbeEvent& e) {
    if (e.nEvent != SOCK_EVENT_DATA) return;
    if (nData.fetch_add(1) == 0) {
      // Hold the share thread while data reaches both sockets, so that the
      // next pass finds both readable.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      return;
    }
    b.reset();
  });
  ASSERT_TRUE(server.SendRaw(1, BuildTextPacket("{}")));
  ASSERT_TRUE(WaitUntil([&] { return nData.load() == 1; }, kWait));
  ASSERT_TRUE(server.SendRaw(1, BuildTextPacket("{}")));
  ASSERT_TRUE(server.SendRaw(2, BuildTextPacket("{}")));
  ASSERT_TRUE(WaitUntil([&] { return nData.load() == 2; }, kWait));
  EXPECT_TRUE(server.WaitForClosed(2, kWait));
  ASSERT_TRUE(server.SendRaw(1, BuildTextPacket("{}")));
  EXPECT_TRUE(WaitUntil([&] { return nData.load() == 3; }, kWait));
  EXPECT_EQ(probeB.Count(SOCK_EVENT_DATA), 0);
  a.Close();
}

TEST_F(SocketTest, SocketReopenedFromItsOwnClosedCallbackStaysServed) {
  CMySocket sock;
  CSocketProbe probe;
  SocketParam param = probe.ConnectParam(server.Port());
  std::atomic<int32_t> nReopen{-1};
  probe.SetHook([&](const ProbeEvent& e) {
    if (e.nEvent != SOCK_EVENT_CLOSED || nReopen.load() >= 0) return;
    sock.Close();
    nReopen.store(sock.Open(param));
  });
  ASSERT_EQ(sock.Open(param), 0);
  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_CONNECTED, 1, kWait));
  ASSERT_TRUE(server.WaitForConnections(1, kWait));
  ASSERT_TRUE(server.Drop(1));
  ASSERT_TRUE(WaitUntil([&] { return nReopen.load() >= 0; }, kWait));
  EXPECT_EQ(nReopen.load(), 0);
  // The new connection must be reported and served, not released with the old one.
  EXPECT_TRUE(probe.WaitFor(SOCK_EVENT_CONNECTED, 2, kWait));
  ASSERT_TRUE(server.WaitForConnections(2, kWait));
  ASSERT_TRUE(server.SendRaw(2, BuildTextPacket("{}")));
  EXPECT_TRUE(probe.WaitFor(SOCK_EVENT_DATA, 1, kWait));
  sock.Close();
}

// Close returns only once the share thread has let go of the socket, however
// long a callback of another socket holds that thread: freeing the socket on
// a time-out would leave the thread reading freed memory (the address
// sanitizer build reports it). The slow close is still reported.
TEST_F(SocketTest, CloseWaitsOutABusyShareThreadAndNeverFreesUnderIt) {
  DebugCapture capture;
  SetCloseReportMs(200);
  CMySocket a;
  CSocketProbe probeA, probeB;
  auto b = std::make_unique<CMySocket>();
  Connect(a, probeA, 1);
  Connect(*b, probeB, 2);
  ASSERT_EQ(a.ShareGroup(), b->ShareGroup());
  std::atomic<int32_t> bHolding{0}, bLetGo{0}, bClosed{0};
  probeA.SetHook([&](const ProbeEvent& e) {
    if (e.nEvent != SOCK_EVENT_DATA || bHolding.exchange(1)) return;
    while (!bLetGo.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  ASSERT_TRUE(server.SendRaw(1, BuildTextPacket("{}")));
  ASSERT_TRUE(WaitUntil([&] { return bHolding.load() == 1; }, kWait));
  ASSERT_TRUE(server.SendRaw(2, BuildTextPacket("{}")));  // b has work waiting in the busy thread
  std::thread closer([&] {
    b.reset();
    bClosed.store(1);
  });
  EXPECT_TRUE(WaitUntil([&] { return capture.Has("CMySocket - wait thread exit failed!"); }, kWait));
  EXPECT_EQ(bClosed.load(), 0);
  bLetGo.store(1);
  closer.join();
  SetCloseReportMs(15000);
  EXPECT_EQ(probeB.Count(SOCK_EVENT_DATA), 0);
  ASSERT_TRUE(server.SendRaw(1, BuildTextPacket("{}")));
  EXPECT_TRUE(probeA.WaitFor(SOCK_EVENT_DATA, 2, kWait));
  a.Close();
}

// Bytes that cannot be framed end the connection at once: the peer sees it
// closed, and the owner hears SOCK_EVENT_CLOSED.
TEST_F(SocketTest, UnframableBytesCloseTheConnectionAtOnce) {
  DebugCapture capture;
  CMySocket sock;
  CSocketProbe probe;
  Connect(sock, probe, 1);
  Bytes bad = BuildTextPacket("{}");
  bad[9] = 0x11;  // the header mark no longer reads 82
  ASSERT_TRUE(server.SendRaw(1, bad));
  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_CLOSED, 1, kWait));
  EXPECT_TRUE(server.WaitForClosed(1, kWait));
  EXPECT_TRUE(capture.Has("CMySocket - WriteToBuffer failed.!!!!!!!!!!"));
  EXPECT_TRUE(WaitUntil([&] { return !sock.IsOpen(); }, kWait));
  sock.Close();
}

// Packets from several threads reach a slow reader whole and in one piece
// each, whatever part of them the kernel took at first.
TEST_F(SocketTest, PacketsNeverTearWhenTheKernelTakesOnlyPart) {
  server.SetReceiveBuffer(4096);
  server.SetPauseNewConnections(true);
  CMySocket sock;
  CSocketProbe probe;
  Connect(sock, probe, 1);
  std::atomic<int32_t> nTaken{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 3; ++t) {
    senders.emplace_back([&, t] {
      Bytes pkt = BuildMediaPacket(NTYPE_TALK, t, Bytes(3001 + static_cast<size_t>(t) * 500, static_cast<uint8_t>(t)));
      for (int i = 0; i < 30; ++i) {
        if (sock.Send(pkt.data(), static_cast<int32_t>(pkt.size()), 0) == static_cast<int>(pkt.size())) nTaken.fetch_add(1);
      }
    });
  }
  for (auto& th : senders) th.join();
  server.SetReading(1, true);
  ASSERT_TRUE(WaitUntil([&] { return server.Packets(1).size() == static_cast<size_t>(nTaken.load()); }, kWait));
  EXPECT_EQ(server.Stats().nMalformed, 0u);
  EXPECT_EQ(nTaken.load(), 90);
  sock.Close();
}

// With no free slot in the table, Open fails (and says so) instead of
// reporting a connection that no thread will ever serve.
TEST_F(SocketTest, FullTableMakesOpenFail) {
  DebugCapture capture;
  ShareLimitGroups(1);
  std::vector<std::unique_ptr<CMySocket>> socks;
  CSocketProbe probe;
  for (int i = 0; i < SHARE_GROUP_SIZE; ++i) {
    socks.push_back(std::make_unique<CMySocket>());
    ASSERT_EQ(socks.back()->Open(probe.ConnectParam(server.Port())), 0);
  }
  CMySocket extra;
  EXPECT_EQ(extra.Open(probe.ConnectParam(server.Port())), 1);
  EXPECT_FALSE(extra.IsOpen());
  EXPECT_TRUE(capture.Has("CMysocket - not found valid node."));
  socks.pop_back();  // a freed slot is used again
  EXPECT_EQ(extra.Open(probe.ConnectParam(server.Port())), 0);
  ShareLimitGroups(SHARE_GROUPS);
}

}  // namespace
