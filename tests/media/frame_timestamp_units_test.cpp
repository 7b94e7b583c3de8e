// H264 time stamps are microseconds; chunks describe them in milliseconds.
#include <gtest/gtest.h>

#include <cstdio>

#include "media/frame_parser.h"
#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"
#include "tests/support/frame_walk.h"

TEST(FrameTimestampUnits, MicrosecondStampsBecomeMilliseconds) {
  DebugCapture cap;
  Bytes file;
  for (uint64_t us : {0u, 40000u, 80000u}) AppendBytes(file, H264Chunk('0', us == 0, us, 700));
  std::string path = WriteFrameTempFile("ts.frm", file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  ReaderWalk walk = WalkReader(reader, 1, 1000);
  ASSERT_EQ(walk.chunks.size(), 3u);
  EXPECT_EQ(walk.chunks[0].info.nTimestampMs, 0);
  EXPECT_EQ(walk.chunks[1].info.nTimestampMs, 40);
  EXPECT_EQ(walk.chunks[2].info.nTimestampMs, 80);
  EXPECT_EQ(walk.chunks[0].info.bKeyFrame, 1);
  EXPECT_EQ(walk.chunks[1].info.bKeyFrame, 0);
  std::remove(path.c_str());
}

TEST(FrameTimestampUnits, LargeStampsAreDividedIn64BitsAndKeptIn32) {
  Bytes chunk = H264Chunk('0', false, 5000000000000ull + 999, 10);  // 5e12 µs
  FrameInfo fi{};
  ASSERT_EQ(ParseFrame(chunk.data(), static_cast<int32_t>(chunk.size()), &fi), CHUNK_OK);
  EXPECT_EQ(static_cast<uint32_t>(fi.nTimestampMs), static_cast<uint32_t>(5000000000ull));
}

TEST(FrameTimestampUnits, PayloadAndChannelOfAnH264ChunkSkipTheExtension) {
  Bytes chunk = H264Chunk('4', true, 1000, 33, "A264", 7);
  FrameInfo fi{};
  ASSERT_EQ(ParseFrame(chunk.data(), static_cast<int32_t>(chunk.size()), &fi), CHUNK_OK);
  EXPECT_EQ(fi.pPayload, chunk.data() + 24 + 7);
  EXPECT_EQ(fi.nPayloadLen, 33);
  EXPECT_EQ(fi.nTotalLen, 24 + 7 + 33);
  EXPECT_EQ(fi.nChunkChannel, 4);
  EXPECT_EQ(fi.nTimestampMs, 1);
}
