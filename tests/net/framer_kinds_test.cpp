// Each framing kind a stream can select: its mark, its length rule and what
// it does with bytes that carry no mark.
#include <gtest/gtest.h>

#include "net/my_socket.h"
#include "tests/support/debug_capture.h"
#include "tests/support/framer_harness.h"

namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out = Concat(out, p);
  return out;
}

TEST(FramerKinds, TaggedMixesTaggedAnd99dcFramesAndSkipsSilently) {
  DebugCapture cap;
  FramerHarness f(FRAME_TAGGED);
  Bytes tagged = Cat({Le32Bytes(0x15437638u), TextBytes("hdr!"), Le32Bytes(4), TextBytes("data")});
  Bytes dc = TextBytes("99dc0004abcd");
  EXPECT_EQ(f.Feed(Cat({TextBytes("zz"), tagged, dc, Bytes{0}, tagged})), 0);
  EXPECT_EQ(f.frames, (std::vector<Bytes>{tagged, dc, tagged}));
  EXPECT_TRUE(cap.Lines().empty());
}

TEST(FramerKinds, Dc99ReadsDecimalLengthOrTakesEverything) {
  FramerHarness f(FRAME_99DC);
  Bytes a = Concat(TextBytes("99dc  12"), Bytes(12, 'a'));
  Bytes b = TextBytes("99dc+003abc");
  Bytes c = TextBytes("99dcxy00");  // no digits: no payload
  EXPECT_EQ(f.Feed(Cat({a, b, c})), 0);
  EXPECT_EQ(f.frames, (std::vector<Bytes>{a, b, c}));
  EXPECT_EQ(f.Feed(TextBytes("plain bytes!")), 0);
  EXPECT_EQ(f.Feed(TextBytes("abc")), 0);  // fewer than 8: waits
  EXPECT_EQ(f.frames.size(), 4u);
  EXPECT_EQ(f.frames[3], TextBytes("plain bytes!"));
  EXPECT_EQ(f.Feed(TextBytes("defgh")), 0);
  ASSERT_EQ(f.frames.size(), 5u);
  EXPECT_EQ(f.frames[4], TextBytes("abcdefgh"));
}

TEST(FramerKinds, KindsWithoutFramingDeliverNothing) {
  for (int32_t kind : {FRAME_7E, 99, -3}) {
    FramerHarness f(kind);
    Bytes chunk = Concat(Bytes{0x7E}, MakeNapiPacket(0, 0, TextBytes("x")));
    EXPECT_EQ(f.Feed(chunk), 0);
    EXPECT_EQ(f.Feed(chunk), 0);
    EXPECT_TRUE(f.frames.empty());
    EXPECT_EQ(f.sock.Buffered(), static_cast<int32_t>(2 * chunk.size()));
  }
}

}  // namespace
