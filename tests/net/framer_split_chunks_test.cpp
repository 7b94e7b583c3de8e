// Packets cut at arbitrary points by TCP must reach the owner whole, once, in
// order, with the incomplete rest kept for the next chunk.
#include <gtest/gtest.h>

#include <random>

#include "net/packet.h"
#include "tests/support/framer_harness.h"

namespace {

Bytes Slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

Bytes SignalPacket(std::string_view json) {
  Bytes text = TextBytes(json);
  text.push_back(0);
  return MakeNapiPacket(NTYPE_SIGNAL, 0, text);
}

TEST(FramerSplitChunks, PacketInThreeChunksIsDeliveredOnceWhole) {
  FramerHarness f;  // the kind is detected from the first packet
  Bytes first = SignalPacket(R"({"MODULE":"CERTIFICATE","OPERATION":"CONNECT"})");
  Bytes pkt = SignalPacket(R"({"MODULE":"EVEM","OPERATION":"KEEPALIVE","SESSION":""})");
  ASSERT_EQ(f.Feed(first), 0);
  ASSERT_EQ(f.sock.FrameKind(), FRAME_NAPI);
  ASSERT_EQ(f.frames.size(), 1u);

  EXPECT_EQ(f.Feed(Slice(pkt, 0, 5)), 0);
  EXPECT_EQ(f.Feed(Slice(pkt, 5, 25)), 0);
  EXPECT_EQ(f.frames.size(), 1u);
  EXPECT_EQ(f.Buffered(), Slice(pkt, 0, 25));
  EXPECT_EQ(f.Feed(Slice(pkt, 25, pkt.size())), 0);
  ASSERT_EQ(f.frames.size(), 2u);
  EXPECT_EQ(f.frames[1], pkt);
  EXPECT_EQ(f.sock.Buffered(), 0);
}

TEST(FramerSplitChunks, TwoPacketsInOneChunkArriveInOrder) {
  FramerHarness f(FRAME_NAPI);
  Bytes a = SignalPacket(R"({"A":1})");
  Bytes b = MakeNapiPacket(NTYPE_TALK, 3, Bytes(40, 0x5A));
  EXPECT_EQ(f.Feed(Concat(a, b)), 0);
  ASSERT_EQ(f.frames.size(), 2u);
  EXPECT_EQ(f.frames[0], a);
  EXPECT_EQ(f.frames[1], b);
  EXPECT_EQ(f.sock.Buffered(), 0);
}

TEST(FramerSplitChunks, PacketAndAHalfKeepsTheHalfAtTheFront) {
  FramerHarness f(FRAME_NAPI);
  Bytes a = SignalPacket(R"({"A":1})");
  Bytes b = SignalPacket(R"({"B":"second packet"})");
  size_t half = b.size() / 2;
  EXPECT_EQ(f.Feed(Concat(a, Slice(b, 0, half))), 0);
  ASSERT_EQ(f.frames.size(), 1u);
  EXPECT_EQ(f.frames[0], a);
  EXPECT_EQ(f.Buffered(), Slice(b, 0, half));
  EXPECT_EQ(f.Feed(Slice(b, half, b.size())), 0);
  ASSERT_EQ(f.frames.size(), 2u);
  EXPECT_EQ(f.frames[1], b);
}

// A header split below its 12 bytes must wait, not be parsed from stale bytes.
TEST(FramerSplitChunks, HeaderSplitByteByByte) {
  FramerHarness f(FRAME_NAPI);
  Bytes pkt = MakeNapiPacket(NTYPE_LIVE, 1, Bytes(300, 7), 0x20);
  for (uint8_t byte : pkt) ASSERT_EQ(f.Feed(Bytes{byte}), 0);
  ASSERT_EQ(f.frames.size(), 1u);
  EXPECT_EQ(f.frames[0], pkt);
}

// Random packet streams cut at random points: every packet arrives intact and
// in order, and nothing is left over at the end.
TEST(FramerSplitChunks, RandomSplitsDeliverEveryPacketIntact) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    std::vector<Bytes> packets;
    Bytes stream;
    int count = std::uniform_int_distribution<int>(1, 60)(rng);
    for (int i = 0; i < count; ++i) {
      Bytes payload(std::uniform_int_distribution<size_t>(0, 9000)(rng));
      for (auto& b : payload) b = static_cast<uint8_t>(rng());
      uint8_t flag = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 3)(rng) << 4);
      packets.push_back(MakeNapiPacket(static_cast<int32_t>(rng() % 6), static_cast<int32_t>(rng() % 16), payload, flag));
      stream = Concat(stream, packets.back());
    }
    FramerHarness f(seed % 2 ? FRAME_NAPI : FRAME_DETECT);
    size_t pos = 0;
    while (pos < stream.size()) {
      // A detecting framer needs the first 12 bytes in its first chunk.
      size_t least = pos == 0 ? 12 : 1;
      size_t n = std::min(stream.size() - pos, std::uniform_int_distribution<size_t>(least, 12000)(rng));
      ASSERT_EQ(f.Feed(Slice(stream, pos, pos + n)), 0) << "seed " << seed;
      pos += n;
    }
    ASSERT_EQ(f.frames, packets) << "seed " << seed;
    EXPECT_EQ(f.sock.Buffered(), 0);
  }
}

}  // namespace
