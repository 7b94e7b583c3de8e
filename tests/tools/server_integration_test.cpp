// The server against plain client sockets that play devices: login, uploads,
// malformed input, media connections, talk, recording and the console's
// requests with their replies.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "net/json_read.h"
#include "tests/support/packet_client.h"
#include "tests/support/wait.h"
#include "tools/server/media_handler.h"
#include "tools/server/test_server.h"

namespace {
constexpr int WAIT_MS = 5000;

Json::Value Message(const char* module, const char* op) {
  Json::Value m;
  m["SESSION"] = "";
  m["MODULE"] = module;
  m["OPERATION"] = op;
  return m;
}

Json::Value Login(const std::string& id) {
  Json::Value m = Message("CERTIFICATE", "CONNECT");
  m["PARAMETER"]["DSNO"] = id;
  m["PARAMETER"]["CARNUM"] = id;
  m["PARAMETER"]["CHANNEL"] = 16;
  m["PARAMETER"]["DEVCLASS"] = 4;
  return m;
}

Json::Value Gps(const char* j, const char* w, int s) {
  Json::Value m = Message("DEVEMM", "SPI");
  m["PARAMETER"]["M"] = 1;
  Json::Value& p = m["PARAMETER"]["P"];
  p["J"] = j;
  p["W"] = w;
  p["S"] = s;
  p["C"] = 5050;
  p["V"] = 0;
  p["T"] = "20240102030405";
  return m;
}

Json::Value Alarm(int type, int cmd, unsigned uid) {
  Json::Value m = Message("EVEM", "SENDALARMINFO");
  m["PARAMETER"]["ALARMTYPE"] = type;
  m["PARAMETER"]["CMDTYPE"] = cmd;
  m["PARAMETER"]["ALARMUID"] = uid;
  return m;
}

Json::Value Reply(const Json::Value& request) {
  Json::Value m = Message("MEDIASTREAMMODEL", JsonText(request["OPERATION"]).c_str());
  m["RESPONSE"]["ERRORCODE"] = 0;
  m["RESPONSE"]["SERIAL"] = request["PARAMETER"]["SERIAL"];
  return m;
}

// A 24-byte H264 chunk around payload.
std::string H264Chunk(bool bKey, const std::string& payload, const std::string& ext = "") {
  std::string c = bKey ? "00dcH264" : "01dcH264";
  uint32_t len = static_cast<uint32_t>(payload.size());
  c.append(reinterpret_cast<const char*>(&len), 4);
  uint16_t extLen = static_cast<uint16_t>(ext.size());
  c.append(reinterpret_cast<const char*>(&extLen), 2);
  c.append(10, '\0');
  return c + ext + payload;
}

// A device logged in on client: CONNECT sent and its answer read.
void LogIn(CPacketClient& client, CTestServer& srv, const std::string& id, Json::Value* answer) {
  ASSERT_TRUE(client.Connect(srv.Port()));
  ASSERT_TRUE(client.SendJson(Login(id)));
  ASSERT_TRUE(client.ReadJson(answer, WAIT_MS));
}

// The request a console command sends to the device on client.
Json::Value Requested(CTestServer& srv, CPacketClient& client, const std::string& line) {
  srv.Command(line);
  Json::Value req;
  EXPECT_TRUE(client.ReadJson(&req, WAIT_MS)) << line;
  return req;
}

// Opens the media connection a request names and announces its stream.
void OpenMedia(CPacketClient& media, const Json::Value& request, Json::Value* answer) {
  ASSERT_TRUE(media.Connect(JsonText(request["PARAMETER"]["IPANDPORT"])));
  Json::Value create = Message("CERTIFICATE", "CREATESTREAM");
  create["PARAMETER"]["STREAMNAME"] = request["PARAMETER"]["STREAMNAME"];
  ASSERT_TRUE(media.SendJson(create));
  ASSERT_TRUE(media.ReadJson(answer, WAIT_MS));
}

StreamRecord StreamOf(CTestServer& srv, const std::string& name) {
  StreamRecord rec;
  srv.Stream(name, &rec);
  return rec;
}
}  // namespace

