// The test packet builder and stream parser must agree with the system's own
// packet code byte for byte, or every test built on them would check the
// wrong thing.
#include "tests/support/packet_builder.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/debug_capture.h"

namespace {

std::string TextOfLength(size_t n) {
  // {"K":"xxx..."} has 8 bytes around the filler.
  return "{\"K\":\"" + std::string(n - 8, 'x') + "\"}";
}

TEST(PacketBuilder, TextPacketMatchesSystemBuilderAndHeaderLayout) {
  Json::Value v(Json::objectValue);
  v["K"] = std::string(92, 'x');  // compact text of exactly 100 bytes
  uint8_t sys[SIGNAL_PACKET_BUF];
  std::string sysText;
  int32_t sysLen = BuildSignalPacket(v, sys, &sysText);
  ASSERT_EQ(sysText, TextOfLength(100));

  Bytes pkt = BuildJsonPacket(v);
  ASSERT_EQ(pkt.size(), 113u);
  ASSERT_EQ(sysLen, 113);
  EXPECT_EQ(Bytes(sys, sys + sysLen), pkt);
  const Bytes head = {0, 0, 0, 0, 0, 0, 0, 0x65, 0x52, 0, 0, 0};
  EXPECT_EQ(Bytes(pkt.begin(), pkt.begin() + 12), head);
  EXPECT_EQ(pkt.back(), 0);
  EXPECT_EQ(BuildTextPacket(TextOfLength(100)), pkt);
}

TEST(PacketBuilder, TextBeyondSystemLimitStillFramedWhole) {
  std::string text = TextOfLength(SIGNAL_MAX_TEXT + 2000);
  Bytes pkt = BuildTextPacket(text);
  ASSERT_EQ(pkt.size(), text.size() + 13);
  bool bBroken = true;
  auto pkts = ParsePacketStream(pkt.data(), pkt.size(), &bBroken);
  EXPECT_FALSE(bBroken);
  ASSERT_EQ(pkts.size(), 1u);
  EXPECT_EQ(pkts[0].info.nDataLen, static_cast<int32_t>(text.size() + 1));
  EXPECT_EQ(pkts[0].szText, text);
  EXPECT_TRUE(pkts[0].bJsonOk);
  EXPECT_EQ(pkts[0].json["K"].asString().size(), text.size() - 8);
}

TEST(PacketBuilder, ReadPacketHeadAgreesWithSystemCheckAndStaysQuiet) {
  std::mt19937 rng(12345);
  std::vector<Bytes> heads = {
      BuildRawHead(8, 0, 0, 10, 0xDEADBEEF),   // flag 8 accepted whatever the magic
      BuildRawHead(0, 0, 0, 10, 0x152),        // 0x52 at byte 8 but not the value 82
      BuildRawHead(0, -1, 0, 10, 0),           // type 0xFF reported as -1
      BuildRawHead(0, 2, 0, 6000000),          // largest accepted length
      BuildRawHead(0, 2, 0, 6000001),          // one too many
      BuildRawHead(0, 2, 0, -1),               // FF FF FF FF
      BuildRawHead(0x10, 5, -3, 0),            // one extension word, negative channel
      BuildRawHead(0xF0, 3, 32767, 7),         // longest header
  };
  for (int i = 0; i < 2000; ++i) {
    Bytes h(12);
    for (auto& b : h) b = static_cast<uint8_t>(rng());
    if (i % 2) {  // half of them with a good magic
      h[8] = 0x52;
      h[9] = h[10] = h[11] = 0;
    }
    heads.push_back(h);
  }
  std::vector<std::pair<bool, PacketInfo>> mine;
  {
    DebugCapture capture;
    for (const auto& h : heads) {
      PacketInfo info;
      bool ok = ReadPacketHead(h.data(), &info);
      mine.emplace_back(ok, info);
    }
    EXPECT_TRUE(capture.Lines().empty());
  }
  DebugCapture capture;  // the system's check writes its refusals; keep them off stderr
  for (size_t i = 0; i < heads.size(); ++i) {
    PacketInfo sys;
    bool ok = ParsePacketHead(heads[i].data(), &sys);
    ASSERT_EQ(ok, mine[i].first) << "header " << i;
    EXPECT_EQ(sys.nDataLen, mine[i].second.nDataLen);
    EXPECT_EQ(sys.nHeadLen, mine[i].second.nHeadLen);
    EXPECT_EQ(sys.nPacketLen, mine[i].second.nPacketLen);
    EXPECT_EQ(sys.nType, mine[i].second.nType);
    EXPECT_EQ(sys.nChannel, mine[i].second.nChannel);
  }
  EXPECT_TRUE(mine[0].first);
  EXPECT_FALSE(mine[1].first);
  EXPECT_EQ(mine[2].second.nType, -1);
  EXPECT_TRUE(mine[3].first);
  EXPECT_FALSE(mine[4].first);
  EXPECT_EQ(mine[5].second.nDataLen, -1);
  EXPECT_EQ(mine[6].second.nHeadLen, 16);
  EXPECT_EQ(mine[6].second.nChannel, -3);
  EXPECT_EQ(mine[7].second.nHeadLen, 72);
}

TEST(PacketStream, PacketInThreeChunksDeliveredOnceWhole) {
  Bytes pkt = BuildTextPacket("{\"OPERATION\":\"KEEPALIVE\"}");
  CPacketStream s;
  CapturedPacket out;
  s.Feed(pkt.data(), 5);
  EXPECT_FALSE(s.Next(&out));
  s.Feed(pkt.data() + 5, 20);
  EXPECT_FALSE(s.Next(&out));
  s.Feed(pkt.data() + 25, pkt.size() - 25);
  ASSERT_TRUE(s.Next(&out));
  EXPECT_EQ(out.bytes, pkt);
  EXPECT_EQ(out.Operation(), "KEEPALIVE");
  EXPECT_FALSE(s.Next(&out));
  EXPECT_EQ(s.Pending(), 0u);
}

TEST(PacketStream, TwoAndAHalfPacketsInOneChunk) {
  Bytes a = BuildMediaPacket(NTYPE_LIVE, 1, Bytes(300, 0xAA));
  Bytes b = BuildMediaPacket(NTYPE_TALK, 0, Bytes(7, 0xBB));
  Bytes c = BuildMediaPacket(NTYPE_PLAYBACK, 2, Bytes(50, 0xCC));
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  all.insert(all.end(), c.begin(), c.begin() + 30);
  CPacketStream s;
  s.Feed(all.data(), all.size());
  auto got = s.TakeAll();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].bytes, a);
  EXPECT_EQ(got[0].info.nChannel, 1);
  EXPECT_EQ(got[1].info.nType, NTYPE_TALK);
  EXPECT_EQ(s.Pending(), 30u);
  s.Feed(c.data() + 30, c.size() - 30);
  got = s.TakeAll();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes, c);
}

