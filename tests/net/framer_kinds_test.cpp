// Each framing kind: its mark, its length rule, what it does with bytes that
// carry no mark, and the fields it converts before delivery.
#include <gtest/gtest.h>

#include "net/my_socket.h"
#include "tests/support/debug_capture.h"
#include "tests/support/framer_harness.h"

namespace {

// b with v written at offset off.
Bytes Put(Bytes b, size_t off, const Bytes& v) {
  std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(off));
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out = Concat(out, p);
  return out;
}

TEST(FramerKinds, TransFramesByLeadingLength) {
  DebugCapture cap;
  FramerHarness f(FRAME_TRANS);
  Bytes a = Put(Bytes(16, 'a'), 0, Le32Bytes(16));
  Bytes b = Put(Bytes(12, 'b'), 0, Le32Bytes(12));
  EXPECT_EQ(f.Feed(Concat(a, Bytes(b.begin(), b.begin() + 10))), 0);
  EXPECT_EQ(f.Feed(Bytes(b.begin() + 10, b.end())), 0);
  EXPECT_EQ(f.frames, (std::vector<Bytes>{a, b}));
  EXPECT_EQ(f.Feed(Put(Bytes(12, 0), 0, Le32Bytes(7000000))), 0);  // waits
  EXPECT_TRUE(cap.Lines().empty());

  FramerHarness g(FRAME_TRANS);
  EXPECT_EQ(g.Feed(Put(Bytes(12, 0), 0, Le32Bytes(7000001))), 1);
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"CMySocket - trans data error."});
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

TEST(FramerKinds, RtspSplitsTextFromInterleavedData) {
  FramerHarness f(FRAME_RTSP);
  Bytes data1 = Cat({TextBytes("$\x01"), Be16Bytes(3), TextBytes("xyz")});
  Bytes text = TextBytes("RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n");
  Bytes data2 = Cat({TextBytes("$"), Bytes{0}, Be16Bytes(2), TextBytes("ab")});
  EXPECT_EQ(f.Feed(Cat({data1, text, data2})), 0);
  EXPECT_EQ(f.frames, (std::vector<Bytes>{data1, text, data2}));
  EXPECT_EQ(f.Feed(TextBytes("RTSP/1.0 no dollar")), 0);
  EXPECT_EQ(f.Feed(TextBytes("GET_PARAMETER")), 0);
  ASSERT_EQ(f.frames.size(), 5u);
  EXPECT_EQ(f.frames[3], TextBytes("RTSP/1.0 no dollar"));
  EXPECT_EQ(f.frames[4], TextBytes("GET_PARAMETER"));
}

TEST(FramerKinds, TrainSkipsStrayBytesWithOneMessageEach) {
  DebugCapture cap;
  FramerHarness f(FRAME_TRAIN);
  Bytes frame = Cat({Bytes{0xFF, 0x00}, Be16Bytes(3), Bytes{0x09}, TextBytes("abc")});  // 5 + 3
  EXPECT_EQ(f.Feed(Concat(Bytes{1, 2, 3}, frame)), 0);
  EXPECT_EQ(f.frames, std::vector<Bytes>{frame});
  EXPECT_EQ(cap.Lines(), std::vector<std::string>(3, "cmysocket - train network data error."));
}

Bytes MvspFrame(const Bytes& payload) {
  return Cat({TextBytes("MVSP"), Le32Bytes(static_cast<uint32_t>(payload.size())), Bytes(8, 0), payload});
}

TEST(FramerKinds, MvspStopsAsSoonAsTheKindChanges) {
  FramerHarness f(FRAME_MVSP);
  Bytes a = MvspFrame(TextBytes("data"));
  Bytes b = MvspFrame(TextBytes("more"));
  f.onFrame = [&](uint8_t*, int32_t) { f.sock.nKind.store(FRAME_RAW); };
  EXPECT_EQ(f.Feed(Concat(a, b)), 0);
  EXPECT_EQ(f.frames, std::vector<Bytes>{a});
  EXPECT_EQ(f.Buffered(), b);
  f.onFrame = nullptr;
  EXPECT_EQ(f.Feed(TextBytes("raw")), 0);  // the next chunk uses the new kind
  ASSERT_EQ(f.frames.size(), 2u);
  EXPECT_EQ(f.frames[1], TextBytes("raw"));
}

