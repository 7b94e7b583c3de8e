#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "media/slot_state.h"
#include "tests/media/media_rig.h"
#include "tests/support/debug_capture.h"
#include "tests/support/plain_client.h"

namespace {

struct MediaRequestTest : ::testing::Test {
  DebugCapture capture;
  CMediaRig rig;
  void SetUp() override { rig.Start(); }
};

TEST_F(MediaRequestTest, RepliesCarrySessionAndFileSizeOnlyWhereTheyBelong) {
  rig.srv.SetAnswerCreateStream(false);  // no senders needed here
  Json::Value talk = CMediaRig::Request("REQUESTTALK", "t1", rig.MediaAddr());
  talk["PARAMETER"]["SERIAL"] = "abc";
  Json::Value live = CMediaRig::Request("REQUESTALIVEVIDEO", "l1", rig.MediaAddr());
  live["PARAMETER"]["SERIAL"] = Json::Value(Json::objectValue);
  live["PARAMETER"]["SERIAL"]["k"] = 1;
  Json::Value download = CMediaRig::Request("REQUESTDOWNLOADVIDEO", "d1", rig.MediaAddr());
  download["PARAMETER"]["SERIAL"] = 12;
  Json::Value playback = CMediaRig::Request("REQUESTREMOTEPLAYBACK", "p1", rig.MediaAddr());
  playback["PARAMETER"].removeMember("SERIAL");
  for (const Json::Value* r : {&talk, &live, &download, &playback}) rig.Send(*r);
  ASSERT_TRUE(rig.srv.WaitForOperation(rig.nSigConn, "REQUESTREMOTEPLAYBACK", 1, 8000));
  EXPECT_EQ(rig.Replies("REQUESTTALK"),
            std::vector<std::string>{"{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTTALK\",\"RESPONSE\":"
                                     "{\"ERRORCODE\":0,\"SERIAL\":\"abc\",\"STREAMNAME\":\"t1\"}}"});
  EXPECT_EQ(rig.Replies("REQUESTALIVEVIDEO"),
            std::vector<std::string>{"{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTALIVEVIDEO\",\"RESPONSE\":"
                                     "{\"ERRORCODE\":0,\"SERIAL\":{\"k\":1},\"STREAMNAME\":\"l1\"}}"});
  EXPECT_EQ(rig.Replies("REQUESTDOWNLOADVIDEO"),
            std::vector<std::string>{"{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTDOWNLOADVIDEO\","
                                     "\"RESPONSE\":{\"ERRORCODE\":0,\"FILESIZE\":30000000,\"SERIAL\":12,"
                                     "\"STREAMNAME\":\"d1\"},\"SESSION\":\"\"}"});
  EXPECT_EQ(rig.Replies("REQUESTREMOTEPLAYBACK"),
            std::vector<std::string>{"{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTREMOTEPLAYBACK\","
                                     "\"RESPONSE\":{\"ERRORCODE\":0,\"SERIAL\":null,\"STREAMNAME\":\"p1\"},"
                                     "\"SESSION\":\"\"}"});
  // Each media connection announces its stream.
  for (const char* name : {"t1", "l1", "d1", "p1"}) {
    int32_t conn = rig.srv.WaitForStream(name, 5000);
    ASSERT_GT(conn, 0) << name;
    EXPECT_EQ(rig.srv.Packets(conn).at(0).szText,
              std::string("{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"CREATESTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"") +
                  name + "\"},\"SESSION\":\"\"}");
  }
  EXPECT_EQ(rig.InUse(), 4);
}

TEST_F(MediaRequestTest, AddressRulesPickTheRegisterServerWhereTheTextDoesNotSay) {
  rig.srv.SetAnswerCreateStream(false);
  std::string port = std::to_string(rig.srv.Port());
  rig.Send(CMediaRig::Request("REQUESTTALK", "talk", "10.1.2.3"));             // no colon: server host and port
  rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "live", ":" + port));       // empty host: server host
  rig.Send(CMediaRig::Request("REQUESTREMOTEPLAYBACK", "pb", "127.0.0.1:0"));  // port 0: server port
  rig.Send(CMediaRig::Request("REQUESTDOWNLOADVIDEO", "dl", Json::Value()));   // absent: server host and port
  for (const char* name : {"talk", "live", "pb", "dl"}) EXPECT_GT(rig.srv.WaitForStream(name, 8000), 0) << name;
  // The download connects a second after its reply.
  int32_t conn = rig.srv.FindStreamConnection("dl");
  CapturedPacket reply;
  ASSERT_TRUE(rig.srv.WaitForPacket([](const CapturedPacket& p) { return p.Operation() == "REQUESTDOWNLOADVIDEO"; },
                                    1000, &reply));
  EXPECT_GE(rig.srv.Packets(conn).at(0).nRecvMs - reply.nRecvMs, 900);
}

