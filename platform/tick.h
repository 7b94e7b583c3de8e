#pragma once
#include <cstdint>

// The 32-bit millisecond tick count that all device timing is measured on.
// It wraps after about 49.7 days. Tests shift it with a process-wide offset so
// that wrap-around and long periods are exercised without waiting.

// Current tick: milliseconds of CLOCK_MONOTONIC plus the offset. Safe from any thread.
uint32_t GetTickCount();

// Sets the offset added to every reading. Safe from any thread.
void SetTickOffset(uint32_t offsetMs);

// Adds to the offset (time "passes" by this many milliseconds). Safe from any thread.
void AdvanceTickCount(uint32_t ms);

// True when a period of periodMs since stamp is due at now: the signed 32-bit
// difference now - stamp is greater than periodMs or negative.
inline bool PeriodDue(uint32_t now, uint32_t stamp, int32_t periodMs) {
  int32_t diff = static_cast<int32_t>(now - stamp);
  return diff > periodMs || diff < 0;
}

// Microseconds of CLOCK_MONOTONIC, cut to 32 bits (wraps after 71 minutes),
// without the tests' offset: the real time between two readings of one
// connection, as the unsigned difference of the readings. Safe from any thread.
uint32_t GetMicroTicks();
