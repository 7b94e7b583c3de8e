#pragma once
#include <cstdint>

#include "net/framer_kinds.h"

struct PacketInfo;

// Byte readers and the per-kind steps behind FrameNext. Every step first makes
// sure the bytes it reads lie within avail, and computes lengths in 64 bits so
// that no value read from the stream can overflow or wrap the position.

inline int32_t FrameLe32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
                              (uint32_t{p[3]} << 24));
}

// Delivers a frame of len bytes once all of it is buffered, otherwise waits.
// The caller has already checked that len is at least 1.
inline FrameStep FrameWhenWhole(int64_t len, int32_t avail, int32_t* frameLen) {
  if (len > avail) return FRAME_STEP_STOP;
  *frameLen = static_cast<int32_t>(len);
  return FRAME_STEP_DELIVER;
}

// A packet of the signalling header at p, its header read into info: STOP
// while the header or the packet is short, REFUSE for a refused header.
FrameStep FrameNextPacket(const uint8_t* p, int32_t avail, PacketInfo* info);  // framer_kinds.cpp
FrameStep FrameNextNapi(const uint8_t* p, int32_t avail, int32_t* frameLen);     // framer_kinds.cpp
FrameStep FrameNextTagged(const uint8_t* p, int32_t avail, int32_t* frameLen);   // framer_kinds_text.cpp
FrameStep FrameNext99dc(const uint8_t* p, int32_t avail, int32_t* frameLen);     // framer_kinds_text.cpp
