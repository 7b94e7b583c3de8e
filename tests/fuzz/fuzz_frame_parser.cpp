// The frame chunk parsers at every position a sequential walk of the input
// reaches, each on an exactly sized heap copy so that reading one byte past
// the available count is caught. A chunk reported whole must lie within what
// is available, its payload within the chunk; the same chunk copied alone
// must parse the same, and any shorter copy of it must ask for more bytes.
#include <cstdint>
#include <cstring>
#include <memory>

#include "media/frame_parser.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using Parser = int32_t (*)(const uint8_t*, int32_t, FrameInfo*);

std::unique_ptr<uint8_t[]> CopyOf(const uint8_t* p, int32_t n) {
  std::unique_ptr<uint8_t[]> c(new uint8_t[static_cast<size_t>(n > 0 ? n : 1)]);
  if (n > 0) memcpy(c.get(), p, static_cast<size_t>(n));
  return c;
}

void CheckSameChunk(const FrameInfo& a, const uint8_t* chunkA, const FrameInfo& b, const uint8_t* chunkB) {
  FUZZ_CHECK(a.nTotalLen == b.nTotalLen && a.nTimestampMs == b.nTimestampMs);
  FUZZ_CHECK(a.bKeyFrame == b.bKeyFrame && a.bVideo == b.bVideo);
  FUZZ_CHECK(a.nWidth == b.nWidth && a.nHeight == b.nHeight && a.nVideoAttr == b.nVideoAttr);
  FUZZ_CHECK(a.pPayload - chunkA == b.pPayload - chunkB && a.nPayloadLen == b.nPayloadLen);
  FUZZ_CHECK(a.nChunkChannel == b.nChunkChannel && a.nSecondOfDay == b.nSecondOfDay);
  FUZZ_CHECK(a.bHasTime == b.bHasTime && a.nYear == b.nYear && a.nMonth == b.nMonth);
  FUZZ_CHECK(a.nDay == b.nDay && a.nHour == b.nHour && a.nMinute == b.nMinute && a.nSecond == b.nSecond);
}

// A whole chunk: inside what is available, payload inside the chunk, and
// independent of the bytes behind it and cut short by any missing byte.
void CheckWholeChunk(Parser parse, int32_t minAvail, const uint8_t* chunk, int32_t avail, const FrameInfo& info,
                     uint32_t cutSeed) {
  FUZZ_CHECK(info.nTotalLen > 0 && info.nTotalLen <= avail && info.nTotalLen <= FRAME_MAX_CHUNK);
  FUZZ_CHECK(info.nPayloadLen >= 0 && info.pPayload != nullptr);
  FUZZ_CHECK(info.pPayload >= chunk + FRAME_AUDIO_HEAD_LEN);
  FUZZ_CHECK(info.pPayload + info.nPayloadLen <= chunk + info.nTotalLen);
  FUZZ_CHECK(info.bVideo == 0 || info.bVideo == 1);

  if (info.nTotalLen > minAvail) {
    auto alone = CopyOf(chunk, info.nTotalLen);
    FrameInfo again;
    FUZZ_CHECK(parse(alone.get(), info.nTotalLen, &again) == CHUNK_OK);
    CheckSameChunk(info, chunk, again, alone.get());
  }
  const int32_t cuts[] = {info.nTotalLen - 1, static_cast<int32_t>(cutSeed % static_cast<uint32_t>(info.nTotalLen))};
  for (int32_t cut : cuts) {
    if (cut <= 0) continue;
    auto shorter = CopyOf(chunk, cut);
    FrameInfo partial;
    FUZZ_CHECK(parse(shorter.get(), cut, &partial) == CHUNK_MORE);
  }
}

// ParseFrame leaves the description untouched with 12 bytes or fewer.
void CheckTooShort(const uint8_t* chunk, int32_t avail) {
  FrameInfo sentinel;
  memset(&sentinel, 0xA5, sizeof sentinel);
  FrameInfo info = sentinel;
  FUZZ_CHECK(ParseFrame(chunk, avail, &info) == CHUNK_MORE);
  FUZZ_CHECK(memcmp(&info, &sentinel, sizeof info) == 0);
}

int32_t CheckParser(Parser parse, int32_t minAvail, const uint8_t* chunk, int32_t avail, uint32_t cutSeed) {
  FrameInfo info;
  int32_t r = parse(chunk, avail, &info);
  FUZZ_CHECK(r == CHUNK_OK || r == CHUNK_SKIP || r == CHUNK_MORE);
  if (r == CHUNK_OK) CheckWholeChunk(parse, minAvail, chunk, avail, info, cutSeed);
  return r == CHUNK_OK ? info.nTotalLen : (r == CHUNK_SKIP ? 1 : 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > static_cast<size_t>(FRAME_MAX_CHUNK) * 2) return 0;
  const int32_t n = static_cast<int32_t>(size);
  auto buf = CopyOf(data, n);
  uint32_t cutSeed = 2166136261u;
  for (size_t i = 0; i < size && i < 16; ++i) cutSeed = (cutSeed ^ data[i]) * 16777619u;

  // Walk as the sequential reader does: past a whole chunk, one byte on after
  // a skip, and stop where more bytes would be needed.
  for (int32_t pos = 0; pos < n;) {
    const uint8_t* chunk = buf.get() + pos;
    const int32_t avail = n - pos;
    if (avail <= 12) CheckTooShort(chunk, avail);
    CheckParser(ParseAvapiFrame, FRAME_AVAPI_HEAD_LEN - 1, chunk, avail, cutSeed);
    CheckParser(ParseH264Frame, FRAME_AUDIO_HEAD_LEN - 1, chunk, avail, cutSeed);
    int32_t step = CheckParser(ParseFrame, 12, chunk, avail, cutSeed);
    if (step == 0) break;
    pos += step;
  }
  return 0;
}
