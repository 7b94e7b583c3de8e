// Header validation and the building of signalling packets: wrong acceptance
// marks, length bounds, sign handling in messages, and the 8000-byte limit.
#include <gtest/gtest.h>
#include <json/value.h>

#include <cstring>
#include <string>

#include "net/my_socket.h"
#include "net/packet.h"
#include "tests/support/debug_capture.h"
#include "tests/support/framer_harness.h"

namespace {

// A 12-byte header with the given flag, type, data length field and bytes 8-11.
Bytes Head(uint8_t flag, uint8_t type, uint32_t dataLen, uint32_t magicLe = 82) {
  Bytes h = {flag, type, 0, 0};
  h = Concat(Concat(h, Be32Bytes(dataLen)), Le32Bytes(magicLe));
  return h;
}

TEST(PacketHead, ExtensionWordsLengthenTheHeader) {
  Bytes h = Head(0x10, 0, 5);
  PacketInfo info;
  ASSERT_TRUE(ParsePacketHead(h.data(), &info));
  EXPECT_EQ(info.nHeadLen, 16);
  EXPECT_EQ(info.nPacketLen, 21);
  Bytes h2 = Head(0xF0, 0, 0);
  ASSERT_TRUE(ParsePacketHead(h2.data(), &info));
  EXPECT_EQ(info.nHeadLen, 72);

  // The framer delivers header, extension and payload as one packet.
  FramerHarness f(FRAME_NAPI);
  Bytes pkt = MakeNapiPacket(NTYPE_SIGNAL, 0, TextBytes("abcde"), 0x10);
  ASSERT_EQ(pkt.size(), 21u);
  EXPECT_EQ(f.Feed(pkt), 0);
  ASSERT_EQ(f.frames.size(), 1u);
  EXPECT_EQ(f.frames[0], pkt);
}

TEST(PacketHead, FlagEightIsAcceptedWhateverTheMagic) {
  DebugCapture cap;
  PacketInfo info;
  for (uint32_t magic : {0u, 0xFFFFFFFFu, 0x00000053u}) {
    Bytes h = Head(8, 0, 3, magic);
    EXPECT_TRUE(ParsePacketHead(h.data(), &info)) << magic;
    EXPECT_EQ(info.nHeadLen, 12);
  }
  EXPECT_TRUE(cap.Lines().empty());
}

TEST(PacketHead, MagicWithNonZeroHighBytesIsRefused) {
  DebugCapture cap;
  PacketInfo info;
  Bytes h = Head(0, 0, 5, 0x00000152);  // byte 8 is 0x52, byte 9 is 1
  EXPECT_FALSE(ParsePacketHead(h.data(), &info));
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"napi - network data error, packet len = 17, nType = 0"});
  // The fields are filled even for a refused header.
  EXPECT_EQ(info.nDataLen, 5);
  EXPECT_EQ(info.nPacketLen, 17);
}

TEST(PacketHead, TypeIsSignedInTheNetworkErrorMessage) {
  DebugCapture cap;
  PacketInfo info;
  Bytes h = Head(0, 0xFF, 5, 0);
  h[2] = 0xFE;
  h[3] = 0xFF;
  EXPECT_FALSE(ParsePacketHead(h.data(), &info));
  EXPECT_EQ(info.nType, -1);
  EXPECT_EQ(info.nChannel, -2);
  EXPECT_TRUE(cap.Has("napi - network data error, packet len = 17, nType = -1"));
}

TEST(PacketHead, DataLengthBounds) {
  DebugCapture cap;
  PacketInfo info;
  Bytes zero = Head(0, 0, 0);
  ASSERT_TRUE(ParsePacketHead(zero.data(), &info));
  EXPECT_EQ(info.nPacketLen, 12);
  Bytes max = Head(0, 2, 6000000);
  EXPECT_TRUE(ParsePacketHead(max.data(), &info));
  EXPECT_TRUE(cap.Lines().empty());

  Bytes over = Head(0, 2, 6000001);
  EXPECT_FALSE(ParsePacketHead(over.data(), &info));
  Bytes negative = Head(0, 2, 0xFFFFFFFFu);
  EXPECT_FALSE(ParsePacketHead(negative.data(), &info));
  EXPECT_EQ(info.nDataLen, -1);
  EXPECT_EQ(cap.Lines(), (std::vector<std::string>{"napi - data length error, data len = 6000001",
                                                   "napi - data length error, data len = -1"}));
}

TEST(PacketHead, EmptyPayloadPacketIsDeliveredAsHeaderAlone) {
  FramerHarness f(FRAME_NAPI);
  Bytes pkt = MakeNapiPacket(NTYPE_SIGNAL, 0, {});
  EXPECT_EQ(f.Feed(Concat(pkt, pkt)), 0);
  ASSERT_EQ(f.frames.size(), 2u);
  EXPECT_EQ(f.frames[1].size(), 12u);
  EXPECT_EQ(f.sock.Buffered(), 0);
}

// An object whose compact text is exactly textLen bytes: {"A":"xx..."}.
Json::Value ValueOfTextLength(size_t textLen) {
  Json::Value v(Json::objectValue);
  v["A"] = std::string(textLen - 8, 'x');
  return v;
}

TEST(SignalPacket, HundredByteTextMakesA113BytePacket) {
  uint8_t buf[SIGNAL_PACKET_BUF];
  std::string text;
  ASSERT_EQ(BuildSignalPacket(ValueOfTextLength(100), buf, &text), 113);
  ASSERT_EQ(text.size(), 100u);
  const uint8_t head[12] = {0, 0, 0, 0, 0, 0, 0, 0x65, 0x52, 0, 0, 0};
  EXPECT_EQ(Bytes(buf, buf + 12), Bytes(head, head + 12));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 12, 100), text);
  EXPECT_EQ(buf[112], 0);
}

TEST(SignalPacket, TextLimitFitsTheBuffer) {
  uint8_t buf[SIGNAL_PACKET_BUF + 64];
  memset(buf, 0xAB, sizeof buf);
  std::string text;
  EXPECT_EQ(BuildSignalPacket(ValueOfTextLength(7987), buf, &text), 8000);
  EXPECT_EQ(buf[7999], 0);
  EXPECT_EQ(buf[8000], 0xAB);  // nothing written past the packet buffer
  EXPECT_EQ(BuildSignalPacket(ValueOfTextLength(7988), buf, &text), 0);
}

TEST(SignalPacket, OverlongTextIsReportedAsASendFailure) {
  DebugCapture cap;
  CMySocket closed;
  EXPECT_FALSE(SendSignalPacket(closed, ValueOfTextLength(7988), 0, 1));
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"dev - send data failed."});
}

}  // namespace
