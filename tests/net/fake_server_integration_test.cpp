// The fake Register Server that the device, media and fleet tests stand on:
// its answers, its switches and its faults, seen from plain sockets and from
// the system's own client socket.
#include "tests/support/fake_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/json_writer.h"
#include "net/my_socket.h"
#include "net/packet.h"
#include "tests/support/debug_capture.h"
#include "tests/support/plain_client.h"
#include "tests/support/socket_probe.h"
#include "tests/support/wait.h"

namespace {

constexpr int kWait = 5000;

Json::Value Login(const std::string& id) {
  Json::Value v(Json::objectValue);
  v["MODULE"] = "CERTIFICATE";
  v["OPERATION"] = "CONNECT";
  v["SESSION"] = "";
  v["PARAMETER"]["DSNO"] = id;
  v["PARAMETER"]["CARNUM"] = id;
  v["PARAMETER"]["CHANNEL"] = 16;
  v["PARAMETER"]["DEVCLASS"] = 4;
  return v;
}

Json::Value CreateStream(const std::string& name) {
  Json::Value v(Json::objectValue);
  v["MODULE"] = "CERTIFICATE";
  v["OPERATION"] = "CREATESTREAM";
  v["SESSION"] = "";
  v["PARAMETER"]["STREAMNAME"] = name;
  return v;
}

const char* const kConnectAnswer0 =
    "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"CONNECT\",\"RESPONSE\":{\"ERRORCODE\":0},\"SESSION\":\"\"}";
const char* const kCreateAnswer =
    "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"CREATESTREAM\",\"RESPONSE\":{\"ERRORCODE\":0},\"SESSION\":\"\"}";

// Reads one whole packet from a plain client; false on time-out.
bool RecvPacket(CPlainClient& c, CapturedPacket* out, int timeoutMs = kWait) {
  Bytes head;
  if (!c.RecvExactly(12, timeoutMs, &head)) return false;
  PacketInfo info;
  if (!ReadPacketHead(head.data(), &info)) return false;
  Bytes rest;
  if (info.nPacketLen > 12 && !c.RecvExactly(static_cast<size_t>(info.nPacketLen - 12), timeoutMs, &rest)) return false;
  head.insert(head.end(), rest.begin(), rest.end());
  *out = CapturePacket(head.data(), head.size());
  return true;
}

// Nothing at all arrives within ms (after the server has had its chance).
bool QuietFor(CPlainClient& c, int ms) {
  Bytes got;
  return c.RecvSome(ms, &got) < 0 && got.empty();
}

class FakeServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.Start()); }
  void TearDown() override { server.Stop(); }
  CFakeServer server;
};

// A connect-mode CMySocket that logs in as soon as it is connected.
struct LoginClient {
  CMySocket sock;
  CSocketProbe probe;
  int Open(uint16_t port, const std::string& id) {
    probe.SetHook([this, id](const ProbeEvent& e) {
      if (e.nEvent == SOCK_EVENT_CONNECTED) SendSignalPacket(sock, Login(id), 2000, 0);
    });
    return sock.Open(probe.ConnectParam(port));
  }
};