TEST_F(MediaRequestTest, RefusedRequestsSendNoReplyAndHoldNoSlot) {
  rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "cam", "10.1.2.3"));  // live needs a colon
  rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "cam", Json::Value()));
  rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "cam", 6000));
  Json::Value numeric = CMediaRig::Request("REQUESTREMOTEPLAYBACK", "x", rig.MediaAddr());
  numeric["PARAMETER"]["STREAMNAME"] = 7;
  rig.Send(numeric);
  rig.Send(CMediaRig::Request("REQUESTTALK", std::string(39, 'n'), "x"));  // accepted: the marker
  ASSERT_TRUE(rig.srv.WaitForOperation(rig.nSigConn, "REQUESTTALK", 1, 5000));
  EXPECT_EQ(capture.Count("dev - register address error."), 3);
  EXPECT_EQ(rig.srv.OperationCount(rig.nSigConn, "REQUESTALIVEVIDEO"), 0);
  EXPECT_EQ(rig.srv.OperationCount(rig.nSigConn, "REQUESTREMOTEPLAYBACK"), 0);
  EXPECT_EQ(rig.Replies("REQUESTTALK").size(), 1u);
  EXPECT_EQ(rig.InUse(), 1);
  EXPECT_STREQ(rig.Set().slots[0].szStreamName, std::string(39, 'n').c_str());
}

// The second between a download's reply and its connection is a timer: the
// signalling thread answers the next request at once instead of after it.
TEST_F(MediaRequestTest, DownloadSetUpHoldsNoOtherRequestBack) {
  rig.Send(CMediaRig::Request("REQUESTDOWNLOADVIDEO", "dl", rig.MediaAddr()));
  Json::Value query;
  query["MODULE"] = "DEVEMM";
  query["OPERATION"] = "GETDEVVERSIONINFO";
  query["PARAMETER"]["SERIAL"] = 2;
  rig.Send(query);
  ASSERT_TRUE(rig.srv.WaitForOperation(rig.nSigConn, "GETDEVVERSIONINFO", 1, 5000));
  EXPECT_EQ(rig.srv.ConnectionCount(), 1);  // the download's connection is still to come
  EXPECT_GT(rig.srv.WaitForStream("dl", 5000), 0);
}

// A name too long for a slot is answered with the failure reply, not left
// unanswered, and claims nothing.
TEST_F(MediaRequestTest, OverlongStreamNameIsAnsweredWithAFailure) {
  std::string name(40, 'n');
  rig.Send(CMediaRig::Request("REQUESTDOWNLOADVIDEO", name, rig.MediaAddr()));
  ASSERT_TRUE(rig.srv.WaitForOperation(rig.nSigConn, "REQUESTDOWNLOADVIDEO", 1, 5000));
  std::vector<std::string> replies = rig.Replies("REQUESTDOWNLOADVIDEO");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "{\"MODULE\":\"MEDIASTREAMMODEL\",\"OPERATION\":\"REQUESTDOWNLOADVIDEO\",\"RESPONSE\":{\"ERRORCODE\":1,"
                        "\"SERIAL\":1,\"STREAMNAME\":\"" + name + "\"},\"SESSION\":\"\"}");
  EXPECT_TRUE(capture.Has("dev - stream name too long."));
  EXPECT_EQ(rig.InUse(), 0);
}

