// Synthetic frame files, read back by the frame reader.
#include <gtest/gtest.h>

#include <cstdio>

#include "media/frame_synth.h"
#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"
#include "tests/support/frame_walk.h"

namespace {
ReaderWalk SynthAndRead(const SynthOptions& opt, const char* name) {
  std::string path = WriteFrameTempFile(name, {});
  CFrameFileWriter out;
  EXPECT_TRUE(out.Create(path.c_str()));
  EXPECT_EQ(WriteSynthFrames(out, opt), int64_t{opt.nSeconds} * opt.nFps);
  EXPECT_TRUE(out.Close());
  CFrameReader reader;
  EXPECT_TRUE(reader.Open(path.c_str()));
  ReaderWalk walk = WalkReader(reader, 1, 10000000);
  reader.Close();
  std::remove(path.c_str());
  return walk;
}
}  // namespace

TEST(FrameSynth, ChunksKeyFramesAndTimeStampsReadBack) {
  DebugCapture cap;
  SynthOptions opt;
  opt.nSeconds = 3;
  opt.nFps = 10;
  opt.nGop = 4;
  opt.nSize = 1000;
  opt.nChannel = 3;
  ReaderWalk walk = SynthAndRead(opt, "synth.frm");
  ASSERT_EQ(walk.chunks.size(), 30u);
  for (size_t i = 0; i < walk.chunks.size(); ++i) {
    const FrameInfo& fi = walk.chunks[i].info;
    EXPECT_EQ(walk.chunks[i].nOffset, static_cast<int32_t>(i * 1024)) << i;
    EXPECT_EQ(fi.bKeyFrame, i % 4 == 0 ? 1 : 0) << i;
    EXPECT_EQ(fi.bVideo, 1);
    EXPECT_EQ(fi.nTimestampMs, static_cast<int32_t>(i * 100)) << i;
    EXPECT_EQ(fi.nChunkChannel, 3);
    const Bytes& payload = walk.chunks[i].payload;
    ASSERT_EQ(payload.size(), 1000u);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 5), (Bytes{0, 0, 0, 1, uint8_t(i % 4 == 0 ? 0x65 : 0x41)}));
    for (size_t k = 5; k < payload.size(); ++k) ASSERT_NE(payload[k], 0) << k;
  }
}

TEST(FrameSynth, ThirtyFramesASecondStepWithoutDrift) {
  DebugCapture cap;
  SynthOptions opt;
  opt.nSeconds = 2;
  opt.nFps = 30;
  opt.nSize = 5;
  ReaderWalk walk = SynthAndRead(opt, "synth30.frm");
  ASSERT_EQ(walk.chunks.size(), 60u);
  EXPECT_EQ(walk.chunks[1].info.nTimestampMs, 33);
  EXPECT_EQ(walk.chunks[30].info.nTimestampMs, 1000);
  EXPECT_EQ(walk.chunks[59].info.nTimestampMs, 1966);
  EXPECT_EQ(walk.chunks[25].info.bKeyFrame, 1);  // default group of 25
}

TEST(FrameSynth, UnusableOptionsAreRefused) {
  SynthOptions good;
  good.nSeconds = 1;
  EXPECT_EQ(CheckSynthOptions(good), "");
  auto bad = [&](auto change) {
    SynthOptions o = good;
    change(o);
    CFrameFileWriter out;  // never created: nothing may be written
    EXPECT_EQ(WriteSynthFrames(out, o), -1);
    return !CheckSynthOptions(o).empty();
  };
  EXPECT_TRUE(bad([](SynthOptions& o) { o.nSeconds = 0; }));
  EXPECT_TRUE(bad([](SynthOptions& o) { o.nFps = 0; }));
  EXPECT_TRUE(bad([](SynthOptions& o) { o.nGop = 0; }));
  EXPECT_TRUE(bad([](SynthOptions& o) { o.nSize = 4; }));
  EXPECT_TRUE(bad([](SynthOptions& o) { o.nSize = FRAME_H264_MAX_PAYLOAD + 1; }));
  EXPECT_TRUE(bad([](SynthOptions& o) { o.nChannel = 10; }));
  EXPECT_TRUE(bad([](SynthOptions& o) { o.nChannel = -1; }));
}

TEST(FrameSynth, WriterReportsAFileThatCannotBeCreated) {
  CFrameFileWriter out;
  EXPECT_FALSE(out.Create("/nonexistent/zel/out.frm"));
  out.Append("x", 1);
  EXPECT_FALSE(out.Close());
}