TEST(ServerLogin, AnsweredAndTrackedUntilTheConnectionCloses) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  EXPECT_EQ(srv.CountLines("listening on 127.0.0.1:" + std::to_string(srv.Port())), 1);
  CPacketClient dev;
  Json::Value answer;
  LogIn(dev, srv, "A-0001", &answer);
  EXPECT_EQ(answer["MODULE"], "CERTIFICATE");
  EXPECT_EQ(answer["OPERATION"], "CONNECT");
  EXPECT_EQ(answer["RESPONSE"]["ERRORCODE"], 0);
  EXPECT_EQ(answer["SESSION"], "");
  DeviceRecord rec;
  ASSERT_TRUE(srv.Device("A-0001", &rec));
  EXPECT_TRUE(rec.bLoggedIn);
  EXPECT_EQ(rec.nLogins, 1u);
  EXPECT_EQ(srv.Stats().nLoggedIn, 1u);
  std::vector<std::string> listing = srv.Command("devices");
  ASSERT_EQ(listing.size(), 2u);
  EXPECT_EQ(listing[1].rfind("A-0001 online", 0), 0u) << listing[1];

  // Keep-alives are answered with a keep-alive.
  ASSERT_TRUE(dev.SendJson(Message("CERTIFICATE", "KEEPALIVE")));
  ASSERT_TRUE(dev.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["OPERATION"], "KEEPALIVE");
  EXPECT_EQ(answer["RESPONSE"]["ERRORCODE"], 0);
  EXPECT_EQ(srv.Stats().nKeepAlives, 1u);

  dev.Close();
  EXPECT_TRUE(WaitUntil([&] { return srv.Stats().nLoggedIn == 0; }, WAIT_MS));
  ASSERT_TRUE(srv.Device("A-0001", &rec));
  EXPECT_EQ(rec.nConnId, 0u);
  EXPECT_EQ(rec.nKeepAlives, 1u);
}

// --no-login-answer, and the switches a test turns while the server runs.
TEST(ServerLogin, LoginAnswersFollowTheSwitches) {
  ServerOptions opt = CTestServer::TestOptions();
  opt.bNoLoginAnswer = true;
  CTestServer srv(opt);
  ASSERT_TRUE(srv.Start());
  CPacketClient first, retry;
  ASSERT_TRUE(first.Connect(srv.Port()));
  ASSERT_TRUE(first.SendJson(Login("B")));
  ASSERT_TRUE(retry.Connect(srv.Port()));
  ASSERT_TRUE(retry.SendJson(Login("B")));
  EXPECT_TRUE(WaitUntil([&] { return srv.Stats().nLoginAttempts == 2; }, WAIT_MS));
  PacketInfo info;
  std::string payload;
  EXPECT_FALSE(first.ReadPacket(&info, &payload, 300));
  EXPECT_FALSE(retry.ReadPacket(&info, &payload, 300));
  DeviceRecord rec;
  ASSERT_TRUE(srv.Device("B", &rec));
  EXPECT_EQ(rec.nLoginAttempts, 2u);
  EXPECT_EQ(rec.nLogins, 0u);
  EXPECT_EQ(srv.Stats().nLoggedIn, 0u);

  // Answered with a chosen ERRORCODE: a refusal, the device is not logged in.
  srv.SetAnswerConnect(true);
  srv.SetConnectErrorCode(7);
  Json::Value answer;
  ASSERT_TRUE(retry.SendJson(Login("B")));
  ASSERT_TRUE(retry.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["RESPONSE"]["ERRORCODE"], 7);
  EXPECT_EQ(srv.Stats().nLoggedIn, 0u);
  // Silent: not even a keep-alive is answered.
  srv.SetConnectErrorCode(0);
  srv.SetSilent(true);
  ASSERT_TRUE(retry.SendJson(Message("CERTIFICATE", "KEEPALIVE")));
  EXPECT_TRUE(srv.WaitForOperation(srv.FindDeviceConnection("B"), "KEEPALIVE", 1, WAIT_MS));
  EXPECT_FALSE(retry.ReadPacket(&info, &payload, 300));
  srv.SetSilent(false);
  ASSERT_TRUE(retry.SendJson(Login("B")));
  ASSERT_TRUE(retry.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["RESPONSE"]["ERRORCODE"], 0);
  EXPECT_EQ(srv.Stats().nLoggedIn, 1u);
}

