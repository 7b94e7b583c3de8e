// Choosing the framing kind from a connection's first whole header, and a
// corrupt packet header ending the stream.
#include <gtest/gtest.h>

#include "net/packet.h"
#include "tests/support/debug_capture.h"
#include "tests/support/framer_harness.h"

namespace {

TEST(FramerDetect, FirstHeaderMarksChooseTheKind) {
  struct Case {
    Bytes chunk;
    int32_t kind;
  };
  const Case cases[] = {
      {Concat(Le32Bytes(0x15437638u), Bytes(8, 0)), FRAME_TAGGED},
      {TextBytes("99dc0000xxxx"), FRAME_99DC},
      {Concat(Bytes{0x7E}, Bytes(11, 0)), FRAME_7E},
      {MakeNapiPacket(NTYPE_SIGNAL, 0, {}), FRAME_NAPI},
      // A tagged mark wins over a 0x52 at byte 8, and "99dc" over it too.
      {Concat(TextBytes("99dc0004"), Bytes{0x52, 0, 0, 0}), FRAME_99DC},
  };
  for (const Case& c : cases) {
    FramerHarness f;
    f.Feed(c.chunk);
    EXPECT_EQ(f.sock.FrameKind(), c.kind);
  }
}

// A first reply that arrives in short pieces is framed like any other: the
// kind is decided once a whole header is there, not from the first chunk.
TEST(FramerDetect, ShortFirstChunksWaitForAWholeHeader) {
  FramerHarness f;
  Bytes pkt = MakeNapiPacket(NTYPE_SIGNAL, 0, TextBytes("{\"A\":1}"));
  EXPECT_EQ(f.Feed(Bytes(pkt.begin(), pkt.begin() + 5)), 0);
  EXPECT_EQ(f.sock.FrameKind(), FRAME_DETECT);
  EXPECT_EQ(f.Feed(Bytes(pkt.begin() + 5, pkt.begin() + 11)), 0);
  EXPECT_EQ(f.Feed(Bytes(pkt.begin() + 11, pkt.end())), 0);
  EXPECT_EQ(f.sock.FrameKind(), FRAME_NAPI);
  ASSERT_EQ(f.frames.size(), 1u);
  EXPECT_EQ(f.frames[0], pkt);
}

// A header that no kind fits ends the connection; the next connection (a
// fresh framer) detects afresh.
TEST(FramerDetect, UnframableHeaderRefusesAndTheNextConnectionStartsAfresh) {
  FramerHarness f;
  EXPECT_EQ(f.Feed(TextBytes("hello")), 0);
  EXPECT_EQ(f.Feed(TextBytes(", world")), 1);
  FramerHarness next;
  EXPECT_EQ(next.Feed(MakeNapiPacket(NTYPE_SIGNAL, 0, TextBytes("x"))), 0);
  EXPECT_EQ(next.frames.size(), 1u);
}

TEST(FramerDetect, LaterChunksAreNotExaminedAgain) {
  FramerHarness f;
  Bytes pkt = MakeNapiPacket(NTYPE_SIGNAL, 0, TextBytes("x"));
  ASSERT_EQ(f.Feed(pkt), 0);
  // "99dc" at the start of a later chunk is a corrupt packet, not a new kind.
  DebugCapture cap;
  EXPECT_EQ(f.Feed(TextBytes("99dc0000xxxxxxxx")), 1);
  EXPECT_EQ(f.sock.FrameKind(), FRAME_NAPI);
  EXPECT_EQ(cap.CountContaining("napi - network data error"), 1);
}

TEST(FramerCorruptHeader, DamagedMarkDropsTheConnectionDespiteLaterPackets) {
  DebugCapture cap;
  FramerHarness f(FRAME_NAPI);
  Bytes good = MakeNapiPacket(NTYPE_SIGNAL, 0, TextBytes("{}"));
  Bytes bad = MakeNapiPacket(NTYPE_TALK, 0, Bytes(20, 0));
  bad[9] = 0x11;  // bytes 8-11 no longer read 82; byte 0 is 0
  Bytes stream = Concat(Concat(good, bad), Concat(good, good));
  EXPECT_EQ(f.Feed(stream), 1);
  ASSERT_EQ(f.frames.size(), 1u);
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"napi - network data error, packet len = 32, nType = 5"});
}

TEST(FramerCorruptHeader, OverlongDataLengthDropsTheConnection) {
  DebugCapture cap;
  FramerHarness f(FRAME_NAPI);
  Bytes bad = MakeNapiPacket(NTYPE_LIVE, 0, {});
  WritePacketHead(bad.data(), NTYPE_LIVE, 0, 6000001);
  EXPECT_EQ(f.Feed(bad), 1);
  EXPECT_TRUE(cap.Has("napi - data length error, data len = 6000001"));
}

}  // namespace
