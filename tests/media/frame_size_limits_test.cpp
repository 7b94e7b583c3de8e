// Size limits of the three chunk layouts, and CHUNK_MORE against CHUNK_SKIP.
#include <gtest/gtest.h>

#include <cstring>

#include "media/frame_parser.h"
#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"

namespace {
// Parses the first avail bytes of chunk from a buffer of exactly avail bytes.
int32_t ParsePrefix(const Bytes& chunk, size_t avail, FrameInfo* fi) {
  Bytes prefix(chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(avail));
  return ParseFrame(prefix.data(), static_cast<int32_t>(prefix.size()), fi);
}

int32_t ParseWhole(const Bytes& chunk, FrameInfo* fi) { return ParsePrefix(chunk, chunk.size(), fi); }
}  // namespace

TEST(FrameSizeLimits, AvapiAudioAbove8000IsSkippedSilently) {
  DebugCapture cap;
  FrameInfo fi{};
  EXPECT_EQ(ParseWhole(AvapiChunk(0, '4', {}, 8000 - 12), &fi), CHUNK_OK);
  EXPECT_EQ(fi.nTotalLen, 8000);
  EXPECT_EQ(fi.bVideo, 0);
  EXPECT_EQ(ParseWhole(AvapiChunk(0, '4', {}, 8001 - 12), &fi), CHUNK_SKIP);
  EXPECT_TRUE(cap.Lines().empty());
}

TEST(FrameSizeLimits, AvapiVideoAbove1400000IsSkippedWithItsMessage) {
  DebugCapture cap;
  FrameInfo fi{};
  Bytes ok = AvapiChunk(0, '2', {}, 1400000 - 12);
  EXPECT_EQ(ParseWhole(ok, &fi), CHUNK_OK);
  EXPECT_EQ(fi.nTotalLen, 1400000);
  EXPECT_EQ(fi.bKeyFrame, 1);
  EXPECT_TRUE(cap.Lines().empty());
  Bytes big = AvapiChunk(0, '2', {}, 1400001 - 12);
  EXPECT_EQ(ParseWhole(big, &fi), CHUNK_SKIP);
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"avapi - invalid video data."});
}

TEST(FrameSizeLimits, H264AudioAbove1000IsSkippedSilently) {
  DebugCapture cap;
  FrameInfo fi{};
  ASSERT_EQ(ParseWhole(AudioChunk('2', 992), &fi), CHUNK_OK);
  EXPECT_EQ(fi.nTotalLen, 1000);
  EXPECT_EQ(fi.nPayloadLen, 992);
  EXPECT_EQ(fi.bVideo, 0);
  EXPECT_EQ(fi.nChunkChannel, 2);
  EXPECT_EQ(ParseWhole(AudioChunk('2', 993), &fi), CHUNK_SKIP);
  EXPECT_TRUE(cap.Lines().empty());
}

TEST(FrameSizeLimits, H264VideoAbove1500000IsSkippedWithItsMessage) {
  DebugCapture cap;
  FrameInfo fi{};
  EXPECT_EQ(ParseWhole(H264Chunk('0', true, 0, 1500000 - 24 - 10, "H264", 10), &fi), CHUNK_OK);
  EXPECT_EQ(fi.nTotalLen, 1500000);
  EXPECT_TRUE(cap.Lines().empty());
  EXPECT_EQ(ParseWhole(H264Chunk('0', true, 0, 1500001 - 24 - 10, "A264", 10), &fi), CHUNK_SKIP);
  EXPECT_EQ(cap.Lines(), std::vector<std::string>{"invalid video data."});
}

// A 32-bit sum of 24 + 100 + 0xFFFFFFFF would wrap to 123 and pass as a small
// chunk with a negative payload length.
TEST(FrameSizeLimits, H264LengthsThatWrapIn32BitsAreInvalid) {
  DebugCapture cap;
  Bytes chunk = H264Head('0', false, 0, 0xFFFFFFFFu, 100);
  chunk.resize(400, 0);
  FrameInfo fi{};
  EXPECT_EQ(ParseWhole(chunk, &fi), CHUNK_SKIP);
  EXPECT_EQ(cap.Count("invalid video data."), 1);
}

TEST(FrameSizeLimits, OversizeIsSkipWhateverIsAvailable) {
  DebugCapture cap;
  Bytes avapiVideo = AvapiChunk(1, '3', {}, 1400001 - 12);
  Bytes avapiAudio = AvapiChunk(1, '4', {}, 8001 - 12);
  Bytes h264 = H264Chunk('1', false, 0, 1500001 - 24);
  Bytes audio = AudioChunk('1', 993);
  for (size_t avail : {13, 14, 24, 25, 500, 993}) {
    FrameInfo fi{};
    EXPECT_EQ(ParsePrefix(avapiVideo, avail, &fi), CHUNK_SKIP) << avail;
    EXPECT_EQ(ParsePrefix(avapiAudio, avail, &fi), CHUNK_SKIP) << avail;
    EXPECT_EQ(ParsePrefix(audio, avail, &fi), CHUNK_SKIP) << avail;
    if (avail >= 14) {
      EXPECT_EQ(ParsePrefix(h264, avail, &fi), CHUNK_SKIP) << avail;
    }
  }
}

TEST(FrameSizeLimits, IncompleteChunkOfAcceptableSizeWantsMore) {
  Bytes chunks[] = {AvapiChunk(1, '5', ExtRecord(3, {1, 0, 0, 0}), 3000), AvapiChunk(1, '4', {}, 500),
                    H264Chunk('3', true, 40000, 5000), AudioChunk('3', 300)};
  for (const Bytes& chunk : chunks) {
    for (size_t avail : {size_t{13}, size_t{23}, size_t{24}, chunk.size() - 1}) {
      FrameInfo fi{};
      EXPECT_EQ(ParsePrefix(chunk, avail, &fi), CHUNK_MORE) << avail;
    }
    FrameInfo fi{};
    EXPECT_EQ(ParseWhole(chunk, &fi), CHUNK_OK);
    EXPECT_EQ(fi.nTotalLen, static_cast<int32_t>(chunk.size()));
  }
}

TEST(FrameSizeLimits, TwelveBytesOrFewerLeaveTheInfoUntouched) {
  Bytes chunk = H264Chunk('0', true, 0, 100);
  for (size_t avail = 0; avail <= 12; ++avail) {
    FrameInfo fi;
    memset(&fi, 0x5A, sizeof fi);
    Bytes prefix(chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(avail));
    EXPECT_EQ(ParseFrame(prefix.data(), static_cast<int32_t>(avail), &fi), CHUNK_MORE);
    EXPECT_EQ(fi.nTotalLen, 0x5A5A5A5A);
    EXPECT_EQ(fi.nSecond, 0x5A5A5A5A);
  }
}