TEST(ServerUploads, GpsAndAlarmsAreCountedByTypeWithoutAnswers) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  CPacketClient dev;
  Json::Value answer;
  LogIn(dev, srv, "C", &answer);
  ASSERT_TRUE(dev.SendJson(Gps("113.5603", "22.3312", 2200)));
  ASSERT_TRUE(dev.SendJson(Gps("113.5608", "22.3314", 2400)));
  for (const auto& [type, cmd] : std::vector<std::pair<int, int>>{{8, 1}, {4, 1}, {4, 0}, {0, 1}, {7, 1}}) {
    ASSERT_TRUE(dev.SendJson(Alarm(type, cmd, 4000000000u)));
  }
  // Uploads are not answered: the next packet is the keep-alive's answer.
  ASSERT_TRUE(dev.SendJson(Message("CERTIFICATE", "KEEPALIVE")));
  ASSERT_TRUE(dev.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["OPERATION"], "KEEPALIVE");

  ServerStats s = srv.Stats();
  EXPECT_EQ(s.nGps, 2u);
  EXPECT_EQ(s.alarms, (AlarmCounts{{0, 1}, {4, 2}, {7, 1}, {8, 1}}));
  DeviceRecord rec;
  ASSERT_TRUE(srv.Device("C", &rec));
  EXPECT_EQ(rec.nGps, 2u);
  EXPECT_EQ(rec.lastFix.szJ, "113.5608");
  EXPECT_EQ(rec.lastFix.szW, "22.3314");
  EXPECT_EQ(rec.lastFix.nS, 2400);
  EXPECT_EQ(rec.lastFix.szT, "20240102030405");
  EXPECT_EQ(rec.alarms, s.alarms);
  EXPECT_EQ(srv.CountLines("alarm C type=8 cmd=1 uid=4000000000"), 1);
}

TEST(ServerUploads, ReplyToUploadsAnswersGpsAndAlarms) {
  ServerOptions opt = CTestServer::TestOptions();
  opt.bReplyToUploads = true;
  CTestServer srv(opt);
  ASSERT_TRUE(srv.Start());
  CPacketClient dev;
  Json::Value answer;
  LogIn(dev, srv, "D", &answer);
  Json::Value gps = Gps("1.0", "2.0", 0);
  gps["PARAMETER"]["SERIAL"] = 41;
  ASSERT_TRUE(dev.SendJson(gps));
  ASSERT_TRUE(dev.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["MODULE"], "DEVEMM");
  EXPECT_EQ(answer["OPERATION"], "SPI");
  EXPECT_EQ(answer["RESPONSE"]["SERIAL"], 41);
  ASSERT_TRUE(dev.SendJson(Alarm(4, 1, 77)));
  ASSERT_TRUE(dev.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["MODULE"], "EVEM");
  EXPECT_EQ(answer["OPERATION"], "SENDALARMINFO");
  EXPECT_EQ(answer["RESPONSE"]["ERRORCODE"], 0);
  EXPECT_EQ(answer["RESPONSE"]["ALARMUID"], 77);
  EXPECT_TRUE(answer["RESPONSE"]["SERIAL"].isNull());
}

