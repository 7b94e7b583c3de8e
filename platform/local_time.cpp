#include "platform/local_time.h"

#include <cstdio>
#include <ctime>

LocalTime GetLocalTime() {
  time_t now = time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  LocalTime t;
  t.nYear = parts.tm_year + 1900;
  t.nMonth = parts.tm_mon + 1;
  t.nDay = parts.tm_mday;
  t.nHour = parts.tm_hour;
  t.nMinute = parts.tm_min;
  t.nSecond = parts.tm_sec;
  return t;
}

int64_t LocalTimeToEpoch(const LocalTime& t) {
  tm parts{};
  parts.tm_year = t.nYear - 1900;
  parts.tm_mon = t.nMonth - 1;
  parts.tm_mday = t.nDay;
  parts.tm_hour = t.nHour;
  parts.tm_min = t.nMinute;
  parts.tm_sec = t.nSecond;
  parts.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&parts));
}

void FormatTimeText(const LocalTime& t, char* out, int outSize) {
  snprintf(out, static_cast<size_t>(outSize), "%04d%02d%02d%02d%02d%02d", t.nYear, t.nMonth, t.nDay, t.nHour,
           t.nMinute, t.nSecond);
}
