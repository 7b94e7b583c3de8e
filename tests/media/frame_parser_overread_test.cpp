// Random and mutated input must never make the parser read outside the bytes
// it was given (buffers are exactly `avail` bytes, so AddressSanitizer sees any
// overread) nor describe a chunk that does not fit them.
#include <gtest/gtest.h>

#include <random>

#include "media/frame_parser.h"
#include "tests/support/debug_capture.h"
#include "tests/support/frame_bytes.h"

namespace {
const char* const kTags[] = {"2dc", "3dc", "4dc", "5dc", "6dc", "0dc", "1dc", "xwb"};

void ExpectSaneResult(int32_t r, const Bytes& buf, const FrameInfo& fi) {
  ASSERT_TRUE(r == CHUNK_OK || r == CHUNK_SKIP || r == CHUNK_MORE);
  if (r != CHUNK_OK) return;
  const uint8_t* begin = buf.data();
  ASSERT_GT(fi.nTotalLen, 0);
  ASSERT_LE(static_cast<size_t>(fi.nTotalLen), buf.size());
  ASSERT_GE(fi.nPayloadLen, 0);
  ASSERT_GE(fi.pPayload, begin);
  ASSERT_LE(fi.pPayload + fi.nPayloadLen, begin + fi.nTotalLen);
}

// Random bytes with a likely tag, codec mark and small lengths.
Bytes RandomChunkish(std::mt19937& rng) {
  size_t len = rng() % 160;
  Bytes b(len);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  if (len >= 4 && rng() % 4 != 0) {
    const char* tag = kTags[rng() % 8];
    for (int i = 0; i < 3; ++i) b[1 + i] = static_cast<uint8_t>(tag[i]);
  }
  if (len >= 8 && rng() % 2) b[4] = 'H', b[5] = '2', b[6] = '6', b[7] = '4';
  for (size_t i = 4; i < len && i < 14; ++i)
    if (rng() % 2) b[i] = static_cast<uint8_t>(rng() % 24);
  return b;
}

// Length of the chunk its header declares (as AVAPI when the tag is not H264 or audio).
size_t DeclaredLen(const Bytes& b) {
  auto le = [&](size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
  };
  if (b[2] == 'w' && b[3] == 'b') return 8 + le(6, 2);
  if (b[1] == '0' || b[1] == '1') return 24 + le(12, 2) + le(8, 4);
  return 12 + (le(8, 3)) + (le(4, 3));
}

// A valid chunk with a few bytes changed, then often cut short, either at
// random or exactly where its (changed) header says it ends.
Bytes Mutated(std::mt19937& rng) {
  Bytes ext;
  AppendBytes(ext, ExtRecord(1, {1, 2, 3, 4}));
  AppendBytes(ext, ExtRecord(3, {9, 0, 0, 0}));
  const Bytes seeds[] = {AvapiChunk(1, '2', ext, 40),
                         AvapiChunk(1, '5', ext, 0),
                         H264Chunk('0', true, 40000, 40, "H264", 3),
                         AudioChunk('0', 30),
                         AvapiChunk(1, '4', ExtRecord(2, {1, 2, 3, 4, 5, 6}), 0)};
  Bytes b = seeds[rng() % 5];
  for (int k = static_cast<int>(rng() % 3); k >= 0; --k) b[rng() % b.size()] = static_cast<uint8_t>(rng() % 32);
  size_t declared = DeclaredLen(b);
  if (rng() % 2 && declared < b.size()) b.resize(declared);
  else if (rng() % 3 == 0) b.resize(rng() % b.size());
  return b;
}
}  // namespace

TEST(FrameParserOverread, RandomAndMutatedBuffersStayInBounds) {
  DebugCapture cap;  // oversize messages are expected here
  std::mt19937 rng(20240517);
  int32_t ok = 0;
  for (int i = 0; i < 200000; ++i) {
    Bytes buf = i % 2 ? RandomChunkish(rng) : Mutated(rng);
    FrameInfo fi{};
    int32_t r = ParseFrame(buf.data(), static_cast<int32_t>(buf.size()), &fi);
    ExpectSaneResult(r, buf, fi);
    ok += r == CHUNK_OK;
    r = ParseAvapiFrame(buf.data(), static_cast<int32_t>(buf.size()), &fi);
    ExpectSaneResult(r, buf, fi);
    r = ParseH264Frame(buf.data(), static_cast<int32_t>(buf.size()), &fi);
    ExpectSaneResult(r, buf, fi);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(ok, 1000);  // the inputs do reach the accepting paths
  cap.Clear();
}
