// The test packet builder must agree with the system's own packet code byte
// for byte, or every test built on it would check the wrong thing.
#include "tests/support/packet_builder.h"

#include <gtest/gtest.h>

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
  PacketInfo info;
  ASSERT_TRUE(ParsePacketHead(pkt.data(), &info));
  EXPECT_EQ(info.nPacketLen, static_cast<int32_t>(pkt.size()));
  EXPECT_EQ(std::string(pkt.begin() + 12, pkt.end() - 1), text);
  EXPECT_EQ(pkt.back(), 0);
}

}  // namespace
