// Recognising frame-file chunks in live media, and the bookkeeping that
// matches replies and names recordings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tools/server/chunk_probe.h"
#include "tools/server/pending_requests.h"
#include "tools/server/recorder.h"
#include "tools/server/stream_table.h"

namespace {
// A 24-byte H264 chunk header, extension and payload.
std::string H264Chunk(bool bKey, const std::string& ext, const std::string& payload) {
  std::string c = bKey ? "00dcH264" : "01dcH264";
  uint32_t len = static_cast<uint32_t>(payload.size());
  c.append(reinterpret_cast<const char*>(&len), 4);
  uint16_t extLen = static_cast<uint16_t>(ext.size());
  c.append(reinterpret_cast<const char*>(&extLen), 2);
  c.append(2, '\0');
  c.append(8, '\0');
  return c + ext + payload;
}
}  // namespace

TEST(ServerMedia, ChunksAreRecognisedInAllThreeLayouts) {
  std::string key = H264Chunk(true, "EXTN", std::string("\x00\x00\x00\x01\x67payload", 12));
  ChunkProbe p = ProbeChunk(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  EXPECT_TRUE(p.bChunk && p.bVideo && p.bKeyFrame);
  EXPECT_EQ(p.nPayloadOff, 28u);
  EXPECT_EQ(key.substr(p.nPayloadOff, p.nPayloadLen), std::string("\x00\x00\x00\x01\x67payload", 12));

  std::string delta = H264Chunk(false, "", "abc");
  p = ProbeChunk(reinterpret_cast<const uint8_t*>(delta.data()), delta.size());
  EXPECT_TRUE(p.bChunk && p.bVideo && !p.bKeyFrame);

  std::string lower = delta;
  memcpy(lower.data() + 4, "h264", 4);  // codec mark is case sensitive
  EXPECT_FALSE(ProbeChunk(reinterpret_cast<const uint8_t*>(lower.data()), lower.size()).bChunk);
  EXPECT_FALSE(ProbeChunk(reinterpret_cast<const uint8_t*>(key.data()), key.size() - 1).bChunk);  // cut short

  for (char type : {'2', '3', '4', '5', '6'}) {
    std::string avapi = std::string("\x01") + type + "dc" + std::string("\x03\x00\x00\x00\x04\x00\x00\x00", 8) + "EXT!abc";
    p = ProbeChunk(reinterpret_cast<const uint8_t*>(avapi.data()), avapi.size());
    EXPECT_TRUE(p.bChunk) << type;
    EXPECT_EQ(p.bKeyFrame, type == '2' || type == '5') << type;
    EXPECT_EQ(p.bVideo, type != '4') << type;
    EXPECT_EQ(avapi.substr(p.nPayloadOff, p.nPayloadLen), "abc");
  }
  std::string audio = std::string("01wb\x00\x00\x03\x00", 8) + "pcm";
  p = ProbeChunk(reinterpret_cast<const uint8_t*>(audio.data()), audio.size());
  EXPECT_TRUE(p.bChunk && !p.bVideo);
}

TEST(ServerMedia, LivePacketsAreCountedPerChannel) {
  StreamRecord rec;
  std::string key = H264Chunk(true, "", "K");
  std::string delta = H264Chunk(false, "", "D");
  auto count = [&](int32_t type, int32_t channel, const std::string& payload, uint64_t ms) {
    PacketInfo info;
    info.nType = type;
    info.nChannel = channel;
    info.nDataLen = static_cast<int32_t>(payload.size());
    CountMediaPacket(rec, info, reinterpret_cast<const uint8_t*>(payload.data()), ms);
  };
  count(NTYPE_LIVE, 0, key, 1000);
  for (int i = 1; i <= 24; i++) count(NTYPE_LIVE, 0, delta, 1000 + 40u * static_cast<uint64_t>(i));
  count(NTYPE_LIVE, 2, key, 1000);
  count(NTYPE_LIVE, 2, "junk", 1000);
  count(NTYPE_TALK, 0, std::string(80, '\0'), 1000);
  EXPECT_EQ(rec.nPackets, 28u);
  EXPECT_EQ(rec.channels[0].nVideoFrames, 25u);
  EXPECT_EQ(rec.channels[0].nKeyFrames, 1u);
  EXPECT_DOUBLE_EQ(FrameRate(rec.channels[0]), 25.0);
  EXPECT_EQ(rec.channels[2].nPackets, 2u);
  EXPECT_EQ(rec.channels[2].nVideoFrames, 1u);
  EXPECT_EQ(rec.channels[2].nBytes, key.size() + 4);
  EXPECT_EQ(rec.nTalkReceived, 1u);
}

TEST(ServerReplies, MatchedBySerialOnce) {
  CPendingRequests pending;
  pending.Add({7, "A", "GETCALENDAR", "", 1000});
  pending.Add({8, "A", "REQUESTTALK", "s1", 1000});
  Json::Value reply;
  reply["RESPONSE"]["SERIAL"] = "7";  // a string is not the integer 7
  PendingRequest got;
  EXPECT_FALSE(pending.Take(reply, &got));
  reply["RESPONSE"]["SERIAL"] = 7;
  ASSERT_TRUE(pending.Take(reply, &got));
  EXPECT_EQ(got.szOperation, "GETCALENDAR");
  EXPECT_FALSE(pending.Take(reply, &got));  // answered once
  pending.Expire(1000 + 120001, 120000);
  reply["RESPONSE"]["SERIAL"] = 8;
  EXPECT_FALSE(pending.Take(reply, &got));
  EXPECT_EQ(pending.Size(), 0u);
}

TEST(ServerRecorder, StreamNamesCannotLeaveTheDirectory) {
  EXPECT_EQ(SafeFileName("s1"), "s1");
  EXPECT_EQ(SafeFileName("../../etc/passwd"), "_.._.._etc_passwd");
  EXPECT_EQ(SafeFileName(".hidden"), "_.hidden");
  EXPECT_EQ(SafeFileName(""), "_");
  CRecorder rec("/tmp/dir");
  EXPECT_EQ(rec.PathOf("a/b", 3), "/tmp/dir/a_b-ch3.h264");
  std::string error;
  EXPECT_FALSE(CRecorder("/proc/self/status").PrepareDir(&error));  // a file, not a directory
  EXPECT_FALSE(error.empty());
}
