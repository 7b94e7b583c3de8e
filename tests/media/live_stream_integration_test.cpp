#include <gtest/gtest.h>

#include <sys/socket.h>

#include <map>

#include "tests/media/media_rig.h"
#include "tests/support/debug_capture.h"

namespace {

// Chunks at 25 per second (40 ms steps), a key frame every gop chunks.
Bytes PacedFile(uint32_t count, uint32_t gop, size_t payload) {
  Bytes file;
  for (uint32_t i = 0; i < count; ++i) AppendBytes(file, IndexedChunk(i, i % gop == 0, (i + 1) * 40000ull, payload));
  return file;
}

struct LiveStreamTest : ::testing::Test {
  DebugCapture capture;
  CMediaRig rig;
  void SetUp() override { rig.Start(); }
};

TEST_F(LiveStreamTest, MaskFiveSendsEveryChunkOnChannelsZeroAndTwoInFileOrder) {
  // Ten video chunks with an audio chunk between the third and the fourth.
  std::vector<Bytes> chunks;
  for (uint32_t i = 0; i < 10; ++i) {
    chunks.push_back(IndexedChunk(i, i % 5 == 0, (i + 1) * 40000ull, 1000 + i));
    if (i == 2) chunks.push_back(AudioChunk('0', 64));
  }
  Bytes file;
  for (const Bytes& c : chunks) AppendBytes(file, c);
  rig.UseFrames(file);
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "cam", 5);
  ASSERT_GT(conn, 0);
  EXPECT_EQ(rig.srv.Operations(conn).at(0), "CREATESTREAM");
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, 2 * static_cast<int64_t>(chunks.size()), 10000));
  std::vector<CapturedPacket> live = rig.PacketsOf(conn, NTYPE_LIVE);
  for (size_t k = 0; k < 2 * chunks.size(); ++k) {
    const CapturedPacket& p = live[k];
    const Bytes& chunk = chunks[k / 2];
    SCOPED_TRACE(k);
    EXPECT_EQ(p.info.nChannel, k % 2 == 0 ? 0 : 2);
    EXPECT_EQ(p.info.nDataLen, static_cast<int32_t>(chunk.size()));
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), p.bytes.begin() + 12));
  }
  EXPECT_EQ(capture.Count("dev - real thread start."), 1);
  EXPECT_EQ(capture.Count("dev - open file ok."), 1);
}

TEST_F(LiveStreamTest, SecondRequestOfTheSameNameJoinsWithoutANewConnection) {
  rig.UseFrames(PacedFile(50, 25, 500));
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "cam", 1);
  ASSERT_GT(conn, 0);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, 3, 5000));
  int32_t connections = rig.srv.ConnectionCount();
  rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "cam", "no address needed", 2));
  ASSERT_TRUE(rig.srv.WaitForOperation(rig.nSigConn, "REQUESTALIVEVIDEO", 2, 5000));
  std::vector<std::string> replies = rig.Replies("REQUESTALIVEVIDEO");
  EXPECT_EQ(replies.at(0), replies.at(1));
  ASSERT_TRUE(rig.srv.WaitForPacket(
      [&](const CapturedPacket& p) { return p.nConn == conn && p.info.nType == NTYPE_LIVE && p.info.nChannel == 1; },
      5000));
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, rig.CountOf(conn, NTYPE_LIVE) + 6, 5000));
  EXPECT_EQ(rig.srv.ConnectionCount(), connections);
  EXPECT_EQ(rig.InUse(), 1);
  // From the first packet on channel 1 on, each chunk goes to channel 0 and then 1.
  std::vector<CapturedPacket> live = rig.PacketsOf(conn, NTYPE_LIVE);
  size_t first = 0;
  while (live[first].info.nChannel != 1) ++first;
  for (size_t k = first + 1; k + 1 < live.size(); k += 2) {
    EXPECT_EQ(live[k].info.nChannel, 0);
    EXPECT_EQ(live[k + 1].info.nChannel, 1);
    EXPECT_EQ(ChunkIndexOf(live[k]), ChunkIndexOf(live[k + 1]));
  }
}

TEST_F(LiveStreamTest, EmptyingTheMaskEndsTheSenderAndFreesTheSlot) {
  rig.UseFrames(PacedFile(50, 25, 500));
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "cam", 5);
  ASSERT_GT(conn, 0);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, 4, 5000));
  rig.Control("CONTROLSTREAM", "cam", "CMD", 0, "SSRC", 0);
  int64_t before = rig.CountOf(conn, NTYPE_LIVE);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, before + 8, 5000));
  std::vector<CapturedPacket> live = rig.PacketsOf(conn, NTYPE_LIVE);
  for (size_t k = live.size() - 4; k < live.size(); ++k) EXPECT_EQ(live[k].info.nChannel, 2);
  EXPECT_EQ(capture.Count("dev - real thread exit."), 0);
  EXPECT_EQ(rig.Set().nSlotsInUse.load(), 1);
  rig.Control("CONTROLSTREAM", "cam", "CMD", 0, "SSRC", 2);
  EXPECT_TRUE(capture.WaitFor("dev - real thread exit.", 5000));
  EXPECT_TRUE(rig.WaitAllFree(2000));
  EXPECT_EQ(rig.Set().nSlotsInUse.load(), 0);
  EXPECT_TRUE(rig.srv.WaitForClosed(conn, 5000));
}