TEST_F(FakeServerTest, LoginIsAnsweredWithTheConfiguredErrorCode) {
  DebugCapture capture;
  for (int32_t code : {0, 1}) {
    server.SetConnectErrorCode(code);
    std::string id = "A-000" + std::to_string(code + 1);
    LoginClient client;
    ASSERT_EQ(client.Open(server.Port(), id), 0);
    ASSERT_TRUE(client.probe.WaitFor(SOCK_EVENT_DATA, 1, kWait));
    CapturedPacket answer = CapturePacket(client.probe.Frames()[0].data(), client.probe.Frames()[0].size());
    EXPECT_EQ(answer.info.nType, NTYPE_SIGNAL);
    EXPECT_EQ(answer.szText, "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"CONNECT\",\"RESPONSE\":{\"ERRORCODE\":" +
                                 std::to_string(code) + "},\"SESSION\":\"\"}");
    EXPECT_EQ(answer.bytes.back(), 0);

    int32_t conn = server.FindDeviceConnection(id);
    ASSERT_GT(conn, 0);
    FakeConnInfo info;
    ASSERT_TRUE(server.Connection(conn, &info));
    EXPECT_EQ(info.nRole, FAKE_ROLE_SIGNAL);
    EXPECT_EQ(info.szDsno, id);
    EXPECT_EQ(server.OperationCount(conn, "CONNECT"), 1);
    auto msgs = server.JsonMessages(conn);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(WriteCompactJson(msgs[0]), WriteCompactJson(Login(id)));
    client.sock.Close();
    EXPECT_TRUE(server.WaitForClosed(conn, kWait));
  }
  EXPECT_EQ(server.FindDeviceConnection("A-0001"), 1);
  EXPECT_EQ(server.FindDeviceConnection("A-0002"), 2);
  EXPECT_EQ(server.FindDeviceConnection("nobody"), -1);
}

TEST_F(FakeServerTest, SilentModeAnswersNothingUntilSwitchedBack) {
  server.SetSilent(true);
  CPlainClient sig, media;
  ASSERT_TRUE(sig.Connect(server.Port()));
  ASSERT_TRUE(media.Connect(server.Port()));
  ASSERT_TRUE(sig.SendAll(BuildJsonPacket(Login("S-1"))));
  ASSERT_TRUE(media.SendAll(BuildJsonPacket(CreateStream("S-1-live"))));
  ASSERT_TRUE(server.WaitForOperation(FAKE_ANY_CONN, "CONNECT", 1, kWait));
  ASSERT_TRUE(server.WaitForOperation(FAKE_ANY_CONN, "CREATESTREAM", 1, kWait));
  EXPECT_TRUE(QuietFor(sig, 300));
  EXPECT_TRUE(QuietFor(media, 300));

  server.SetSilent(false);
  ASSERT_TRUE(sig.SendAll(BuildJsonPacket(Login("S-1"))));
  CapturedPacket answer;
  ASSERT_TRUE(RecvPacket(sig, &answer));
  EXPECT_EQ(answer.szText, kConnectAnswer0);
}

TEST_F(FakeServerTest, CreateStreamAnsweredOnlyWhereItIsTheFirstMessage) {
  CPlainClient media, sig;
  ASSERT_TRUE(media.Connect(server.Port()));
  ASSERT_TRUE(server.WaitForConnections(1, kWait));
  ASSERT_TRUE(sig.Connect(server.Port()));
  ASSERT_TRUE(media.SendAll(BuildJsonPacket(CreateStream("D1-live-0"))));
  CapturedPacket answer;
  ASSERT_TRUE(RecvPacket(media, &answer));
  EXPECT_EQ(answer.szText, kCreateAnswer);
  EXPECT_EQ(server.FindStreamConnection("D1-live-0"), 1);
  EXPECT_EQ(server.FindStreamConnection("other"), -1);

  // On a signalling connection CREATESTREAM is just another message.
  Bytes both = BuildJsonPacket(Login("D1"));
  Bytes cs = BuildJsonPacket(CreateStream("D1-live-1"));
  both.insert(both.end(), cs.begin(), cs.end());
  ASSERT_TRUE(sig.SendAll(both));
  ASSERT_TRUE(RecvPacket(sig, &answer));
  EXPECT_EQ(answer.Operation(), "CONNECT");
  ASSERT_TRUE(server.WaitForOperation(2, "CREATESTREAM", 1, kWait));
  EXPECT_TRUE(QuietFor(sig, 300));
  EXPECT_EQ(server.FindStreamConnection("D1-live-1"), -1);

  // Both answers can be switched off.
  server.SetAnswerCreateStream(false);
  server.SetAnswerConnect(false);
  CPlainClient media2;
  ASSERT_TRUE(media2.Connect(server.Port()));
  ASSERT_TRUE(media2.SendAll(BuildJsonPacket(CreateStream("D1-live-2"))));
  ASSERT_TRUE(sig.SendAll(BuildJsonPacket(Login("D1"))));
  ASSERT_TRUE(server.WaitForOperation(2, "CONNECT", 2, kWait));
  ASSERT_EQ(server.WaitForStream("D1-live-2", kWait), 3);
  EXPECT_TRUE(QuietFor(media2, 300));
  EXPECT_TRUE(QuietFor(sig, 1));
}

