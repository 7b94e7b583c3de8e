#include "platform/local_time.h"

#include <cstdio>
#include <ctime>

namespace {
bool SameTime(const LocalTime& a, const LocalTime& b) {
  return a.nSecond == b.nSecond && a.nMinute == b.nMinute && a.nHour == b.nHour && a.nDay == b.nDay &&
         a.nMonth == b.nMonth && a.nYear == b.nYear;
}
}  // namespace

// A fleet reads the clock once per device Tick, thousands of times a second:
// each thread keeps its last second's conversion, so the calendar work is
// done once per second and thread.
LocalTime GetLocalTime() {
  thread_local time_t lastSecond = -1;
  thread_local LocalTime last;
  time_t now = time(nullptr);
  if (now == lastSecond) return last;
  tm parts{};
  localtime_r(&now, &parts);
  LocalTime& t = last;
  t.nYear = parts.tm_year + 1900;
  t.nMonth = parts.tm_mon + 1;
  t.nDay = parts.tm_mday;
  t.nHour = parts.tm_hour;
  t.nMinute = parts.tm_min;
  t.nSecond = parts.tm_sec;
  lastSecond = now;
  return t;
}

// mktime looks at the time-zone file on every call; the last conversion of
// each thread is kept, since the alarm cycles of a whole driver pass convert
// the same few seconds.
int64_t LocalTimeToEpoch(const LocalTime& t) {
  thread_local bool bHave = false;
  thread_local LocalTime lastIn;
  thread_local int64_t lastOut = 0;
  if (bHave && SameTime(t, lastIn)) return lastOut;
  tm parts{};
  parts.tm_year = t.nYear - 1900;
  parts.tm_mon = t.nMonth - 1;
  parts.tm_mday = t.nDay;
  parts.tm_hour = t.nHour;
  parts.tm_min = t.nMinute;
  parts.tm_sec = t.nSecond;
  parts.tm_isdst = -1;
  lastOut = static_cast<int64_t>(mktime(&parts));
  lastIn = t;
  bHave = true;
  return lastOut;
}

void FormatTimeText(const LocalTime& t, char* out, int outSize) {
  snprintf(out, static_cast<size_t>(outSize), "%04d%02d%02d%02d%02d%02d", t.nYear, t.nMonth, t.nDay, t.nHour,
           t.nMinute, t.nSecond);
}