TEST(ServerMalformed, BadHeadersAndTextsAreCountedAndClosed) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  CPacketClient good;
  Json::Value answer;
  LogIn(good, srv, "E", &answer);

  CPacketClient garbage;
  ASSERT_TRUE(garbage.Connect(srv.Port()));
  ASSERT_TRUE(garbage.SendRaw("HELLO\x01WORLD\xFF!", 13));
  EXPECT_TRUE(garbage.WaitClosed(WAIT_MS));
  EXPECT_TRUE(WaitUntil([&] { return srv.CountLines("HELLO\\x01WORLD\\xFF!") == 1; }, WAIT_MS));

  CPacketClient badText;
  LogIn(badText, srv, "F", &answer);
  std::string text = "{\"OPERATION\":\"KEEPALIVE\",";
  std::string packet(PACKET_HEAD_LEN, '\0');
  WritePacketHead(reinterpret_cast<uint8_t*>(packet.data()), NTYPE_SIGNAL, 0, static_cast<int32_t>(text.size() + 1));
  packet += text + '\0';
  ASSERT_TRUE(badText.SendRaw(packet.data(), packet.size()));
  EXPECT_TRUE(badText.WaitClosed(WAIT_MS));

  CPacketClient tooLong;
  ASSERT_TRUE(tooLong.Connect(srv.Port()));
  uint8_t head[PACKET_HEAD_LEN];
  WritePacketHead(head, NTYPE_LIVE, 0, 6000001);
  ASSERT_TRUE(tooLong.SendRaw(head, sizeof head));
  EXPECT_TRUE(tooLong.WaitClosed(WAIT_MS));

  EXPECT_TRUE(WaitUntil([&] { return srv.Stats().nMalformed == 3; }, WAIT_MS));
  EXPECT_EQ(srv.CountLines("malformed input from"), 3);
  DeviceRecord rec;
  ASSERT_TRUE(srv.Device("F", &rec));
  EXPECT_FALSE(rec.bLoggedIn);
  // The well-behaved device is untouched.
  ASSERT_TRUE(good.SendJson(Message("CERTIFICATE", "KEEPALIVE")));
  ASSERT_TRUE(good.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["OPERATION"], "KEEPALIVE");
}

TEST(ServerMedia, LiveConnectionIsAnsweredAndCountedPerChannel) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  CPacketClient dev, media;
  Json::Value answer;
  LogIn(dev, srv, "G", &answer);
  Json::Value req = Requested(srv, dev, "live G 5");
  EXPECT_EQ(req["OPERATION"], "REQUESTALIVEVIDEO");
  EXPECT_EQ(req["PARAMETER"]["CHANNEL"], 5);
  EXPECT_EQ(req["PARAMETER"]["STREAMNAME"], "s1");
  EXPECT_EQ(req["PARAMETER"]["IPANDPORT"], srv.IpAndPort());
  EXPECT_TRUE(req["PARAMETER"]["SERIAL"].isInt());
  ASSERT_TRUE(dev.SendJson(Reply(req)));

  OpenMedia(media, req, &answer);
  EXPECT_EQ(answer["OPERATION"], "CREATESTREAM");
  EXPECT_EQ(answer["RESPONSE"]["ERRORCODE"], 0);
  EXPECT_EQ(answer["RESPONSE"]["STREAMNAME"], "s1");
  for (int i = 0; i < 3; i++) ASSERT_TRUE(media.SendMedia(NTYPE_LIVE, 0, H264Chunk(i == 0, "frame")));
  ASSERT_TRUE(media.SendMedia(NTYPE_LIVE, 2, H264Chunk(true, "frame")));
  EXPECT_TRUE(WaitUntil([&] { return StreamOf(srv, "s1").nPackets == 4; }, WAIT_MS));

  StreamRecord s = StreamOf(srv, "s1");
  EXPECT_EQ(s.nKind, SKIND_LIVE);
  EXPECT_EQ(s.szDevice, "G");
  EXPECT_TRUE(s.bReplied);
  EXPECT_EQ(s.channels[0].nPackets, 3u);
  EXPECT_EQ(s.channels[0].nVideoFrames, 3u);
  EXPECT_EQ(s.channels[0].nKeyFrames, 1u);
  EXPECT_EQ(s.channels[2].nKeyFrames, 1u);
  EXPECT_EQ(s.nBytes, 4 * (24u + 5u));
  EXPECT_EQ(srv.Stats().nStreams, 1u);
  std::vector<std::string> listing = srv.Command("streams");
  ASSERT_EQ(listing.size(), 2u);
  EXPECT_NE(listing[1].find("s1 live device=G streaming mask=5 packets=4"), std::string::npos) << listing[1];

  media.Close();
  EXPECT_TRUE(WaitUntil([&] { return srv.Stats().nStreams == 0; }, WAIT_MS));
  EXPECT_EQ(StreamOf(srv, "s1").nConnId, 0u);
  // The ended stream leaves the live table; the listing still shows it.
  listing = srv.Command("streams");
  ASSERT_EQ(listing.size(), 2u);
  EXPECT_EQ(listing[0], "streams: 1 listed, 0 live, 0 with media");
  EXPECT_NE(listing[1].find("s1 live device=G ended"), std::string::npos) << listing[1];
}

