// End of file, restarts, idle restarts of files without chunks, and files that
// change while a reader plays them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"
#include "tests/support/frame_walk.h"

namespace {
struct TempFile {
  std::string path;
  TempFile(const std::string& name, const Bytes& bytes) : path(WriteFrameTempFile(name, bytes)) {}
  ~TempFile() { std::remove(path.c_str()); }
};
}  // namespace

TEST(FrameReaderRestart, ShortLastChunkIsNeverYieldedAndTheFileRestartsAtZero) {
  DebugCapture cap;
  Bytes file = H264Chunk('0', true, 0, 300);
  AppendBytes(file, AudioChunk('0', 12));  // 20 bytes in all
  TempFile tmp("tail20.frm", file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(tmp.path.c_str()));
  FrameInfo fi{};
  bool restarted = false;
  ASSERT_EQ(reader.Next(&fi, &restarted), CHUNK_OK);
  reader.Consume(fi);
  EXPECT_EQ(reader.Available(), 20);
  EXPECT_EQ(reader.Next(&fi, &restarted), CHUNK_OK);  // restarted and found the first chunk again
  EXPECT_TRUE(restarted);
  EXPECT_EQ(reader.FileOffset(), 0);
  EXPECT_EQ(cap.Count("dev - seek to file begin."), 1);
  reader.Consume(fi);
  ReaderWalk walk = WalkReader(reader, 3, 1000);
  ASSERT_EQ(walk.chunks.size(), 2u);
  for (const YieldedChunk& c : walk.chunks) EXPECT_EQ(c.nOffset, 0);
  EXPECT_EQ(walk.nIdle, 0);
  EXPECT_EQ(cap.Count("dev - seek to file begin."), 4);
}

TEST(FrameReaderRestart, UnconsumedChunkIsOfferedAgain) {
  Bytes file = H264Chunk('0', true, 0, 300);
  AppendBytes(file, H264Chunk('0', false, 40000, 300));
  TempFile tmp("again.frm", file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(tmp.path.c_str()));
  FrameInfo a{}, b{};
  bool restarted = false;
  ASSERT_EQ(reader.Next(&a, &restarted), CHUNK_OK);
  ASSERT_EQ(reader.Next(&b, &restarted), CHUNK_OK);
  EXPECT_EQ(a.pPayload, b.pPayload);
  EXPECT_EQ(reader.FileOffset(), 0);
  EXPECT_EQ(reader.Chunk()[1], '0');
  reader.Consume(b);
  ASSERT_EQ(reader.Next(&a, &restarted), CHUNK_OK);
  EXPECT_EQ(reader.FileOffset(), 324);
  EXPECT_EQ(a.nTimestampMs, 40);
}

TEST(FrameReaderRestart, CutOffChunkIsNeverYielded) {
  DebugCapture cap;
  Bytes file = H264Chunk('0', true, 0, 300);
  Bytes cut = H264Chunk('0', false, 40000, 3000);
  cut.resize(1000);
  AppendBytes(file, cut);
  TempFile tmp("cut.frm", file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(tmp.path.c_str()));
  ReaderWalk walk = WalkReader(reader, 3, 1000);
  ASSERT_EQ(walk.chunks.size(), 3u);
  for (const YieldedChunk& c : walk.chunks) EXPECT_EQ(c.nOffset, 0);
}

// A file without one complete valid chunk must not make the caller spin: the
// reader tells it to pause at every restart.
TEST(FrameReaderRestart, FilesWithoutChunksReportIdleRestarts) {
  DebugCapture cap;
  Bytes garbage(5000, 0xAB);
  Bytes cutOnly = H264Chunk('0', true, 0, 3000);
  cutOnly.resize(2000);
  const Bytes files[] = {Bytes{}, Bytes(10, 0), garbage, cutOnly};
  for (const Bytes& bytes : files) {
    TempFile tmp("idle.frm", bytes);
    CFrameReader reader;
    ASSERT_TRUE(reader.Open(tmp.path.c_str()));
    ReaderWalk walk = WalkReader(reader, 5, 100000);
    EXPECT_TRUE(walk.chunks.empty());
    EXPECT_EQ(walk.nRestarts, 5) << bytes.size();
    EXPECT_EQ(walk.nIdle, 5) << bytes.size();
  }
}

