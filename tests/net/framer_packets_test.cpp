// CFramer::FeedPackets, the in-place framing of a receiver of many
// connections: packets come out whole however the bytes arrive, a refused
// header stops the stream with its bytes kept for the report, the sink can
// stop framing, and only an unfinished packet is held.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/framer.h"
#include "net/packet.h"
#include "tests/support/debug_capture.h"

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

bool Collect(void* ctx, const PacketInfo& i, const uint8_t* p) {
  static_cast<std::vector<Seen>*>(ctx)->push_back(
      {i.nType, i.nChannel, std::string(reinterpret_cast<const char*>(p) + i.nHeadLen, static_cast<size_t>(i.nDataLen))});
  return true;
}

// Feeds bytes in pieces of step, each an exactly sized copy so that reading
// past a piece is caught.
int32_t FeedAll(CFramer& f, const std::string& bytes, std::vector<Seen>* seen, size_t step) {
  int32_t r = FEED_OK;
  for (size_t off = 0; off < bytes.size() && r == FEED_OK; off += step) {
    std::vector<uint8_t> part(bytes.begin() + static_cast<std::ptrdiff_t>(off),
                              bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), off + step)));
    r = f.FeedPackets(part.data(), part.size(), &Collect, seen);
  }
  return r;
}

CFramer MakeFramer() { return CFramer(FRAMER_MAX_PACKET + 1, FRAME_NAPI); }
}  // namespace

TEST(FramerPackets, PacketsComeOutWholeHoweverTheBytesArrive) {
  std::string extended = Packet(0, 0, "{}");
  extended[0] = 0x10;  // one extension word: a 16-byte header
  extended.insert(PACKET_HEAD_LEN, "EXT!");
  std::string bytes = Packet(0, 0, std::string("{\"A\":1}") + '\0') + Packet(2, 3, std::string(70000, 'v')) +
                      extended + Packet(5, 0, "") + Packet(5, 1, "tail");
  for (size_t step : {bytes.size(), size_t{1}, size_t{7}, size_t{4096}}) {
    CFramer f = MakeFramer();
    std::vector<Seen> seen;
    ASSERT_EQ(FeedAll(f, bytes, &seen, step), FEED_OK) << step;
    ASSERT_EQ(seen.size(), 5u) << step;
    EXPECT_EQ(seen[0].payload, std::string("{\"A\":1}") + '\0');
    EXPECT_EQ(seen[1].nType, 2);
    EXPECT_EQ(seen[1].nChannel, 3);
    EXPECT_EQ(seen[1].payload, std::string(70000, 'v'));
    EXPECT_EQ(seen[2].payload, "{}");  // the extension word is skipped
    EXPECT_EQ(seen[3].payload, "");
    EXPECT_EQ(seen[4].payload, "tail");
    EXPECT_EQ(f.Held(), 0u);
    EXPECT_EQ(f.Buffered(), 0);  // the buffer of Write is never made
  }
}

TEST(FramerPackets, RefusedHeadersStopTheStreamAndKeepTheirBytes) {
  DebugCapture capture;  // the header check writes its own line
  std::vector<Seen> seen;
  std::string g = "GET / HTTP/1.1\r\nHost: xyz\r\n\r\n";
  CFramer garbage = MakeFramer();
  EXPECT_EQ(FeedAll(garbage, g, &seen, g.size()), FEED_BAD);
  EXPECT_EQ(garbage.RefusedBytes(), g.substr(0, FRAMER_REFUSED_SHOWN + 1));
  CFramer slow = MakeFramer();  // the header completes across feeds: the bytes still start at it
  EXPECT_EQ(FeedAll(slow, g, &seen, 5), FEED_BAD);
  EXPECT_EQ(slow.RefusedBytes(), g.substr(0, 15));

  CFramer tooLong = MakeFramer();
  std::string head = Packet(2, 0, "");
  head[4] = 0x00, head[5] = 0x5B, head[6] = static_cast<char>(0x8D), head[7] = static_cast<char>(0x81);  // 6000001
  EXPECT_EQ(FeedAll(tooLong, Packet(0, 0, "{}") + head, &seen, 5), FEED_BAD);
  EXPECT_EQ(seen.size(), 1u);  // the good packet before it was delivered
  EXPECT_TRUE(capture.Has("napi - data length error, data len = 6000001"));

  // Byte 0 equal to 8 marks a header as acceptable whatever bytes 8-11 hold.
  CFramer marked = MakeFramer();
  std::string m = Packet(5, 0, "ab");
  m[0] = 8;
  m[8] = 'x';
  seen.clear();
  EXPECT_EQ(FeedAll(marked, m, &seen, 1), FEED_OK);
  EXPECT_EQ(seen.size(), 1u);
}

TEST(FramerPackets, SinkCanStopAndHeldBytesAreBounded) {
  CFramer f = MakeFramer();
  std::string bytes = Packet(5, 0, "a") + Packet(5, 0, "b");
  int n = 0;
  auto stopAfterOne = [](void* ctx, const PacketInfo&, const uint8_t*) { return ++*static_cast<int*>(ctx) < 1; };
  EXPECT_EQ(f.FeedPackets(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), stopAfterOne, &n), FEED_STOP);
  EXPECT_EQ(n, 1);

  // A big packet is held while it arrives, and only up to its own length.
  CFramer big = MakeFramer();
  std::string p = Packet(2, 0, std::string(3000000, 'x')) + Packet(5, 0, "next");
  std::vector<Seen> seen;
  FeedAll(big, p.substr(0, 1000000), &seen, 1000000);
  EXPECT_EQ(big.Held(), 1000000u);
  FeedAll(big, p.substr(1000000), &seen, 250000);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].payload.size(), 3000000u);
  EXPECT_EQ(seen[1].payload, "next");
  EXPECT_EQ(big.Held(), 0u);
  EXPECT_LE(big.HeldCapacity(), 65536u);  // the big packet's memory is given back
}