TEST(FramerKinds, OtherKindsFinishTheChunkWithTheKindTheyStartedWith) {
  FramerHarness f(FRAME_TRAIN);
  Bytes a = Cat({Bytes{0xFF, 0x00}, Be16Bytes(1), Bytes{0x09}, TextBytes("a")});
  f.onFrame = [&](uint8_t*, int32_t) { f.sock.nKind.store(FRAME_RAW); };
  EXPECT_EQ(f.Feed(Concat(a, a)), 0);
  EXPECT_EQ(f.frames.size(), 2u);
  EXPECT_EQ(f.sock.nBuffered, 0);
}

TEST(FramerKinds, MvspWithoutMarkIsRefused) {
  DebugCapture cap;
  FramerHarness f(FRAME_MVSP);
  EXPECT_EQ(f.Feed(Concat(TextBytes("MVSQ"), Bytes(12, 0))), 1);
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"CMySocket - mvsp magic error..."});
}

TEST(FramerKinds, Head26ConvertsBigEndianFieldsInPlace) {
  FramerHarness f(FRAME_HEAD26);
  Bytes h = Put(Bytes(26, 0xEE), 4, {0x12, 0x34, 0x56, 0x78});
  h = Put(h, 10, {1, 2, 3, 4, 5, 6, 7, 8});
  h = Put(h, 24, Be16Bytes(3));
  Bytes frame = Concat(h, TextBytes("pqr"));
  EXPECT_EQ(f.Feed(frame), 0);
  ASSERT_EQ(f.frames.size(), 1u);
  Bytes want = Put(frame, 4, {0x34, 0x12, 0x78, 0x56});
  want = Put(want, 10, {8, 7, 6, 5, 4, 3, 2, 1});
  want = Put(want, 24, {3, 0});
  EXPECT_EQ(f.frames[0], want);
}

// A "1cd" header of the given version: bytes 6-7 AA BB, 16-23 11..18, the
// big-endian payload length at lenOffset.
Bytes CdFrame(uint8_t versionByte, size_t headLen, size_t lenOffset, const Bytes& payload) {
  Bytes h = Put(Bytes(headLen, 0), 0, TextBytes("Z1cd"));
  h = Put(h, 6, {0xAA, 0xBB});
  h[15] = versionByte;
  if (headLen >= 24) h = Put(h, 16, {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18});
  h = Put(h, lenOffset, Be16Bytes(static_cast<uint16_t>(payload.size())));
  return Concat(h, payload);
}

TEST(FramerKinds, CdHeaderSizeFollowsTheVersion) {
  FramerHarness f(FRAME_CD);
  Bytes v2 = CdFrame(0x2F, 30, 28, TextBytes("hi"));
  Bytes v3 = CdFrame(0x30, 26, 24, TextBytes("!"));
  Bytes v4 = CdFrame(0x40, 18, 16, TextBytes("abcdef"));
  EXPECT_EQ(f.Feed(Cat({v2, v3, v4})), 0);
  ASSERT_EQ(f.frames.size(), 3u);
  const Bytes reversed = {0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11};
  EXPECT_EQ(f.frames[0], Put(Put(Put(v2, 6, {0xBB, 0xAA}), 16, reversed), 28, {2, 0}));
  EXPECT_EQ(f.frames[1], Put(Put(Put(v3, 6, {0xBB, 0xAA}), 16, reversed), 24, {1, 0}));
  // Version 4: bytes 16-23 hold the length and the first payload bytes.
  EXPECT_EQ(f.frames[2], Put(Put(v4, 6, {0xBB, 0xAA}), 16, {'f', 'e', 'd', 'c', 'b', 'a', 6, 0}));
}

// A version-4 frame shorter than 24 bytes must not have bytes of the frame
// after it reversed.
TEST(FramerKinds, ShortCdFrameLeavesTheNextFrameAlone) {
  FramerHarness f(FRAME_CD);
  Bytes a = CdFrame(0x40, 18, 16, TextBytes("ok"));
  Bytes b = CdFrame(0x40, 18, 16, TextBytes("second"));
  EXPECT_EQ(f.Feed(Concat(a, b)), 0);
  ASSERT_EQ(f.frames.size(), 2u);
  EXPECT_EQ(f.frames[0], Put(a, 6, {0xBB, 0xAA}));
  EXPECT_EQ(f.frames[1], Put(Put(b, 6, {0xBB, 0xAA}), 16, {'d', 'n', 'o', 'c', 'e', 's', 6, 0}));
}

TEST(FramerKinds, CdWithoutMarkIsRefused) {
  DebugCapture cap;
  FramerHarness f(FRAME_CD);
  Bytes bad = CdFrame(0x20, 30, 28, {});
  bad[3] = 'x';
  EXPECT_EQ(f.Feed(bad), 1);
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"CMySocket - frame data error."});
}

