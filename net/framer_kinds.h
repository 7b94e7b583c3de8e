#pragma once
#include <cstdint>

// One step of a framing kind at the front of the buffered bytes.
enum FrameStep : int32_t {
  FRAME_STEP_STOP = 0,     // not enough bytes yet: wait for the next chunk
  FRAME_STEP_SKIP = 1,     // no frame starts here: consume one byte
  FRAME_STEP_DELIVER = 2,  // a whole frame of *frameLen bytes starts here
  FRAME_STEP_REFUSE = 3,   // the stream is corrupt: drop the connection
};

// Looks at avail buffered bytes at p with framing kind. On DELIVER, *frameLen
// is at least 1 and at most avail, and kinds that convert fields in place have
// done so. Kinds without framing (11 and unknown values) always STOP.
FrameStep FrameNext(int32_t kind, uint8_t* p, int32_t avail, int32_t* frameLen);

// The kind chosen by the first chunk a socket receives, or 0 when none fits.
int32_t DetectFrameKind(const uint8_t* data, int32_t len);
