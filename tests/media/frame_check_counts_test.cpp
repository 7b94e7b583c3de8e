// The frame file check: what one pass of the reader finds in a damaged file.
#include <gtest/gtest.h>

#include <cstdio>

#include "media/frame_check.h"
#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"

TEST(FrameCheckCounts, GarbageIsCountedAsSkippedBytesAndChunksByKind) {
  DebugCapture cap;
  Bytes file(17, 0xAB);
  for (int i = 0; i < 50; ++i) {
    AppendBytes(file, H264Chunk('0', i % 10 == 0, 1000000ull + i * 40000ull, 2000));
    if (i % 5 == 0) AppendBytes(file, AudioChunk('2', 100));
    if (i == 20) file.resize(file.size() + 333, 0xCD);
  }
  AppendBytes(file, AvapiChunk(5, '3', {}, 64));
  AppendBytes(file, AudioChunk('2', 12));  // 20 bytes at the end: never read as a chunk
  std::string path = WriteFrameTempFile("check.frm", file);
  FrameCheckResult res;
  ASSERT_TRUE(CheckFrameFile(path.c_str(), &res));
  std::remove(path.c_str());
  EXPECT_EQ(res.nFileSize, static_cast<int64_t>(file.size()));
  EXPECT_EQ(res.nChunks, 50 + 10 + 1);
  EXPECT_EQ(res.nVideo, 51);
  EXPECT_EQ(res.nAudio, 10);
  EXPECT_EQ(res.nKeyFrames, 5);
  EXPECT_EQ(res.nSkippedBytes, 17 + 333);
  EXPECT_EQ(res.nTailBytes, 20);
  EXPECT_EQ(res.channels[0], 50);
  EXPECT_EQ(res.channels[2], 10);
  EXPECT_EQ(res.channels[5], 1);
  EXPECT_EQ(res.nFirstVideoMs, 1000);
  EXPECT_EQ(res.nLastVideoMs, 0);  // the AVAPI chunk has no time stamp record
  std::string text = FormatFrameCheck(res);
  EXPECT_NE(text.find("chunks: 61\n"), std::string::npos) << text;
  EXPECT_NE(text.find("skipped bytes: 350\n"), std::string::npos) << text;
  EXPECT_NE(text.find("channel 2 chunks: 10\n"), std::string::npos) << text;
}

TEST(FrameCheckCounts, DurationAndFrameRateOfAPlainFile) {
  DebugCapture cap;
  Bytes file;
  for (int i = 0; i < 101; ++i) AppendBytes(file, H264Chunk('0', i % 25 == 0, i * 40000ull, 300));
  std::string path = WriteFrameTempFile("rate.frm", file);
  FrameCheckResult res;
  ASSERT_TRUE(CheckFrameFile(path.c_str(), &res));
  std::remove(path.c_str());
  EXPECT_EQ(CheckDurationMs(res), 4000);
  EXPECT_NE(FormatFrameCheck(res).find("average frame rate: 25.000\n"), std::string::npos);
}

TEST(FrameCheckCounts, EmptyAndMissingFiles) {
  DebugCapture cap;
  std::string path = WriteFrameTempFile("empty.frm", {});
  FrameCheckResult res;
  ASSERT_TRUE(CheckFrameFile(path.c_str(), &res));
  std::remove(path.c_str());
  EXPECT_EQ(res.nChunks, 0);
  EXPECT_NE(FormatFrameCheck(res).find("average frame rate: n/a\n"), std::string::npos);
  EXPECT_FALSE(CheckFrameFile("/nonexistent/zel/x.frm", &res));
}
