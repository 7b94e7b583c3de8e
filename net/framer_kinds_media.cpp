// Media framing kinds: the 26-byte big-endian header, the "1cd" frames with a
// versioned header, and named video/audio chunks. Kinds 9 and 10 hand their
// header fields to the owner in host order, converted in place.
#include <algorithm>
#include <cstring>

#include "net/framer_steps.h"
#include "platform/debug_log.h"

namespace {
constexpr int32_t HEAD26_LEN = 26;
constexpr int32_t CD_LOOK_LEN = 16;
constexpr int32_t CHUNK_LOOK_LEN = 24;
constexpr int32_t CHUNK_VIDEO_HEAD_LEN = 24;
constexpr int64_t CHUNK_VIDEO_MAX_LEN = 999999;
constexpr int32_t CHUNK_AUDIO_HEAD_LEN = 8;
constexpr int64_t CHUNK_AUDIO_MAX_LEN = 9999;

void Swap16(uint8_t* p) { std::swap(p[0], p[1]); }
void Reverse8(uint8_t* p) { std::reverse(p, p + 8); }

// Header size and offset of the big-endian payload length of a "1cd" frame by
// its version nibble; false for versions without a known header.
bool CdHeader(int32_t version, int32_t* headLen, int32_t* lenOffset) {
  if (version <= 2) {
    *headLen = 30;
    *lenOffset = 28;
  } else if (version == 3) {
    *headLen = 26;
    *lenOffset = 24;
  } else if (version == 4) {
    *headLen = 18;
    *lenOffset = 16;
  } else {
    return false;
  }
  return true;
}

// Converts a whole "1cd" frame of frameLen bytes to host order. The 64-bit
// value at 16-23 lies beyond the 18-byte header of version 4; it is converted
// only when the frame holds it, so that no byte of the next frame is touched.
void ConvertCd(uint8_t* p, int32_t version, int32_t frameLen) {
  if (version <= 2) Swap16(p + 28);
  if (version == 3) Swap16(p + 24);
  if (frameLen >= 24) Reverse8(p + 16);
  Swap16(p + 6);
}
}  // namespace

FrameStep FrameNextHead26(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < HEAD26_LEN) return FRAME_STEP_STOP;
  FrameStep step = FrameWhenWhole(HEAD26_LEN + int64_t{FrameBe16(p + 24)}, avail, frameLen);
  if (step == FRAME_STEP_DELIVER) {
    Swap16(p + 24);
    Swap16(p + 4);
    Swap16(p + 6);
    Reverse8(p + 10);
  }
  return step;
}

// A version without a known header is refused like a missing mark.
FrameStep FrameNextCd(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < CD_LOOK_LEN) return FRAME_STEP_STOP;
  int32_t version = p[15] >> 4;
  int32_t headLen = 0;
  int32_t lenOffset = 0;
  if (memcmp(p + 1, "1cd", 3) != 0 || !CdHeader(version, &headLen, &lenOffset)) {
    OutputDebugLine("CMySocket - frame data error.");
    return FRAME_STEP_REFUSE;
  }
  if (avail < headLen) return FRAME_STEP_STOP;
  FrameStep step = FrameWhenWhole(headLen + int64_t{FrameBe16(p + lenOffset)}, avail, frameLen);
  if (step == FRAME_STEP_DELIVER) ConvertCd(p, version, *frameLen);
  return step;
}

// Video chunks (any first character, then "0dc" or "1dc", such as "00dc") and
// audio chunks (names ending in "wb").
// An out-of-range length skips one byte with a message; a negative video
// payload counts as out of range, since the frame would be shorter than its
// header. Anything else is skipped silently.
FrameStep FrameNextChunk(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < CHUNK_LOOK_LEN) return FRAME_STEP_STOP;
  if ((p[1] == '0' || p[1] == '1') && p[2] == 'd' && p[3] == 'c') {
    int64_t len = CHUNK_VIDEO_HEAD_LEN + int64_t{FrameLe32(p + 8)} + FrameLe16(p + 12);
    if (len < CHUNK_VIDEO_HEAD_LEN || len > CHUNK_VIDEO_MAX_LEN) {
      DebugPrintf("CMySocket - error video pack len = %d", static_cast<int32_t>(len));
      return FRAME_STEP_SKIP;
    }
    return FrameWhenWhole(len, avail, frameLen);
  }
  if (p[2] == 'w' && p[3] == 'b') {
    int64_t len = CHUNK_AUDIO_HEAD_LEN + int64_t{FrameLe16(p + 6)};
    if (len > CHUNK_AUDIO_MAX_LEN) {
      DebugPrintf("CMySocket - error audio pack len = %d", static_cast<int32_t>(len));
      return FRAME_STEP_SKIP;
    }
    return FrameWhenWhole(len, avail, frameLen);
  }
  return FRAME_STEP_SKIP;
}