// Media for a name the server never asked for would only fill its tables,
// unless a test lets any stream in.
TEST(ServerMedia, UnrequestedStreamIsRefusedAndClosedAndLeavesNoEntry) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  for (int i = 0; i < 3; i++) {
    CPacketClient media;
    ASSERT_TRUE(media.Connect(srv.Port()));
    Json::Value create = Message("CERTIFICATE", "CREATESTREAM");
    create["PARAMETER"]["STREAMNAME"] = "never-asked-" + std::to_string(i);
    ASSERT_TRUE(media.SendJson(create));
    Json::Value answer;
    ASSERT_TRUE(media.ReadJson(&answer, WAIT_MS));
    EXPECT_EQ(answer["OPERATION"], "CREATESTREAM");
    EXPECT_EQ(answer["RESPONSE"]["ERRORCODE"], CREATESTREAM_REFUSED);
    EXPECT_TRUE(media.WaitClosed(WAIT_MS));
  }
  EXPECT_EQ(srv.Stats().nStreamsRefused, 3u);
  EXPECT_EQ(srv.Stats().nStreams, 0u);
  EXPECT_EQ(srv.Command("streams"), std::vector<std::string>{"streams: 0 listed, 0 live, 0 with media"});

  // A test playing a server that takes any stream: opened and answered, or
  // opened and left unanswered.
  srv.SetAcceptAnyStream(true);
  CPacketClient any, mute;
  Json::Value create = Message("CERTIFICATE", "CREATESTREAM");
  create["PARAMETER"]["STREAMNAME"] = "any";
  ASSERT_TRUE(any.Connect(srv.Port()));
  ASSERT_TRUE(any.SendJson(create));
  Json::Value answer;
  ASSERT_TRUE(any.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["RESPONSE"]["ERRORCODE"], 0);
  EXPECT_GT(srv.FindStreamConnection("any"), 0);
  srv.SetAnswerCreateStream(false);
  create["PARAMETER"]["STREAMNAME"] = "mute";
  ASSERT_TRUE(mute.Connect(srv.Port()));
  ASSERT_TRUE(mute.SendJson(create));
  EXPECT_GT(srv.WaitForStream("mute", WAIT_MS), 0);
  EXPECT_FALSE(mute.ReadJson(&answer, 300));
  EXPECT_EQ(srv.Stats().nStreams, 2u);
  EXPECT_EQ(srv.Stats().nStreamsRefused, 3u);
}

// A peer that sends most of a large packet and stops is closed after the idle
// time, and the memory held for it is given back.
TEST(ServerMedia, IdleHalfPacketPeerIsClosed) {
  ServerOptions opt = CTestServer::TestOptions();
  opt.nIdleSeconds = 1;
  CTestServer srv(opt);
  ASSERT_TRUE(srv.Start());
  CPacketClient peer;
  ASSERT_TRUE(peer.Connect(srv.Port()));
  uint8_t head[PACKET_HEAD_LEN];
  WritePacketHead(head, NTYPE_DOWNLOAD, 0, 1000000);
  ASSERT_TRUE(peer.SendRaw(head, sizeof head));
  ASSERT_TRUE(peer.SendRaw(std::string(600000, 'x').data(), 600000));
  EXPECT_TRUE(WaitUntil([&] { return srv.Stats().nHeldBytes >= 600000; }, WAIT_MS));
  EXPECT_TRUE(peer.WaitClosed(WAIT_MS));
  ServerStats s = srv.Stats();
  EXPECT_EQ(s.nIdleClosed, 1u);
  EXPECT_EQ(s.nHeldBytes, 0u);
  EXPECT_EQ(s.nConnections, 0u);
}