TEST(FramerKinds, S17FramesByBigEndianLength) {
  DebugCapture cap;
  FramerHarness f(FRAME_S17);
  Bytes a = Cat({TextBytes("$$head"), Bytes(2, 0), Be32Bytes(3), TextBytes("abc")});
  EXPECT_EQ(f.Feed(Concat(a, a)), 0);
  EXPECT_EQ(f.frames, (std::vector<Bytes>{a, a}));
  EXPECT_EQ(f.Feed(Put(a, 1, TextBytes("#"))), 1);
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"CMySocket - s17 flag error."});
}

Bytes RspFrame(const char* mark, size_t lenOffset, uint32_t len) {
  return Put(Put(Bytes(len, 'r'), 0, TextBytes(mark)), lenOffset, Le32Bytes(len));
}

TEST(FramerKinds, RspLengthOffsetDependsOnTheMark) {
  DebugCapture cap;
  FramerHarness f(FRAME_RSP);
  std::vector<Bytes> want = {RspFrame("RSPH", 16, 24), RspFrame("RSPD", 12, 20), RspFrame("RSPF", 8, 22),
                             RspFrame("RSPE", 8, 20),  RspFrame("RSPL", 8, 21), RspFrame("RSPB", 8, 20)};
  Bytes stream = TextBytes("xx");
  for (const Bytes& w : want) stream = Concat(stream, w);
  stream = Concat(stream, RspFrame("RSPX", 8, 20));  // unknown mark: skipped
  EXPECT_EQ(f.Feed(stream), 0);
  EXPECT_EQ(f.frames, want);
  EXPECT_EQ(f.sock.nBuffered, 19);  // skipping stops when fewer than 20 are left
  EXPECT_TRUE(cap.Lines().empty());
}

// A named chunk: the name, then the two length fields at 8 and 12.
Bytes VideoChunk(const char* name, uint32_t len32, uint16_t len16) {
  Bytes h = Put(Bytes(24, 0), 0, TextBytes(name));
  return Put(Put(h, 8, Le32Bytes(len32)), 12, Le16Bytes(len16));
}

TEST(FramerKinds, ChunkVideoLengthIsBothFieldsPlusHeader) {
  FramerHarness f(FRAME_CHUNK);
  Bytes video = Concat(VideoChunk("00dc", 10, 2), Bytes(12, 'v'));
  ASSERT_EQ(video.size(), 36u);
  Bytes video1 = VideoChunk("x1dc", 0, 0);
  Bytes audio = Put(Put(Bytes(24, 'a'), 0, TextBytes("01wb")), 6, Le16Bytes(16));
  EXPECT_EQ(f.Feed(Cat({video, TextBytes("?"), video1, audio})), 0);
  EXPECT_EQ(f.frames, (std::vector<Bytes>{video, video1, audio}));
}

TEST(FramerKinds, ChunkOutOfRangeLengthsAreSkippedWithAMessage) {
  DebugCapture cap;
  FramerHarness f(FRAME_CHUNK);
  Bytes badAudio = Put(Put(Bytes(24, 0), 0, TextBytes("01wb")), 6, Le16Bytes(9992));
  Bytes zeroVideo = VideoChunk("00dc", static_cast<uint32_t>(-24), 0);
  Bytes hugeVideo = VideoChunk("01dc", 999976, 1);
  Bytes good = Concat(VideoChunk("00dc", 1, 0), TextBytes("g"));
  EXPECT_EQ(f.Feed(Cat({badAudio, zeroVideo, hugeVideo, good})), 0);
  EXPECT_EQ(f.frames, std::vector<Bytes>{good});
  EXPECT_EQ(cap.Lines(), (std::vector<std::string>{"CMySocket - error audio pack len = 10000",
                                                    "CMySocket - error video pack len = 0",
                                                    "CMySocket - error video pack len = 1000001"}));
}

TEST(FramerKinds, KindsWithoutFramingDeliverNothing) {
  for (int32_t kind : {FRAME_7E, 99, -3}) {
    FramerHarness f(kind);
    Bytes chunk = Concat(Bytes{0x7E}, MakeNapiPacket(0, 0, TextBytes("x")));
    EXPECT_EQ(f.Feed(chunk), 0);
    EXPECT_EQ(f.Feed(chunk), 0);
    EXPECT_TRUE(f.frames.empty());
    EXPECT_EQ(f.sock.nBuffered, static_cast<int32_t>(2 * chunk.size()));
  }
}

}  // namespace
