#pragma once
#include <cstdint>

// Framing kinds of a connection's receive stream. A connection starts with
// FRAME_DETECT; its first whole header (FRAME_DETECT_BYTES) decides the kind.
constexpr int32_t FRAME_DETECT = 0;
constexpr int32_t FRAME_NAPI = 1;     // packets of the signalling header
constexpr int32_t FRAME_TAGGED = 3;   // frames tagged 0x15437638, mixed with "99dc" frames
constexpr int32_t FRAME_99DC = 4;     // "99dc" frames with four decimal length digits
constexpr int32_t FRAME_7E = 11;      // a stream starting with 0x7E: no framing, nothing delivered

// Bytes of a stream that detection looks at: one whole packet header.
constexpr int32_t FRAME_DETECT_BYTES = 12;

// One step of a framing kind at the front of the buffered bytes.
enum FrameStep : int32_t {
  FRAME_STEP_STOP = 0,     // not enough bytes yet: wait for the next chunk
  FRAME_STEP_SKIP = 1,     // no frame starts here: consume one byte
  FRAME_STEP_DELIVER = 2,  // a whole frame of *frameLen bytes starts here
  FRAME_STEP_REFUSE = 3,   // the stream is corrupt: drop the connection
};

// Looks at avail buffered bytes at p with framing kind. On DELIVER, *frameLen
// is at least 1 and at most avail. Kinds without framing (11 and unknown
// values) always STOP.
FrameStep FrameNext(int32_t kind, const uint8_t* p, int32_t avail, int32_t* frameLen);

// The kind chosen by the first FRAME_DETECT_BYTES (or more) bytes of a
// stream, or FRAME_DETECT when none fits.
int32_t DetectFrameKind(const uint8_t* data, int32_t len);