TEST(ServerMedia, TalkStreamGetsAudioBack) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  CPacketClient dev, media;
  Json::Value answer;
  LogIn(dev, srv, "H", &answer);
  Json::Value req = Requested(srv, dev, "talk H");
  EXPECT_EQ(req["OPERATION"], "REQUESTTALK");
  OpenMedia(media, req, &answer);
  ASSERT_EQ(answer["OPERATION"], "CREATESTREAM");
  for (int i = 0; i < 2; i++) {
    PacketInfo info;
    std::string payload;
    ASSERT_TRUE(media.ReadPacket(&info, &payload, WAIT_MS));
    EXPECT_EQ(info.nType, NTYPE_TALK);
    EXPECT_EQ(info.nChannel, 0);
    EXPECT_EQ(payload, std::string(80, '\0'));
  }
  ASSERT_TRUE(media.SendMedia(NTYPE_TALK, 0, std::string(80, '\0')));
  std::string name = JsonText(req["PARAMETER"]["STREAMNAME"]);
  EXPECT_TRUE(WaitUntil([&] { return StreamOf(srv, name).nTalkReceived == 1; }, WAIT_MS));
  EXPECT_GE(StreamOf(srv, name).nTalkSent, 2u);
  media.Close();
  EXPECT_TRUE(WaitUntil([&] { return StreamOf(srv, name).nConnId == 0; }, WAIT_MS));
}

TEST(ServerMedia, RecordedFilesAreTheConcatenatedPayloads) {
  char dirTemplate[] = "/tmp/zel-record-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  std::string dir = std::string(dirTemplate) + "/rec";  // missing: the server creates it
  ServerOptions opt = CTestServer::TestOptions();
  opt.szRecordDir = dir;
  CTestServer srv(opt);
  ASSERT_TRUE(srv.Start());
  CPacketClient dev, media;
  Json::Value answer;
  LogIn(dev, srv, "I", &answer);
  Json::Value req = Requested(srv, dev, "live I 3");
  OpenMedia(media, req, &answer);

  std::string big(300000, 'B');
  big[0] = '\0', big[1] = '\0', big[2] = '\0', big[3] = '\x01';
  std::string want0, want1;
  const std::string frames[] = {std::string("\0\0\0\x01\x67sps\0\0\0\x01\x65idr", 16), std::string("\0\0\0\x01\x41p1", 7),
                                big, std::string("\0\0\0\x01\x41p3", 7)};
  for (size_t i = 0; i < 4; i++) {
    std::string ext = i == 1 ? "EXTENSION" : "";
    ASSERT_TRUE(media.SendMedia(NTYPE_LIVE, 0, H264Chunk(i == 0, frames[i], ext)));
    want0 += frames[i];
    ASSERT_TRUE(media.SendMedia(NTYPE_LIVE, 0, std::string("01wb\0\0\x03\0pcm", 11)));  // audio: not recorded
    if (i % 2 == 0) {
      ASSERT_TRUE(media.SendMedia(NTYPE_LIVE, 1, H264Chunk(i == 0, frames[i])));
      want1 += frames[i];
    }
  }
  EXPECT_TRUE(WaitUntil([&] { return StreamOf(srv, "s1").nPackets == 10; }, WAIT_MS));
  media.Close();  // the stream ends and its files are closed
  EXPECT_TRUE(WaitUntil([&] { return StreamOf(srv, "s1").nConnId == 0; }, WAIT_MS));
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  EXPECT_EQ(slurp(dir + "/s1-ch0.h264"), want0);
  EXPECT_EQ(slurp(dir + "/s1-ch1.h264"), want1);
  srv.Stop();
  std::filesystem::remove_all(dirTemplate);
}

