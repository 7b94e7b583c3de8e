// Files bigger than one read window: every chunk once per pass, including
// chunks that straddle a window boundary.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"
#include "tests/support/frame_walk.h"

namespace {
struct Expected {
  int32_t nOffset;
  int32_t nTotalLen;
  int32_t bVideo;
};

void ExpectEveryChunkOncePerPass(const Bytes& file, const std::vector<Expected>& want, const char* name) {
  DebugCapture cap;
  std::string path = WriteFrameTempFile(name, file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  ReaderWalk walk = WalkReader(reader, 2, 100000000);
  std::remove(path.c_str());
  ASSERT_EQ(walk.nRestarts, 2);
  ASSERT_EQ(walk.chunks.size(), 2 * want.size());
  for (size_t i = 0; i < walk.chunks.size(); ++i) {
    const Expected& e = want[i % want.size()];
    ASSERT_EQ(walk.chunks[i].nOffset, e.nOffset) << i;
    ASSERT_EQ(walk.chunks[i].info.nTotalLen, e.nTotalLen) << i;
    ASSERT_EQ(walk.chunks[i].info.bVideo, e.bVideo) << i;
    ASSERT_EQ(walk.chunks[i].nLoop, static_cast<int32_t>(i / want.size())) << i;
  }
  EXPECT_EQ(walk.nIdle, 0);
  EXPECT_EQ(cap.Count("dev - seek to file begin."), 2);
}

void Add(Bytes& file, std::vector<Expected>& want, const Bytes& chunk, int32_t bVideo) {
  want.push_back({static_cast<int32_t>(file.size()), static_cast<int32_t>(chunk.size()), bVideo});
  AppendBytes(file, chunk);
}
}  // namespace

TEST(FrameReaderWindows, FiveMegabytesOfMixedChunksYieldEachChunkOncePerPass) {
  Bytes file;
  std::vector<Expected> want;
  uint32_t n = 0;
  while (file.size() < 5000000) {
    ++n;
    if (n % 7 == 0) Add(file, want, AudioChunk('1', 100 + n % 800), 0);
    else if (n % 11 == 0) Add(file, want, AvapiChunk(1, '3', {}, 3000 + n % 5000), 1);
    else if (n == 40) Add(file, want, H264Chunk('0', true, n * 40000ull, 1400000), 1);  // spans a boundary
    else Add(file, want, H264Chunk('0', n % 25 == 1, n * 40000ull, 1000 + (n * 7919) % 60000), 1);
  }
  file.resize(file.size() + 11, 0xAB);  // a tail too short to hold a chunk
  ExpectEveryChunkOncePerPass(file, want, "five.frm");
}

// A file of exactly two windows: the second read is full, so the end is only
// seen by a third read that returns nothing.
TEST(FrameReaderWindows, FileOfExactlyTwoWindows) {
  Bytes file;
  std::vector<Expected> want;
  for (int i = 0; i < 80; ++i) Add(file, want, H264Chunk('0', i % 10 == 0, i * 40000ull, 50000 - 24), 1);
  ASSERT_EQ(file.size(), 4000000u);
  ExpectEveryChunkOncePerPass(file, want, "two.frm");
}
