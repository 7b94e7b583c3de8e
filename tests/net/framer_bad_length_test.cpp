// Length fields from the stream that are zero, negative, shorter than their
// own header or near the 32-bit limit: the framer must refuse or wait, never
// stall on an empty frame, move backwards or wrap around.
#include <gtest/gtest.h>

#include "net/my_socket.h"
#include "tests/support/debug_capture.h"
#include "tests/support/framer_harness.h"

namespace {

Bytes Put(Bytes b, size_t off, const Bytes& v) {
  std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(off));
  return b;
}

struct Case {
  const char* name;
  int32_t kind;
  Bytes chunk;
  int result;         // 1: refused; 0: waits for more
  const char* line;   // the one expected debug line, or nullptr for none
};

Bytes Tagged(uint32_t len) { return Put(Put(Bytes(12, 0), 0, Le32Bytes(0x15437638u)), 8, Le32Bytes(len)); }
Bytes Mvsp(uint32_t len) { return Put(Put(Bytes(16, 0), 0, TextBytes("MVSP")), 4, Le32Bytes(len)); }
Bytes S17(uint32_t len) { return Put(Put(Bytes(12, 0), 0, TextBytes("$$")), 8, Be32Bytes(len)); }
Bytes Rsp(const char* mark, size_t off, uint32_t len) { return Put(Put(Bytes(20, 0), 0, TextBytes(mark)), off, Le32Bytes(len)); }
Bytes Cd(uint8_t versionByte) {
  Bytes b = Put(Bytes(30, 0), 1, TextBytes("1cd"));
  b[15] = versionByte;
  return b;
}

TEST(FramerBadLength, RefusedOrWaitingNeverStalled) {
  const char* trans = "CMySocket - trans data error.";
  const char* mvsp = "CMySocket - mvsp magic error...";
  const char* s17 = "CMySocket - s17 flag error.";
  const char* cd = "CMySocket - frame data error.";
  const Case cases[] = {
      {"trans zero", FRAME_TRANS, Le32Bytes(0), 1, trans},
      {"trans negative", FRAME_TRANS, Le32Bytes(static_cast<uint32_t>(-5)), 1, trans},
      {"trans shorter than its header", FRAME_TRANS, Le32Bytes(11), 1, trans},
      {"tagged negative", FRAME_TAGGED, Tagged(static_cast<uint32_t>(-12)), 1, nullptr},
      {"tagged huge", FRAME_TAGGED, Tagged(0x7FFFFFFFu), 0, nullptr},
      {"tagged 99dc negative", FRAME_TAGGED, TextBytes("99dc-004xxxx"), 1, nullptr},
      {"99dc negative", FRAME_99DC, TextBytes("99dc-008"), 1, nullptr},
      {"99dc blank negative", FRAME_99DC, TextBytes("99dc -01"), 1, nullptr},
      {"mvsp negative", FRAME_MVSP, Mvsp(static_cast<uint32_t>(-16)), 1, mvsp},
      {"mvsp huge", FRAME_MVSP, Mvsp(0x7FFFFFFFu), 0, nullptr},
      {"s17 negative", FRAME_S17, S17(static_cast<uint32_t>(-12)), 1, s17},
      {"s17 huge", FRAME_S17, S17(0x7FFFFFFFu), 0, nullptr},
      {"rsph zero", FRAME_RSP, Rsp("RSPH", 16, 0), 1, nullptr},
      {"rspf shorter than its header", FRAME_RSP, Rsp("RSPF", 8, 19), 1, nullptr},
      {"rspd negative", FRAME_RSP, Rsp("RSPD", 12, static_cast<uint32_t>(-1)), 1, nullptr},
      {"rspb huge", FRAME_RSP, Rsp("RSPB", 8, 0x7FFFFFFFu), 0, nullptr},
      {"cd version 5", FRAME_CD, Cd(0x50), 1, cd},
      {"cd version 15", FRAME_CD, Cd(0xF3), 1, cd},
  };
  for (const Case& c : cases) {
    DebugCapture cap;
    FramerHarness f(c.kind);
    Bytes chunk = c.chunk;
    if (chunk.size() < 12) chunk.resize(12, 0);
    EXPECT_EQ(f.Feed(chunk), c.result) << c.name;
    EXPECT_TRUE(f.frames.empty()) << c.name;
    std::vector<std::string> want;
    if (c.line) want.emplace_back(c.line);
    EXPECT_EQ(cap.Lines(), want) << c.name;
  }
}

// A negative video payload cannot make a frame; it is skipped like an
// over-long one, and framing carries on behind it.
TEST(FramerBadLength, ChunkNegativeVideoPayloadIsSkipped) {
  DebugCapture cap;
  FramerHarness f(FRAME_CHUNK);
  Bytes negative = Put(Put(Bytes(24, 0), 0, TextBytes("00dc")), 8, Le32Bytes(static_cast<uint32_t>(-30)));
  Bytes shortened = Put(Put(Bytes(24, 0), 0, TextBytes("00dc")), 8, Le32Bytes(static_cast<uint32_t>(-10)));
  Bytes overflow = Put(Put(Bytes(24, 0), 0, TextBytes("00dc")), 8, {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF});
  Bytes good = Put(Bytes(24, 0), 0, TextBytes("01dc"));
  EXPECT_EQ(f.Feed(Concat(Concat(negative, shortened), Concat(overflow, good))), 0);
  EXPECT_EQ(f.frames, std::vector<Bytes>{good});
  EXPECT_EQ(cap.Lines(), (std::vector<std::string>{"CMySocket - error video pack len = -6",
                                                   "CMySocket - error video pack len = 14",
                                                   "CMySocket - error video pack len = -2147418090"}));
}

}  // namespace
