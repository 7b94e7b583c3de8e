// The extension records of AVAPI chunks: what they fill, and malformed records.
#include <gtest/gtest.h>

#include "media/frame_parser.h"
#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"

namespace {
int32_t Parse(const Bytes& chunk, FrameInfo* fi) {
  return ParseFrame(chunk.data(), static_cast<int32_t>(chunk.size()), fi);
}

Bytes Word(uint32_t w) {
  return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
          static_cast<uint8_t>(w >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) AppendBytes(out, p);
  return out;
}
}  // namespace

TEST(FrameExtensionRecords, RecordsOneTwoThreeFillTheirFields) {
  uint32_t video = 640u | (480u << 12) | (0x5Au << 24);
  Bytes ext = Concat({ExtRecord(1, Word(video)), ExtRecord(2, {24, 5, 17, 13, 45, 30}), ExtRecord(3, Word(123456))});
  Bytes chunk = AvapiChunk(7, '5', ext, 300);
  FrameInfo fi{};
  ASSERT_EQ(Parse(chunk, &fi), CHUNK_OK);
  EXPECT_EQ(fi.nWidth, 640);
  EXPECT_EQ(fi.nHeight, 480);
  EXPECT_EQ(fi.nVideoAttr, 0x5A);
  EXPECT_EQ(fi.bHasTime, 1);
  EXPECT_EQ(fi.nYear, 2024);
  EXPECT_EQ(fi.nMonth, 5);
  EXPECT_EQ(fi.nDay, 17);
  EXPECT_EQ(fi.nHour, 13);
  EXPECT_EQ(fi.nMinute, 45);
  EXPECT_EQ(fi.nSecond, 30);
  EXPECT_EQ(fi.nSecondOfDay, 13 * 3600 + 45 * 60 + 30);
  EXPECT_EQ(fi.nTimestampMs, 123456);
  EXPECT_EQ(fi.nChunkChannel, 7);  // a plain number, not a digit
  EXPECT_EQ(fi.bKeyFrame, 1);
  EXPECT_EQ(fi.bVideo, 1);
  EXPECT_EQ(fi.nTotalLen, static_cast<int32_t>(chunk.size()));
  EXPECT_EQ(fi.nPayloadLen, 300);
  EXPECT_EQ(fi.pPayload, chunk.data() + 12 + ext.size());
}

TEST(FrameExtensionRecords, WithoutTimeStampRecordTheTimeIsZero) {
  Bytes chunk = AvapiChunk(0, '3', ExtRecord(2, {24, 1, 2, 3, 4, 5}), 50);
  FrameInfo fi{};
  ASSERT_EQ(Parse(chunk, &fi), CHUNK_OK);
  EXPECT_EQ(fi.nTimestampMs, 0);
  EXPECT_EQ(fi.bKeyFrame, 0);
  EXPECT_EQ(fi.bHasTime, 1);
}

TEST(FrameExtensionRecords, UnknownRecordsAreSteppedOverAndTypeZeroEndsTheWalk) {
  FrameInfo fi{};
  Bytes stepped = AvapiChunk(0, '6', Concat({ExtRecord(9, Bytes(20, 0xFF)), ExtRecord(3, Word(77))}), 10);
  ASSERT_EQ(Parse(stepped, &fi), CHUNK_OK);
  EXPECT_EQ(fi.nTimestampMs, 77);
  // A type 0 record ends the walk, whatever its length field says.
  Bytes ended = AvapiChunk(0, '6', Concat({ExtRecordWithLength(0, 0, {}), ExtRecord(3, Word(77))}), 10);
  ASSERT_EQ(Parse(ended, &fi), CHUNK_OK);
  EXPECT_EQ(fi.nTimestampMs, 0);
  // Four bytes or fewer left over after the last record end the walk too.
  Bytes trailing = AvapiChunk(0, '6', Concat({ExtRecord(3, Word(88)), Bytes{5, 9, 9, 9}}), 10);
  ASSERT_EQ(Parse(trailing, &fi), CHUNK_OK);
  EXPECT_EQ(fi.nTimestampMs, 88);
}

TEST(FrameExtensionRecords, MalformedRecordsMakeTheChunkInvalid) {
  DebugCapture cap;
  const Bytes bad[] = {
      ExtRecordWithLength(3, 0, Word(1)),                             // would never advance
      ExtRecordWithLength(7, 2, Bytes(6, 0)),                         // shorter than its own header
      Concat({ExtRecord(9, {}), ExtRecordWithLength(3, 40, Word(1))}),  // runs past the area
      ExtRecordWithLength(3, 6, {1, 2}),                              // too short for its body
      ExtRecordWithLength(2, 8, Word(1)),                             // date needs 6 body bytes
      ExtRecordWithLength(1, 7, {1, 2, 3}),                           // video info needs 4
  };
  for (const Bytes& ext : bad) {
    Bytes chunk = AvapiChunk(0, '2', ext, 0);  // no payload behind: nothing to overrun into
    FrameInfo fi{};
    EXPECT_EQ(Parse(chunk, &fi), CHUNK_SKIP) << ext.size();
    EXPECT_EQ(fi.pPayload, nullptr);
  }
  // A record above 100,000 bytes, even one that fits its area.
  Bytes huge = AvapiChunk(0, '2', ExtRecord(9, Bytes(100001 - 4, 0)), 0);
  FrameInfo fi{};
  EXPECT_EQ(Parse(huge, &fi), CHUNK_SKIP);
  Bytes largest = AvapiChunk(0, '2', ExtRecord(9, Bytes(100000 - 4, 0)), 0);
  EXPECT_EQ(Parse(largest, &fi), CHUNK_OK);
  EXPECT_TRUE(cap.Lines().empty());
}
