#pragma once
#include <cstdint>

#include "net/framer_kinds.h"

// Byte readers and the per-kind steps behind FrameNext. Every step first makes
// sure the bytes it reads lie within avail, and computes lengths in 64 bits so
// that no value read from the stream can overflow or wrap the position.

inline uint32_t FrameLe16(const uint8_t* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }
inline uint32_t FrameBe16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | uint32_t{p[1]}; }
inline int32_t FrameLe32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
                              (uint32_t{p[3]} << 24));
}
inline int32_t FrameBe32(const uint8_t* p) {
  return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) |
                              uint32_t{p[3]});
}

// Delivers a frame of len bytes once all of it is buffered, otherwise waits.
// The caller has already checked that len is at least 1.
inline FrameStep FrameWhenWhole(int64_t len, int32_t avail, int32_t* frameLen) {
  if (len > avail) return FRAME_STEP_STOP;
  *frameLen = static_cast<int32_t>(len);
  return FRAME_STEP_DELIVER;
}

// Length-prefixed binary kinds (framer_kinds.cpp).
FrameStep FrameNextNapi(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNextTrans(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNextTrain(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNextMvsp(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNextS17(uint8_t* p, int32_t avail, int32_t* frameLen);

// Kinds recognised by text marks (framer_kinds_text.cpp).
FrameStep FrameNextTagged(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNext99dc(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNextRtsp(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNextRsp(uint8_t* p, int32_t avail, int32_t* frameLen);

// Media kinds, two of which convert header fields in place (framer_kinds_media.cpp).
FrameStep FrameNextHead26(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNextCd(uint8_t* p, int32_t avail, int32_t* frameLen);
FrameStep FrameNextChunk(uint8_t* p, int32_t avail, int32_t* frameLen);