TEST_F(MediaRequestTest, FiftyFirstRequestOfAnyKindFindsNoSlotAndNeverStartedSlotsComeBack) {
  // Connections to a port where nothing listens never come up and raise no event.
  std::string dead = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
  for (int i = 0; i < MAX_STREAMS; ++i) rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "s" + std::to_string(i), dead));
  ASSERT_TRUE(rig.srv.WaitForOperation(rig.nSigConn, "REQUESTALIVEVIDEO", MAX_STREAMS, 10000));
  rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "more", dead));
  rig.Send(CMediaRig::Request("REQUESTTALK", "more", dead));
  rig.Send(CMediaRig::Request("REQUESTDOWNLOADVIDEO", "more", dead));
  rig.Send(CMediaRig::Request("REQUESTREMOTEPLAYBACK", "more", dead));
  ASSERT_TRUE(WaitUntil([&] { return capture.Count("dev - resource not enough") == 4; }, 5000));
  rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "s7", dead, 2));  // joining needs no slot
  ASSERT_TRUE(rig.srv.WaitForOperation(rig.nSigConn, "REQUESTALIVEVIDEO", MAX_STREAMS + 1, 5000));
  EXPECT_EQ(rig.Replies("REQUESTALIVEVIDEO").size(), static_cast<size_t>(MAX_STREAMS + 1));
  for (const char* op : {"REQUESTTALK", "REQUESTDOWNLOADVIDEO", "REQUESTREMOTEPLAYBACK"}) {
    EXPECT_EQ(rig.srv.OperationCount(rig.nSigConn, op), 0) << op;
  }
  EXPECT_EQ(rig.Set().slots[7].nChannelMask.load(), 3u);
  // Not yet due: neither abandoned nor waiting for 20 s.
  rig.Set().Reap();
  EXPECT_EQ(rig.InUse(), MAX_STREAMS);
  EXPECT_EQ(rig.Set().nSlotsInUse.load(), MAX_STREAMS);  // the join claimed nothing
  AdvanceTickCount(SLOT_START_TIMEOUT_MS + 1);
  rig.Set().Reap();
  EXPECT_EQ(rig.InUse(), 0);
  EXPECT_EQ(rig.Set().nSlotsInUse.load(), 0);
  for (const StreamSlot& s : rig.Set().slots) EXPECT_FALSE(s.mediaSocket.IsOpen());
  EXPECT_EQ(capture.CountContaining("never started, slot reset."), MAX_STREAMS);
  EXPECT_TRUE(capture.Has("dev - stream s49 never started, slot reset."));
}

TEST_F(MediaRequestTest, SlotLostBeforeTheCreateStreamAnswerComesBack) {
  rig.srv.SetAnswerCreateStream(false);
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "cam", 1);
  ASSERT_GT(conn, 0);
  rig.Set().Reap();
  EXPECT_EQ(rig.InUse(), 1);  // waiting for the answer, not lost
  rig.srv.Drop(conn);
  EXPECT_TRUE(WaitUntil(
      [&] {
        rig.Set().Reap();
        return rig.InUse() == 0;
      },
      5000));
  EXPECT_EQ(capture.Count("dev - real thread start."), 0);
  // The slot serves the next request.
  rig.srv.SetAnswerCreateStream(true);
  EXPECT_GT(rig.OpenStream("REQUESTTALK", "again"), 0);
  EXPECT_TRUE(capture.WaitFor("dev - talk thread start.", 5000));
}

TEST_F(MediaRequestTest, DownloadSendsExactlyThirtyMillionBytesThenEnds) {
  int32_t conn = rig.OpenStream("REQUESTDOWNLOADVIDEO", "dl");
  ASSERT_GT(conn, 0);
  ASSERT_TRUE(capture.WaitFor("dev - download video thread exit.", 60000));
  EXPECT_TRUE(rig.srv.WaitForClosed(conn, 5000));
  EXPECT_TRUE(rig.WaitAllFree(2000));
  std::vector<CapturedPacket> packets = rig.PacketsOf(conn, NTYPE_DOWNLOAD);
  ASSERT_EQ(packets.size(), 3750u);
  Bytes expected(8000, 0);
  for (int i = 0; i < 10; ++i) expected[static_cast<size_t>(i)] = static_cast<uint8_t>('1' + i);
  expected[9] = ':';
  for (const CapturedPacket& p : packets) {
    ASSERT_EQ(p.bytes.size(), 8012u);
    ASSERT_EQ(p.info.nChannel, 0);
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), p.bytes.begin() + 12));
  }
  EXPECT_EQ(capture.Count("dev - send data failed."), 0);
}

TEST_F(MediaRequestTest, DownloadToAPeerThatStopsReadingEndsAfterElevenFailures) {
  rig.srv.SetReceiveBuffer(4096);
  rig.srv.SetAnswerCreateStream(false);
  int32_t conn = rig.OpenStream("REQUESTDOWNLOADVIDEO", "dl");
  ASSERT_GT(conn, 0);
  rig.srv.SetReading(conn, false);
  Json::Value answer;
  answer["MODULE"] = "CERTIFICATE";
  answer["OPERATION"] = "CREATESTREAM";
  rig.srv.SendJson(conn, answer);
  ASSERT_TRUE(capture.WaitFor("dev - download video thread exit.", 40000));
  EXPECT_EQ(capture.Count("dev - send data failed."), 11);
  EXPECT_TRUE(rig.WaitAllFree(2000));
  rig.srv.SetReading(conn, true);
  EXPECT_TRUE(rig.srv.WaitForClosed(conn, 5000));
  EXPECT_LT(rig.CountOf(conn, NTYPE_DOWNLOAD), 3750);
}