TEST(FrameReaderRestart, RestartsAfterYieldedChunksAreNotIdle) {
  DebugCapture cap;
  Bytes file(100, 0xAB);
  AppendBytes(file, AudioChunk('0', 50));
  TempFile tmp("notidle.frm", file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(tmp.path.c_str()));
  ReaderWalk walk = WalkReader(reader, 4, 10000);
  EXPECT_EQ(walk.chunks.size(), 4u);
  EXPECT_EQ(walk.nIdle, 0);
  EXPECT_EQ(cap.Count("dev - seek to file begin."), 4);
}

TEST(FrameReaderRestart, ClosedOrUnopenableReaderYieldsNothing) {
  CFrameReader reader;
  FrameInfo fi{};
  bool restarted = true;
  EXPECT_EQ(reader.Next(&fi, &restarted), CHUNK_IDLE);
  EXPECT_FALSE(restarted);
  EXPECT_FALSE(reader.Open("/nonexistent/zel/frames.frm"));
  EXPECT_FALSE(reader.Open("/tmp"));  // not a regular file
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_EQ(reader.Next(&fi, nullptr), CHUNK_IDLE);
}

TEST(FrameReaderRestart, ConsumeRefusesLengthsBeyondTheWindow) {
  Bytes file = H264Chunk('0', true, 0, 100);
  TempFile tmp("consume.frm", file);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(tmp.path.c_str()));
  FrameInfo fi{};
  ASSERT_EQ(reader.Next(&fi, nullptr), CHUNK_OK);
  FrameInfo bogus = fi;
  bogus.nTotalLen = 100000;
  reader.Consume(bogus);
  bogus.nTotalLen = -5;
  reader.Consume(bogus);
  EXPECT_EQ(reader.FileOffset(), 0);
  EXPECT_EQ(reader.Available(), 124);
}

// Bytes at and beyond the offset limit count as the end of the file.
TEST(FrameReaderRestart, OffsetLimitEndsTheFile) {
  DebugCapture cap;
  Bytes file;
  for (int i = 0; i < 10; ++i) AppendBytes(file, H264Chunk('0', i == 0, i * 40000u, 276));  // 300 bytes each
  TempFile tmp("limit.frm", file);
  CFrameReader reader(1000);
  ASSERT_TRUE(reader.Open(tmp.path.c_str()));
  ReaderWalk walk = WalkReader(reader, 2, 10000);
  ASSERT_EQ(walk.chunks.size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(walk.chunks[i].nOffset, static_cast<int32_t>(300 * (i % 3)));
}

// The file is read once: readers of the unchanged file share its bytes, a
// reader keeps playing its copy whatever happens to the file, and the next
// Open after a change reads the file again.
TEST(FrameReaderRestart, ReadersShareTheBytesAndKeepTheirCopyWhenTheFileChanges) {
  DebugCapture cap;
  Bytes file;
  for (int i = 0; i < 1000; ++i) AppendBytes(file, H264Chunk('0', i % 25 == 0, i * 40000u, 4976));  // 5 MB
  TempFile tmp("shrink.frm", file);
  CFrameReader reader;
  CFrameReader other;
  ASSERT_TRUE(reader.Open(tmp.path.c_str()));
  ASSERT_TRUE(other.Open(tmp.path.c_str()));
  EXPECT_EQ(reader.File(), other.File());
  ReaderWalk first = WalkReader(reader, 1, 10);
  ASSERT_EQ(first.chunks.size(), 10u);
  ASSERT_EQ(truncate(tmp.path.c_str(), 0), 0);
  ReaderWalk rest = WalkReader(reader, 1, 100000);
  EXPECT_EQ(rest.chunks.size(), 1000u - 10u);
  EXPECT_EQ(rest.nIdle, 0);
  CFrameReader later;
  ASSERT_TRUE(later.Open(tmp.path.c_str()));
  EXPECT_NE(later.File(), reader.File());
  ReaderWalk none = WalkReader(later, 2, 1000);
  EXPECT_TRUE(none.chunks.empty());
  EXPECT_EQ(none.nIdle, 2);
}
