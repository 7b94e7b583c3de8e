// Framing kinds recognised by text marks: tagged/"99dc" and "99dc".
#include <cstring>

#include "net/framer_steps.h"

namespace {
constexpr int32_t TAGGED_LOOK_LEN = 12;
constexpr int32_t TAGGED_HEAD_LEN = 12;
constexpr uint32_t TAGGED_MARK = 0x15437638u;
constexpr int32_t DC99_HEAD_LEN = 8;

bool IsBlank(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The decimal number written in n characters: leading blanks and one sign are
// allowed, reading stops at the first other character, no digits give 0.
int32_t ReadDecimal(const uint8_t* p, int32_t n) {
  int32_t i = 0;
  while (i < n && IsBlank(p[i])) ++i;
  bool negative = false;
  if (i < n && (p[i] == '+' || p[i] == '-')) negative = p[i++] == '-';
  int32_t value = 0;
  for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i) value = value * 10 + (p[i] - '0');
  return negative ? -value : value;
}

// A "99dc" frame: 8 header bytes and the length written at offsets 4-7. A
// negative length would make the frame shorter than its own header.
FrameStep Next99dcFrame(const uint8_t* p, int32_t avail, int32_t* frameLen) {
  int32_t payload = ReadDecimal(p + 4, 4);
  if (payload < 0) return FRAME_STEP_REFUSE;
  return FrameWhenWhole(DC99_HEAD_LEN + int64_t{payload}, avail, frameLen);
}
}  // namespace

// Frames tagged 0x15437638 mixed with "99dc" frames; other bytes are skipped.
FrameStep FrameNextTagged(const uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < TAGGED_LOOK_LEN) return FRAME_STEP_STOP;
  if (memcmp(p, "99dc", 4) == 0) return Next99dcFrame(p, avail, frameLen);
  if (static_cast<uint32_t>(FrameLe32(p)) != TAGGED_MARK) return FRAME_STEP_SKIP;
  int64_t payload = FrameLe32(p + 8);
  if (payload < 0) return FRAME_STEP_REFUSE;
  return FrameWhenWhole(TAGGED_HEAD_LEN + payload, avail, frameLen);
}

// "99dc" frames; without the mark everything buffered is one frame.
FrameStep FrameNext99dc(const uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < DC99_HEAD_LEN) return FRAME_STEP_STOP;
  if (memcmp(p, "99dc", 4) == 0) return Next99dcFrame(p, avail, frameLen);
  *frameLen = avail;
  return FRAME_STEP_DELIVER;
}