TEST_F(FakeServerTest, SendRawDeliversCorruptBytesUnchanged) {
  CPlainClient plain;
  ASSERT_TRUE(plain.Connect(server.Port()));
  ASSERT_TRUE(server.WaitForConnections(1, kWait));
  Bytes corrupt = BuildRawHead(0x30, -7, 0x1234, -1, 0x53);
  corrupt.push_back(0xFF);
  ASSERT_TRUE(server.SendRaw(1, corrupt));
  Bytes got;
  ASSERT_TRUE(plain.RecvExactly(corrupt.size(), kWait, &got));
  EXPECT_EQ(got, corrupt);
  EXPECT_FALSE(server.SendRaw(99, corrupt));

  // The system's socket takes the good packet, then drops the connection at the bad header.
  DebugCapture capture;
  LoginClient client;
  ASSERT_EQ(client.Open(server.Port(), "C-1"), 0);
  ASSERT_TRUE(client.probe.WaitFor(SOCK_EVENT_DATA, 1, kWait));
  int32_t conn = server.FindDeviceConnection("C-1");
  ASSERT_TRUE(server.SendRaw(conn, BuildRawHead(0, 0, 0, 2, 0x53)));
  ASSERT_TRUE(client.probe.WaitFor(SOCK_EVENT_CLOSED, 1, kWait));
  EXPECT_TRUE(capture.Has("napi - network data error, packet len = 14, nType = 0"));
  EXPECT_TRUE(capture.Has("CMySocket - WriteToBuffer failed.!!!!!!!!!!"));
  EXPECT_EQ(client.probe.Count(SOCK_EVENT_DATA), 1);
  client.sock.Close();
}

TEST_F(FakeServerTest, DropResetsTheConnectionAndTheClientHearsClosed) {
  DebugCapture capture;
  LoginClient client;
  ASSERT_EQ(client.Open(server.Port(), "D-1"), 0);
  ASSERT_TRUE(client.probe.WaitFor(SOCK_EVENT_DATA, 1, kWait));
  int32_t conn = server.FindDeviceConnection("D-1");
  ASSERT_TRUE(server.Drop(conn));
  ASSERT_TRUE(client.probe.WaitFor(SOCK_EVENT_CLOSED, 1, kWait));
  FakeConnInfo info;
  ASSERT_TRUE(server.Connection(conn, &info));
  EXPECT_FALSE(info.bOpen);
  EXPECT_TRUE(info.bDroppedByServer);
  EXPECT_FALSE(server.Drop(conn));
  EXPECT_FALSE(server.SendJson(conn, Login("x")));
  client.sock.Close();

  // DropAll resets every open connection at once.
  CPlainClient a, b;
  ASSERT_TRUE(a.Connect(server.Port()));
  ASSERT_TRUE(b.Connect(server.Port()));
  ASSERT_TRUE(server.WaitForConnections(conn + 2, kWait));
  server.DropAll();
  EXPECT_TRUE(a.WaitClosed(kWait));
  EXPECT_TRUE(b.WaitClosed(kWait));
  for (const auto& c : server.Connections()) EXPECT_FALSE(c.bOpen);
}

