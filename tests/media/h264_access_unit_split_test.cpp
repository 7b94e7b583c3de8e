// Cutting an Annex-B stream into access units and converting it to chunks.
#include <gtest/gtest.h>

#include <cstdio>

#include "media/h264_access_units.h"
#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"
#include "tests/support/frame_walk.h"

namespace {
// One NAL unit with a 4-byte (long) or 3-byte start code.
Bytes Nal(bool bLong, Bytes body) {
  Bytes b = bLong ? Bytes{0, 0, 0, 1} : Bytes{0, 0, 1};
  AppendBytes(b, body);
  return b;
}

struct Stream {
  Bytes data;
  std::vector<std::pair<size_t, size_t>> units;  // expected offset and length
  void StartUnit() { units.push_back({data.size(), 0}); }
  void Add(const Bytes& nal) {
    AppendBytes(data, nal);
    units.back().second = data.size() - units.back().first;
  }
};

const Bytes kSps = {0x67, 0x42, 0x00, 0x1E, 0xAB, 0x40, 0x50, 0x1E, 0xC8};
const Bytes kPps = {0x68, 0xCE, 0x38, 0x80};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x00, 0x33, 0xFF, 0x12, 0x00, 0x00, 0x03, 0x01, 0x77};  // first_mb 0
const Bytes kP1 = {0x41, 0x9A, 0x02, 0x04, 0x55};
const Bytes kP2 = {0x41, 0x9A, 0x04, 0x08, 0x66};

// SPS, PPS, IDR slice, two non-IDR slices.
Stream SmallStream() {
  Stream s;
  s.StartUnit();
  s.Add(Nal(true, kSps));
  s.Add(Nal(true, kPps));
  s.Add(Nal(false, kIdr));
  s.StartUnit();
  s.Add(Nal(true, kP1));
  s.StartUnit();
  s.Add(Nal(false, kP2));
  return s;
}
}  // namespace

TEST(H264AccessUnitSplit, ParameterSetsJoinTheirPictureAndEachPictureIsOneUnit) {
  Stream s = SmallStream();
  size_t leading = 99;
  std::vector<AccessUnit> units = SplitAccessUnits(s.data.data(), s.data.size(), &leading);
  EXPECT_EQ(leading, 0u);
  ASSERT_EQ(units.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(units[i].nOffset, s.units[i].first) << i;
    EXPECT_EQ(units[i].nLen, s.units[i].second) << i;
    EXPECT_EQ(units[i].bKey, i == 0) << i;
    EXPECT_TRUE(units[i].bPicture);
  }
}

TEST(H264AccessUnitSplit, ConvertedFileHoldsOneChunkPerUnit) {
  DebugCapture cap;
  Stream s = SmallStream();
  std::string path = WriteFrameTempFile("conv.frm", {});
  CFrameFileWriter out;
  ASSERT_TRUE(out.Create(path.c_str()));
  ConvertResult res;
  ConvertAccessUnits(s.data.data(), s.data.size(), 25, out, &res);
  ASSERT_TRUE(out.Close());
  EXPECT_EQ(res.nChunks, 3);
  EXPECT_EQ(res.nKeyFrames, 1);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  ReaderWalk walk = WalkReader(reader, 1, 100000);
  std::remove(path.c_str());
  ASSERT_EQ(walk.chunks.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const FrameInfo& fi = walk.chunks[i].info;
    EXPECT_EQ(fi.bKeyFrame, i == 0) << i;
    EXPECT_EQ(fi.nTimestampMs, static_cast<int32_t>(40 * i));
    EXPECT_EQ(fi.nChunkChannel, 0);
    const Bytes& payload = walk.chunks[i].payload;
    Bytes want(s.data.begin() + static_cast<ptrdiff_t>(s.units[i].first),
               s.data.begin() + static_cast<ptrdiff_t>(s.units[i].first + s.units[i].second));
    EXPECT_EQ(payload, want) << i;
  }
}

TEST(H264AccessUnitSplit, DelimitersSecondSlicesAndTrailingSeiAreHandled) {
  Stream s;
  s.data = {0x12, 0x34, 0x00};  // bytes before the first start code
  s.StartUnit();
  s.Add(Nal(true, {0x09, 0xF0}));  // AUD
  s.Add(Nal(true, kSps));
  s.Add(Nal(true, kPps));
  s.Add(Nal(true, kIdr));
  s.Add(Nal(false, {0x65, 0x24, 0x11}));  // second slice of the same picture (first_mb != 0)
  s.StartUnit();
  s.Add(Nal(true, {0x09, 0x30}));  // AUD starts the next unit
  s.Add(Nal(true, {0x06, 0x05, 0x01, 0x80}));  // SEI before its picture
  s.Add(Nal(true, kP1));
  s.StartUnit();
  s.Add(Nal(true, {0x06, 0x05, 0x01, 0x80}));  // SEI after a picture starts a unit
  s.Add(Nal(true, kP2));
  s.Add(Nal(true, {0x0A}));  // end of sequence joins the last unit
  size_t leading = 0;
  std::vector<AccessUnit> units = SplitAccessUnits(s.data.data(), s.data.size(), &leading);
  EXPECT_EQ(leading, 3u);
  ASSERT_EQ(units.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(units[i].nOffset, s.units[i].first) << i;
    EXPECT_EQ(units[i].nLen, s.units[i].second) << i;
    EXPECT_EQ(units[i].bKey, i == 0) << i;
  }
}

TEST(H264AccessUnitSplit, UnitsWithoutPictureOrTooBigAreLeftOutKeepingTheClock) {
  DebugCapture cap;
  Bytes data = Nal(true, kIdr);
  Bytes big = Nal(true, kP1);
  big.resize(FRAME_H264_MAX_PAYLOAD + 1, 0x77);
  AppendBytes(data, big);
  AppendBytes(data, Nal(true, kP2));
  AppendBytes(data, Nal(true, {0x09, 0x10}));  // a delimiter with nothing behind it
  std::string path = WriteFrameTempFile("conv2.frm", {});
  CFrameFileWriter out;
  ASSERT_TRUE(out.Create(path.c_str()));
  ConvertResult res;
  ConvertAccessUnits(data.data(), data.size(), 25, out, &res);
  ASSERT_TRUE(out.Close());
  EXPECT_EQ(res.nChunks, 2);
  EXPECT_EQ(res.nOversize, 1);
  EXPECT_EQ(res.nNoPicture, 1);
  CFrameReader reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  ReaderWalk walk = WalkReader(reader, 1, 100000);
  std::remove(path.c_str());
  ASSERT_EQ(walk.chunks.size(), 2u);
  EXPECT_EQ(walk.chunks[1].info.nTimestampMs, 80);
}