TEST(PacketStream, ExtensionWordsBelongToThePacket) {
  Bytes pkt = BuildRawHead(0x10, NTYPE_SIGNAL, 0, 3);
  const Bytes tail = {0xE1, 0xE2, 0xE3, 0xE4, '{', '}', 0};
  pkt.insert(pkt.end(), tail.begin(), tail.end());
  auto got = ParsePacketStream(pkt.data(), pkt.size());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes.size(), 19u);
  EXPECT_EQ(got[0].szText, "{}");
}

TEST(PacketStream, TextEndsAtFirstNulAndNeverPassesDataLen) {
  Bytes inner = BuildTextPacket(std::string("{\"A\":1}\0garbage", 15));
  auto got = ParsePacketStream(inner.data(), inner.size());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].szText, "{\"A\":1}");
  EXPECT_TRUE(got[0].bJsonOk);

  // No NUL at all: the text is the whole payload and nothing after it.
  Bytes noNul = BuildPacket(NTYPE_SIGNAL, 0, std::string_view("{\"B\":2}"));
  Bytes next = BuildTextPacket("{\"C\":3}");
  noNul.insert(noNul.end(), next.begin(), next.end());
  got = ParsePacketStream(noNul.data(), noNul.size());
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].szText, "{\"B\":2}");
  EXPECT_EQ(got[1].szText, "{\"C\":3}");
}

TEST(PacketStream, RefusedHeaderBreaksTheStreamForGood) {
  Bytes good = BuildTextPacket("{}");
  Bytes bad = BuildRawHead(0, 0, 0, 5, 0x53);
  Bytes all = good;
  all.insert(all.end(), bad.begin(), bad.end());
  all.insert(all.end(), good.begin(), good.end());
  CPacketStream s;
  s.Feed(all.data(), all.size());
  EXPECT_TRUE(s.Broken());
  EXPECT_EQ(s.BrokenHead().nDataLen, 5);
  EXPECT_EQ(s.TakeAll().size(), 1u);
  s.Feed(good.data(), good.size());
  EXPECT_TRUE(s.TakeAll().empty());
  EXPECT_EQ(s.DiscardedBytes(), bad.size() + 2 * good.size());

  Bytes tooLong = BuildRawHead(0, 2, 0, 6000001);
  bool bBroken = false;
  EXPECT_TRUE(ParsePacketStream(tooLong.data(), tooLong.size(), &bBroken).empty());
  EXPECT_TRUE(bBroken);
}

TEST(PacketStream, LargestLengthWaitsForItsPayload) {
  Bytes head = BuildRawHead(0, NTYPE_DOWNLOAD, 0, 6000000);
  CPacketStream s;
  s.Feed(head.data(), head.size());
  EXPECT_FALSE(s.Broken());
  EXPECT_EQ(s.Pending(), 12u);
  Bytes payload(6000000, 0x11);
  s.Feed(payload.data(), payload.size());
  auto got = s.TakeAll();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes.size(), 6000012u);
}

}  // namespace