TEST_F(FakeServerTest, CloseConnSendsQueuedBytesThenFin) {
  CPlainClient plain;
  ASSERT_TRUE(plain.Connect(server.Port()));
  ASSERT_TRUE(plain.SendAll(BuildJsonPacket(Login("G-1"))));
  ASSERT_TRUE(server.WaitForOperation(1, "CONNECT", 1, kWait));
  Bytes tail = BuildPacket(NTYPE_TALK, 0, std::string_view("abc"));
  ASSERT_TRUE(server.SendRaw(1, tail));
  ASSERT_TRUE(server.CloseConn(1));
  CapturedPacket answer;
  ASSERT_TRUE(RecvPacket(plain, &answer));
  EXPECT_EQ(answer.szText, kConnectAnswer0);
  Bytes got;
  ASSERT_TRUE(plain.RecvExactly(tail.size(), kWait, &got));
  EXPECT_EQ(got, tail);
  EXPECT_EQ(plain.RecvSome(kWait, &got), 0);  // an orderly end, not a reset or a time-out
}

TEST_F(FakeServerTest, RestartListensAgainOnTheSamePort) {
  uint16_t port = server.Port();
  CPlainClient before;
  ASSERT_TRUE(before.Connect(port));
  ASSERT_TRUE(server.WaitForConnections(1, kWait));

  server.CloseListener();
  EXPECT_FALSE(server.IsListening());
  CPlainClient refused;
  EXPECT_FALSE(refused.Connect(port));
  // Connections made before keep working.
  ASSERT_TRUE(before.SendAll(BuildJsonPacket(Login("R-1"))));
  CapturedPacket answer;
  ASSERT_TRUE(RecvPacket(before, &answer));

  ASSERT_TRUE(server.Restart());
  EXPECT_EQ(server.Port(), port);
  CPlainClient after;
  ASSERT_TRUE(after.Connect(port));
  ASSERT_TRUE(after.SendAll(BuildJsonPacket(Login("R-2"))));
  ASSERT_TRUE(RecvPacket(after, &answer));
  EXPECT_EQ(server.FindDeviceConnection("R-2"), 2);
  // Restart while listening also works (the old listener is replaced).
  ASSERT_TRUE(server.Restart());
  CPlainClient third;
  EXPECT_TRUE(third.Connect(port));
  EXPECT_TRUE(server.WaitForConnections(3, kWait));
}

TEST_F(FakeServerTest, RefuseModeClosesEveryNewConnection) {
  server.SetRefuse(true);
  CPlainClient plain;
  ASSERT_TRUE(plain.Connect(server.Port()));
  EXPECT_TRUE(plain.WaitClosed(kWait));
  FakeConnInfo info;
  ASSERT_TRUE(server.Connection(1, &info));
  EXPECT_TRUE(info.bRefused);
  EXPECT_FALSE(info.bOpen);

  server.SetRefuse(false);
  CPlainClient ok;
  ASSERT_TRUE(ok.Connect(server.Port()));
  ASSERT_TRUE(ok.SendAll(BuildJsonPacket(Login("F-1"))));
  CapturedPacket answer;
  EXPECT_TRUE(RecvPacket(ok, &answer));
}

TEST_F(FakeServerTest, PausedReadingMakesATimedSendFailAndResumeDrainsIt) {
  DebugCapture capture;
  server.SetReceiveBuffer(4096);
  server.SetPauseNewConnections(true);
  CMySocket sock;
  CSocketProbe probe;
  ASSERT_EQ(sock.Open(probe.ConnectParam(server.Port())), 0);
  ASSERT_TRUE(probe.WaitFor(SOCK_EVENT_CONNECTED, 1, kWait));
  ASSERT_TRUE(server.WaitForConnections(1, kWait));

  Bytes chunk = BuildMediaPacket(NTYPE_LIVE, 0, Bytes(60000 - 12, 0x5A));
  int64_t accepted = 0;
  int last = -1;
  for (int i = 0; i < 1000 && last != 0; ++i) {
    last = sock.Send(chunk.data(), static_cast<int32_t>(chunk.size()), 1000);
    if (last > 0) accepted += last;
  }
  EXPECT_EQ(last, 0);
  EXPECT_TRUE(capture.Has("CMySocket - select timeout, send data failed."));
  FakeConnInfo info;
  ASSERT_TRUE(server.Connection(1, &info));
  EXPECT_FALSE(info.bReading);
  EXPECT_LT(info.nBytesIn, accepted);

  server.SetReading(1, true);
  EXPECT_TRUE(server.WaitForBytes(1, accepted, 10000));
  sock.Close();
}