TEST_F(MediaRequestTest, PlaybackLoopsTheFileInBlocksOnFourChannelsAndPauses) {
  rig.srv.SetRecordLimit(16 << 20);
  Bytes file(20000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 31 + i / 256);
  rig.UseFrames(file);
  int32_t conn = rig.OpenStream("REQUESTREMOTEPLAYBACK", "pb", 9);
  ASSERT_GT(conn, 0);
  EXPECT_EQ(rig.Set().slots[0].nChannelMask.load(), 9u);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_PLAYBACK, 24, 5000));
  std::vector<CapturedPacket> packets = rig.PacketsOf(conn, NTYPE_PLAYBACK);
  const size_t starts[] = {0, 8000, 16000};
  const size_t sizes[] = {8000, 8000, 4000};
  for (size_t k = 0; k < 24; ++k) {
    SCOPED_TRACE(k);
    size_t block = (k / 4) % 3;
    ASSERT_EQ(packets[k].info.nChannel, static_cast<int32_t>(k % 4));
    ASSERT_EQ(packets[k].bytes.size(), 12 + sizes[block]);
    EXPECT_TRUE(std::equal(file.begin() + static_cast<long>(starts[block]),
                           file.begin() + static_cast<long>(starts[block] + sizes[block]), packets[k].bytes.begin() + 12));
  }
  rig.Control("CONTROLREMOTEPLAYBACK", "pb", "PALYBACKCMD", 2);
  // What was in flight arrives; then nothing more.
  int64_t last = -1;
  ASSERT_TRUE(WaitUntil(
      [&] {
        int64_t n = rig.CountOf(conn, NTYPE_PLAYBACK);
        bool still = n == last;
        last = n;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return still;
      },
      10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(rig.CountOf(conn, NTYPE_PLAYBACK), last);
  rig.Control("CONTROLREMOTEPLAYBACK", "pb", "PALYBACKCMD", 1);
  EXPECT_TRUE(rig.WaitCount(conn, NTYPE_PLAYBACK, last + 40, 5000));
  rig.Control("CONTROLREMOTEPLAYBACK", "pb", "PALYBACKCMD", 0);
  EXPECT_TRUE(capture.WaitFor("dev - play video thread exit.", 5000));
  EXPECT_TRUE(rig.WaitAllFree(2000));
}

TEST_F(MediaRequestTest, PlaybackOfAMissingFileEndsAtOnce) {
  rig.dev->SetFramePath(rig.dir.File("missing.bin").c_str());
  int32_t conn = rig.OpenStream("REQUESTREMOTEPLAYBACK", "pb");
  ASSERT_GT(conn, 0);
  EXPECT_TRUE(capture.WaitFor("dev - open file failed.", 5000));
  EXPECT_TRUE(rig.WaitAllFree(2000));
  EXPECT_TRUE(rig.srv.WaitForClosed(conn, 5000));
  EXPECT_EQ(capture.Count("dev - play video thread exit."), 0);
}

TEST_F(MediaRequestTest, TalkSendsSilenceFiveTimesASecondAndLogsWhatItHears) {
  int32_t conn = rig.OpenStream("REQUESTTALK", "tk");
  ASSERT_GT(conn, 0);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_TALK, 1, 5000));
  int64_t first = rig.CountOf(conn, NTYPE_TALK);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  int64_t perSecond = rig.CountOf(conn, NTYPE_TALK) - first;
  EXPECT_GE(perSecond, 3);
  EXPECT_LE(perSecond, 7);
  for (const CapturedPacket& p : rig.PacketsOf(conn, NTYPE_TALK)) {
    ASSERT_EQ(p.bytes.size(), 92u);
    EXPECT_EQ(p.info.nChannel, 0);
    EXPECT_EQ(std::count(p.bytes.begin() + 12, p.bytes.end(), 0), 80);
  }
  rig.srv.SendPacket(conn, NTYPE_TALK, 3, Bytes(100, 0x7F));
  EXPECT_TRUE(capture.WaitFor("devq5 - recv auido data, len = 112", 5000));
  rig.srv.Drop(conn);
  EXPECT_TRUE(capture.WaitFor("dev - talk thread exit.", 5000));
  EXPECT_TRUE(rig.WaitAllFree(2000));
}

}  // namespace
