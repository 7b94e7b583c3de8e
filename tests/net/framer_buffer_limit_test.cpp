// The receive buffer: the connection limit, growth on demand, and the
// unbuffered raw kind.
#include <gtest/gtest.h>

#include "net/packet.h"
#include "tests/support/debug_capture.h"
#include "tests/support/framer_harness.h"

namespace {

const char* const kBufferFull = "CMySocket - buffer full, close socket!!!!!";

// The first bytes of a packet announcing dataLen payload bytes, padded to n.
Bytes PartialPacket(int32_t dataLen, size_t n) {
  Bytes b = MakeNapiPacket(NTYPE_LIVE, 0, {});
  WritePacketHead(b.data(), NTYPE_LIVE, 0, dataLen);
  b.resize(n, 0x33);
  return b;
}

TEST(FramerBufferLimit, LargestPacketBelowTheLimitIsDelivered) {
  DebugCapture cap;
  FramerHarness f(FRAME_NAPI, 60000);
  Bytes pkt = MakeNapiPacket(NTYPE_SIGNAL, 0, Bytes(59999 - 12, 'j'));
  EXPECT_EQ(f.Feed(Bytes(pkt.begin(), pkt.begin() + 30000)), 0);
  EXPECT_EQ(f.Feed(Bytes(pkt.begin() + 30000, pkt.end())), 0);
  ASSERT_EQ(f.frames.size(), 1u);
  EXPECT_EQ(f.frames[0], pkt);
  EXPECT_EQ(cap.Count(kBufferFull), 0);
}

TEST(FramerBufferLimit, ReachingTheLimitDropsTheConnection) {
  DebugCapture cap;
  FramerHarness f(FRAME_NAPI, 60000);
  EXPECT_EQ(f.Feed(PartialPacket(60000 - 12, 40000)), 0);
  EXPECT_EQ(f.Feed(Bytes(19999, 0x44)), 0);  // 59999 bytes held
  EXPECT_EQ(f.sock.Buffered(), 59999);
  EXPECT_EQ(cap.Count(kBufferFull), 0);
  EXPECT_EQ(f.Feed(Bytes(1, 0x44)), 1);  // 60000 would be held
  EXPECT_EQ(cap.Count(kBufferFull), 1);
  EXPECT_TRUE(f.frames.empty());
}

TEST(FramerBufferLimit, OneChunkAtTheLimitIsRefused) {
  DebugCapture cap;
  FramerHarness f(FRAME_NAPI, 60000);
  EXPECT_EQ(f.Feed(PartialPacket(100000, 60000)), 1);
  EXPECT_EQ(cap.Count(kBufferFull), 1);
}

TEST(FramerBufferLimit, GrowsOnlyAsFarAsTheContent) {
  DebugCapture cap;
  FramerHarness f(FRAME_NAPI, 600000);
  ASSERT_EQ(f.sock.BufferCapacity(), 20000);
  EXPECT_EQ(f.Feed(PartialPacket(100000, 20000)), 0);
  EXPECT_EQ(f.sock.BufferCapacity(), 20000);
  EXPECT_TRUE(cap.Lines().empty());

  EXPECT_EQ(f.Feed(Bytes(5000, 1)), 0);
  EXPECT_EQ(f.sock.BufferCapacity(), 25000);
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"CMySocket - buffer small, realloc memory, size = 25000"});

  EXPECT_EQ(f.Feed(Bytes(1, 2)), 0);
  EXPECT_EQ(f.sock.BufferCapacity(), 25001);
  EXPECT_TRUE(cap.Has("CMySocket - buffer small, realloc memory, size = 25001"));
  // The content survived both moves.
  Bytes held = f.Buffered();
  ASSERT_EQ(held.size(), 25001u);
  EXPECT_EQ(held[12], 0x33);
  EXPECT_EQ(held[20000], 1);
  EXPECT_EQ(held[25000], 2);
}

// A stream without framing is held until the limit drops it.
TEST(FramerBufferLimit, UnframedKindFillsUpToTheLimit) {
  DebugCapture cap;
  FramerHarness f(FRAME_DETECT, 1000);
  Bytes chunk(400, 0x7E);
  EXPECT_EQ(f.Feed(chunk), 0);
  EXPECT_EQ(f.sock.FrameKind(), FRAME_7E);
  EXPECT_EQ(f.Feed(chunk), 0);
  EXPECT_EQ(f.Feed(chunk), 1);
  EXPECT_TRUE(f.frames.empty());
  EXPECT_EQ(cap.Count(kBufferFull), 1);
}

}  // namespace
