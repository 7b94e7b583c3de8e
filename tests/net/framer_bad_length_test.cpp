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

TEST(FramerBadLength, RefusedOrWaitingNeverStalled) {
  const Case cases[] = {
      {"tagged negative", FRAME_TAGGED, Tagged(static_cast<uint32_t>(-12)), 1, nullptr},
      {"tagged huge", FRAME_TAGGED, Tagged(0x7FFFFFFFu), 0, nullptr},
      {"tagged 99dc negative", FRAME_TAGGED, TextBytes("99dc-004xxxx"), 1, nullptr},
      {"99dc negative", FRAME_99DC, TextBytes("99dc-008"), 1, nullptr},
      {"99dc blank negative", FRAME_99DC, TextBytes("99dc -01"), 1, nullptr},
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

}  // namespace