TEST_F(LiveStreamTest, TurnOffIntervalEndsTheStream) {
  EditProperties(*rig.dev, [](DeviceProperties& p) { p.nLiveViewOff = 30; });
  rig.UseFrames(PacedFile(50, 25, 500));
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "cam", 1);
  ASSERT_GT(conn, 0);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, 5, 5000));
  EXPECT_EQ(rig.InUse(), 1);
  AdvanceTickCount(29000);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, rig.CountOf(conn, NTYPE_LIVE) + 5, 5000));
  EXPECT_EQ(capture.Count("dev - real thread exit."), 0);
  AdvanceTickCount(2000);
  EXPECT_TRUE(capture.WaitFor("dev - real thread exit.", 3000));
  EXPECT_TRUE(rig.WaitAllFree(2000));
}

TEST_F(LiveStreamTest, ServerClosingTheMediaConnectionEndsTheSender) {
  rig.UseFrames(PacedFile(50, 25, 500));
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "cam", 1);
  ASSERT_GT(conn, 0);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, 3, 5000));
  rig.srv.Drop(conn);
  EXPECT_TRUE(capture.WaitFor("dev - real thread exit.", 5000));
  EXPECT_TRUE(rig.WaitAllFree(2000));
}

TEST_F(LiveStreamTest, RepeatedCreateStreamAnswerStartsNoSecondSender) {
  rig.UseFrames(PacedFile(25, 25, 300));
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "cam", 1);
  ASSERT_GT(conn, 0);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, 2, 5000));
  Json::Value answer;
  answer["MODULE"] = "CERTIFICATE";
  answer["OPERATION"] = "CREATESTREAM";
  answer["RESPONSE"]["ERRORCODE"] = 0;
  for (int i = 0; i < 3; ++i) rig.srv.SendJson(conn, answer);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, rig.CountOf(conn, NTYPE_LIVE) + 15, 5000));
  EXPECT_EQ(capture.Count("dev - real thread start."), 1);
  // One sender: the chunks follow each other once, in file order.
  std::vector<CapturedPacket> live = rig.PacketsOf(conn, NTYPE_LIVE);
  for (size_t k = 1; k < live.size(); ++k) EXPECT_EQ(ChunkIndexOf(live[k]), (ChunkIndexOf(live[k - 1]) + 1) % 25);
}

TEST_F(LiveStreamTest, ChunkTooBigForThePacketBufferIsSkipped) {
  Bytes file;
  AppendBytes(file, IndexedChunk(0, true, 40000, 100));
  AppendBytes(file, IndexedChunk(1, true, 80000, 999988 - 24));   // fits exactly
  AppendBytes(file, IndexedChunk(2, true, 120000, 999989 - 24));  // one byte too many
  AppendBytes(file, IndexedChunk(3, false, 160000, 100));
  rig.UseFrames(file);
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "big", 1);
  ASSERT_GT(conn, 0);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, 5, 10000));
  std::vector<CapturedPacket> live = rig.PacketsOf(conn, NTYPE_LIVE);
  std::vector<uint32_t> order;
  for (size_t k = 0; k < 5; ++k) order.push_back(ChunkIndexOf(live[k]));
  EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 3, 0, 1}));
  EXPECT_EQ(live[1].info.nDataLen, 999988);
  Bytes big = IndexedChunk(1, true, 80000, 999988 - 24);
  EXPECT_TRUE(std::equal(big.begin(), big.end(), live[1].bytes.begin() + 12));
}

// A peer that stops reading: the failed channel sends nothing more until the
// next key frame, and the stream goes on once the peer reads again.
TEST_F(LiveStreamTest, StalledPeerMakesTheChannelWaitForTheNextKeyFrame) {
  rig.srv.SetReceiveBuffer(4096);
  // Key frames every 2 s: longer than the catch-up after a 1 s failed send,
  // so the sender must also pass over chunks after pausing for early ones.
  rig.UseFrames(PacedFile(100, 50, 1000));
  int32_t conn = rig.OpenStream("REQUESTALIVEVIDEO", "cam", 1);
  ASSERT_GT(conn, 0);
  // A small send buffer on the device's side too, so that a stall shows
  // within a second or two at 25 chunks a second.
  int fd = rig.Set().slots[0].mediaSocket.Handle();
  int sndbuf = 8192;
  ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf), 0);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, 5, 5000));
  rig.srv.SetReading(conn, false);
  ASSERT_TRUE(capture.WaitFor("dev - send data failed.", 20000));
  rig.srv.SetReading(conn, true);
  // Far more than the stall left in the buffers: chunks sent after it arrive too.
  int64_t now = rig.CountOf(conn, NTYPE_LIVE);
  ASSERT_TRUE(rig.WaitCount(conn, NTYPE_LIVE, now + 60, 15000));
  std::vector<CapturedPacket> live = rig.PacketsOf(conn, NTYPE_LIVE);
  int gaps = 0;
  for (size_t k = 1; k < live.size(); ++k) {
    uint32_t prev = ChunkIndexOf(live[k - 1]);
    uint32_t cur = ChunkIndexOf(live[k]);
    if (cur == (prev + 1) % 100) continue;
    ++gaps;
    EXPECT_EQ(cur % 50, 0u) << "after " << prev << " came non-key chunk " << cur;
  }
  EXPECT_GE(gaps, 1);
  EXPECT_EQ(capture.Count("dev - real thread exit."), 0);
}

}  // namespace