TEST_F(FakeServerTest, RecordsEveryClientsPacketsAndSurvivesGarbage) {
  constexpr int kClients = 4;
  constexpr int kPackets = 50;
  server.SetRecordLimit(60000);  // room for every text and one large packet
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([this, t] {
      CPlainClient c;
      if (!c.Connect(server.Port())) return;
      Bytes all;
      for (int i = 0; i < kPackets; ++i) {
        Json::Value v(Json::objectValue);
        v["OPERATION"] = "KEEPALIVE";
        v["PARAMETER"]["N"] = i;
        v["PARAMETER"]["T"] = t;
        Bytes p = i == kPackets - 1 ? BuildMediaPacket(NTYPE_DOWNLOAD, t, Bytes(40000, 1)) : BuildJsonPacket(v);
        all.insert(all.end(), p.begin(), p.end());
      }
      // Odd chunk sizes cut headers and payloads anywhere.
      for (size_t pos = 0; pos < all.size(); pos += 37) {
        size_t n = std::min<size_t>(37, all.size() - pos);
        if (!c.SendAll(Bytes(all.begin() + static_cast<long>(pos), all.begin() + static_cast<long>(pos + n)))) return;
      }
    });
  }
  // One client speaks garbage (a refused header) among all this.
  CPlainClient bad;
  ASSERT_TRUE(bad.Connect(server.Port()));
  Bytes junk = BuildJsonPacket(Login("B-1"));
  Bytes badHead = BuildRawHead(0, 0, 0, 100, 0x99);
  junk.insert(junk.end(), badHead.begin(), badHead.end());
  junk.insert(junk.end(), 5000, 0xEE);
  ASSERT_TRUE(bad.SendAll(junk));
  for (auto& t : threads) t.join();

  ASSERT_TRUE(server.WaitForOperation(FAKE_ANY_CONN, "KEEPALIVE", kClients * (kPackets - 1), kWait));
  for (int t = 0; t < kClients; ++t) {
    CapturedPacket last;
    ASSERT_TRUE(server.WaitForPacket(
        [t](const CapturedPacket& p) { return p.info.nType == NTYPE_DOWNLOAD && p.info.nChannel == t; }, kWait, &last));
    EXPECT_EQ(last.info.nPacketLen, 40012);
  }
  int32_t badConn = server.WaitForDevice("B-1", kWait);
  ASSERT_GT(badConn, 0);
  ASSERT_TRUE(WaitUntil([&] { FakeConnInfo i; return server.Connection(badConn, &i) && i.nBytesIn == static_cast<int64_t>(junk.size()); }, kWait));
  FakeConnInfo badInfo;
  ASSERT_TRUE(server.Connection(badConn, &badInfo));
  EXPECT_TRUE(badInfo.bStreamBroken);
  EXPECT_EQ(badInfo.nPackets, 1);

  int downloadsWithBytes = 0;
  uint64_t lastSeq = 0;
  for (const auto& c : server.Connections()) {
    if (c.nConn == badConn) continue;
    auto pkts = server.Packets(c.nConn);
    ASSERT_EQ(pkts.size(), static_cast<size_t>(kPackets));
    EXPECT_FALSE(c.bStreamBroken);
    int t = -1;
    for (int i = 0; i + 1 < kPackets; ++i) {
      EXPECT_EQ(pkts[i].json["PARAMETER"]["N"].asInt(), i);  // in order, none lost
      if (i == 0) t = pkts[i].json["PARAMETER"]["T"].asInt();
      EXPECT_EQ(pkts[i].json["PARAMETER"]["T"].asInt(), t);
    }
    EXPECT_EQ(pkts.back().info.nChannel, t);
    EXPECT_EQ(pkts.back().info.nDataLen, 40000);
    downloadsWithBytes += !pkts.back().bBytesDropped;
  }
  // The recording limit keeps only the first large media packet's bytes.
  EXPECT_EQ(downloadsWithBytes, 1);
  for (const auto& p : server.AllPackets()) {
    EXPECT_GT(p.nSeq, lastSeq);
    lastSeq = p.nSeq;
  }
  EXPECT_FALSE(server.WaitForPacket([](const CapturedPacket& p) { return p.Operation() == "NONE"; }, 100));
  EXPECT_EQ(server.OperationCounts(FAKE_ANY_CONN)["KEEPALIVE"], kClients * (kPackets - 1));
}

