// Cutting received bytes into packets, recognising frame-file chunks in live
// media, and the bookkeeping that matches replies and names recordings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/debug_capture.h"
#include "tools/server/chunk_probe.h"
#include "tools/server/packet_stream.h"
#include "tools/server/pending_requests.h"
#include "tools/server/recorder.h"
#include "tools/server/stream_table.h"

namespace {
std::string Packet(int32_t type, int32_t channel, const std::string& payload) {
  std::string p(PACKET_HEAD_LEN, '\0');
  WritePacketHead(reinterpret_cast<uint8_t*>(p.data()), type, channel, static_cast<int32_t>(payload.size()));
  return p + payload;
}

struct Seen {
  int32_t nType;
  int32_t nChannel;
  std::string payload;
};

int32_t FeedAll(CPacketStream& s, const std::string& bytes, std::vector<Seen>* seen, size_t step) {
  int32_t r = FEED_OK;
  for (size_t off = 0; off < bytes.size() && r == FEED_OK; off += step) {
    std::string part = bytes.substr(off, step);
    r = s.Feed(reinterpret_cast<const uint8_t*>(part.data()), part.size(), [&](const PacketInfo& i, const uint8_t* p) {
      seen->push_back({i.nType, i.nChannel,
                       std::string(reinterpret_cast<const char*>(p) + i.nHeadLen, static_cast<size_t>(i.nDataLen))});
      return true;
    });
  }
  return r;
}

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

TEST(ServerFraming, PacketsComeOutWholeHoweverTheBytesArrive) {
  std::string ext(1, '\x10');  // one extension word: a 16-byte header
  ext += std::string(PACKET_HEAD_LEN - 1, '\0');
  std::string extended = Packet(0, 0, "{}");
  extended[0] = 0x10;
  extended.insert(PACKET_HEAD_LEN, "EXT!");
  std::string bytes = Packet(0, 0, std::string("{\"A\":1}") + '\0') + Packet(2, 3, std::string(70000, 'v')) +
                      extended + Packet(5, 0, "") + Packet(5, 1, "tail");
  for (size_t step : {bytes.size(), size_t{1}, size_t{7}, size_t{4096}}) {
    CPacketStream s;
    std::vector<Seen> seen;
    ASSERT_EQ(FeedAll(s, bytes, &seen, step), FEED_OK) << step;
    ASSERT_EQ(seen.size(), 5u) << step;
    EXPECT_EQ(seen[0].payload, std::string("{\"A\":1}") + '\0');
    EXPECT_EQ(seen[1].nType, 2);
    EXPECT_EQ(seen[1].nChannel, 3);
    EXPECT_EQ(seen[1].payload, std::string(70000, 'v'));
    EXPECT_EQ(seen[2].payload, "{}");  // the extension word is skipped
    EXPECT_EQ(seen[3].payload, "");
    EXPECT_EQ(seen[4].payload, "tail");
    EXPECT_EQ(s.Held(), 0u);
  }
}

TEST(ServerFraming, RefusedHeadersStopTheStream) {
  DebugCapture capture;  // the header check writes its own line
  std::vector<Seen> seen;
  CPacketStream garbage;
  std::string g = "GET / HTTP/1.1\r\nHost: xyz\r\n\r\n";
  EXPECT_EQ(FeedAll(garbage, g, &seen, g.size()), FEED_BAD);
  EXPECT_EQ(garbage.BadSample(), "GET / HTTP/1.1\\x0D\\x0AHost: xy...");
  CPacketStream slow;  // the header completes across feeds: the sample still starts at it
  EXPECT_EQ(FeedAll(slow, g, &seen, 5), FEED_BAD);
  EXPECT_EQ(slow.BadSample(), "GET / HTTP/1.1\\x0D");

  CPacketStream tooLong;
  std::string head = Packet(2, 0, "");
  head[4] = 0x00, head[5] = 0x5B, head[6] = static_cast<char>(0x8D), head[7] = static_cast<char>(0x81);  // 6000001
  EXPECT_EQ(FeedAll(tooLong, Packet(0, 0, "{}") + head, &seen, 5), FEED_BAD);
  EXPECT_EQ(seen.size(), 1u);  // the good packet before it was delivered
  EXPECT_TRUE(capture.Has("napi - data length error, data len = 6000001"));

  // Byte 0 equal to 8 marks a header as acceptable whatever bytes 8-11 hold.
  CPacketStream marked;
  std::string m = Packet(5, 0, "ab");
  m[0] = 8;
  m[8] = 'x';
  seen.clear();
  EXPECT_EQ(FeedAll(marked, m, &seen, 1), FEED_OK);
  EXPECT_EQ(seen.size(), 1u);
}

TEST(ServerFraming, HandlerCanStopAndHeldBytesAreBounded) {
  CPacketStream s;
  std::string bytes = Packet(5, 0, "a") + Packet(5, 0, "b");
  int n = 0;
  EXPECT_EQ(s.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                   [&](const PacketInfo&, const uint8_t*) { return ++n < 1; }),
            FEED_STOP);
  EXPECT_EQ(n, 1);

  // A big packet is held while it arrives, and only up to its own length.
  CPacketStream big;
  std::string p = Packet(2, 0, std::string(3000000, 'x')) + Packet(5, 0, "next");
  std::vector<Seen> seen;
  FeedAll(big, p.substr(0, 1000000), &seen, 1000000);
  EXPECT_EQ(big.Held(), 1000000u);
  FeedAll(big, p.substr(1000000), &seen, 250000);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].payload.size(), 3000000u);
  EXPECT_EQ(seen[1].payload, "next");
  EXPECT_EQ(big.Held(), 0u);
}

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