TEST(ServerRequests, RepliesAreMatchedBySerial) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  CPacketClient dev;
  Json::Value answer;
  LogIn(dev, srv, "J", &answer);
  Json::Value calendar = Requested(srv, dev, "calendar J");
  Json::Value version = Requested(srv, dev, "version J");
  EXPECT_EQ(calendar["OPERATION"], "GETCALENDAR");
  EXPECT_EQ(version["OPERATION"], "GETDEVVERSIONINFO");
  int serialC = JsonInt(calendar["PARAMETER"]["SERIAL"]);
  int serialV = JsonInt(version["PARAMETER"]["SERIAL"]);
  EXPECT_EQ(serialV, serialC + 1);

  // Answered out of order, each is matched to its own request.
  Json::Value v = Message("DEVEMM", "GETDEVVERSIONINFO");
  v["RESPONSE"]["ERRORCODE"] = 0;
  v["RESPONSE"]["SERIAL"] = serialV;
  v["RESPONSE"]["DEVINFO"]["DEVNAME"] = "NONAME";
  ASSERT_TRUE(dev.SendJson(v));
  Json::Value c = Message("STORM", "GETCALENDAR");
  c["RESPONSE"]["ERRORCODE"] = 0;
  c["RESPONSE"]["SERIAL"] = serialC;
  ASSERT_TRUE(dev.SendJson(c));
  ASSERT_TRUE(dev.SendJson(c));  // a second answer to the same request matches nothing
  EXPECT_TRUE(WaitUntil([&] { return srv.CountLines("matches no pending request") == 1; }, WAIT_MS));
  EXPECT_EQ(srv.CountLines("reply SERIAL=" + std::to_string(serialV) + " GETDEVVERSIONINFO from J"), 1);
  EXPECT_EQ(srv.CountLines("reply SERIAL=" + std::to_string(serialC) + " GETCALENDAR from J"), 1);
  EXPECT_EQ(srv.Stats().nReplies, 2u);

  // A hand-made request with a SERIAL is matched too.
  srv.Command("send J {\"MODULE\":\"X\",\"OPERATION\":\"Y\",\"PARAMETER\":{\"SERIAL\":777}}");
  Json::Value raw;
  ASSERT_TRUE(dev.ReadJson(&raw, WAIT_MS));
  EXPECT_EQ(raw["OPERATION"], "Y");
  Json::Value y = Message("X", "Y");
  y["RESPONSE"]["SERIAL"] = 777;
  ASSERT_TRUE(dev.SendJson(y));
  EXPECT_TRUE(WaitUntil([&] { return srv.CountLines("reply SERIAL=777 Y from J") == 1; }, WAIT_MS));
}

TEST(ServerRequests, ControlsGoToTheStreamsDeviceAndKickCloses) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  CPacketClient dev;
  Json::Value answer;
  LogIn(dev, srv, "K", &answer);
  Json::Value live = Requested(srv, dev, "live K 1");
  Json::Value pause = Requested(srv, dev, "pause s1");
  EXPECT_EQ(pause["OPERATION"], "CONTROLREMOTEPLAYBACK");
  EXPECT_EQ(pause["PARAMETER"]["PALYBACKCMD"], 2);
  EXPECT_EQ(pause["PARAMETER"]["STREAMNAME"], "s1");
  EXPECT_EQ(JsonInt(pause["PARAMETER"]["SERIAL"]), JsonInt(live["PARAMETER"]["SERIAL"]) + 1);
  Json::Value drop = Requested(srv, dev, "drop s1 3");
  EXPECT_EQ(drop["OPERATION"], "CONTROLSTREAM");
  EXPECT_EQ(drop["PARAMETER"]["SSRC"], 3);
  EXPECT_EQ(drop["PARAMETER"]["CMD"], 0);

  EXPECT_EQ(srv.Command("stop s9"), std::vector<std::string>{"error: no stream s9 of a known device"});
  EXPECT_EQ(srv.Command("live NOBODY 1"), std::vector<std::string>{"error: device NOBODY is not connected"});
  EXPECT_EQ(srv.Command("kick K"), std::vector<std::string>{"kicked K"});
  EXPECT_TRUE(dev.WaitClosed(WAIT_MS));
  EXPECT_EQ(srv.Stats().nLoggedIn, 0u);
  EXPECT_EQ(srv.Command("calendar K"), std::vector<std::string>{"error: device K is not connected"});
}

TEST(ServerConsoleQuit, QuitEndsTheLoopWithASummary) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  CPacketClient dev;
  Json::Value answer;
  LogIn(dev, srv, "L", &answer);
  srv.Command("quit");
  EXPECT_TRUE(dev.WaitClosed(WAIT_MS));
  srv.Stop();
  EXPECT_EQ(srv.CountLines(" connections=0 devices=1 logged_in=0 streams_open=0 accepted=1 accepted/s="), 1);
  EXPECT_EQ(srv.CountLines("summary "), 1);
}
