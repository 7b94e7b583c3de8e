#pragma once
#include <cstdint>

// Local calendar time, as the device's clock shows it.
struct LocalTime {
  int nYear = 0;
  int nMonth = 0;  // 1..12
  int nDay = 0;
  int nHour = 0;
  int nMinute = 0;
  int nSecond = 0;
};

// Reads the local date and time. Safe from any thread.
LocalTime GetLocalTime();

// Seconds since 1970-01-01 00:00:00 UTC of a local time, through mktime with
// the daylight-saving status left for mktime to determine.
int64_t LocalTimeToEpoch(const LocalTime& t);

// The 14-digit time text "%04d%02d%02d%02d%02d%02d" into out (at least 15 bytes).
void FormatTimeText(const LocalTime& t, char* out, int outSize);