TEST_F(FakeServerTest, LongTextsAndMediaPacketsReachTheSystemSocketWhole) {
  LoginClient client;
  ASSERT_EQ(client.Open(server.Port(), "L-1"), 0);
  ASSERT_TRUE(client.probe.WaitFor(SOCK_EVENT_DATA, 1, kWait));
  int32_t conn = server.FindDeviceConnection("L-1");
  std::string text = "{\"OPERATION\":\"X\",\"PAD\":\"" + std::string(20000, 'p') + "\"}";
  ASSERT_TRUE(server.SendJsonText(conn, text));
  ASSERT_TRUE(server.SendPacket(conn, NTYPE_TALK, 3, Bytes(321, 7)));
  ASSERT_TRUE(client.probe.WaitFor(SOCK_EVENT_DATA, 3, kWait));
  auto frames = client.probe.Frames();
  CapturedPacket longOne = CapturePacket(frames[1].data(), frames[1].size());
  EXPECT_EQ(frames[1].size(), text.size() + 13);
  EXPECT_EQ(longOne.szText, text);
  CapturedPacket talk = CapturePacket(frames[2].data(), frames[2].size());
  EXPECT_EQ(talk.info.nType, NTYPE_TALK);
  EXPECT_EQ(talk.info.nChannel, 3);
  EXPECT_EQ(frames[2].size(), 333u);
  client.sock.Close();
}

TEST(FakeServerLifetime, StopClosesEverythingKeepsRecordsAndCanStartAgain) {
  CFakeServer server;
  EXPECT_EQ(server.Port(), 0);
  ASSERT_TRUE(server.Start());
  EXPECT_FALSE(server.Start());
  EXPECT_NE(server.Port(), 0);
  CPlainClient a, b;
  ASSERT_TRUE(a.Connect(server.Port()));
  ASSERT_TRUE(b.Connect(server.Port()));
  ASSERT_TRUE(a.SendAll(BuildJsonPacket(Login("T-1"))));
  ASSERT_TRUE(server.WaitForDevice("T-1", kWait) > 0);
  server.Stop();
  EXPECT_TRUE(a.WaitClosed(kWait));
  EXPECT_TRUE(b.WaitClosed(kWait));
  EXPECT_EQ(server.OperationCount(FAKE_ANY_CONN, "CONNECT"), 1);
  EXPECT_FALSE(server.IsListening());
  server.Stop();

  ASSERT_TRUE(server.Start());
  CPlainClient c;
  ASSERT_TRUE(c.Connect(server.Port()));
  ASSERT_TRUE(c.SendAll(BuildJsonPacket(Login("T-2"))));
  CapturedPacket answer;
  EXPECT_TRUE(RecvPacket(c, &answer));
  // The destructor stops a running server with open connections.
}

}  // namespace
