#include "media/live_pacing.h"

int32_t PaceVideoChunk(LivePacing& pacing, uint32_t nTimestampMs, uint32_t now) {
  if (pacing.nBaseTs == 0) {
    pacing.nBaseTs = nTimestampMs;
    pacing.dwBaseTick = now;
    return LIVE_PACE_SEND;
  }
  uint32_t mediaPassed = nTimestampMs - pacing.nBaseTs;
  uint32_t realPassed = now - pacing.dwBaseTick;
  if (mediaPassed == 0) {
    pacing.nBaseTs = 0;
    return LIVE_PACE_SEND;
  }
  if (mediaPassed > realPassed && mediaPassed - realPassed < LIVE_PACE_MAX_LEAD_MS) return LIVE_PACE_EARLY;
  return LIVE_PACE_SEND;
}
