// Byte-wise resynchronisation: damaged chunks and garbage between chunks.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"
#include "tests/support/frame_walk.h"

TEST(FrameResync, LowerCaseCodecMarkIsNoChunkAndTheReaderMovesOneByte) {
  DebugCapture cap;
  Bytes file = H264Chunk('0', true, 0, 100, "h264");
  size_t good = file.size();
  AppendBytes(file, H264Chunk('0', true, 40000, 100));
  FrameInfo fi{};
  ASSERT_EQ(ParseFrame(file.data(), static_cast<int32_t>(file.size()), &fi), CHUNK_SKIP);
  std::string path = WriteFrameTempFile("mark.frm", file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  bool restarted = true;
  EXPECT_EQ(reader.Next(&fi, &restarted), CHUNK_SKIP);
  EXPECT_FALSE(restarted);
  EXPECT_EQ(reader.FileOffset(), 1);
  EXPECT_EQ(reader.Available(), static_cast<int32_t>(file.size()) - 1);
  ReaderWalk walk = WalkReader(reader, 1, 10000);
  ASSERT_EQ(walk.chunks.size(), 1u);
  EXPECT_EQ(walk.chunks[0].nOffset, static_cast<int32_t>(good));
  EXPECT_EQ(walk.chunks[0].info.nTimestampMs, 40);
  std::remove(path.c_str());
}

TEST(FrameResync, GarbageBetweenChunksIsPassedOverToTheExactOffset) {
  DebugCapture cap;
  const Bytes chunks[] = {H264Chunk('0', true, 0, 500), AvapiChunk(2, '3', {}, 200), AudioChunk('1', 40),
                          H264Chunk('0', false, 40000, 900), AvapiChunk(2, '4', {}, 64)};
  const size_t garbage[] = {0, 1, 23, 7, 100};
  Bytes file;
  std::vector<int32_t> offsets;
  for (size_t i = 0; i < 5; ++i) {
    file.resize(file.size() + garbage[i], 0xAB);
    offsets.push_back(static_cast<int32_t>(file.size()));
    AppendBytes(file, chunks[i]);
  }
  file.resize(file.size() + 30, 0xAB);
  std::string path = WriteFrameTempFile("garbage.frm", file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  ReaderWalk walk = WalkReader(reader, 2, 100000);
  ASSERT_EQ(walk.chunks.size(), 10u);  // two passes
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(walk.chunks[i].nOffset, offsets[i % 5]) << i;
    EXPECT_EQ(walk.chunks[i].info.nTotalLen, static_cast<int32_t>(chunks[i % 5].size())) << i;
  }
  EXPECT_EQ(walk.nIdle, 0);
  std::remove(path.c_str());
}
