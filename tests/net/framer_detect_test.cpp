// Choosing the framing kind from the first chunk, once per object, and a
// corrupt packet header ending the stream.
#include <gtest/gtest.h>

#include "net/packet.h"
#include "tests/support/debug_capture.h"
#include "tests/support/framer_harness.h"

namespace {

TEST(FramerDetect, FirstChunkMarksChooseTheKind) {
  struct Case {
    Bytes chunk;
    int32_t kind;
  };
  const Case cases[] = {
      {Concat(Le32Bytes(0x15437638u), Bytes(8, 0)), FRAME_TAGGED},
      {TextBytes("99dc0000"), FRAME_99DC},
      {Bytes{0x7E}, FRAME_7E},
      {MakeNapiPacket(NTYPE_SIGNAL, 0, {}), FRAME_NAPI},
      // A tagged mark wins over a 0x52 at byte 8, and "99dc" over it too.
      {Concat(TextBytes("99dc0004"), Bytes{0x52, 0, 0, 0}), FRAME_99DC},
  };
  for (const Case& c : cases) {
    FramerHarness f;
    f.Feed(c.chunk);
    EXPECT_EQ(f.sock.nKind.load(), c.kind);
    EXPECT_EQ(f.sock.bDetected, 1);
  }
}

TEST(FramerDetect, IncompleteMarksChooseNothing) {
  const Bytes chunks[] = {TextBytes("99d"), Bytes{0x38, 0x76, 0x43}, Bytes(11, 0x52), Bytes{0x00, 0x7E}};
  for (const Bytes& chunk : chunks) {
    FramerHarness f;
    EXPECT_EQ(f.Feed(chunk), 1);
    EXPECT_EQ(f.sock.nKind.load(), FRAME_DETECT);
  }
}

TEST(FramerDetect, FailedDetectionRefusesForTheLifeOfTheObject) {
  FramerHarness f;
  EXPECT_EQ(f.Feed(TextBytes("hello")), 1);
  // A fresh buffer on the same object does not restart detection.
  SocketParam p = f.sock.param;
  ASSERT_EQ(f.sock.AttachFramer(p), 0);
  EXPECT_EQ(f.Feed(MakeNapiPacket(NTYPE_SIGNAL, 0, TextBytes("x"))), 1);
  EXPECT_TRUE(f.frames.empty());
}

TEST(FramerDetect, LaterChunksAreNotExaminedAgain) {
  FramerHarness f;
  Bytes pkt = MakeNapiPacket(NTYPE_SIGNAL, 0, TextBytes("x"));
  ASSERT_EQ(f.Feed(pkt), 0);
  // "99dc" at the start of a later chunk is a corrupt packet, not a new kind.
  DebugCapture cap;
  EXPECT_EQ(f.Feed(TextBytes("99dc0000xxxxxxxx")), 1);
  EXPECT_EQ(f.sock.nKind.load(), FRAME_NAPI);
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
