#pragma once
#include <cstdint>

// Real-time pacing of live video by the chunks' time stamps. The base pairs a
// time stamp with the tick at which it was seen; a base time stamp of 0 means
// that no base is set.
struct LivePacing {
  uint32_t nBaseTs = 0;
  uint32_t dwBaseTick = 0;
};

constexpr int32_t LIVE_PACE_SEND = 0;   // send the chunk now
constexpr int32_t LIVE_PACE_EARLY = 1;  // not due yet: offer it again later

// A chunk ahead of real time by this much or more is sent at once (a jump).
constexpr uint32_t LIVE_PACE_MAX_LEAD_MS = 3000;

// Decides for a video chunk with time stamp nTimestampMs at tick now, and
// sets or clears the base: without a base the chunk sets it and is sent; a
// chunk with the base's time stamp clears it and is sent; a chunk whose media
// time since the base runs ahead of the real time since the base by less than
// LIVE_PACE_MAX_LEAD_MS is early; every other chunk (due, far ahead, or back
// in time) is sent. Pure; the caller owns the pacing record.
int32_t PaceVideoChunk(LivePacing& pacing, uint32_t nTimestampMs, uint32_t now);
